// Judging a conversion without writing: the judgement agrees with the conversion that follows, and the lost
// characters agree with the fall-back to an unchanged copy.
#include "encoding/preview.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "encoding/cp932.h"
#include "platform/fs.h"
#include "support/program_paths.h"
#include "support/sandbox.h"
#include "util/dump.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Hex;
using test::U16;

TEST(PreviewOne, TellsWhatTheConversionThenDoesAndWritesNothing) {
  enum class Copy { kNone, kOther, kConverted, kFolder };
  struct Case {
    const char* description;
    test::Bytes bytes;  // the source; empty with `missing`
    EncodingKind target;
    Copy copy;  // what lies where the copy goes
    FileResult expected;
    PlainCopyCause cause;
    bool missing = false;
    bool into_source_folder = false;
  };
  test::Bytes cut(1000, 'a');  // a zero byte at 60 % leaves a text that passes the text test
  cut[600] = 0;
  const Case cases[] = {
      {"kana to UTF-8", Hex("82 A0 0D 0A"), kind::Utf8, Copy::kNone, FileResult::kConverted, PlainCopyCause::kNone},
      {"over another copy: a backup", Hex("82 A0"), kind::Utf8, Copy::kOther, FileResult::kConverted,
       PlainCopyCause::kNone},
      {"converted before", Hex("82 A0"), kind::Utf16Le, Copy::kConverted, FileResult::kUpToDate, PlainCopyCause::kNone},
      {"café to code page 932", Hex("63 61 66 C3 A9"), kind::ShiftJis, Copy::kOther, FileResult::kPlainCopy,
       PlainCopyCause::kLostCharacters},
      {"a zero byte at 60 %", cut, kind::Utf16Le, Copy::kNone, FileResult::kPlainCopy, PlainCopyCause::kZeroByte},
      {"a mark as the text's first character, to UTF-8 without one", Hex("FF FE FF FE 41 00"), kind::Utf8, Copy::kNone,
       FileResult::kPlainCopy, PlainCopyCause::kReadsBackOtherwise},
      {"copy over another copy: no backup", Hex("41"), kind::Copy, Copy::kOther, FileResult::kCopied,
       PlainCopyCause::kNone},
      {"not text", Hex("50 4B 03 04 00 00"), kind::Utf8, Copy::kNone, FileResult::kNotText, PlainCopyCause::kNone},
      {"missing", {}, kind::Utf8, Copy::kOther, FileResult::kUnreadable, PlainCopyCause::kNone, true},
      {"a folder where the copy goes", Hex("41"), kind::Utf8, Copy::kFolder, FileResult::kUnableToSave,
       PlainCopyCause::kNone},
      {"into its own folder", Hex("41"), kind::Utf8, Copy::kNone, FileResult::kSamePath, PlainCopyCause::kNone, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string root = test::TestFolder();
    const std::string in = root + "/in", out = c.into_source_folder ? in : root + "/out";
    fs::create_directories(in);
    fs::create_directories(out);
    const std::string source = in + "/notes.txt", dest = out + "/notes.txt";
    if (!c.missing) test::WriteBytes(source, c.bytes);
    if (c.copy == Copy::kOther) test::WriteText(dest, "an older copy");
    if (c.copy == Copy::kFolder) fs::create_directory(dest);
    if (c.copy == Copy::kConverted) {
      ASSERT_TRUE(ConvertFile(c.target, U16(source), U16(out)));
    }
    if (c.copy == Copy::kOther) {
      ASSERT_EQ(sys::SetFileTimes(U16(dest), 1700000000, 1700000000), 0);
    }

    const std::map<std::string, std::string> before = test::TreeOf(test::SandboxRoot());
    const Preview preview = PreviewOne(c.target, U16(source), U16(out), ReadFileContent(U16(source)));
    EXPECT_EQ(test::TreeOf(test::SandboxRoot()), before) << "the preview wrote something";
    EXPECT_EQ(preview.result, c.expected);
    EXPECT_EQ(preview.cause, c.cause);
    EXPECT_EQ(test::Slashed(preview.copy), Succeeded(c.expected) ? dest : "");

    // The conversion itself gives the same result, and the backup lands where the preview said.
    EXPECT_EQ(ConvertOne(c.target, U16(source), U16(out)), c.expected);
    const bool backed_up = c.copy == Copy::kOther && c.target != kind::Copy && Succeeded(c.expected);
    EXPECT_EQ(preview.backup.empty(), !backed_up);
    if (backed_up) {
      EXPECT_EQ(test::Slashed(preview.backup),
                test::RescueOf(out) + "/" + test::U8(FormatTime(1700000000, u"%Y%m%d_%H%M%S.")) + "notes.txt");
      EXPECT_EQ(test::ReadBytes(test::U8(preview.backup)), Hex("61 6E 20 6F 6C 64 65 72 20 63 6F 70 79"));
    }
    // A stream has no copy to be up to date, in the way, or backed up.
    if (c.copy == Copy::kNone && !c.into_source_folder) {
      const Preview stream = PreviewToBytes(c.target, U16(source), ReadFileContent(U16(source)));
      EXPECT_EQ(stream.result, c.expected);
      EXPECT_EQ(stream.cause, c.cause);
      EXPECT_TRUE(stream.copy.empty() && stream.backup.empty());
    }
  }
}

// A text as UTF-16LE with its mark: the bytes a stream would bring for it, every unit kept.
FileContent ContentOf(std::u16string_view text) {
  std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return ContentOfBytes(std::move(bytes));
}

TEST(FindLostCharacters, ListsWhatTheFallBackToAnUnchangedCopyIsFor) {
  struct Case {
    std::u16string text;
    EncodingKind target;
    std::size_t limit;
    const char* expected;  // "line:column U+XXXX" each, blank-separated
    std::size_t count;
  };
  const Case cases[] = {
      {u"café", kind::ShiftJis, 20, "1:4 U+00E9", 1},
      {u"a\r\nb€\rc\nd\U0001F600_e", kind::ShiftJis, 20, "2:2 U+20AC 4:2 U+1F600", 2},
      {u"x\xD800y\xDC00", kind::ShiftJis, 20, "1:2 U+D800 1:4 U+DC00", 2},
      {u"x\xD800y\xDC00", kind::Utf8, 20, "1:2 U+D800 1:4 U+DC00", 2},
      {u"x\xD800y\xDC00", kind::Utf16Le, 20, "", 0},
      {u"é€\U0001F600", kind::Utf8, 20, "", 0},
      {u"ééé\né", kind::ShiftJis, 2, "1:1 U+00E9 1:2 U+00E9", 4},
      {u"_\\~ｱあ①髙", kind::ShiftJis, 20, "", 0},
      {u"", kind::ShiftJis, 20, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::U8(c.text) + " to " + std::to_string(c.target));
    const LostCharacters lost = FindLostCharacters(c.target, c.text, c.limit);
    std::string listed;
    for (const LostCharacter& l : lost.first) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(l.code_point));
      // Appended piece by piece: a longer concatenation trips GCC 12's false -Wrestrict warning.
      if (!listed.empty()) listed += ' ';
      listed += std::to_string(l.position.line);
      listed += ':';
      listed += std::to_string(l.position.column);
      listed += ' ';
      listed += code;
    }
    EXPECT_EQ(listed, c.expected);
    EXPECT_EQ(lost.count, c.count);
    // The converter falls back to an unchanged copy exactly when something is lost.
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ConvertToBytes(c.target, u"-", ContentOf(c.text), bytes),
              c.count > 0 ? FileResult::kPlainCopy : FileResult::kConverted);
  }
  EXPECT_EQ(EndOfText(u"").line, 1u);
  EXPECT_EQ(EndOfText(u"ab\r\ncd\U0001F600").column, 4u);
  EXPECT_EQ(EndOfText(u"ab\r\ncd\n\r").line, 4u);
}

// Over every code unit, a unit is lost to code page 932 exactly when the encoder writes "_" for it.
TEST(FindLostCharacters, Cp932LosesExactlyWhatTheEncoderWritesAsUnderscore) {
  std::u16string text;
  std::set<char32_t> expected;
  for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
    if (unit == u'\r' || unit == u'\n') continue;
    const std::u16string one(1, static_cast<char16_t>(unit));
    const std::vector<std::uint8_t> bytes = EncodeShiftJis(one);
    if (bytes == std::vector<std::uint8_t>{'_'} && unit != u'_') expected.insert(unit);
    text += one;
    text += u' ';  // so that no two surrogates make a pair
  }
  const LostCharacters lost = FindLostCharacters(kind::ShiftJis, text, text.size());
  std::set<char32_t> found;
  for (const LostCharacter& l : lost.first) found.insert(l.code_point);
  EXPECT_EQ(found, expected);
  EXPECT_EQ(lost.count, expected.size());
}

}  // namespace
}  // namespace ocelo
