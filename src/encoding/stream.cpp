// Reading a file's text in pieces: ByteSource, the cut points of each encoding, the passes over a source.
#include "encoding/stream.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "base/utf.h"
#include "encoding/cp932.h"
#include "encoding/utf8.h"

namespace ocelo {
namespace {

constexpr std::size_t kDefaultPieceBytes = std::size_t{4} << 20;
std::atomic<std::size_t> piece_bytes{kDefaultPieceBytes};

// Room past a window for the bytes that a cut leaves for the next piece.
constexpr std::size_t kCarryRoom = 64;

// Buffers are handed from one pass (and one file) to the next: on first touch fresh memory costs more
// than the conversion itself, and a run of many files would otherwise pay it for each.
template <typename T>
std::vector<T>& Spares() {
  thread_local std::vector<T> spares;
  return spares;
}

template <typename T>
T TakeSpare() {
  std::vector<T>& spares = Spares<T>();
  if (spares.empty()) return T();
  T spare = std::move(spares.back());
  spares.pop_back();
  return spare;
}

template <typename T>
void KeepSpare(T&& spare) {
  constexpr std::size_t kKept = 4;
  std::vector<T>& spares = Spares<std::decay_t<T>>();
  try {
    if (spares.size() < kKept) spares.push_back(std::forward<T>(spare));
  } catch (const std::bad_alloc&) {
  }
}

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }
bool IsCp932Lead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsCp932Trail(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

}  // namespace

std::size_t StreamPieceBytes() { return piece_bytes.load(std::memory_order_relaxed); }

void SetStreamPieceBytes(std::size_t bytes) {
  piece_bytes.store(bytes == 0 ? kDefaultPieceBytes : bytes, std::memory_order_relaxed);
}

std::size_t CutPoint(EncodingKind kind, std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  switch (kind) {
    case kind::Copy: return n;
    case kind::Utf8: {
      // A character or an ill-formed stretch takes at most four bytes, lead included: after four
      // continuation bytes in a row, the next byte starts afresh whatever it is.
      for (std::size_t k = n; k-- > 1;) {
        if (!IsContinuation(bytes[k])) return k;
        if (k >= 4 && IsContinuation(bytes[k - 1]) && IsContinuation(bytes[k - 2]) && IsContinuation(bytes[k - 3]) &&
            IsContinuation(bytes[k - 4])) {
          return k;
        }
      }
      return 0;
    }
    case kind::Utf16Le:
    case kind::Utf16Be: return n & ~std::size_t{1};
    case kind::Utf32Le:
    case kind::Utf32Be: return n & ~std::size_t{3};
    default: {
      // A byte that is neither a lead nor a trail byte is a character of its own and ends one.
      constexpr std::size_t kLookBack = 4096;
      for (std::size_t k = n; k > 0 && n - k < kLookBack; --k) {
        const std::uint8_t b = bytes[k - 1];
        if (b < 0x40 || b == 0x7F || b >= 0xFD) return k;
      }
      // None near the end (text without spaces, digits or line ends): the decoder's own steps from the
      // start of the piece, which is a character's start.
      std::size_t i = 0;
      while (i < n) {
        if (!IsCp932Lead(bytes[i])) {
          ++i;
        } else if (i + 1 >= n) {
          break;
        } else {
          i += IsCp932Trail(bytes[i + 1]) ? 2 : 1;
        }
      }
      return i;
    }
  }
}

ByteSource::ByteSource(std::span<const std::uint8_t> bytes) : memory_(bytes), whole_(true) {}

ByteSource::ByteSource(std::FILE* stream, bool owned) : stream_(stream), owned_(owned) {
  auto spare = TakeSpare<std::pair<std::unique_ptr<std::uint8_t[]>, std::size_t>>();
  buffer_ = std::move(spare.first);
  allocated_ = buffer_ ? spare.second : 0;
}

ByteSource::~ByteSource() {
  if (stream_ && owned_) std::fclose(stream_);
  if (buffer_) KeepSpare(std::make_pair(std::move(buffer_), allocated_));
}

void ByteSource::Start(EncodingKind kind, std::size_t skip) {
  kind_ = kind;
  if (whole_) {
    const std::size_t size = memory_.empty() ? end_ : memory_.size();
    begin_ = std::min(skip, size);
    end_ = size;
    skip_ = 0;
    at_end_ = true;
    return;
  }
  begin_ = end_ = 0;
  skip_ = skip;
  at_end_ = false;
  read_in_pass_ = false;
  if (!stream_ || std::fseek(stream_, 0, SEEK_SET) != 0) {
    failed_ = true;
    at_end_ = true;
  }
}

bool ByteSource::Fill(std::size_t window) {
  const bool from_start = !read_in_pass_;
  read_in_pass_ = true;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t capacity = window + kCarryRoom;
  while (end_ < capacity) {
    // The buffer grows as the file turns out to need it (a small file never gets a whole piece), and
    // without filling: every byte of it is read into before it is used.
    if (end_ == allocated_) {
      const std::size_t size = std::min(capacity, std::max<std::size_t>(2 * allocated_, std::size_t{64} << 10));
      std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[size]);
      if (end_ > 0) std::memcpy(grown.get(), buffer_.get(), end_);
      buffer_ = std::move(grown);
      allocated_ = size;
    }
    const std::size_t got = std::fread(buffer_.get() + end_, 1, std::min(capacity, allocated_) - end_, stream_);
    end_ += got;
    if (got == 0) {
      if (std::ferror(stream_)) {
        failed_ = true;
        at_end_ = true;
        begin_ = end_ = 0;
        return false;
      }
      at_end_ = true;
      break;
    }
  }
  // The first read of a pass found the end: the buffer holds the whole file for every later pass.
  if (from_start && at_end_ && !failed_) whole_ = true;
  const std::size_t skipped = std::min(skip_, end_ - begin_);
  begin_ += skipped;
  skip_ -= skipped;
  return true;
}

