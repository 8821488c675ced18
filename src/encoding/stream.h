// Reading a file's text in pieces: the source is read again from its start for each pass and cut only
// where decoding can start afresh, so that memory stays flat whatever the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/detect.h"
#include "encoding/kinds.h"
#include "encoding/write.h"

namespace ocelo {

/// A file opened for reading as ReadFileBytes opens it: a busy file is waited for, one that cannot be
/// read fails at once with the dump line "Can't open rb  " + path. Null on failure; the caller closes it.
std::FILE* OpenSourceFile(std::u16string_view path);

/// The bytes of one piece of a streamed file (256 KiB: a piece, its text and its encoded bytes stay in
/// the core's cache between the steps that pass them on). Tests shrink it to a few bytes so that every
/// character of their texts comes across a cut; 0 restores the usual size.
std::size_t StreamPieceBytes();
void SetStreamPieceBytes(std::size_t bytes);

/// Where a piece of bytes in `kind` may end so that decoding the piece and what follows it gives the
/// text of decoding both at once: the largest such length up to bytes.size(), where a length equal to
/// the size promises nothing about the byte after it unless the kind is cut anywhere (kind::Copy, raw
/// bytes). 0 when the bytes hold no such place.
///   UTF-8: before a byte that is no continuation byte, or after four continuation bytes in a row
///   code page 932: after a byte that is no lead and no trail byte (below 0x40, 0x7F, 0xFD..0xFF), or
///   where the decoder's own steps from the start of the piece lead
///   UTF-16: an even length; UTF-32: a multiple of four
std::size_t CutPoint(EncodingKind kind, std::span<const std::uint8_t> bytes);

/// The text of one piece, as DecodeBytes decodes the bytes of `kind` after its mark, into `text` (its
/// memory reused). `stopped` becomes true where decoding ends at a zero byte (a zero unit in UTF-16):
/// the text of the whole source ends there.
void DecodePiece(EncodingKind kind, std::span<const std::uint8_t> bytes, std::u16string& text, bool& stopped);

/// The bytes of one source, read from their start as often as the passes over them need: an open file
/// (read again from its start, so it must be a regular file) or bytes in memory. A file that fits in one
/// piece is read once.
class ByteSource {
 public:
  ByteSource() = default;
  /// Bytes in memory, which must outlive the source.
  explicit ByteSource(std::span<const std::uint8_t> bytes);
  /// An open stream; with `owned`, the source closes it.
  ByteSource(std::FILE* stream, bool owned);
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  /// Starts a pass over the bytes after the first `skip`, in pieces that end where CutPoint of `kind`
  /// allows.
  void Start(EncodingKind kind, std::size_t skip);
  /// The next piece of the pass (valid until the next call); false at the end or when a read failed.
  [[nodiscard]] bool Next(std::span<const std::uint8_t>& piece);
  /// A read failed in some pass.
  [[nodiscard]] bool Failed() const { return failed_; }

 private:
  [[nodiscard]] const std::uint8_t* Data() const { return memory_.empty() ? buffer_.get() : memory_.data(); }
  bool Fill(std::size_t window);

  std::FILE* stream_ = nullptr;
  bool owned_ = false;
  std::span<const std::uint8_t> memory_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t allocated_ = 0;
  std::size_t begin_ = 0;  // the bytes not yet handed out: [begin_, end_) of Data()
  std::size_t end_ = 0;
  std::size_t skip_ = 0;  // bytes still to pass over at the start of a pass
  bool at_end_ = true;    // nothing more to read in this pass
  bool whole_ = false;    // buffer_ holds the whole file: passes need no reading
  bool failed_ = false;
  bool read_in_pass_ = false;
  EncodingKind kind_ = 0;
};

/// Facts about a source from one pass over its bytes.
struct SourceFacts {
  Detection detection;
  std::uint64_t size = 0;      ///< bytes read, whatever the status said
  bool zero_byte = false;      ///< a zero byte somewhere
  std::uint8_t head[10] = {};  ///< the first bytes
  std::size_t head_length = 0;
};

/// One pass over the source: its detection (exactly DetectEncoding of all its bytes), size, zero bytes
/// and first bytes. False when a read failed. With `detection_only`, the pass stops as soon as the
/// detection is decided (size and zero bytes then unknown).
[[nodiscard]] bool ScanSource(ByteSource& source, SourceFacts& facts, bool detection_only = false);

/// The text of a source, piece by piece, as DecodeBytes gives it whole.
class TextSource {
 public:
  TextSource(ByteSource& bytes, Detection detection);
  ~TextSource();
  TextSource(const TextSource&) = delete;
  TextSource& operator=(const TextSource&) = delete;
  /// The next piece of text (valid until the next call; may be empty); false at the end of the text or
  /// when a read failed.
  [[nodiscard]] bool Next(std::u16string_view& piece);
  /// Decoding stopped at a zero byte or unit before the end of the bytes.
  [[nodiscard]] bool Stopped() const { return stopped_; }
  [[nodiscard]] bool Failed() const { return bytes_.Failed(); }

