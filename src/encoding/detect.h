// Telling a byte buffer's encoding from its bytes alone, and finding the encoding a text declares.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/kinds.h"

namespace ocelo {

/// A detected encoding and the length of its byte-order mark (0, 2, 3 or 4).
struct Detection {
  EncodingKind kind = kind::Ascii;
  int mark_length = 0;
  friend bool operator==(const Detection&, const Detection&) = default;
};

/// The kind of a buffer: a byte-order mark first, then GuessEncoding of the whole buffer.
/// A buffer starting FF FE 00 00 is UTF-32LE even when it is UTF-16 text starting with U+0000.
Detection DetectEncoding(std::span<const std::uint8_t> bytes);

/// The kind of a buffer without mark: 74 at the first Shift_JIS lead/trail pair, 65 when no high byte
/// stands at a lead position, else 8 when the UTF-8 count finds valid sequences and no invalid byte, else 0.
EncodingKind GuessEncoding(std::span<const std::uint8_t> bytes);

/// The plain byte-at-a-time GuessEncoding that the fast one must always agree with.
EncodingKind GuessEncodingScalar(std::span<const std::uint8_t> bytes);

/// DetectEncoding of a buffer that comes piece by piece, cut anywhere: after the pieces in order,
/// Result gives exactly what DetectEncoding gives on their concatenation. Holds a few bytes, whatever
/// the length.
class EncodingDetector {
 public:
  void Add(std::span<const std::uint8_t> piece);
  /// True once further pieces cannot change the result (a byte-order mark, a Shift_JIS pair).
  [[nodiscard]] bool Decided() const;
  [[nodiscard]] Detection Result() const;

 private:
  std::uint8_t head_[4] = {};  // the first bytes, for the byte-order marks
  std::uint64_t length_ = 0;
  // The Shift_JIS pair scan: the last byte so far, and whether it starts a run of high bytes.
  bool shift_jis_ = false;
  bool high_seen_ = false;
  std::uint8_t last_ = 0;
  bool last_starts_run_ = false;
  // The UTF-8 count: the bytes from the last place it reaches to the end, waiting for what follows.
  bool utf8_invalid_ = false;
  bool utf8_valid_ = false;
  std::uint8_t pending_[16] = {};
  std::size_t pending_length_ = 0;
  void CountPending();
};

/// 8, 16, 74 or 0 after the first encoding declaration among the first ten texts: an XML declaration,
/// an HTML charset, or a VRML/X3D header.
EncodingKind FindDeclaredEncoding(std::span<const std::u16string_view> texts);
EncodingKind FindDeclaredEncoding(const std::vector<std::u16string>& texts);

/// The kind that the value of a declaration names (its first 20 characters): 8, 16, 74, or 0 for none.
EncodingKind DeclaredValueKind(std::u16string_view value);

/// True when the text contains "<?xml" anywhere (case-sensitive).
bool HasXmlDeclaration(std::u16string_view text);

}  // namespace ocelo
