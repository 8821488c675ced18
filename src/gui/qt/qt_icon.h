// The program's icon, drawn at start-up: two sheets of text with an arrow from one to the other.
#pragma once

#include <QIcon>

namespace ocelo {

/// The window icon in the sizes the desktop asks for (16 to 64 pixels).
QIcon ProgramIcon();

}  // namespace ocelo
