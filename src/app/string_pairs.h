// The string pair table: every interface text with a row is shown in its Japanese form, every other text as is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// One row of the table: the English key and the Japanese text; the nine further texts stay empty.
struct StringPair {
  std::u16string english;
  std::u16string japanese;
  std::u16string unused[9];
};

/// Appends a row. The key is narrow code-page-932 text, kept as its wide form up to the first U+0000.
/// Duplicates are allowed; at look-up the first matching row wins.
void AddStringPair(std::string_view english, std::u16string_view japanese);

/// Appends the program's rows: a sibling tool's title pair first (no text of this program matches it),
/// then the caption, "Cancel", "E&xit" and the three message heads.
void AddProgramStringPairs();

/// The Japanese text of the first row whose key equals the (code-page-932) text, exactly and with letter
/// case; the text itself, widened, when no row matches.
///   "E&xit" => "終了(&X)"      "e&xit" => "e&xit"      "same " => "same "
std::u16string Localize(std::string_view text);

/// The wide text up to its first U+0000 as code page 932, each character without a form there as "_";
/// what the main window passes back to `Localize` for the texts it reads from its controls.
std::string NarrowText(std::u16string_view text);

/// The rows in their order.
const std::vector<StringPair>& StringPairs();

/// Empties the table (tests: the state before start-up).
void ClearStringPairs();

}  // namespace ocelo