 private:
  ByteSource& bytes_;
  EncodingKind kind_;
  std::u16string text_;
  bool stopped_ = false;
};

/// Whether DecodeBytes of the source reaches the end of its bytes (no zero byte cuts its text).
/// False also when a read failed.
[[nodiscard]] bool DecodesWhole(ByteSource& source, const SourceFacts& facts);

/// Whether two sources decode to the same text; false when a read failed.
[[nodiscard]] bool SameText(ByteSource& a, Detection a_detection, ByteSource& b, Detection b_detection);

/// Whether two sources hold the same bytes; false when a read failed.
[[nodiscard]] bool SameBytes(ByteSource& a, ByteSource& b);

/// Whether bytes that come piece by piece, cut anywhere, decode as DecodeBytes decodes them whole to a
/// text that comes piece by piece too: a copy checked against its source's text while both are read or
/// made, in one pass. The bytes are decoded in the `expected` encoding after their mark, if their first
/// bytes hold one; Finish tells whether DetectEncoding of all of them agrees. Holds the bytes and units
/// that wait for what follows them (a few, unless one side runs far ahead), whatever the length.
class TextMatch {
 public:
  enum class Verdict {
    kSame,     ///< the bytes decode to the text
    kDiffers,  ///< they do not
    kUnknown,  ///< the bytes' detection decodes otherwise, or one side ran too far ahead to be held
  };

  explicit TextMatch(EncodingKind expected);
  /// The next piece of the text, read in place until the next call of Text, Detach or Finish.
  void Text(std::u16string_view text);
  /// The next bytes; they need not end where a character ends.
  void Bytes(std::span<const std::uint8_t> bytes);
  /// Keeps what is not matched yet of the last piece of text, whose memory may then be used again.
  void Detach();
  /// No more text comes: text of bytes beyond it differs.
  void EndText();
  /// Units of text that wait for their bytes.
  [[nodiscard]] std::size_t Waiting() const;
  /// The bytes so far already differ from the text in the expected encoding.
  [[nodiscard]] bool Differs() const { return differs_; }
  /// After the last text and bytes: the verdict, and DetectEncoding of all the bytes.
  [[nodiscard]] Verdict Finish(Detection& detection);

 private:
  void Feed(std::span<const std::uint8_t> bytes);
  void Decode(std::span<const std::uint8_t> bytes);
  void Match(std::u16string_view copy);
  void Hold(std::u16string& held, std::size_t& begin, std::u16string_view rest);

  EncodingKind kind_;
  EncodingDetector detector_;
  std::uint8_t head_[4] = {};  // the first bytes, which tell the mark
  std::size_t head_length_ = 0;
  int mark_ = -1;                    // the mark's length once the first bytes are known
  std::vector<std::uint8_t> carry_;  // bytes after the last place where decoding starts afresh
  std::u16string decoded_;
  bool stopped_ = false;      // decoding the bytes stopped at a zero
  bool seven_bit_ = true;     // no byte above 0x7F so far
  std::u16string text_held_;  // text not yet matched, kept from pieces gone
  std::size_t text_begin_ = 0;
  std::u16string_view text_;  // the rest of the last piece of text, not yet matched
  std::u16string copy_held_;  // decoded text of the bytes ahead of the text
  std::size_t copy_begin_ = 0;
  bool text_ended_ = false;
  bool differs_ = false;
  bool lost_ = false;  // one side ran too far ahead
};

/// Whether the bytes of `copy` decode to the text of `source` (read with its `detection`) in the
/// `expected` encoding, in one pass over both, as TextMatch judges; `copy_detection` becomes
/// DetectEncoding of the copy's bytes. The pass stops at the first difference (kDiffers; the detection
/// then covers the bytes read so far); kDiffers also when a read failed. A source of `size` bytes or
/// more (ParallelStreamBytes) is decoded on a second core.
[[nodiscard]] TextMatch::Verdict MatchText(ByteSource& copy, EncodingKind expected, ByteSource& source,
                                           Detection detection, std::uint64_t size, Detection& copy_detection);

/// ProduceText that checks the content while writing it: after each piece goes to `sink`, its bytes are
/// read back through `back` and matched with the source's text (TextMatch); the verdict comes at the end,
/// left open when the copy's detection decodes otherwise than the target does (or its reads came short).
/// kFailed when the sink refused a piece or a read of the source failed.
/// A source of `size` bytes or more (ParallelStreamBytes) is checked on a second core, beside the
/// conversion of the pieces that follow, where the machine has one.
[[nodiscard]] SelfCheck ProduceCheckedText(EncodingKind target, ByteSource& source, Detection detection,
                                           std::uint64_t size, const ContentSink& sink, const ReadBack& back);

/// The size from which a file's conversion uses a second core (4 MiB: below it, starting a thread costs
/// more than it saves). Tests lower it so that small texts take the same way; 0 restores the usual size.
std::uint64_t ParallelStreamBytes();
void SetParallelStreamBytes(std::uint64_t bytes);

/// The content that the writer of `target` writes for the source's text (ConvertFile's targets: 8 UTF-8,
/// 16 UTF-16 with mark, 74 code page 932, anything else UTF-16 with mark after dropping leading marks),
/// given piece by piece to `sink`; false when the sink refused a piece or a read failed.
[[nodiscard]] bool ProduceText(EncodingKind target, ByteSource& source, Detection detection,
                               const std::function<bool(std::span<const std::uint8_t>)>& sink);

}  // namespace ocelo
