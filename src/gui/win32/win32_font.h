// The dialogs' font: the system's message font when it can show the Japanese texts, else a Japanese face.
#pragma once

#include <string_view>

#include "gui/win32/dialog_template.h"

namespace ocelo {

/// The font for text that holds `sample`: the message font of the system's non-client metrics
/// (SystemParametersInfoW) at 9 points when it has a glyph for every character of the sample; otherwise
/// the first Japanese face the system has that does (a Windows UI face, IPA's gothic faces, any face with
/// the Shift_JIS character set), at 9 points; the message font when none does.
DialogFont UiFont(std::u16string_view sample);

/// Whether the face shows every character of `text` (GetGlyphIndicesW), as the face itself, not a
/// substitute the system picked for a missing name.
bool FaceShows(std::u16string_view face, std::u16string_view text);

}  // namespace ocelo
