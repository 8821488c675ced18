// Reading a file's text in pieces: ByteSource, the cut points of each encoding, the passes over a source.
#include "encoding/stream.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

#include "base/utf.h"
#include "encoding/cp932.h"
#include "encoding/utf8.h"

namespace ocelo {
namespace {

constexpr std::size_t kDefaultPieceBytes = std::size_t{256} << 10;
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

namespace {

// The writer's encoding of a text that comes in pieces, given to a sink: the mark of UTF-16, marks at
// the text's start dropped where the target drops them, and a surrogate pair encoded whole although a
// cut between pieces may part it.
class PieceEncoder {
 public:
  PieceEncoder(EncodingKind target, const ContentSink& sink)
      : target_(target),
        sink_(sink),
        utf16_(target != kind::Utf8 && target != kind::ShiftJis),
        // Any other target but UTF-16 itself drops the marks at the start of the text, unless the text
        // is nothing but marks.
        drop_marks_(utf16_ && target != kind::Utf16Le),
        encoded_(TakeSpare<std::vector<std::uint8_t>>()) {}
  ~PieceEncoder() { KeepSpare(std::move(encoded_)); }
  PieceEncoder(const PieceEncoder&) = delete;
  PieceEncoder& operator=(const PieceEncoder&) = delete;

  bool Begin() {
    static constexpr std::uint8_t kUtf16Mark[] = {0xFF, 0xFE};
    return !utf16_ || sink_(kUtf16Mark);
  }

  bool Add(std::u16string_view piece) {
    if (drop_marks_) {
      const std::size_t first = piece.find_first_not_of(u'\uFEFF');
      marks_ += first == std::u16string_view::npos ? piece.size() : first;
      if (first == std::u16string_view::npos) return true;
      piece.remove_prefix(first);
      drop_marks_ = false;
    }
    // A surrogate pair is encoded whole: a high surrogate at the end of a piece waits for the next unit,
    // past pieces without any (UTF-32 zero units).
    if (piece.empty()) return true;
    if (held_ != 0) {
      joined_.assign(1, held_);
      held_ = 0;
      if (IsLowSurrogate(piece.front())) {
        joined_ += piece.front();
        piece.remove_prefix(1);
      }
      if (!Encode(joined_)) return false;
    }
    if (!utf16_ && !piece.empty() && IsHighSurrogate(piece.back())) {
      held_ = piece.back();
      piece = piece.substr(0, piece.size() - 1);
    }
    return Encode(piece);
  }

  bool End() {
    if (held_ != 0 && !Encode(std::u16string_view(&held_, 1))) return false;
    held_ = 0;
    if (drop_marks_ && marks_ > 0) {
      const std::u16string all(static_cast<std::size_t>(std::min<std::uint64_t>(marks_, 1u << 20)), u'\uFEFF');
      for (std::uint64_t left = marks_; left > 0;) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(left, all.size()));
        if (!Encode(std::u16string_view(all).substr(0, count))) return false;
        left -= count;
      }
    }
    return true;
  }

