// Encoding detection: marks, the Shift_JIS pair test, the UTF-8 count, fast against scalar, declarations.
#include "encoding/detect.h"

#include <gtest/gtest.h>

#include <random>

#include "support/kernel_levels.h"
#include "support/sandbox.h"
#include "support/system_converter.h"

namespace ocelo {
namespace {

using test::Bytes;
using test::Hex;
using test::ToHex;

Bytes Encode(std::u16string_view text, const char* to) {
  const std::optional<Bytes> bytes = test::SystemEncode(text, to);
  EXPECT_TRUE(bytes) << to;
  return bytes.value_or(Bytes());
}

const std::u16string kJapanese =
    u"<p>日本語の文章です。ｶﾀｶﾅとカタカナ、漢字とひらがな。</p>\r\n<li class=\"item\">文字コードを変更</li>\r\n";

std::u16string Repeat(std::u16string_view text, int copies) {
  std::u16string out;
  for (int k = 0; k < copies; ++k) out += text;
  return out;
}

// The fast classifier at each kernel level, against the scalar one and the expected kinds.
class GuessEncodingAtLevel : public test::KernelLevelTest {};
OCELO_AT_EVERY_KERNEL_LEVEL(GuessEncodingAtLevel);

TEST(DetectEncoding, MarksNeedAllTheirBytes) {
  struct Case {
    const char* description;
    const char* bytes;
    Detection expected;
  };
  const Case cases[] = {
      {"empty buffer", "", {kind::Ascii, 0}},
      {"UTF-16LE mark alone", "FF FE", {kind::Utf16Le, 2}},
      {"UTF-16LE mark and one zero byte", "FF FE 00", {kind::Utf16Le, 2}},
      {"UTF-16LE mark and text", "FF FE 41 00", {kind::Utf16Le, 2}},
      {"UTF-32LE mark", "FF FE 00 00", {kind::Utf32Le, 4}},
      {"UTF-32BE mark", "00 00 FE FF", {kind::Utf32Be, 4}},
      {"UTF-32BE mark cut short", "00 00 FE", {kind::Ascii, 0}},
      {"UTF-8 mark", "EF BB BF", {kind::Utf8, 3}},
      {"UTF-8 mark cut short", "EF BB", {kind::Copy, 0}},
      {"UTF-16BE mark", "FE FF", {kind::Utf16Be, 2}},
      {"UTF-16BE mark cut short", "FE", {kind::Ascii, 0}},
      {"FF alone", "FF", {kind::Ascii, 0}},
      {"no mark", "41 42", {kind::Ascii, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(DetectEncoding(Hex(c.bytes)), c.expected);
  }
}

TEST_P(GuessEncodingAtLevel, PairTestThenUtf8Count) {
  struct Case {
    const char* description;
    const char* bytes;
    EncodingKind expected;
  };
  const Case cases[] = {
      {"hiragana A in Shift_JIS", "82 A0", kind::ShiftJis},
      {"hiragana A in UTF-8", "E3 81 82", kind::Utf8},
      {"Latin-1 e acute before a letter", "E9 41", kind::ShiftJis},
      {"Latin-1 e acute before a blank", "E9 20", kind::Copy},
      {"lone 80 before ASCII", "80 41", kind::Copy},
      {"the only high byte is the last one", "41 42 82", kind::Ascii},
      {"a single high byte", "82", kind::Ascii},
      {"UTF-8 with one stray FF", "E3 81 82 FF 41", kind::Copy},
      {"E0..FC before C0..FC is a pair", "E3 C0", kind::ShiftJis},
      {"FC FC is a pair", "FC FC", kind::ShiftJis},
      {"FD is no Shift_JIS lead", "FD 40", kind::Copy},
      {"81..9F before 80..FC is a pair", "9F FC", kind::ShiftJis},
      {"81 before 7F is no pair", "81 7F", kind::Copy},
      // The pair test steps over a run of high bytes after its first byte: 82 A0 inside a run is not seen.
      {"pair inside a run of high bytes", "41 C3 82 A0 41", kind::Copy},
      {"pair inside a run that is UTF-8", "C3 A9 82 A0 C3 A9", kind::Copy},
      // After a lead and an ASCII trail, the byte after the trail is the next lead.
      {"pair right after a lead and ASCII trail", "A0 41 82 A0", kind::ShiftJis},
      {"pair after the end of a run", "C3 A9 41 82 A0", kind::ShiftJis},
      {"five-byte form counts valid", "F8 88 80 80 80", kind::Utf8},
      {"six-byte form counts valid", "FC 84 80 80 80 80", kind::Utf8},
      {"overlong form counts valid", "C0 80", kind::Utf8},
      {"encoded surrogate counts valid", "ED A0 80", kind::Utf8},
      {"above U+10FFFF counts valid", "F4 90 80 80", kind::Utf8},
      {"lead before ASCII counts neither way", "C3 41", kind::Copy},
      {"lead before ASCII beside a valid sequence", "C3 41 C3 A9", kind::Utf8},
      {"lead before another lead", "C3 E3 81 82", kind::Utf8},
      {"3-byte sequence cut short at the end", "41 E3 81", kind::Copy},
      {"2-byte lead as the last byte", "C3 A9 C3", kind::Utf8},
      {"continuation byte after a complete sequence", "C3 A9 A9", kind::Copy},
      {"FE is invalid", "C3 A9 FE 41", kind::Copy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(GuessEncodingScalar(Hex(c.bytes)), c.expected);
    EXPECT_EQ(GuessEncoding(Hex(c.bytes)), c.expected);
    // The same bytes behind a long ASCII stretch, where the fast scan works in blocks.
    Bytes padded(37, 'a');
    Bytes bytes = Hex(c.bytes);
    padded.insert(padded.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(GuessEncoding(padded), GuessEncodingScalar(padded));
  }
}

TEST_P(GuessEncodingAtLevel, RealText) {
  const std::u16string text = Repeat(kJapanese, 300);
  const Bytes utf8 = Encode(text, "UTF-8");
  const Bytes sjis = Encode(text, "CP932");
  EXPECT_EQ(DetectEncoding(utf8), (Detection{kind::Utf8, 0}));
  EXPECT_EQ(DetectEncoding(sjis), (Detection{kind::ShiftJis, 0}));
  EXPECT_EQ(GuessEncoding(Encode(Repeat(u"plain text\r\n", 300), "UTF-8")), kind::Ascii);

  // One fault anywhere in a long UTF-8 text decides, wherever it falls in the fast scan's blocks.
  struct Fault {
    const char* description;
    const char* bytes;
    EncodingKind expected;
  };
  const Fault faults[] = {
      {"stray continuation byte", "41 80 41", kind::Copy},
      {"FF byte", "41 FF 41", kind::Copy},
      {"lead before ASCII", "41 C3 41", kind::Utf8},
      {"3-byte lead before ASCII is a pair", "41 E3 41", kind::ShiftJis},
      {"sequence cut short", "41 E3 81 41", kind::Copy},
      {"Shift_JIS pair", "41 82 A0 41", kind::ShiftJis},
      {"five-byte form", "41 F8 88 80 80 80 41", kind::Utf8},
  };
  for (const Fault& fault : faults) {
    Bytes inserted = Hex(fault.bytes);
    for (std::size_t at : {std::size_t{0}, std::size_t{3}, std::size_t{1000}, std::size_t{1001}, std::size_t{1002},
                           utf8.size() - 16, utf8.size() - 2, utf8.size()}) {
      // Step back to a character start so only the inserted bytes are out of place.
      while (at > 0 && at < utf8.size() && (utf8[at] & 0xC0) == 0x80) --at;
      SCOPED_TRACE(std::string(fault.description) + " at " + std::to_string(at));
      Bytes bytes = utf8;
      bytes.insert(bytes.begin() + static_cast<long>(at), inserted.begin(), inserted.end());
      EXPECT_EQ(GuessEncoding(bytes), fault.expected);
      EXPECT_EQ(GuessEncodingScalar(bytes), fault.expected);
    }
  }
}

// Buffers of the shapes the two passes care about: UTF-8 with faults, Shift_JIS, high-byte noise.
Bytes RandomShaped(std::mt19937& random, std::size_t length) {
  Bytes bytes;
  int shape = static_cast<int>(random() % 4);
  while (bytes.size() < length) {
    std::uint32_t pick = random() % 100;
    switch (shape) {
      case 0: {  // UTF-8 shaped, with five- and six-byte forms, lone leads and stray bytes now and then
        static const int kLengths[] = {1, 2, 3, 3, 3, 3, 4, 5, 6};
        if (pick < 2) {
          bytes.push_back(static_cast<std::uint8_t>(0x80 | random()));
          break;
        }
        int n = pick < 30 ? 1 : kLengths[random() % 9];
        static const std::uint8_t kLeadBase[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
        static const std::uint8_t kLeadSpan[] = {0, 0x80, 0x20, 0x10, 0x08, 0x04, 0x02};
        bytes.push_back(n == 1 ? static_cast<std::uint8_t>(random() % 0x80)
                               : static_cast<std::uint8_t>(kLeadBase[n] + random() % kLeadSpan[n]));
        int continuations = n - 1 - (pick > 97 ? 1 : 0);
        for (int k = 0; k < continuations; ++k) bytes.push_back(static_cast<std::uint8_t>(0x80 | (random() & 0x3F)));
        break;
      }
      case 1:  // Shift_JIS shaped
        if (pick < 40) {
          bytes.push_back(static_cast<std::uint8_t>(0x20 + random() % 0x5F));
        } else {
          bytes.push_back(static_cast<std::uint8_t>(0x81 + random() % 0x7C));
          bytes.push_back(static_cast<std::uint8_t>(0x40 + random() % 0xBD));
        }
        break;
      case 2:  // mostly high bytes
        bytes.push_back(static_cast<std::uint8_t>(random() | (pick < 80 ? 0x80 : 0)));
        break;
      default:  // ASCII with a rare high byte
        bytes.push_back(static_cast<std::uint8_t>(pick < 3 ? 0x80 | random() : random() % 0x80));
        break;
    }
  }
  bytes.resize(length);
  return bytes;
}

TEST_P(GuessEncodingAtLevel, FastAgreesWithScalarAtEveryLengthAndOffset) {
  std::mt19937 random(7);
  std::vector<Bytes> sources = {Encode(Repeat(kJapanese, 2), "UTF-8"), Encode(Repeat(kJapanese, 2), "CP932")};
  for (int k = 0; k < 6; ++k) sources.push_back(RandomShaped(random, 300));
  // Lengths across the edges of the 16- and 64-byte blocks and the byte-by-byte tail.
  for (const Bytes& source : sources) {
    for (std::size_t offset = 0; offset < 64; ++offset) {
      for (std::size_t length = 0; length <= 200 && offset + length <= source.size(); ++length) {
        std::span<const std::uint8_t> part(source.data() + offset, length);
        ASSERT_EQ(GuessEncoding(part), GuessEncodingScalar(part)) << ToHex(Bytes(part.begin(), part.end()));
      }
    }
  }
}

TEST_P(GuessEncodingAtLevel, FastAgreesWithScalarOnRandomInput) {
  std::mt19937 random(31337);
  int kinds[75] = {};
  for (int round = 0; round < 300000; ++round) {
    Bytes bytes = RandomShaped(random, random() % (round % 10 == 0 ? 600 : 100));
    EncodingKind expected = GuessEncodingScalar(bytes);
    ASSERT_EQ(GuessEncoding(bytes), expected) << ToHex(bytes);
    ++kinds[expected];
  }
  // The shapes reach every result, so the agreement above covers all of them.
  EXPECT_GT(kinds[kind::Utf8], 1000);
  EXPECT_GT(kinds[kind::Copy], 1000);
  EXPECT_GT(kinds[kind::ShiftJis], 1000);
  EXPECT_GT(kinds[kind::Ascii], 1000);
}

// The detector sees a buffer in pieces cut anywhere; its result must be the whole buffer's, whatever the
// cuts: marks cut after any byte, pairs and UTF-8 sequences across cuts, one-byte pieces, long runs.
TEST(EncodingDetector, PiecesGiveTheWholeBuffersResult) {
  std::mt19937 random(4242);
  const Bytes marks[] = {{},           Hex("FF FE"), Hex("FF FE 00 00"), Hex("00 00 FE FF"), Hex("EF BB BF"),
                         Hex("FE FF"), Hex("FF"),    Hex("EF BB")};
  int kinds[75] = {};
  for (int round = 0; round < 40000; ++round) {
    Bytes bytes = round % 7 == 0 ? marks[random() % 8] : Bytes();
    const Bytes body = RandomShaped(random, random() % (round % 10 == 0 ? 300 : 40));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (round % 13 == 0) bytes.insert(bytes.end(), 20 + random() % 20, static_cast<std::uint8_t>(0x80 + random() % 64));
    const Detection expected = DetectEncoding(bytes);
    ++kinds[expected.kind];
    EncodingDetector detector;
    const std::size_t longest = round % 2 ? 1 : 1 + random() % 24;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t length = std::min<std::size_t>(bytes.size() - at, 1 + random() % longest);
      detector.Add({bytes.data() + at, length});
      at += length;
    }
    ASSERT_EQ(detector.Result(), expected) << ToHex(bytes);
  }
  EXPECT_GT(kinds[kind::Utf8], 1000);
  EXPECT_GT(kinds[kind::Copy], 1000);
  EXPECT_GT(kinds[kind::ShiftJis], 1000);
  EXPECT_GT(kinds[kind::Ascii], 1000);
}

TEST(FindDeclaredEncoding, FirstDeclarationDecides) {
  struct Case {
    const char* description;
    std::vector<std::u16string> texts;
    EncodingKind expected;
  };
  const Case cases[] = {
      {"XML declaration", {u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"}, kind::Utf8},
      {"XML value in lower case", {u"<?xml version=\"1.0\" encoding=\"shift_jis\"?>"}, kind::ShiftJis},
      {"XML UTF-16", {u"<?xml version=\"1.0\" encoding='utf-16'?>"}, kind::Utf16Le},
      {"XML without hyphen", {u"<?xml version=\"1.0\" encoding=\"UTF8\"?>"}, kind::Copy},
      {"XML EUC-JP", {u"<?xml version=\"1.0\" encoding=\"EUC-JP\"?>"}, kind::Copy},
      {"value beyond 20 characters", {u"<?xml encoding=                     \"UTF-8\"?>"}, kind::Copy},
      {"value at the 20th character", {u"<?xml encoding=              \"UTF-8\"?>"}, kind::Utf8},
      {"XML with an unknown value, then an HTML charset",
       {u"<?xml version=\"1.0\" encoding=\"EUC-JP\"?>", u"<html>",
        u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"},
       kind::Utf8},
      {"the first XML entry decides",
       {u"<?xml version=\"1.0\" encoding=\"EUC-JP\"?>", u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
       kind::Copy},
      {"encoding before xml does not count", {u"encoding=\"UTF-8\" xml"}, kind::Copy},
      {"no = after the word: the entry's start", {u"UTF-16 xml encoding"}, kind::Utf16Le},
      {"no = after the word, name past 20", {u"xml encoding, not much else: UTF-16"}, kind::Copy},
      {"HTML meta charset",
       {u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"},
       kind::ShiftJis},
      {"upper-case HTML is not found", {u"<META CONTENT=\"TEXT/HTML; CHARSET=UTF-8\">"}, kind::Copy},
      {"VRML header with utf8", {u"#VRML V2.0 utf8"}, kind::Utf8},
      {"X3D header without utf8", {u"#X3D V3.0 UTF8"}, kind::Copy},
      {"the first VRML entry decides", {u"#VRML V1.0 ascii", u"#VRML V2.0 utf8"}, kind::Copy},
      {"only ten entries are read",
       {u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"<?xml encoding=\"UTF-8\"?>"},
       kind::Copy},
      {"the tenth entry is read",
       {u"", u"", u"", u"", u"", u"", u"", u"", u"", u"<?xml encoding=\"UTF-8\"?>"},
       kind::Utf8},
      {"no entries", {}, kind::Copy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(FindDeclaredEncoding(c.texts), c.expected);
  }
}

TEST(HasXmlDeclaration, ExactAndCaseSensitive) {
  EXPECT_TRUE(HasXmlDeclaration(u"\uFEFF<?xml version=\"1.0\"?>"));
  EXPECT_TRUE(HasXmlDeclaration(u"text <?xml"));
  EXPECT_FALSE(HasXmlDeclaration(u"<?XML version=\"1.0\"?>"));
  EXPECT_FALSE(HasXmlDeclaration(u"<? xml"));
  EXPECT_FALSE(HasXmlDeclaration(u""));
}

}  // namespace
}  // namespace ocelo