bool ByteSource::Next(std::span<const std::uint8_t>& piece) {
  const std::size_t want = std::max<std::size_t>(StreamPieceBytes(), 1);
  std::size_t window = want;
  for (;;) {
    if (!at_end_ && (end_ - begin_ < window || skip_ > 0)) {
      if (!Fill(window)) return false;
      continue;
    }
    const std::size_t available = end_ - begin_;
    if (available == 0) return false;
    const std::size_t length = std::min(available, window);
    const bool last = at_end_ && length == available;
    const std::size_t cut = last ? length : CutPoint(kind_, {Data() + begin_, length});
    if (cut > 0) {
      piece = {Data() + begin_, cut};
      begin_ += cut;
      return true;
    }
    window += want;  // no place to cut in this window: look further
  }
}

bool ScanSource(ByteSource& source, SourceFacts& facts, bool detection_only) {
  facts = SourceFacts();
  EncodingDetector detector;
  source.Start(kind::Copy, 0);
  std::span<const std::uint8_t> piece;
  while (source.Next(piece)) {
    if (facts.head_length < sizeof facts.head) {
      const std::size_t count = std::min(piece.size(), sizeof facts.head - facts.head_length);
      std::memcpy(facts.head + facts.head_length, piece.data(), count);
      facts.head_length += count;
    }
    facts.size += piece.size();
    if (!facts.zero_byte && std::memchr(piece.data(), 0, piece.size())) facts.zero_byte = true;
    if (!detector.Decided()) detector.Add(piece);
    if (detection_only && detector.Decided()) break;
  }
  facts.detection = detector.Result();
  return !source.Failed();
}

TextSource::TextSource(ByteSource& bytes, Detection detection)
    : bytes_(bytes), kind_(detection.kind), text_(TakeSpare<std::u16string>()) {
  bytes_.Start(kind_, static_cast<std::size_t>(detection.mark_length));
}

TextSource::~TextSource() { KeepSpare(std::move(text_)); }

bool TextSource::Next(std::u16string_view& piece) {
  std::span<const std::uint8_t> bytes;
  if (stopped_ || !bytes_.Next(bytes)) return false;
  DecodePiece(kind_, bytes, text_, stopped_);
  piece = text_;
  return true;
}

bool DecodesWhole(ByteSource& source, const SourceFacts& facts) {
  const EncodingKind kind = facts.detection.kind;
  if (kind == kind::Utf32Le || kind == kind::Utf32Be) return true;
  if (kind != kind::Utf16Le && kind != kind::Utf16Be) return !facts.zero_byte;
  // UTF-16 stops at a zero unit, which zero bytes need not make.
  if (!facts.zero_byte) return true;
  TextSource text(source, facts.detection);
  std::u16string_view piece;
  while (text.Next(piece)) {
  }
  return !text.Stopped() && !text.Failed();
}

