// The benchmark corpus: a deterministic generator of Japanese text and its iconv conversions.
#include "corpus.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoding/cpu_level.h"

namespace ocelo::bench {
namespace {

constexpr std::size_t kMinShiftJisBytes = 64u << 20;

// Common kanji of JIS level 1, all representable in code page 932.
const char16_t kKanji[] =
    u"日本語文字変換会社時間年月週分秒人名前今後先上下左右中大小高安新古長短明暗東西南北国内外"
    u"出入学校生活動物植水火木金土山川海空雨雪風花草森林電気車道駅店市町村都府県区部長官民主"
    u"社会経済政治法律医療教育研究開発設計製造販売管理運営計画情報通信技術科学数理物化地歴史"
    u"作品映画音楽美術写真料理食事朝昼夜春夏秋冬毎回以前来週末休業始終了確認表示入力出力保存";
const char16_t kPunctuation[] = u"、。「」（）・ー！？";

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next(std::uint32_t bound) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ % bound);
  }

 private:
  std::uint64_t state_;
};

void AppendAscii(std::u16string& out, const char* text) {
  while (*text) out += static_cast<char16_t>(*text++);
}

std::u16string MakeLine(Generator& g) {
  static const char* const kTags[] = {"<p>", "<li class=\"item\">", "<td>", "<h2 id=\"s1\">", "<span>"};
  static const char* const kEnds[] = {"</p>", "</li>", "</td>", "</h2>", "</span>"};
  std::u16string line;
  std::uint32_t tag = g.Next(5);
  AppendAscii(line, kTags[tag]);
  std::uint32_t words = 4 + g.Next(10);
  for (std::uint32_t w = 0; w < words; ++w) {
    std::uint32_t kind = g.Next(20);
    std::uint32_t length = 1 + g.Next(5);
    for (std::uint32_t i = 0; i < length; ++i) {
      if (kind < 8) line += kKanji[g.Next(sizeof(kKanji) / 2 - 1)];
      else if (kind < 14)
        line += static_cast<char16_t>(0x3041 + g.Next(0x53));  // hiragana
      else if (kind < 17)
        line += static_cast<char16_t>(0x30A1 + g.Next(0x56));  // katakana
      else if (kind < 18)
        line += static_cast<char16_t>(0xFF66 + g.Next(0x38));  // half-width katakana
      else
        line += static_cast<char16_t>(u'a' + g.Next(26));  // ASCII words
    }
    if (g.Next(4) == 0) line += kPunctuation[g.Next(sizeof(kPunctuation) / 2 - 1)];
  }
  AppendAscii(line, kEnds[tag]);
  line += u"\r\n";
  return line;
}

// Bytes of a corpus character in Shift_JIS: one for ASCII and half-width katakana, two for the rest.
std::size_t ShiftJisLength(char16_t c) { return (c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F)) ? 1 : 2; }

std::u16string MakeCorpus() {
  Generator g(0x0CE10C0DEull);
  std::u16string text;
  text.reserve(kMinShiftJisBytes / 3 * 2 + (1 << 20));
  std::size_t sjis_bytes = 0;
  while (sjis_bytes < kMinShiftJisBytes) {
    const std::u16string line = MakeLine(g);
    for (char16_t c : line) sjis_bytes += ShiftJisLength(c);
    text += line;
  }
  return text;
}

}  // namespace

Bytes IconvConvert(const void* data, std::size_t size, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::abort();
  }
  Bytes out(size * 2 + 16);
  char* in_ptr = const_cast<char*>(static_cast<const char*>(data));
  std::size_t in_left = size;
  char* out_ptr = reinterpret_cast<char*>(out.data());
  std::size_t out_left = out.size();
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) {
    std::perror("iconv");
    std::abort();
  }
  out.resize(out.size() - out_left);
  iconv_close(cd);
  return out;
}

// The Shift_JIS file named by OCELO_BENCH_CORPUS (real text such as manual pages), as UTF-16.
std::u16string ReadCorpus(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    std::perror(path);
    std::abort();
  }
  Bytes bytes;
  unsigned char buffer[1 << 16];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  const Bytes units = IconvConvert(bytes.data(), bytes.size(), "CP932", "UTF-16LE");
  std::u16string text(units.size() / 2, u'\0');
  std::memcpy(text.data(), units.data(), units.size());
  return text;
}

const std::u16string& CorpusText() {
  static const std::u16string text = [] {
    const char* path = std::getenv("OCELO_BENCH_CORPUS");
    return path ? ReadCorpus(path) : MakeCorpus();
  }();
  return text;
}

const Bytes& CorpusUtf16Le() {
  static const Bytes bytes = [] {
    const std::u16string& text = CorpusText();
    Bytes out(text.size() * 2);
    std::memcpy(out.data(), text.data(), out.size());  // little-endian machine
    return out;
  }();
  return bytes;
}

const Bytes& CorpusShiftJis() {
  static const Bytes bytes = [] {
    const Bytes& utf16 = CorpusUtf16Le();
    return IconvConvert(utf16.data(), utf16.size(), "UTF-16LE", "CP932");
  }();
  return bytes;
}

const Bytes& CorpusUtf8() {
  static const Bytes bytes = [] {
    const Bytes& utf16 = CorpusUtf16Le();
    return IconvConvert(utf16.data(), utf16.size(), "UTF-16LE", "UTF-8");
  }();
  return bytes;
}

bool RegisterAtEveryLevel(const char* name, void (*run)(benchmark::State&), benchmark::TimeUnit unit) {
  for (int k = 0; k <= static_cast<int>(MachineKernelLevel()); ++k) {
    const KernelLevel level = static_cast<KernelLevel>(k);
    const std::string full = std::string(name) + "/" + KernelLevelName(level);
    benchmark::RegisterBenchmark(full.c_str(), [run, level](benchmark::State& state) {
      SetKernelLevelForTesting(level);
      run(state);
      SetKernelLevelForTesting(MachineKernelLevel());
    })->Unit(unit);
  }
  return true;
}

Bytes Warm(const Bytes& form, std::size_t bytes) {
  std::size_t n = std::min(bytes, form.size());
  while (n > 0 && n < form.size() && (form[n] & 0xC0) == 0x80) --n;  // not inside a UTF-8 character
  return Bytes(form.begin(), form.begin() + static_cast<std::ptrdiff_t>(n));
}

std::u16string Warm(const std::u16string& text, std::size_t bytes) {
  std::size_t units = std::min(bytes / 2, text.size());
  if (units > 0 && units < text.size() && text[units] >= 0xDC00 && text[units] <= 0xDFFF) --units;
  return text.substr(0, units);
}

}  // namespace ocelo::bench
