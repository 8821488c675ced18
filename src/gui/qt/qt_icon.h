// The program's icon (data/ocelo.svg): two sheets of text with an arrow from one to the other.
#pragma once

#include <QIcon>

namespace ocelo {

/// The window icon in the sizes the desktop asks for (16 to 256 pixels).
QIcon ProgramIcon();

}  // namespace ocelo
