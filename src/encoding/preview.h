// What converting one file would do, judged without writing anything, and the characters a target
// encoding cannot hold: the engine side of a dry run and of the list of lost characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/convert.h"
#include "encoding/decode.h"
#include "encoding/kinds.h"

namespace ocelo {

/// Why a conversion falls back to an unchanged copy.
enum class PlainCopyCause {
  kNone,                ///< it does not
  kLostCharacters,      ///< the target cannot hold some character of the text (FindLostCharacters lists them)
  kZeroByte,            ///< decoding stops at a zero byte before the end of the file
  kReadsBackOtherwise,  ///< every character fits, but the new bytes would read back as another text
};

/// What converting one file would do, found without writing: no copy, no backup, no temporary file and no
/// folder is made.
struct Preview {
  FileResult result = FileResult::kUnreadable;
  PlainCopyCause cause = PlainCopyCause::kNone;  ///< for kPlainCopy
  std::u16string copy;    ///< where the copy lies or would lie, for a result that leaves one (empty for a stream)
  std::u16string backup;  ///< the time-stamped Rescue path the existing copy would be backed up to; empty when none
};

/// ConvertOne's judgement of one file whose content was read with ReadFileContent, made on the file system
/// as it stands: not text, same path, up to date, unreadable, the backup an existing copy gets (and whether it
/// can get one), a folder where the copy would go, and whether the converted text reads back (the very check
/// of the conversion). A missing output folder is taken as one the run creates: it holds no copy yet.
/// What only the writing can tell (a full disk, a read-only folder) is not foreseen.
[[nodiscard]] Preview PreviewOne(EncodingKind target, std::u16string_view path, std::u16string_view folder,
                                 const FileContent& content);

/// ConvertToBytes' judgement of one content for a stream: no copy path, no backup.
[[nodiscard]] Preview PreviewToBytes(EncodingKind target, std::u16string_view path, const FileContent& content);

/// Why converting a content that falls back to an unchanged copy does so: a zero byte that cut the text,
/// a character the target cannot hold, or else a new text that reads back as another.
[[nodiscard]] PlainCopyCause CauseOfPlainCopy(EncodingKind target, const FileContent& content);

/// A place in a text: line and column from 1, the column counted in characters (a surrogate pair is one
/// character, a tab is one). Lines end at LF, CR LF or a lone CR.
struct TextPosition {
  std::size_t line = 1;
  std::size_t column = 1;
};

/// One character that the target cannot hold, and where it stands.
struct LostCharacter {
  TextPosition position;
  char32_t code_point = 0;  ///< a lone surrogate is its own unit
};

/// The characters of a text that the target cannot hold: the first `limit` in text order, and their count.
struct LostCharacters {
  std::vector<LostCharacter> first;
  std::size_t count = 0;
};

/// Finds the characters a target loses, with the target's own encoder and decoder, so that the list and the
/// fall-back to an unchanged copy never disagree: a character is lost when its encoding does not decode
/// back to it. For code page 932 that is a character encoded as "_" that is not "_" itself (a character
/// outside its table, a lone surrogate, or a pair); for UTF-8 a lone surrogate, written as U+FFFD. UTF-16
/// and a copy hold everything.
///   "café" to 74 => é at 1:4      "a\r\nb€" to 74 => € at 2:2      "é" to 8 => none
LostCharacters FindLostCharacters(EncodingKind target, std::u16string_view text, std::size_t limit);

/// The position just after a text's last character: where a zero byte cut a text that stops early.
///   "ab" => 1:3      "a\n" => 2:1      "" => 1:1
TextPosition EndOfText(std::u16string_view text);

}  // namespace ocelo
