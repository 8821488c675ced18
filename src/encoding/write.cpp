// Writing text files: the atomic byte writer with its retries, and one writer per target encoding.
#include "encoding/write.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/utf.h"
#include "encoding/cp932.h"
#include "encoding/utf8.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_status.h"
#include "util/policy.h"

namespace ocelo {
namespace {

// Failures of the writing rather than of the opening: the disk, the quota or the memory is full, or the
// device failed.
bool IsWriteError(int error) {
  return error == ENOSPC || error == EFBIG || error == EIO || error == ENOMEM
#ifdef EDQUOT
         || error == EDQUOT
#endif
      ;
}

std::u16string_view UpToZeroUnit(std::u16string_view text) {
  std::size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

constexpr std::uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr std::uint8_t kUtf16Mark[] = {0xFF, 0xFE};

// Text goes to the encoders in pieces of this many units, so that no encoded copy of a whole large
// text is ever held and each piece is written while it is still in the cache.
constexpr std::size_t kPieceUnits = 1 << 15;

// Calls `encode_piece` for each piece of the text in order; a surrogate pair is never cut.
template <typename EncodePiece>
bool ForEachPiece(std::u16string_view text, EncodePiece encode_piece) {
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.size(), start + kPieceUnits);
    if (end < text.size() && IsHighSurrogate(text[end - 1])) ++end;
    if (!encode_piece(text.substr(start, end - start))) return false;
    start = end;
  }
  return true;
}

}  // namespace

bool ProduceUtf8(std::u16string_view text, bool mark, const ContentSink& sink) {
  if (mark && !sink(kUtf8Mark)) return false;
  return ForEachPiece(text, [&](std::u16string_view piece) { return sink(EncodeUtf8(piece)); });
}

