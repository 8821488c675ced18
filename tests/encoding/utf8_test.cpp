// UTF-8 decoding and encoding: malformed input, agreement with the system's converter, fast against scalar.
#include "encoding/utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/kernel_levels.h"
#include "support/sandbox.h"
#include "support/system_converter.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::Hex;
using test::ToHex;

Bytes Utf8Of(std::u16string_view text) {
  const std::optional<Bytes> bytes = test::SystemEncode(text, "UTF-8");
  EXPECT_TRUE(bytes) << "the system's converter rejected the text";
  return bytes.value_or(Bytes());
}

std::u16string Utf16Of(const Bytes& utf8) {
  const std::optional<std::u16string> text = test::SystemDecodeUtf8(utf8);
  EXPECT_TRUE(text) << "the system's converter rejected the bytes";
  return text.value_or(std::u16string());
}

std::string UnitsHex(std::u16string_view text) {
  std::string out;
  char buffer[8];
  for (char16_t unit : text) {
    std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(unit));
    out += buffer;
  }
  return out;
}

// Japanese text with markup, half-width katakana, a 2-byte letter and a character beyond the BMP.
const std::u16string kSample =
    u"<p>日本語の文章です。ｶﾀｶﾅとカタカナ、é and ü、絵文字\U0001F600も。</p>\r\n"
    u"<li class=\"item\">文字コードを変更</li>\r\n";

std::u16string LongSample(int copies) {
  std::u16string text;
  for (int k = 0; k < copies; ++k) text += kSample;
  return text;
}

// The fast converters at each kernel level, against the expected results and the scalar ones.
class Utf8AtLevel : public test::KernelLevelTest {};
OCELO_AT_EVERY_KERNEL_LEVEL(Utf8AtLevel);

TEST_P(Utf8AtLevel, MalformedBytesBecomeOneReplacementPerMaximalSubpart) {
  struct Case {
    const char* description;
    const char* bytes;
    std::u16string expected;
  };
  const Case cases[] = {
      {"stray continuation bytes", "80 BF", u"\uFFFD\uFFFD"},
      {"overlong 2-byte NUL", "C0 80", u"\uFFFD\uFFFD"},
      {"overlong 2-byte C1", "C1 BF", u"\uFFFD\uFFFD"},
      {"overlong 3-byte", "E0 9F BF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded high surrogate", "ED A0 80", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded low surrogate", "ED BF BF", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong 4-byte", "F0 8F BF BF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "F4 90 80 80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lead F5", "F5 80 80 80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"bytes FE and FF", "FE FF", u"\uFFFD\uFFFD"},
      {"3-byte cut short by ASCII", "E3 81 41", u"\uFFFDA"},
      {"4-byte cut short by ASCII", "F0 9F 98 41", u"\uFFFDA"},
      {"lead cut short by a lead", "E3 E3 81 82", u"\uFFFD\u3042"},
      {"2-byte lead at the end", "C3", u"\uFFFD"},
      {"3-byte prefix at the end", "E3 81", u"\uFFFD"},
      {"4-byte prefix at the end", "F0 9F 98", u"\uFFFD"},
      {"Unicode's example of maximal subparts", "61 F1 80 80 E1 80 C2 62 80 63 80 BF 64",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
      {"a zero byte is a character", "41 00 42", std::u16string(u"A\0B", 3)},
      {"4-byte form to a surrogate pair", "F0 9F 98 80", u"\U0001F600"},
      {"highest code point", "F4 8F BF BF", u"\U0010FFFF"},
      {"edges of the 3-byte range", "E0 A0 80 ED 9F BF EE 80 80 EF BF BF", u"\u0800\uD7FF\uE000\uFFFF"},
      {"edges of the 2-byte range", "C2 80 DF BF", u"\u0080\u07FF"},
      {"a byte-order mark is kept", "EF BB BF 41", u"\uFEFFA"},
  };
  // Each case alone, and between runs that the fast decoder takes whole.
  const std::u16string ascii = u"0123456789abcdef0123456789abcdef0123456789abcdef";
  const std::u16string japanese = u"日本語の文章です。日本語の文章です。日本語の文章です。";
  const Bytes before = Utf8Of(ascii);
  const Bytes after = Utf8Of(japanese);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    Bytes bytes = Hex(c.bytes);
    EXPECT_EQ(UnitsHex(DecodeUtf8Scalar(bytes)), UnitsHex(c.expected));
    EXPECT_EQ(UnitsHex(DecodeUtf8(bytes)), UnitsHex(c.expected));
    Bytes framed = before;
    framed.insert(framed.end(), bytes.begin(), bytes.end());
    framed.insert(framed.end(), after.begin(), after.end());
    std::u16string expected = ascii + c.expected + japanese;
    EXPECT_EQ(UnitsHex(DecodeUtf8(framed)), UnitsHex(expected));
  }
}