 private:
  bool Encode(std::u16string_view text) {
    if (text.empty()) return true;
    if (utf16_) {
      if constexpr (std::endian::native == std::endian::little) {
        return sink_({reinterpret_cast<const std::uint8_t*>(text.data()), text.size() * 2});
      }
      encoded_.resize(text.size() * 2);
      for (std::size_t i = 0; i < text.size(); ++i) {
        encoded_[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        encoded_[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
      }
      return sink_(encoded_);
    }
    if (target_ == kind::Utf8) {
      EncodeUtf8Into(text, encoded_);
    } else {
      EncodeShiftJisInto(text, encoded_);
    }
    return encoded_.empty() || sink_(encoded_);
  }

  EncodingKind target_;
  const ContentSink& sink_;
  bool utf16_;
  bool drop_marks_;
  std::uint64_t marks_ = 0;
  std::vector<std::uint8_t> encoded_;
  std::u16string joined_;  // a held-back high surrogate and the unit after it
  char16_t held_ = 0;
};

// The encoding whose decoding a detected kind stands for: DecodeBytes reads every kind it does not
// name as code page 932.
EncodingKind DecodedAs(EncodingKind kind) {
  switch (kind) {
    case kind::Utf8:
    case kind::Utf16Le:
    case kind::Utf16Be:
    case kind::Utf32Le:
    case kind::Utf32Be: return kind;
    default: return kind::ShiftJis;
  }
}

// Text kept on one side of a TextMatch while the other side has not caught up: beyond this many units,
// the match leaves its verdict to a check of the whole files.
constexpr std::size_t kMostHeld = std::size_t{1} << 20;

// Bytes of a copy joined to those that a cut left over, at a time: enough to find a place to cut.
constexpr std::size_t kJoinBytes = 8192;

// Whether no byte is above 0x7F.
bool SevenBit(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  for (; i + kBlock <= bytes.size(); i += kBlock) {
    std::uint8_t any = 0;
    for (std::size_t k = 0; k < kBlock; ++k) any |= bytes[i + k];
    if (any & 0x80) return false;
  }
  std::uint8_t any = 0;
  for (; i < bytes.size(); ++i) any |= bytes[i];
  return (any & 0x80) == 0;
}

// The longest common start of two texts is taken off both; false when they differ within it.
bool TakeCommon(std::u16string_view& a, std::u16string_view& b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0 && std::memcmp(a.data(), b.data(), n * sizeof(char16_t)) != 0) return false;
  a.remove_prefix(n);
  b.remove_prefix(n);
  return true;
}

}  // namespace

TextMatch::TextMatch(EncodingKind expected)
    : kind_(DecodedAs(expected)),
      carry_(TakeSpare<std::vector<std::uint8_t>>()),
      decoded_(TakeSpare<std::u16string>()) {
  carry_.clear();
}

void TextMatch::Hold(std::u16string& held, std::size_t& begin, std::u16string_view rest) {
  if (rest.empty()) return;
  if (begin == held.size()) {
    held.clear();
    begin = 0;
  }
  if (held.size() - begin + rest.size() > kMostHeld) {
    lost_ = true;
    std::u16string().swap(held);
    begin = 0;
    return;
  }
  held.append(rest);
}

std::size_t TextMatch::Waiting() const { return text_held_.size() - text_begin_ + text_.size(); }

void TextMatch::Detach() {
  if (!differs_ && !lost_) Hold(text_held_, text_begin_, text_);
  text_ = {};
}

void TextMatch::EndText() {
  text_ended_ = true;
  if (copy_held_.size() > copy_begin_) differs_ = true;
}

void TextMatch::Text(std::u16string_view text) {
  Detach();
  if (differs_ || lost_ || text.empty()) return;
  if (stopped_) {
    // The bytes' text has ended.
    differs_ = true;
    return;
  }
  // Text of the bytes that came first meets its text now.
  std::u16string_view ahead = std::u16string_view(copy_held_).substr(copy_begin_);
  if (!TakeCommon(ahead, text)) {
    differs_ = true;
    return;
  }
  copy_begin_ = copy_held_.size() - ahead.size();
  text_ = text;
}

void TextMatch::Match(std::u16string_view copy) {
  if (differs_ || lost_ || copy.empty()) return;
  std::u16string_view held = std::u16string_view(text_held_).substr(text_begin_);
  if (!TakeCommon(held, copy) || !TakeCommon(text_, copy)) {
    differs_ = true;
    return;
  }
  text_begin_ = text_held_.size() - held.size();
  if (!copy.empty() && text_ended_) {
    differs_ = true;
    return;
  }
  Hold(copy_held_, copy_begin_, copy);
}

void TextMatch::Decode(std::span<const std::uint8_t> bytes) {
  if (stopped_ || bytes.empty()) return;
  DecodePiece(kind_, bytes, decoded_, stopped_);
  Match(decoded_);
  if (stopped_ && Waiting() > 0) differs_ = true;
}

void TextMatch::Feed(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && !stopped_ && !differs_ && !lost_) {
    if (carry_.empty()) {
      const std::size_t cut = CutPoint(kind_, bytes);
      Decode(bytes.first(cut));
      carry_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end());
      return;
    }
    // The bytes left over by the last cut, joined to the first new ones until a place to cut turns up.
    const std::size_t old = carry_.size();
    const std::size_t take = std::min(bytes.size(), kJoinBytes);
    carry_.insert(carry_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
    const std::size_t cut = CutPoint(kind_, carry_);
    if (cut == 0) {
      bytes = bytes.subspan(take);
      continue;
    }
    Decode({carry_.data(), cut});
    if (cut >= old) {
      // The rest lies in the new bytes themselves.
      bytes = bytes.subspan(cut - old);
      carry_.clear();
    } else {
      carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(cut));
      bytes = bytes.subspan(take);
    }
  }
}

