// The string pair table: the process-wide rows, the look-up and the code-page-932 conversions of keys.
#include "app/string_pairs.h"

#include "encoding/cp932.h"

namespace ocelo {
namespace {

// Created on first use, by start-up or by the first look-up, whichever comes first.
std::vector<StringPair>& Table() {
  static std::vector<StringPair> table;
  return table;
}

// A narrow key as wide text, cut at the first U+0000 (a key converts as a zero-terminated string would).
std::u16string WidenKey(std::string_view narrow) {
  std::u16string wide = WidenCp932(narrow);
  std::size_t end = wide.find(u'\0');
  if (end != std::u16string::npos) wide.resize(end);
  return wide;
}

}  // namespace

void AddStringPair(std::string_view english, std::u16string_view japanese) {
  StringPair pair;
  pair.english = WidenKey(english);
  pair.japanese = std::u16string(japanese);
  Table().push_back(std::move(pair));
}

void AddProgramStringPairs() {
  // A sibling tool's title; no caption, label or message of this program reads so.
  AddStringPair("Vexo", u"ヴェクソ");
  AddStringPair("Ocelo", u"文字コードを変更");
  AddStringPair("Cancel", u"キャンセル");
  AddStringPair("E&xit", u"終了(&X)");
  AddStringPair("Unable to save.\r\n", u"保存できません．\r\n");
  AddStringPair("Not a text file.\r\n", u"テキストファイルではありません．\r\n");
  AddStringPair("Did not update.\r\n", u"更新しませんでした．\r\n");
}

std::u16string Localize(std::string_view text) {
  std::u16string wide = WidenKey(text);
  for (const StringPair& pair : Table()) {
    if (pair.english == wide) return pair.japanese;
  }
  return wide;
}

std::string NarrowText(std::u16string_view text) {
  std::size_t end = text.find(u'\0');
  if (end != std::u16string_view::npos) text = text.substr(0, end);
  std::string narrow = NarrowCp932(text);
  end = narrow.find('\0');
  if (end != std::string::npos) narrow.resize(end);
  return narrow;
}

const std::vector<StringPair>& StringPairs() { return Table(); }

void ClearStringPairs() { Table().clear(); }

}  // namespace ocelo