TEST_P(Utf8AtLevel, LoneSurrogatesBecomeReplacementCharacter) {
  struct Case {
    const char* description;
    std::u16string text;
    const char* expected;
  };
  const Case cases[] = {
      {"pair", u"\xD83D\xDE00", "F0 9F 98 80"},
      {"highest pair", u"\xDBFF\xDFFF", "F4 8F BF BF"},
      {"high surrogate at the end", u"A\xD83D", "41 EF BF BD"},
      {"high surrogate before ASCII",
       u"\xD83D"
       u"A",
       "EF BF BD 41"},
      {"two high surrogates, then a low one", u"\xD83D\xD83D\xDE00", "EF BF BD F0 9F 98 80"},
      {"low surrogate alone", u"\xDE00", "EF BF BD"},
      {"pair in the wrong order", u"\xDE00\xD83D", "EF BF BD EF BF BD"},
      {"U+0000 is a character", std::u16string(u"A\0B", 3), "41 00 42"},
      {"range edges", u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF",
       "7F C2 80 DF BF E0 A0 80 ED 9F BF EE 80 80 EF BF BF"},
  };
  const std::u16string before = u"0123456789abcdef0123456789abcdef";
  const std::u16string after = u"日本語の文章です。日本語の文章です。日本語の文章です。";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(ToHex(EncodeUtf8Scalar(c.text)), ToHex(Hex(c.expected)));
    EXPECT_EQ(ToHex(EncodeUtf8(c.text)), ToHex(Hex(c.expected)));
    Bytes expected = Utf8Of(before);
    Bytes middle = Hex(c.expected);
    Bytes tail = Utf8Of(after);
    expected.insert(expected.end(), middle.begin(), middle.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(ToHex(EncodeUtf8(before + c.text + after)), ToHex(expected));
  }
}

// Random code points from every length class, as UTF-16 (surrogates only in pairs).
std::u16string RandomValidText(std::mt19937& random, std::size_t characters) {
  std::u16string text;
  for (std::size_t k = 0; k < characters; ++k) {
    std::uint32_t code;
    switch (random() % 8) {
      case 0: code = random() % 0x80; break;
      case 1: code = 0x80 + random() % 0x780; break;
      case 2: code = 0x10000 + random() % 0x100000; break;
      default: code = 0x800 + random() % 0xF800; break;
    }
    if (code >= 0xD800 && code <= 0xDFFF) code = 0x3042;
    if (code >= 0x10000) {
      text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(code);
    }
  }
  return text;
}

TEST_P(Utf8AtLevel, ValidTextAgreesWithTheSystemConverterBothWays) {
  std::mt19937 random(1234);
  std::vector<std::u16string> texts = {LongSample(200), RandomValidText(random, 20000)};
  for (int k = 0; k < 200; ++k) texts.push_back(RandomValidText(random, random() % 80));
  for (const std::u16string& text : texts) {
    Bytes utf8 = Utf8Of(text);
    ASSERT_EQ(Utf16Of(utf8), text);
    EXPECT_EQ(DecodeUtf8(utf8), text);
    EXPECT_EQ(DecodeUtf8Scalar(utf8), text);
    EXPECT_EQ(EncodeUtf8(text), utf8);
    EXPECT_EQ(EncodeUtf8Scalar(text), utf8);
  }
}

// Bytes shaped like UTF-8, with some of every fault the decoder must survive.
Bytes RandomUtf8Shaped(std::mt19937& random, std::size_t length) {
  static const std::uint8_t kSpecial[] = {0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                                          0xF4, 0xF5, 0xFE, 0xFF, 0x00, 0xA0, 0x9F, 0x8F, 0x90};
  Bytes bytes = Utf8Of(RandomValidText(random, length / 2 + 1));
  bytes.resize(length);
  int faults = static_cast<int>(random() % 4);
  for (int k = 0; k < faults && length > 0; ++k) {
    std::size_t at = random() % length;
    switch (random() % 3) {
      case 0: bytes[at] = kSpecial[random() % sizeof kSpecial]; break;
      case 1: bytes[at] = static_cast<std::uint8_t>(random()); break;
      default:
        bytes.erase(bytes.begin() + static_cast<long>(at));
        bytes.push_back(0x80 | (random() & 0x3F));
        break;
    }
  }
  return bytes;
}

