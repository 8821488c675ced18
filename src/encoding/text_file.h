// The text-file test: whether a dropped file is text, from its first bytes and its decoded content.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/decode.h"
#include "encoding/kinds.h"
#include "encoding/stream.h"

namespace ocelo {

/// The first min(size, n) bytes of the file in a zero-filled buffer of 2n + 2 bytes; empty, after a short
/// pause and the dump line "::ReadHead   Can't open   " + path, when the file cannot be opened at once.
std::vector<std::uint8_t> ReadHead(std::u16string_view path, int n);

/// True when the file is to be treated as text: not a ZIP container, and either declares an encoding
/// (or XML) or decodes to a text that holds no U+0000 and is not much shorter than the file unless the
/// file holds no zero byte. A path that does not exist passes (its conversion fails later).
bool IsTextFile(std::u16string_view path);

/// IsTextFile with the file's content already read (ReadFileContent), so a caller that goes on to convert
/// the file reads it once.
bool IsTextFile(std::u16string_view path, const FileContent& content);

/// IsTextFile of a source read in pieces, after ScanSource: only a file with a zero byte has its text read.
bool IsTextFile(ByteSource& source, const SourceFacts& facts);

/// What the text-file test looks for in a text, found in a text given piece by piece: an XML
/// declaration ("<?xml") or a declared encoding (FindDeclaredEncoding of the whole text as one entry).
class TextDeclarationScan {
 public:
  TextDeclarationScan() = default;
  /// With `complete`, the scan goes on after the first find, so that Declared tells what the whole
  /// text declares.
  explicit TextDeclarationScan(bool complete) : complete_(complete) {}
  void Add(std::u16string_view piece);
  /// True once the text is known to hold either.
  [[nodiscard]] bool Found() const;
  /// After the last piece: true when the whole text holds either.
  [[nodiscard]] bool FoundAtEnd() const;

  /// After the last piece of a complete scan, what each kind of declaration finds in the text as one
  /// entry: -1 when the text holds none of that kind, else the kind its value names (0 for none).
  struct Finds {
    int xml = -1;   ///< "xml", then "encoding", then the value after "=" (or the text's start)
    int html = -1;  ///< "html", then "charset", likewise
    int vrml = -1;  ///< "VRML" or "X3D": 8 when "utf8" is there too, else 0
  };
  [[nodiscard]] Finds Declared() const;

 private:
  // The search for `tag`, then `key` after it, then "=" after that, and the 20 characters after it.
  struct Declaration {
    std::u16string_view tag;
    std::u16string_view key;
    int stage = 0;
    std::size_t resume = 0;  // units before the end of the text seen so far where the search goes on
    std::u16string window;
  };
  void Scan(Declaration& declaration, std::u16string_view text, std::size_t tail) const;
  [[nodiscard]] EncodingKind KindOf(const Declaration& declaration) const;

  Declaration xml_{u"xml", u"encoding", 0, 0, {}};
  Declaration html_{u"html", u"charset", 0, 0, {}};
  bool xml_declaration_ = false;
  bool vrml_ = false;
  bool utf8_ = false;
  std::u16string first_;  // the text's first 20 units
  std::u16string tail_;   // the last units of the text so far, for matches across pieces
  std::u16string joined_;
  bool complete_ = false;
};

/// FindDeclaredEncoding of the first ten lines of a text (its parts between line feeds) given piece by
/// piece, holding a few units whatever the length of the lines.
class LineDeclarationScan {
 public:
  void Add(std::u16string_view piece);
  /// True once ten lines have ended: what follows cannot change the result.
  [[nodiscard]] bool Done() const { return lines_ >= 10; }
  /// After the last piece (or once Done): FindDeclaredEncoding of the lines.
  [[nodiscard]] EncodingKind Result() const;

 private:
  void EndLine();
  TextDeclarationScan line_{true};
  TextDeclarationScan::Finds firsts_;  // each kind's first find among the lines ended so far
  int lines_ = 0;
};

}  // namespace ocelo