void TextMatch::Bytes(std::span<const std::uint8_t> bytes) {
  detector_.Add(bytes);
  if (seven_bit_) seven_bit_ = SevenBit(bytes);
  if (mark_ < 0) {
    // The mark, if any, is known once the first four bytes are.
    const std::size_t count = std::min(bytes.size(), sizeof head_ - head_length_);
    std::memcpy(head_ + head_length_, bytes.data(), count);
    head_length_ += count;
    bytes = bytes.subspan(count);
    if (head_length_ < sizeof head_) return;
    mark_ = DetectEncoding({head_, head_length_}).mark_length;
    Feed(std::span<const std::uint8_t>(head_, head_length_).subspan(static_cast<std::size_t>(mark_)));
  }
  Feed(bytes);
}

TextMatch::Verdict TextMatch::Finish(Detection& detection) {
  detection = detector_.Result();
  if (mark_ < 0) {
    mark_ = DetectEncoding({head_, head_length_}).mark_length;
    Feed(std::span<const std::uint8_t>(head_, head_length_).subspan(static_cast<std::size_t>(mark_)));
  }
  if (!differs_ && !lost_) {
    // The end of the bytes: what the last cut left over is a whole piece of its own.
    Decode(carry_);
  }
  const bool same = Waiting() == 0 && copy_held_.size() == copy_begin_;
  text_ = {};
  carry_.clear();
  KeepSpare(std::move(carry_));
  KeepSpare(std::move(decoded_));
  // Bytes below 0x80 alone read the same in UTF-8 and in code page 932 (an ASCII copy of a UTF-8
  // conversion is detected as seven-bit text).
  const auto single_byte = [](EncodingKind kind) { return kind == kind::Utf8 || kind == kind::ShiftJis; };
  const EncodingKind decoded = DecodedAs(detection.kind);
  const bool agrees = decoded == kind_ || (seven_bit_ && single_byte(decoded) && single_byte(kind_));
  if (!agrees || detection.mark_length != mark_) return Verdict::kUnknown;
  if (differs_) return Verdict::kDiffers;
  if (lost_) return Verdict::kUnknown;
  return same ? Verdict::kSame : Verdict::kDiffers;
}

namespace {

// Runs jobs in order on a second thread, beside what the caller does meanwhile: up to kQueued jobs may
// wait or run at once (Post waits for room), so that neither thread stops whenever the other one is
// not given the processor for a moment, as happens on a loaded machine. Without a thread (one core, a
// small file, or none to be had) Post runs the job itself.
class SecondCore {
 public:
  static constexpr int kQueued = 4;

  explicit SecondCore(bool wanted) {
    if (!wanted) return;
    try {
      thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
    }
  }
  // Jobs not started yet are dropped; one that runs ends first.
  ~SecondCore() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  SecondCore(const SecondCore&) = delete;
  SecondCore& operator=(const SecondCore&) = delete;

