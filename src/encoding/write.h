// Writing text files: UTF-16 text to the bytes of one encoding, written as a file's whole new content.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace ocelo {

/// Replaces the file's content with the bytes, atomically: a reader sees the old or the new content,
/// never a mix, and a failed write leaves the old content. A busy, read-only or unreachable target is
/// retried for the open time, then fails with the dump line "Can't open wb  " + path; a write that the
/// disk refuses fails at once ("Can't write   " + path). `rewrite_count` is 0 for callers.
[[nodiscard]] bool WriteFileBytes(std::u16string_view path, std::span<const std::uint8_t> bytes, int rewrite_count = 0);

/// Takes a file's content piece by piece; false when a piece could not be written.
using ContentSink = std::function<bool(std::span<const std::uint8_t>)>;

/// Produces a file's content into a sink, in order; false when the sink refused a piece. A retried
/// write runs it again from the start.
using ContentProducer = std::function<bool(const ContentSink&)>;

/// WriteFileBytes for a content given in pieces (each writer below encodes its text this way, so no
/// encoded copy of a whole large text is held). Same guarantees, retries and dump lines.
[[nodiscard]] bool WriteFileContent(std::u16string_view path, const ContentProducer& produce, int rewrite_count = 0);

/// Judges a finished content, read back from the file it was written to, before it replaces its target.
using ContentCheck = std::function<bool(std::span<const std::uint8_t>)>;

/// How a checked write ended.
enum class CheckedWrite {
  kWritten,  ///< the content read back passed the check and replaced the target
  kRefused,  ///< the check refused it: the target keeps its old content, nothing else is left behind
  kFailed,   ///< the write failed as WriteFileContent fails (same dump lines)
};

/// WriteFileContent that reads the new content back from its temporary file and hands it to `check`
/// before the file replaces the target, so a content that lost characters or was damaged on its way to
/// the disk is never visible at the path. A refusal writes no dump line; the caller decides.
[[nodiscard]] CheckedWrite WriteCheckedContent(std::u16string_view path, const ContentProducer& produce,
                                               const ContentCheck& check);

/// Judges a finished content through a stream that reads the file it was written to from its start, for
/// a content too large to hold whole. The stream is closed after the check.
using StreamCheck = std::function<bool(std::FILE*)>;

/// WriteCheckedContent with the check reading the new content as a stream; the new file gets the
/// modification time `modify_time` (0: the time of its writing).
[[nodiscard]] CheckedWrite WriteCheckedStream(std::u16string_view path, const ContentProducer& produce,
                                              const StreamCheck& check, std::int64_t modify_time = 0);

/// Reads what the file being written holds, through the file system: up to `bytes.size()` bytes at
/// `offset`, their count in `got` (fewer only at the file's end). False when the read failed. It may be
/// called from another thread than the producer's while the producer writes on.
using ReadBack = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> bytes, std::size_t& got)>;

/// How a producer that checks its own content judged it.
enum class SelfCheck {
  kPassed,     ///< the content read back is what was meant
  kRefused,    ///< it is not: the target keeps its old content
  kUndecided,  ///< the StreamCheck of the whole file decides
  kFailed,     ///< the sink refused a piece, or memory ran out
};

/// Produces a content into a sink and checks it on the way, reading each piece back right after its write.
using CheckingProducer = std::function<SelfCheck(const ContentSink&, const ReadBack&)>;

/// WriteCheckedStream whose producer checks the content while it writes it, each piece read back from
/// the file while what it should hold is still at hand; `check` reads the whole file from its start only
/// when the producer leaves the verdict open. Same results, retries and dump lines.
[[nodiscard]] CheckedWrite WriteSelfCheckedStream(std::u16string_view path, const CheckingProducer& produce,
                                                  const StreamCheck& check, std::int64_t modify_time = 0);

/// The content each writer below writes for a text, as a producer (the text must outlive it).
ContentProducer Utf8Content(std::u16string_view text, bool mark);
ContentProducer Utf16Content(std::u16string_view text, bool mark);
ContentProducer Utf16MarkedContent(std::u16string_view text);
ContentProducer ShiftJisContent(std::u16string_view text);

/// The encoding step of the writers below, producing their content piece by piece (the text as given,
/// not cut at U+0000): UTF-8 with or without EF BB BF, UTF-16LE with or without FF FE, code page 932.
[[nodiscard]] bool ProduceUtf8(std::u16string_view text, bool mark, const ContentSink& sink);
[[nodiscard]] bool ProduceUtf16(std::u16string_view text, bool mark, const ContentSink& sink);
[[nodiscard]] bool ProduceShiftJis(std::u16string_view text, const ContentSink& sink);

/// UTF-8 of the text up to its first U+0000, with EF BB BF in front when `mark` is set; a lone surrogate
/// becomes EF BF BD.
[[nodiscard]] bool WriteUtf8File(std::u16string_view path, std::u16string_view text, bool mark);

/// UTF-16LE of the text up to its first U+0000, with FF FE in front when `mark` is set.
[[nodiscard]] bool WriteUtf16File(std::u16string_view path, std::u16string_view text, bool mark);

/// UTF-16LE of the whole text (U+0000 included) with exactly one FF FE in front: marks at the start of the
/// text are dropped first, unless the text is nothing but marks.
[[nodiscard]] bool WriteUtf16MarkedFile(std::u16string_view path, std::u16string_view text);

/// Code page 932 of the text up to its first U+0000, no mark; a character it cannot represent becomes "_".
[[nodiscard]] bool WriteShiftJisFile(std::u16string_view path, std::u16string_view text);

}  // namespace ocelo