bool SameText(ByteSource& a, Detection a_detection, ByteSource& b, Detection b_detection) {
  TextSource first(a, a_detection);
  TextSource second(b, b_detection);
  std::u16string_view x;
  std::u16string_view y;
  for (;;) {
    bool x_more = true;
    bool y_more = true;
    while (x.empty() && (x_more = first.Next(x))) {
    }
    while (y.empty() && (y_more = second.Next(y))) {
    }
    if (!x_more || !y_more) return !x_more && !y_more && !first.Failed() && !second.Failed();
    const std::size_t n = std::min(x.size(), y.size());
    if (x.substr(0, n) != y.substr(0, n)) return false;
    x.remove_prefix(n);
    y.remove_prefix(n);
  }
}

bool SameBytes(ByteSource& a, ByteSource& b) {
  a.Start(kind::Copy, 0);
  b.Start(kind::Copy, 0);
  std::span<const std::uint8_t> x;
  std::span<const std::uint8_t> y;
  for (;;) {
    bool x_more = true;
    bool y_more = true;
    if (x.empty()) x_more = a.Next(x);
    if (y.empty()) y_more = b.Next(y);
    if (!x_more || !y_more) return !x_more && !y_more && !a.Failed() && !b.Failed();
    const std::size_t n = std::min(x.size(), y.size());
    if (std::memcmp(x.data(), y.data(), n) != 0) return false;
    x = x.subspan(n);
    y = y.subspan(n);
  }
}

bool ProduceText(EncodingKind target, ByteSource& source, Detection detection,
                 const std::function<bool(std::span<const std::uint8_t>)>& sink) {
  static constexpr std::uint8_t kUtf16Mark[] = {0xFF, 0xFE};
  const bool utf16 = target != kind::Utf8 && target != kind::ShiftJis;
  // Any other target but UTF-16 itself drops the marks at the start of the text, unless the text is
  // nothing but marks.
  bool drop_marks = utf16 && target != kind::Utf16Le;
  std::uint64_t marks = 0;
  if (utf16 && !sink(kUtf16Mark)) return false;

  std::vector<std::uint8_t> encoded = TakeSpare<std::vector<std::uint8_t>>();
  struct Keep {
    std::vector<std::uint8_t>& bytes;
    ~Keep() { KeepSpare(std::move(bytes)); }
  } keep{encoded};
  std::u16string joined;  // a held-back high surrogate and the unit after it
  char16_t held = 0;
  const auto encode = [&](std::u16string_view text) {
    if (text.empty()) return true;
    if (utf16) {
      if constexpr (std::endian::native == std::endian::little) {
        return sink({reinterpret_cast<const std::uint8_t*>(text.data()), text.size() * 2});
      }
      encoded.resize(text.size() * 2);
      for (std::size_t i = 0; i < text.size(); ++i) {
        encoded[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        encoded[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
      }
      return sink(encoded);
    }
    if (target == kind::Utf8) {
      EncodeUtf8Into(text, encoded);
    } else {
      EncodeShiftJisInto(text, encoded);
    }
    return encoded.empty() || sink(encoded);
  };

  TextSource text(source, detection);
  std::u16string_view piece;
  while (text.Next(piece)) {
    if (drop_marks) {
      const std::size_t first = piece.find_first_not_of(u'\uFEFF');
      marks += first == std::u16string_view::npos ? piece.size() : first;
      if (first == std::u16string_view::npos) continue;
      piece.remove_prefix(first);
      drop_marks = false;
    }
    // A surrogate pair is encoded whole: a high surrogate at the end of a piece waits for the next unit,
    // past pieces without any (UTF-32 zero units).
    if (piece.empty()) continue;
    if (held != 0) {
      joined.assign(1, held);
      held = 0;
      if (IsLowSurrogate(piece.front())) {
        joined += piece.front();
        piece.remove_prefix(1);
      }
      if (!encode(joined)) return false;
    }
    if (!utf16 && !piece.empty() && IsHighSurrogate(piece.back())) {
      held = piece.back();
      piece = piece.substr(0, piece.size() - 1);
    }
    if (!encode(piece)) return false;
  }
  if (text.Failed()) return false;
  if (held != 0 && !encode(std::u16string_view(&held, 1))) return false;
  if (drop_marks && marks > 0) {
    const std::u16string all(static_cast<std::size_t>(std::min<std::uint64_t>(marks, 1u << 20)), u'\uFEFF');
    for (std::uint64_t left = marks; left > 0;) {
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(left, all.size()));
      if (!encode(std::u16string_view(all).substr(0, count))) return false;
      left -= count;
    }
  }
  return true;
}

}  // namespace ocelo