bool ProduceUtf16(std::u16string_view text, bool mark, const ContentSink& sink) {
  if (mark && !sink(kUtf16Mark)) return false;
  if constexpr (std::endian::native == std::endian::little) {
    // The text's own memory holds its little-endian bytes.
    return text.empty() || sink(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size() * 2));
  }
  return ForEachPiece(text, [&](std::u16string_view piece) {
    std::vector<std::uint8_t> bytes(piece.size() * 2);
    for (std::size_t i = 0; i < piece.size(); ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(piece[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(piece[i] >> 8);
    }
    return sink(bytes);
  });
}

bool ProduceShiftJis(std::u16string_view text, const ContentSink& sink) {
  return ForEachPiece(text, [&](std::u16string_view piece) { return sink(EncodeShiftJis(piece)); });
}

namespace {

// The write of WriteFileContent, WriteCheckedContent, WriteCheckedStream and WriteSelfCheckedStream
// (`checking` then stands in for `produce`); the checks may be empty.
CheckedWrite WriteContent(std::u16string_view path, const ContentProducer& produce, const CheckingProducer* checking,
                          const ContentCheck& check, const StreamCheck& stream_check, std::int64_t modify_time,
                          int rewrite_count) {
  bool deferred = false;
  int error = EINVAL;
  std::uint64_t written = 0;
  bool refused = false;
  if (!path.empty()) {
    // A busy target is waited for; a read-only one, a missing folder or a full disk fails at once.
    error = RetryWhileBusy([&] {
      sys::FileReplacement replacement;
      if (const int begin_error = replacement.Begin(path)) return begin_error;
      written = 0;
      int append_error = 0;
      bool produced = false;
      // A self-checking producer reads its pieces back through a second handle opened once, which the
      // check of the whole file then reads from its start if the producer leaves the verdict open.
      std::unique_ptr<std::FILE, int (*)(std::FILE*)> reader(nullptr, &std::fclose);
      SelfCheck verdict = SelfCheck::kPassed;
      if (checking) {
        std::FILE* stream = nullptr;
        if (const int read_error = replacement.OpenReadBack(stream)) return read_error;
        reader.reset(stream);
      }
      try {
        const ContentSink sink = [&](std::span<const std::uint8_t> piece) {
          if (piece.empty()) return true;
          append_error = replacement.Append(piece);
          written += piece.size();
          return append_error == 0;
        };
        if (checking) {
          verdict = (*checking)(sink, [&](std::uint64_t offset, std::span<std::uint8_t> bytes, std::size_t& got) {
            return sys::ReadAt(reader.get(), offset, bytes, got) == 0;
          });
          produced = verdict != SelfCheck::kFailed;
        } else {
          produced = produce(sink);
        }
      } catch (const std::bad_alloc&) {
        append_error = ENOMEM;
      }
      if (append_error == 0 && !produced) append_error = ENOMEM;
      if (append_error != 0) return append_error;
      if (verdict == SelfCheck::kRefused) {
        refused = true;
        return 0;
      }
      if (verdict == SelfCheck::kUndecided) {
        try {
          refused = !stream_check(reader.get());
        } catch (const std::bad_alloc&) {
          return ENOMEM;
        }
        if (refused) return 0;
      }
      reader.reset();
      if (check) {
        // The check reads what the disk holds; the uncommitted file goes away with `replacement`.
        std::vector<std::uint8_t> back;
        if (const int read_error = replacement.ReadBack(back)) return read_error;
        try {
          refused = !check(back);
        } catch (const std::bad_alloc&) {
          return ENOMEM;
        }
        if (refused) return 0;
      }
      if (stream_check && !checking) {
        std::FILE* back = nullptr;
        if (const int read_error = replacement.OpenReadBack(back)) return read_error;
        try {
          refused = !stream_check(back);
        } catch (const std::bad_alloc&) {
          std::fclose(back);
          return ENOMEM;
        }
        std::fclose(back);
        if (refused) return 0;
      }
      if (stream_check || checking) replacement.JoinBatch();  // a conversion's copy: its durability may be grouped
      if (modify_time != 0) {
        if (const int time_error = replacement.SetModifyTime(modify_time)) return time_error;
      }
      const int commit_error = replacement.Commit();
      deferred = replacement.Deferred();
      return commit_error;
    });
  }
  if (error != 0) {
    DumpText((IsWriteError(error) ? u"Can't write   " : u"Can't open wb  ") + std::u16string(path));
    return CheckedWrite::kFailed;
  }
  if (refused) return CheckedWrite::kRefused;
  // A file that reads back empty although there were bytes was emptied behind our back: write again.
  // A replacement left to a batch is not at the path yet.
  if (written > 0 && !deferred && FileStatus(path).Size() == 0) {
    if (rewrite_count > Waits().rewrite_limit) return CheckedWrite::kFailed;
    Pause(Waits().rewrite_wait);
    return WriteContent(path, produce, checking, check, stream_check, modify_time, rewrite_count + 1);
  }
  return CheckedWrite::kWritten;
}

}  // namespace

bool WriteFileContent(std::u16string_view path, const ContentProducer& produce, int rewrite_count) {
  return WriteContent(path, produce, nullptr, nullptr, nullptr, 0, rewrite_count) == CheckedWrite::kWritten;
}

CheckedWrite WriteCheckedContent(std::u16string_view path, const ContentProducer& produce, const ContentCheck& check) {
  return WriteContent(path, produce, nullptr, check, nullptr, 0, 0);
}

CheckedWrite WriteCheckedStream(std::u16string_view path, const ContentProducer& produce, const StreamCheck& check,
                                std::int64_t modify_time) {
  return WriteContent(path, produce, nullptr, nullptr, check, modify_time, 0);
}

CheckedWrite WriteSelfCheckedStream(std::u16string_view path, const CheckingProducer& produce, const StreamCheck& check,
                                    std::int64_t modify_time) {
  return WriteContent(path, nullptr, &produce, nullptr, check, modify_time, 0);
}

bool WriteFileBytes(std::u16string_view path, std::span<const std::uint8_t> bytes, int rewrite_count) {
  return WriteFileContent(
      path, [&](const ContentSink& sink) { return sink(bytes); }, rewrite_count);
}

ContentProducer Utf8Content(std::u16string_view text, bool mark) {
  return [text, mark](const ContentSink& sink) { return ProduceUtf8(UpToZeroUnit(text), mark, sink); };
}

ContentProducer Utf16Content(std::u16string_view text, bool mark) {
  return [text, mark](const ContentSink& sink) { return ProduceUtf16(UpToZeroUnit(text), mark, sink); };
}

ContentProducer Utf16MarkedContent(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u'\uFEFF');
  if (first != std::u16string_view::npos) text.remove_prefix(first);
  return [text](const ContentSink& sink) { return ProduceUtf16(text, true, sink); };
}

ContentProducer ShiftJisContent(std::u16string_view text) {
  return [text](const ContentSink& sink) { return ProduceShiftJis(UpToZeroUnit(text), sink); };
}

bool WriteUtf8File(std::u16string_view path, std::u16string_view text, bool mark) {
  return WriteFileContent(path, Utf8Content(text, mark));
}

bool WriteUtf16File(std::u16string_view path, std::u16string_view text, bool mark) {
  return WriteFileContent(path, Utf16Content(text, mark));
}

bool WriteUtf16MarkedFile(std::u16string_view path, std::u16string_view text) {
  return WriteFileContent(path, Utf16MarkedContent(text));
}

bool WriteShiftJisFile(std::u16string_view path, std::u16string_view text) {
  return WriteFileContent(path, ShiftJisContent(text));
}

}  // namespace ocelo