  void Post(std::function<void()> job) {
    if (!thread_.joinable()) {
      job();
      ++done_;
      ++posted_;
      return;
    }
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return posted_ - done_ < kQueued; });
    jobs_.push_back(std::move(job));
    ++posted_;
    hold.unlock();
    changed_.notify_all();
  }

  /// Waits until the first `count` jobs posted are done.
  void WaitFor(std::uint64_t count) {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return done_ >= count; });
  }

  void Wait() { WaitFor(posted_); }

 private:
  void Serve() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      changed_.wait(hold, [&] { return !jobs_.empty() || quit_; });
      if (quit_) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      hold.unlock();
      job();
      hold.lock();
      ++done_;
      changed_.notify_all();
    }
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;  // posted, not started
  std::uint64_t posted_ = 0;
  std::uint64_t done_ = 0;
  bool quit_ = false;
};

constexpr std::uint64_t kDefaultParallelBytes = std::uint64_t{4} << 20;
std::atomic<std::uint64_t> parallel_bytes{kDefaultParallelBytes};

}  // namespace

std::uint64_t ParallelStreamBytes() { return parallel_bytes.load(std::memory_order_relaxed); }

void SetParallelStreamBytes(std::uint64_t bytes) {
  parallel_bytes.store(bytes == 0 ? kDefaultParallelBytes : bytes, std::memory_order_relaxed);
}

TextMatch::Verdict MatchText(ByteSource& copy, EncodingKind expected, ByteSource& source, Detection detection,
                             std::uint64_t size, Detection& copy_detection) {
  // The copy goes to the match in small steps, each as soon as the text waits for it, so that neither
  // side runs far ahead of the other.
  constexpr std::size_t kStep = std::size_t{256} << 10;
  TextMatch match(expected);
  copy.Start(kind::Copy, 0);
  std::span<const std::uint8_t> bytes;
  bool copy_more = true;
  const auto feed_while = [&](auto wanted) {
    while (copy_more && wanted() && !match.Differs()) {
      if (bytes.empty() && !(copy_more = copy.Next(bytes))) break;
      const std::size_t n = std::min(bytes.size(), kStep);
      match.Bytes(bytes.first(n));
      bytes = bytes.subspan(n);
    }
  };

  // The source's text is decoded up to kQueued pieces ahead, on the second core for a large file, into
  // the other buffers while the copy is matched with the piece before them.
  constexpr int kBuffers = SecondCore::kQueued + 1;
  std::u16string texts[kBuffers];
  for (std::u16string& text : texts) text = TakeSpare<std::u16string>();
  struct Keep {
    std::u16string (&texts)[kBuffers];
    ~Keep() {
      for (std::u16string& text : texts) KeepSpare(std::move(text));
    }
  } keep{texts};
  bool ready[kBuffers] = {};
  bool stopped = false;
  bool out_of_memory = false;
  const EncodingKind kind = detection.kind;
  source.Start(kind, static_cast<std::size_t>(detection.mark_length));
  const auto decode_into = [&](int k) {
    return [&, k] {
      std::span<const std::uint8_t> piece;
      try {
        ready[k] = !stopped && source.Next(piece);
        if (ready[k]) DecodePiece(kind, piece, texts[k], stopped);
      } catch (const std::bad_alloc&) {
        ready[k] = false;
        out_of_memory = true;
      }
    };
  };
  {
    // Piece k goes to buffer k % kBuffers; while it is matched, the pieces after it (never more than
    // kQueued) are decoded into the others.
    SecondCore core(size >= ParallelStreamBytes() && std::thread::hardware_concurrency() > 1);
    std::uint64_t posted = 0;
    const auto post_next = [&] {
      core.Post(decode_into(static_cast<int>(posted % kBuffers)));
      ++posted;
    };
    for (int k = 0; k < SecondCore::kQueued; ++k) post_next();
    for (std::uint64_t k = 0;; ++k) {
      core.WaitFor(k + 1);
      const int at = static_cast<int>(k % kBuffers);
      if (!ready[at] || match.Differs()) break;
      post_next();  // into the buffer of piece k - 1, matched already
      match.Text(texts[at]);
      feed_while([&] { return match.Waiting() > 0; });
      match.Detach();
    }
  }
  match.EndText();
  feed_while([] { return true; });
  const TextMatch::Verdict verdict = match.Finish(copy_detection);
  if (match.Differs() || out_of_memory || source.Failed() || copy.Failed()) return TextMatch::Verdict::kDiffers;
  return verdict;
}

