// A dialog laid out in dialog units and built in memory (an extended dialog template), for
// CreateDialogIndirectParamW and DialogBoxIndirectParamW: what a resource script's DIALOGEX gives.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// The dialog's font: its face, size in points, weight and character set.
struct DialogFont {
  std::u16string face;
  int points = 9;
  int weight = FW_NORMAL;
  BYTE charset = DEFAULT_CHARSET;
};

/// Class atoms of the system's controls in a template.
inline constexpr WORD kButtonClass = 0x0080;
inline constexpr WORD kStaticClass = 0x0082;
inline constexpr WORD kListBoxClass = 0x0083;

/// Dialog units: x, y, width, height.
struct DialogBox {
  short x, y, cx, cy;
};

class DialogTemplate {
 public:
  /// The dialog itself; DS_SETFONT is added, so the font reaches every control.
  DialogTemplate(DWORD style, DWORD ex_style, DialogBox box, std::u16string_view caption, const DialogFont& font);
  /// One control, in tab order.
  void AddItem(WORD class_atom, DWORD id, std::u16string_view text, DWORD style, DialogBox box, DWORD ex_style = 0);
  /// The template, valid while this object lives and no item is added.
  LPCDLGTEMPLATEW Get() const { return reinterpret_cast<LPCDLGTEMPLATEW>(words_.data()); }

 private:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value);
  void Text(std::u16string_view text);
  void AlignDword();

  std::vector<WORD> words_;  // heap storage: aligned for the DWORDs inside
  std::size_t count_at_ = 0;
};

}  // namespace ocelo