TEST_P(Utf8AtLevel, FastAgreesWithScalarAtEveryLengthAndOffset) {
  std::mt19937 random(99);
  Bytes source = Utf8Of(LongSample(2));
  Bytes shaped = RandomUtf8Shaped(random, 200);
  std::u16string text = LongSample(2);
  text[30] = 0xD800;  // a lone surrogate in the middle
  for (const Bytes* bytes : {&source, &shaped}) {
    for (std::size_t offset = 0; offset < 64; ++offset) {
      for (std::size_t length = 0; length <= 64; ++length) {
        std::span<const std::uint8_t> part(bytes->data() + offset, length);
        ASSERT_EQ(DecodeUtf8(part), DecodeUtf8Scalar(part)) << "offset " << offset << " length " << length;
      }
    }
  }
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t length = 0; length <= 64; ++length) {
      std::u16string_view part(text.data() + offset, length);
      ASSERT_EQ(EncodeUtf8(part), EncodeUtf8Scalar(part)) << "offset " << offset << " length " << length;
    }
  }
}

TEST_P(Utf8AtLevel, FastAgreesWithScalarOnRandomInput) {
  std::mt19937 random(2024);
  for (int round = 0; round < 100000; ++round) {
    std::size_t length = random() % 160;
    Bytes bytes;
    if (round % 4 == 0) {
      for (std::size_t k = 0; k < length; ++k)
        bytes.push_back(static_cast<std::uint8_t>(random() | 0x80 * (random() % 3 != 0)));
    } else {
      bytes = RandomUtf8Shaped(random, length);
    }
    ASSERT_EQ(DecodeUtf8(bytes), DecodeUtf8Scalar(bytes)) << ToHex(bytes);

    std::u16string text = RandomValidText(random, length / 2);
    for (int k = static_cast<int>(random() % 3); k > 0 && !text.empty(); --k) {
      text[random() % text.size()] = static_cast<char16_t>(0xD800 + random() % 0x800);
    }
    ASSERT_EQ(EncodeUtf8(text), EncodeUtf8Scalar(text)) << UnitsHex(text);
  }
}

// Long inputs are converted in four interleaved parts cut near each quarter: faults and surrogate pairs
// anywhere, including right at the cuts, come out as in one stream.
TEST_P(Utf8AtLevel, LongInputsAgreeWithScalar) {
  std::mt19937 random(4711);
  for (int round = 0; round < 1500; ++round) {
    std::size_t length = 1024 + random() % 4000;
    Bytes bytes = RandomUtf8Shaped(random, length);
    if (round % 2 == 0) {  // mostly clean text, so the parts run to the end
      bytes = Utf8Of(RandomValidText(random, length / 2));
      if (round % 4 == 0) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(0x80 | random());
    }
    ASSERT_EQ(DecodeUtf8(bytes), DecodeUtf8Scalar(bytes)) << "round " << round;

    std::u16string text = RandomValidText(random, length);
    for (std::size_t quarter = 1; quarter < 4; ++quarter) {
      std::size_t cut = text.size() * quarter / 4;
      std::size_t at = cut - 2 + random() % 4;
      static const char16_t kUnits[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0x3042, u'a'};
      for (std::size_t k = at; k < at + 3 && k < text.size(); ++k) text[k] = kUnits[random() % 6];
    }
    ASSERT_EQ(EncodeUtf8(text), EncodeUtf8Scalar(text)) << "round " << round;
  }
}

// Each stray continuation byte gives a unit the first sizing did not count for; the text must grow.
TEST_P(Utf8AtLevel, ManyStrayContinuationBytesBetweenFastRuns) {
  Bytes run = Utf8Of(u"日本語の文章です。0123456789abcdefghij");
  Bytes bytes;
  std::u16string expected;
  for (int k = 0; k < 3000; ++k) {
    bytes.insert(bytes.end(), run.begin(), run.end());
    bytes.insert(bytes.end(), k % 7, 0x80);
    expected += u"日本語の文章です。0123456789abcdefghij" + std::u16string(k % 7, u'\uFFFD');
  }
  EXPECT_EQ(DecodeUtf8(bytes), expected);
  EXPECT_EQ(DecodeUtf8(Bytes(5000, 0xBF)), std::u16string(5000, u'\uFFFD'));
}

}  // namespace
}  // namespace ocelo