SelfCheck ProduceCheckedText(EncodingKind target, ByteSource& source, Detection detection, std::uint64_t size,
                             const ContentSink& sink, const ReadBack& back) {
  // Each piece of the copy is read back in steps of this size, which stay in the cache while they are
  // decoded and compared.
  constexpr std::size_t kStep = std::size_t{512} << 10;
  std::uint64_t written = 0;
  const ContentSink counted = [&](std::span<const std::uint8_t> piece) {
    written += piece.size();
    return sink(piece);
  };
  constexpr int kBuffers = SecondCore::kQueued + 1;
  std::vector<std::uint8_t> step = TakeSpare<std::vector<std::uint8_t>>();
  std::u16string texts[kBuffers];
  for (std::u16string& text : texts) text = TakeSpare<std::u16string>();
  struct Keep {
    std::vector<std::uint8_t>& step;
    std::u16string (&texts)[kBuffers];
    ~Keep() {
      KeepSpare(std::move(step));
      for (std::u16string& text : texts) KeepSpare(std::move(text));
    }
  } keep{step, texts};
  step.resize(kStep);

  // The check of what the file holds up to some end, matched with the text of the pieces written up
  // to there. A read that fails or comes short leaves the verdict to the check of the whole file.
  TextMatch match(target == kind::Utf8 || target == kind::ShiftJis ? target : kind::Utf16Le);
  std::uint64_t checked = 0;
  bool short_read = false;
  bool out_of_memory = false;
  const auto check_to = [&](std::uint64_t end) {
    while (checked < end && !short_read) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, end - checked));
      std::size_t got = 0;
      if (!back(checked, {step.data(), want}, got) || got < want) short_read = true;
      match.Bytes({step.data(), got});
      checked += got;
    }
  };
  // On a large file the check of each piece runs on the second core, beside the conversion of the
  // pieces after it into the other text buffers (piece k into buffer k % kBuffers: SecondCore holds at
  // most kQueued checks, so the check that read a buffer has ended before the buffer is used again).
  SecondCore core(size >= ParallelStreamBytes() && std::thread::hardware_concurrency() > 1);

  PieceEncoder encoder(target, counted);
  if (!encoder.Begin()) return SelfCheck::kFailed;
  const EncodingKind kind = detection.kind;
  source.Start(kind, static_cast<std::size_t>(detection.mark_length));
  std::span<const std::uint8_t> bytes;
  bool stopped = false;
  for (int k = 0; !stopped && source.Next(bytes); k = (k + 1) % kBuffers) {
    std::u16string& text = texts[k];
    DecodePiece(kind, bytes, text, stopped);
    if (!encoder.Add(text)) return SelfCheck::kFailed;
    core.Post([&match, &check_to, &out_of_memory, piece = std::u16string_view(text), end = written] {
      try {
        match.Text(piece);
        check_to(end);
        match.Detach();
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    });
  }
  core.Wait();
  if (out_of_memory || source.Failed() || !encoder.End()) return SelfCheck::kFailed;
  match.EndText();
  check_to(written);
  // Nothing may follow what was written.
  std::size_t got = 0;
  if (!short_read && (!back(written, {step.data(), 1}, got) || got != 0)) short_read = true;
  Detection copy_detection;
  const TextMatch::Verdict verdict = match.Finish(copy_detection);
  if (short_read || verdict == TextMatch::Verdict::kUnknown) return SelfCheck::kUndecided;
  return verdict == TextMatch::Verdict::kSame ? SelfCheck::kPassed : SelfCheck::kRefused;
}

bool ProduceText(EncodingKind target, ByteSource& source, Detection detection,
                 const std::function<bool(std::span<const std::uint8_t>)>& sink) {
  PieceEncoder encoder(target, sink);
  if (!encoder.Begin()) return false;
  TextSource text(source, detection);
  std::u16string_view piece;
  while (text.Next(piece)) {
    if (!encoder.Add(piece)) return false;
  }
  return !text.Failed() && encoder.End();
}

}  // namespace ocelo
