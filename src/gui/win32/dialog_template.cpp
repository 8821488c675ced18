// A dialog laid out in dialog units and built in memory (an extended dialog template).
#include "gui/win32/dialog_template.h"

namespace ocelo {

DialogTemplate::DialogTemplate(DWORD style, DWORD ex_style, DialogBox box, std::u16string_view caption,
                               const DialogFont& font) {
  Word(1);       // dlgVer
  Word(0xFFFF);  // signature: the extended form
  Dword(0);      // helpID
  Dword(ex_style);
  Dword(style | DS_SETFONT);
  count_at_ = words_.size();
  Word(0);  // cDlgItems, counted by AddItem
  for (short value : {box.x, box.y, box.cx, box.cy}) Word(static_cast<WORD>(value));
  Word(0);  // no menu
  Word(0);  // the system's dialog class
  Text(caption);
  Word(static_cast<WORD>(font.points));
  Word(static_cast<WORD>(font.weight));
  Word(static_cast<WORD>(font.charset << 8));  // italic (no), then the character set
  Text(font.face);
}

void DialogTemplate::AddItem(WORD class_atom, DWORD id, std::u16string_view text, DWORD style, DialogBox box,
                             DWORD ex_style) {
  AlignDword();
  Dword(0);  // helpID
  Dword(ex_style);
  Dword(style | WS_CHILD);
  for (short value : {box.x, box.y, box.cx, box.cy}) Word(static_cast<WORD>(value));
  Dword(id);
  Word(0xFFFF);
  Word(class_atom);
  Text(text);
  Word(0);  // no creation data
  ++words_[count_at_];
}

void DialogTemplate::Dword(DWORD value) {
  Word(static_cast<WORD>(value & 0xFFFF));
  Word(static_cast<WORD>(value >> 16));
}

void DialogTemplate::Text(std::u16string_view text) {
  for (char16_t unit : text) {
    if (unit == u'\0') break;
    Word(static_cast<WORD>(unit));
  }
  Word(0);
}

void DialogTemplate::AlignDword() {
  if (words_.size() % 2 != 0) Word(0);
}

}  // namespace ocelo
