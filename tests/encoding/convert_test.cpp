// Converting one file: up-to-date skips, Rescue backups, the plain-copy fall-back, and sources that
// cannot be read.
#include "encoding/convert.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>

#include "encoding/decode.h"
#include "encoding/detect.h"
#include "encoding/stream.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "support/program_paths.h"
#include "support/sandbox.h"
#include "support/system_converter.h"
#include "util/policy.h"

namespace ocelo {
namespace {

namespace fs = std::filesystem;
using test::Hex;
using test::Mirror;
using test::RescueOf;
using test::Slashed;
using test::U16;

std::int64_t MTime(const std::string& path) {
  sys::StatRecord record;
  return sys::Stat(U16(path), record) == 0 ? record.modify_time : -1;
}

std::uint64_t Inode(const std::string& path) {
  sys::FileId id;
  return sys::GetFileId(U16(path), id) == 0 ? id.inode : 0;
}

void SetMTime(const std::string& path, std::int64_t time) { ASSERT_EQ(sys::SetFileTimes(U16(path), time, time), 0); }

int CountFiles(const std::string& folder) {
  std::error_code ignored;
  if (!fs::is_directory(folder, ignored)) return 0;
  return static_cast<int>(std::distance(fs::directory_iterator(folder), {}));
}

struct Layout {
  std::string in;
  std::string out;
  Layout() {
    std::string root = test::TestFolder();
    in = root + "/in";
    out = root + "/out";
    fs::create_directories(in);
    fs::create_directories(out);
  }
  std::string Source(const std::string& name, const test::Bytes& bytes, std::int64_t time = 1700000000) {
    std::string path = in + "/" + name;
    test::WriteBytes(path, bytes);
    SetMTime(path, time);
    return path;
  }
};

TEST(ConvertFile, WritesEachTargetAndCopiesTheTime) {
  struct Case {
    EncodingKind target;
    const char* expected;
  };
  const Case cases[] = {
      {kind::Utf8, "E3 81 82 0D 0A"},  {kind::Utf16Le, "FF FE 42 30 0D 00 0A 00"},
      {kind::ShiftJis, "82 A0 0D 0A"}, {-1, "FF FE 42 30 0D 00 0A 00"},
      {99, "FF FE 42 30 0D 00 0A 00"}, {kind::Copy, "82 A0 0D 0A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    Layout layout;
    const std::string source = layout.Source("notes.txt", Hex("82 A0 0D 0A"));
    EXPECT_TRUE(ConvertFile(c.target, U16(source), U16(layout.out)));
    const std::string dest = layout.out + "/notes.txt";
    EXPECT_EQ(test::ToHex(test::ReadBytes(dest)), test::ToHex(Hex(c.expected)));
    EXPECT_EQ(MTime(dest), 1700000000);
    EXPECT_EQ(test::ReadBytes(source), Hex("82 A0 0D 0A")) << "the source was changed";
  }
}

TEST(ConvertFile, SecondRunFindsTheCopyUpToDateAndMakesNoBackup) {
  Layout layout;
  const std::string source = layout.Source("a.txt", Hex("82 A0 82 A2"));
  EXPECT_EQ(ConvertFileWithOutcome(kind::Utf16Le, U16(source), U16(layout.out + "/")), FileResult::kConverted);
  const std::string dest = layout.out + "/a.txt";
  // Every write replaces the file, so an unchanged inode means nothing was written.
  const std::uint64_t inode = Inode(dest);
  EXPECT_EQ(ConvertFileWithOutcome(kind::Utf16Le, U16(source), U16(layout.out)), FileResult::kUpToDate);
  EXPECT_EQ(Inode(dest), inode);
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 0);
}

TEST(ConvertFile, SevenBitToUtf8IsRewrittenAndBackedUpEveryTime) {
  // Seven-bit text is detected as 65, never 8, so the copy is never up to date.
  Layout layout;
  const std::string source = layout.Source("plain.txt", Hex("61 62 63"));
  EXPECT_EQ(ConvertFileWithOutcome(kind::Utf8, U16(source), U16(layout.out)), FileResult::kConverted);
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 0);
  EXPECT_EQ(ConvertFileWithOutcome(kind::Utf8, U16(source), U16(layout.out)), FileResult::kConverted);
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 2);  // time-stamped and plain
}

TEST(ConvertFile, LossyTargetFallsBackToAnUnchangedCopy) {
  Layout layout;
  const test::Bytes utf8 = Hex("63 61 66 C3 A9 20 E3 81 82");  // "café あ": é has no code page 932 form
  const std::string source = layout.Source("cafe.txt", utf8);
  EXPECT_EQ(ConvertFileWithOutcome(kind::ShiftJis, U16(source), U16(layout.out)), FileResult::kPlainCopy);
  EXPECT_TRUE(ConvertFile(kind::ShiftJis, U16(source), U16(layout.out)));
  EXPECT_EQ(test::ReadBytes(layout.out + "/cafe.txt"), utf8);
}

TEST(ConvertFile, CopyTargetOverwritesWithoutBackup) {
  Layout layout;
  const std::string source = layout.Source("c.txt", Hex("41 42"));
  test::WriteText(layout.out + "/c.txt", "different");
  EXPECT_EQ(ConvertFileWithOutcome(kind::Copy, U16(source), U16(layout.out)), FileResult::kCopied);
  EXPECT_EQ(test::ReadBytes(layout.out + "/c.txt"), Hex("41 42"));
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 0);
}

TEST(ConvertFile, MissingOutputFolderFailsExceptForCopy) {
  Layout layout;
  const std::string source = layout.Source("m.txt", Hex("41"));
  const std::string gone = layout.out + "/gone";
  EXPECT_FALSE(ConvertFile(kind::Utf8, U16(source), U16(gone)));
  EXPECT_FALSE(test::Exists(gone));
  EXPECT_TRUE(ConvertFile(kind::Copy, U16(source), U16(gone)));
  EXPECT_EQ(test::ReadBytes(gone + "/m.txt"), Hex("41"));
}

TEST(ConvertFile, OverwriteLeavesTimeStampedAndPlainBackups) {
  Layout layout;
  const std::string source = layout.Source("notes.txt", Hex("82 A0"));
  const std::string dest = layout.out + "/notes.txt";
  test::WriteText(dest, "previous copy");
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 31;
  local.tm_hour = 23;
  local.tm_min = 59;
  local.tm_sec = 59;
  local.tm_isdst = -1;
  SetMTime(dest, std::mktime(&local));
  ASSERT_TRUE(ConvertFile(kind::Utf8, U16(source), U16(layout.out)));
  const std::string rescue = RescueOf(layout.out);
  EXPECT_EQ(test::ReadBytes(rescue + "/20240131_235959.notes.txt"), test::ReadBytes(rescue + "/notes.txt"));
  EXPECT_EQ(test::ReadBytes(rescue + "/notes.txt"), Hex("70 72 65 76 69 6F 75 73 20 63 6F 70 79"));
  EXPECT_EQ(test::ReadBytes(dest), Hex("E3 81 82"));
}

TEST(ConvertFile, SourceGoneLeavesCopyUntouched) {
  Layout layout;
  const std::string dest = layout.out + "/gone.txt";
  test::WriteText(dest, "keep me");
  EXPECT_FALSE(ConvertFile(kind::Utf16Le, U16(layout.in + "/gone.txt"), U16(layout.out)));
  EXPECT_EQ(test::ReadBytes(dest), Hex("6B 65 65 70 20 6D 65"));
}

TEST(ConvertFile, SourceLockedLeavesCopyUntouched) {
  Layout layout;
  const std::string source = layout.Source("busy.txt", Hex("41 42 43"));
  const std::string dest = layout.out + "/busy.txt";
  test::WriteText(dest, "keep me");
  test::FileLock lock(source);
  EXPECT_FALSE(ConvertFile(kind::Utf8, U16(source), U16(layout.out)));
  EXPECT_EQ(test::ReadBytes(dest), Hex("6B 65 65 70 20 6D 65"));
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 0);
}

// Bytes in an encoding, through the system's converter.
test::Bytes Iconv(std::u16string_view text, const char* to) {
  const std::optional<test::Bytes> bytes = test::SystemEncode(text, to);
  EXPECT_TRUE(bytes) << to;
  return bytes.value_or(test::Bytes());
}

test::Bytes Join(std::initializer_list<test::Bytes> parts, int copies = 1) {
  test::Bytes out;
  for (int k = 0; k < copies; ++k) {
    for (const test::Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// Copies made in a batch stay out of sight (the old copy or none at the path) until the batch settles
// them all at once, and so do the Rescue backups of the copies they replace; converting a copy's source
// again settles it first, and a copy's id is known at once. A copy whose backup cannot be put in place
// when the batch settles stays as it was, and the others are done.
TEST(ConversionBatch, CopiesAppearTogetherWhenTheBatchSettles) {
  Layout layout;
  const std::string a = layout.Source("a.txt", Hex("82 A0"));
  const std::string b = layout.Source("b.txt", Hex("82 A2"));
  const std::string c = layout.Source("c.txt", Hex("82 A4"));
  const std::string d = layout.Source("d.txt", test::Bytes());
  const std::string c_out = layout.out + "/c";  // a Rescue folder of its own
  fs::create_directories(c_out);
  test::WriteText(layout.out + "/b.txt", "old");
  test::WriteText(c_out + "/c.txt", "old c");
  test::WriteText(layout.out + "/d.txt", "old d");
  {
    ConversionBatch batch;
    EXPECT_EQ(ConvertOne(kind::Utf8, U16(a), U16(layout.out)), FileResult::kConverted);
    EXPECT_EQ(ConvertOne(kind::Utf8, U16(b), U16(layout.out)), FileResult::kConverted);
    EXPECT_EQ(ConvertOne(kind::Utf8, U16(c), U16(c_out)), FileResult::kConverted);
#ifndef _WIN32
    // On Windows each copy is flushed and renamed into place at once: a batch there defers nothing.
    EXPECT_FALSE(test::Exists(layout.out + "/a.txt"));
    EXPECT_EQ(test::ReadBytes(layout.out + "/b.txt"), Hex("6F 6C 64"));
    EXPECT_FALSE(test::Exists(RescueOf(layout.out) + "/b.txt"));
#endif
    // The backups of c's old copy are lost before they are in place (on Windows they were in place and c's
    // copy replaced already): c's copy must stay.
    fs::remove_all(RescueOf(c_out));
    // An empty source is read whole, and its copy replaced at once: the backups of the old one go first.
    EXPECT_EQ(ConvertOne(kind::Utf8, U16(d), U16(layout.out)), FileResult::kConverted);
    EXPECT_EQ(test::ReadBytes(layout.out + "/d.txt"), test::Bytes());
    EXPECT_EQ(test::ReadBytes(RescueOf(layout.out) + "/d.txt"), Hex("6F 6C 64 20 64"));
    sys::FileId pending;
    ASSERT_EQ(sys::GetFileId(U16(layout.out + "/a.txt"), pending), 0);
    // The same copy again: the first one is put in place, then found up to date.
    EXPECT_EQ(ConvertOne(kind::Utf8, U16(a), U16(layout.out)), FileResult::kUpToDate);
    EXPECT_EQ(test::ReadBytes(layout.out + "/a.txt"), Hex("E3 81 82"));
    EXPECT_EQ(Inode(layout.out + "/a.txt"), pending.inode);
#ifndef _WIN32
    EXPECT_FALSE(batch.Finish());
    EXPECT_EQ(test::ReadBytes(c_out + "/c.txt"), Hex("6F 6C 64 20 63")) << "replaced without a backup";
    EXPECT_EQ(CountFiles(c_out), 1) << "a temporary file was left behind";
#else
    EXPECT_TRUE(batch.Finish());
    EXPECT_EQ(test::ReadBytes(c_out + "/c.txt"), Hex("E3 81 86"));
#endif
  }
  EXPECT_EQ(test::ReadBytes(layout.out + "/b.txt"), Hex("E3 81 84"));
  EXPECT_EQ(MTime(layout.out + "/b.txt"), 1700000000);
  EXPECT_EQ(test::ReadBytes(RescueOf(layout.out) + "/b.txt"), Hex("6F 6C 64"));
  EXPECT_EQ(CountFiles(layout.out), 4) << "a temporary file was left behind";  // a.txt, b.txt, c, d.txt
  EXPECT_EQ(CountFiles(RescueOf(layout.out)), 4);                              // the backups of b and d
}

// A file is read in pieces cut where decoding starts afresh; whatever the piece size, the copy and the
// result are those of the whole-buffer conversion of the same bytes (ConvertToBytes), and a second run
// finds the copy up to date exactly when the whole-buffer test would, whether a second core checks or not.
TEST(ConvertOne, PiecesGiveTheWholeBufferResult) {
  const std::u16string japanese =
      u"<p>日本語の文章です。ｶﾀｶﾅとカタカナ、漢字①と～ひらがな。</p>\r\n<li class=\"x\">文字コード</li>\r\n";
  const std::u16string astral = u"😀a😀\U0002000B漢\r\n";
  const test::Bytes sjis = Iconv(japanese, "CP932");
  const test::Bytes utf8 = Iconv(japanese + astral, "UTF-8");
  test::Bytes no_delimiter;  // lead and trail bytes only: no byte below 0x40 to cut after
  for (int k = 0; k < 300; ++k) no_delimiter.insert(no_delimiter.end(), {0x8A, 0xBF, 0x8E, 0x9A, 0x81});
  test::Bytes zero_inside = Join({sjis}, 4);
  zero_inside[zero_inside.size() / 2] = 0;
  test::Bytes declared_binary = Join({Hex("00 01 02"), test::Bytes(200, 0x01),
                                      test::Bytes{'<', '?', 'x', 'm', 'l', ' ', 'v'}, test::Bytes(400, 0x00)});
  test::Bytes html_binary = Join({test::Bytes(30, 'h'), test::Bytes{'h', 't', 'm', 'l', ' ', 'c', 'h', 'a', 'r', 's',
                                                                    'e', 't', ' ', '=', ' ', 'U', 'T', 'F', '-', '8'},
                                  test::Bytes(40, 0x00), test::Bytes(400, 0x07)});
  const struct {
    const char* description;
    test::Bytes bytes;
  } inputs[] = {
      {"code page 932", Join({sjis}, 6)},
      {"code page 932 without a byte below 0x40, and stray lead bytes", Join({no_delimiter, Hex("81 0A 9F")})},
      {"UTF-8 with four-byte characters", Join({utf8}, 5)},
      {"UTF-8 with a mark and ill-formed stretches",
       Join({Hex("EF BB BF"), utf8, Hex("E3 81 41 80 80 80 80 80 80 80 F0 9F 98 E3 C3"), utf8})},
      {"UTF-16LE with pairs and lone surrogates", Join({Hex("FF FE"), Iconv(astral, "UTF-16LE"), Hex("00 D8 41 00"),
                                                        Iconv(japanese + astral, "UTF-16LE"), Hex("00 D8")},
                                                       1)},
      {"UTF-16BE, odd length", Join({Hex("FE FF"), Iconv(japanese + astral, "UTF-16BE"), Hex("30")})},
      {"UTF-32LE", Join({Hex("FF FE 00 00"), Iconv(japanese + astral, "UTF-32LE"), Hex("41 00 00")})},
      {"UTF-32BE", Join({Hex("00 00 FE FF"), Iconv(japanese + astral, "UTF-32BE"), Hex("41 00")})},
      {"UTF-32 with a pair split by a zero unit",
       Join({Hex("FF FE 00 00 00 D8 00 00 00 00 00 00 00 DC 00 00 41 00 00 00")}, 3)},
      {"only marks", Join({Hex("EF BB BF")}, 40)},
      {"a zero byte cuts the text", zero_inside},
      {"UTF-16 cut by a zero unit", Join({Hex("FF FE"), Iconv(japanese, "UTF-16LE"), Hex("00 00 41 00")}, 1)},
      {"binary with an XML declaration across pieces", declared_binary},
      {"binary with an HTML charset", html_binary},
      {"binary", Join({Hex("00 01 02 03 FF FE"), test::Bytes(500, 0)})},
      {"half-width katakana whose code page 932 reads as UTF-8", Join({Iconv(u"ﾃｽ\r\n", "UTF-8")}, 3)},
  };
  const EncodingKind targets[] = {kind::Utf8, kind::Utf16Le, kind::ShiftJis, -1};
  // Pieces of one byte, of a few bytes, and of more bytes checked on the second core.
  const struct {
    std::size_t bytes;
    bool second_core;
  } piece_sizes[] = {{1, false}, {7, false}, {61, true}};
  for (const auto& input : inputs) {
    Layout layout;
    const std::string source = layout.Source("t.txt", input.bytes);
    const std::string dest = layout.out + "/t.txt";
    for (const EncodingKind target : targets) {
      test::Bytes expected;
      const FileContent content = ReadFileContent(U16(source));
      const FileResult whole = ConvertToBytes(target, U16(source), content, expected);
      for (const auto& piece : piece_sizes) {
        SCOPED_TRACE(std::string(input.description) + ", target " + std::to_string(target) + ", pieces of " +
                     std::to_string(piece.bytes) + (piece.second_core ? " on two cores" : ""));
        fs::remove(dest);
        SetStreamPieceBytes(piece.bytes);
        SetParallelStreamBytes(piece.second_core ? 1 : UINT64_MAX);
        const FileResult first = ConvertOne(target, U16(source), U16(layout.out));
        const FileResult second = ConvertOne(target, U16(source), U16(layout.out));
        SetStreamPieceBytes(0);
        SetParallelStreamBytes(0);
        EXPECT_EQ(first, whole);
        if (whole == FileResult::kNotText) {
          EXPECT_FALSE(test::Exists(dest));
          continue;
        }
        const test::Bytes written = test::ReadBytes(dest);
        EXPECT_EQ(test::ToHex(written), test::ToHex(expected));
        const bool up_to_date = target != kind::Copy && content.whole && DetectEncoding(written).kind == target &&
                                DecodesTo(written, content.text);
        EXPECT_EQ(second, up_to_date ? FileResult::kUpToDate : whole);
      }
    }
  }
}

// The check of a copy while it is written matches its bytes with the source's text as both come, cut
// anywhere; its verdict is that of decoding the whole copy (DecodeBytes), or left open where the copy's
// detection decodes it otherwise than expected.
TEST(TextMatch, GivesTheWholeBufferVerdictWhereverTheCutsFall) {
  using Verdict = TextMatch::Verdict;
  const std::u16string text = u"日本語のtext、😀と\U0002000B。\r\n";
  const test::Bytes utf8 = Iconv(text, "UTF-8");
  const test::Bytes ill_formed = Hex("EF BB BF 41 E3 81 41 80 80 80 80 80 80 F0 9F 98 E3 C3 42");
  struct Case {
    const char* description;
    EncodingKind expected;
    test::Bytes bytes;
    std::u16string text;
    Verdict verdict;
  };
  const Case cases[] = {
      {"UTF-8", kind::Utf8, utf8, text, Verdict::kSame},
      {"UTF-8 with a mark, which is no text", kind::Utf8, Join({Hex("EF BB BF"), utf8}), text, Verdict::kSame},
      {"a mark of the text read as the copy's", kind::Utf8, Join({Hex("EF BB BF"), utf8}), u"\uFEFF" + text,
       Verdict::kDiffers},
      {"the last character differs", kind::Utf8, Iconv(text.substr(0, text.size() - 1) + u"x", "UTF-8"), text,
       Verdict::kDiffers},
      {"the copy runs longer", kind::Utf8, Join({utf8, Hex("41")}), text, Verdict::kDiffers},
      {"the copy ends early", kind::Utf8, Iconv(text.substr(0, text.size() - 2), "UTF-8"), text, Verdict::kDiffers},
      {"ill-formed stretches after a mark", kind::Utf8, ill_formed, DecodeBytes(ill_formed), Verdict::kSame},
      {"ill-formed stretches without a mark read as code page 932", kind::Utf8,
       test::Bytes(ill_formed.begin() + 3, ill_formed.end()), u"", Verdict::kUnknown},
      {"a zero byte ends the copy's text", kind::Utf8, Join({utf8, Hex("00 41")}), text, Verdict::kSame},
      {"a zero byte before the text's end", kind::Utf8, Join({utf8, Hex("00 41")}), text + u"A", Verdict::kDiffers},
      {"seven-bit bytes of a UTF-8 copy", kind::Utf8, Hex("61 5C 7E 0D 0A"), u"a\\~\r\n", Verdict::kSame},
      {"empty", kind::Utf8, {}, u"", Verdict::kSame},
      {"UTF-16", kind::Utf16Le, Join({Hex("FF FE"), Iconv(text, "UTF-16LE")}), text, Verdict::kSame},
      {"UTF-16 cut by a zero unit", kind::Utf16Le, Join({Hex("FF FE"), Iconv(text, "UTF-16LE"), Hex("00 00 41 00")}),
       text, Verdict::kSame},
      {"UTF-16 whose mark reads as UTF-32", kind::Utf16Le, Hex("FF FE 00 00 41 00 00 00"), u"A", Verdict::kUnknown},
      {"code page 932", kind::ShiftJis, Iconv(u"日本語ｶﾀｶﾅ\r\n", "CP932"), u"日本語ｶﾀｶﾅ\r\n", Verdict::kSame},
      {"code page 932 with a character lost", kind::ShiftJis, Hex("63 61 66 5F"), u"café", Verdict::kDiffers},
      {"code page 932 whose bytes read as UTF-8", kind::ShiftJis, Hex("C3 BD"), u"ﾃｽ", Verdict::kUnknown},
  };
  const std::size_t steps[] = {1, 2, 3, 5, 64, 1 << 20};
  for (const Case& c : cases) {
    const Detection detection = DetectEncoding(c.bytes);
    const bool same_decoding = c.verdict != Verdict::kUnknown;
    EXPECT_EQ(same_decoding && DecodeBytes(c.bytes) == c.text, c.verdict == Verdict::kSame) << c.description;
    for (const std::size_t step : steps) {
      SCOPED_TRACE(std::string(c.description) + ", steps of " + std::to_string(step));
      // Text and bytes in turn, the text a little ahead, in steps that part characters and pairs.
      TextMatch match(c.expected);
      std::size_t units = 0;
      std::size_t bytes = 0;
      while (units < c.text.size() || bytes < c.bytes.size()) {
        const std::size_t n = std::min(step + 1, c.text.size() - units);
        match.Text(std::u16string_view(c.text).substr(units, n));
        units += n;
        if (units == c.text.size()) match.EndText();
        const std::size_t m = std::min(step, c.bytes.size() - bytes);
        match.Bytes(std::span(c.bytes).subspan(bytes, m));
        bytes += m;
        if (step == 2) match.Detach();
      }
      match.EndText();
      Detection found;
      EXPECT_EQ(match.Finish(found), c.verdict);
      EXPECT_EQ(found, detection);
    }
  }
  // Text far ahead of its bytes (a text of marks, whose UTF-16 copy writes them last) is not held without
  // bound: the verdict is left to the check of the whole copy.
  TextMatch match(kind::Utf16Le);
  const std::u16string marks((1 << 20) + 1, u'\uFEFF');
  match.Text(marks);
  match.Detach();
  match.EndText();
  match.Bytes(Join({Hex("FF FE"), Iconv(marks, "UTF-16LE")}));
  Detection found;
  EXPECT_EQ(match.Finish(found), Verdict::kUnknown);
}

TEST(ConvertFile, EmptySourceConvertsToAnEmptyText) {
  Layout layout;
  const std::string source = layout.Source("empty.txt", {});
  EXPECT_TRUE(ConvertFile(kind::Utf16Le, U16(source), U16(layout.out)));
  EXPECT_EQ(test::ReadBytes(layout.out + "/empty.txt"), Hex("FF FE"));
}

// A copy holds all of its source, however the source reports its size, or the old copy stays: a pipe and a
// /proc file are read to their end once, a device is refused, and a text that decoding cuts at a zero
// byte is copied unchanged instead of shortened. A stream's content (ConvertToBytes) ends the same way.
TEST(ConvertOne, TheCopyHoldsAllOfTheSourceOrTheOldCopyStays) {
  enum class Kind { kFile, kPipe, kLink };
  struct Case {
    const char* description;
    Kind kind;
    test::Bytes bytes;  // a file's or a pipe's content; for a link, what its target reads as
    const char* link_target;
    EncodingKind target;
    FileResult expected;
    bool replaced;  // the copy afterwards: the converted `converted`, or the old copy when false
    test::Bytes converted;
  };
  test::Bytes cut(1000, 'a');  // a text with one zero byte at 60 %: it passes the text test
  cut[600] = 0;
  const test::Bytes keep = Hex("6B 65 65 70 20 6D 65");  // "keep me"
  std::vector<Case> cases = {
      {"a zero byte at 60 %", Kind::kFile, cut, nullptr, kind::Utf16Le, FileResult::kPlainCopy, true, cut},
      {"UTF-16 with U+0000 inside", Kind::kFile, Hex("FF FE 41 00 00 00 42 00"), nullptr, kind::Utf8,
       FileResult::kPlainCopy, true, Hex("FF FE 41 00 00 00 42 00")},
  };
#ifndef _WIN32
  // Named pipes, /proc and device files by path are POSIX's; on Windows a pipe comes as standard input.
  const test::Bytes proc_version = test::ReadBytes("/proc/version");
  cases.insert(
      cases.end(),
      {
          {"a pipe holding text", Kind::kPipe, Hex("82 A0 0D 0A"), nullptr, kind::Utf8, FileResult::kConverted, true,
           Hex("E3 81 82 0D 0A")},
          {"a pipe copied", Kind::kPipe, Hex("82 A0 0D 0A"), nullptr, kind::Copy, FileResult::kCopied, true,
           Hex("82 A0 0D 0A")},
          {"a /proc file, whose size reads 0", Kind::kLink, proc_version, "/proc/version", kind::Utf8,
           FileResult::kConverted, true, proc_version},
          {"a link to /dev/zero", Kind::kLink, {}, "/dev/zero", kind::Utf8, FileResult::kUnreadable, false, {}},
      });
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    Layout layout;
    const std::string source = layout.in + "/source.txt";
    const std::string dest = layout.out + "/source.txt";
    test::WriteBytes(dest, keep);
    std::optional<std::thread> writer;
    if (c.kind == Kind::kFile) test::WriteBytes(source, c.bytes);
#ifndef _WIN32
    if (c.kind == Kind::kLink) {
      ASSERT_EQ(::symlink(c.link_target, source.c_str()), 0);
    }
    if (c.kind == Kind::kPipe) {
      ASSERT_EQ(::mkfifo(source.c_str(), 0600), 0);
      // The writer comes whenever it comes: before the conversion opens the pipe or after.
      writer.emplace([&] {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0 && ::write(fd, c.bytes.data(), c.bytes.size()) >= 0) ::close(fd);
      });
    }
#endif
    EXPECT_EQ(ConvertOne(c.target, U16(source), U16(layout.out)), c.expected);
#ifndef _WIN32
    if (writer) {
      const int unblock = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // in case nobody read
      writer->join();
      ::close(unblock);
    }
#endif
    EXPECT_EQ(test::ToHex(test::ReadBytes(dest)), test::ToHex(c.replaced ? c.converted : keep));
    if (c.kind == Kind::kFile) {
      EXPECT_EQ(test::ReadBytes(source), c.bytes) << "the source was changed";
    }
    EXPECT_EQ(CountFiles(layout.out), 1) << "something was left beside the copy";
    if (c.kind != Kind::kLink) {  // the same bytes from a stream convert to the same bytes, with no file
      std::vector<std::uint8_t> bytes;
      EXPECT_EQ(ConvertToBytes(c.target, u"-", ContentOfBytes(c.bytes), bytes), c.expected);
      EXPECT_EQ(test::ToHex(bytes), test::ToHex(c.converted));
    }
  }
}

// The source may be gone once it has been read: the new copy is checked against the text already read.
TEST(ConvertFile, SourceGoneAfterItsReadStillConverts) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows file that is open for reading cannot be deleted: its readers do not share deletion";
#endif
  static std::string source;
  static std::optional<test::FileLock> lock;
  Layout layout;
  source = layout.Source("going.txt", Hex("82 A0"));
  const std::string dest = layout.out + "/going.txt";
  test::WriteText(dest, "old copy");
  SetMTime(dest, 1700000000);  // the source's time: the up-to-date test reads the old copy, which is busy
  lock.emplace(dest);
  WaitPolicy policy = Waits();
  policy.pause_hook = [](std::chrono::milliseconds) {
    fs::remove(source);
    lock.reset();
  };
  const WaitPolicy previous = SetWaits(policy);
  const FileResult result = ConvertFileWithOutcome(kind::Utf8, U16(source), U16(layout.out));
  SetWaits(previous);
  ASSERT_FALSE(test::Exists(source));
  EXPECT_EQ(result, FileResult::kConverted);
  EXPECT_EQ(test::ReadBytes(dest), Hex("E3 81 82"));
}

// Limits the system puts on one process: a write beyond the file-size limit and memory that runs out
// while decoding fail cleanly (the process lives on to report it), leaving the old copy and nothing else.
TEST(ConvertFile, ResourceLimitsFailCleanly) {
#ifdef _WIN32
  GTEST_SKIP() << "resource limits of one process (setrlimit) are POSIX's";
#else
  struct Case {
    const char* description;
    int resource;
    std::size_t source_size;
    FileResult expected;
  };
  const Case cases[] = {
      {"a copy larger than the file-size limit", RLIMIT_FSIZE, 300 << 10, FileResult::kUnableToSave},
      {"a source larger than the address space allowed", RLIMIT_AS, 64 << 20, FileResult::kConverted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
#if defined(__SANITIZE_ADDRESS__)
    if (c.resource == RLIMIT_AS) continue;  // the sanitizer's shadow memory cannot live under an address limit
#endif
    Layout layout;
    const std::string source = layout.Source("big.txt", test::Bytes(c.source_size, 'a'));
    const std::string dest = layout.out + "/big.txt";
    test::WriteText(dest, "keep me");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      sys::IgnoreFileSizeSignal();
      rlimit limit{};
      if (c.resource == RLIMIT_FSIZE) {
        limit.rlim_cur = limit.rlim_max = 100 << 10;
      } else {
        // Less room than the file takes: the conversion holds pieces, never the whole file or its text.
        unsigned long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%lu", &pages) != 1) ::_exit(100);
        std::fclose(statm);
        limit.rlim_cur = limit.rlim_max = pages * ::sysconf(_SC_PAGESIZE) + c.source_size * 3 / 4;
      }
      if (::setrlimit(c.resource, &limit) != 0) ::_exit(101);
      ::_exit(static_cast<int>(ConvertFileWithOutcome(kind::Utf16Le, U16(source), U16(layout.out))));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(c.expected));
    if (c.expected == FileResult::kConverted) {
      const test::Bytes written = test::ReadBytes(dest);
      EXPECT_EQ(written.size(), 2 + 2 * c.source_size);
      EXPECT_EQ(test::Bytes(written.end() - 4, written.end()), Hex("61 00 61 00"));
    } else {
      EXPECT_EQ(test::ReadBytes(dest), Hex("6B 65 65 70 20 6D 65"));
    }
    EXPECT_EQ(test::ReadBytes(source).size(), c.source_size);
    EXPECT_EQ(CountFiles(layout.out), 1) << "a temporary file was left behind";
  }
#endif
}

TEST(RescueFolder, MirrorsTheAbsoluteFolderUnderTheRescueRootAndNeverLeavesIt) {
  const std::string root = test::SandboxRoot() + "/tmp/Rescue";
  const std::string folder = test::TestFolder();
  fs::create_directories(folder + "/a/b");
  const fs::path previous = fs::current_path();
  fs::current_path(folder + "/a/b");
  struct Case {
    const char* path;
    std::string expected;  // empty: no Rescue folder
  };
  const Case cases[] = {
#ifdef _WIN32
      {"C:\\home\\u\\in\\notes.txt", root + "/C/home/u/in"},  // the drive is the first piece
      {"C:/srv//a%c/x.txt", root + "/C/srv/a/c"},
      {"C:\\srv\\x\\..\\y\\.\\n.txt", root + "/C/srv/y"},
      {"C:\\srv\\b%.\\x.txt", ""},  // the mirror would hold "."
#else
      {"/home/u/in/notes.txt", root + "/home/u/in"},
      {"/srv//a:b%c/x.txt", root + "/srv/a/b/c"},
      {"/srv/x/../y/./n.txt", root + "/srv/y"},
      {"/srv/a:../x.txt", ""},  // the mirror would hold ".."
      {"/srv/b%./x.txt", ""},
#endif
      {"notes.txt", root + Mirror(folder) + "/a/b"},            // not the Rescue root itself
      {"../../notes/a.txt", root + Mirror(folder) + "/notes"},  // not <temp>/../notes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Slashed(RescueFolder(U16(c.path), false)), c.expected);
  }
  fs::current_path(previous);
  EXPECT_EQ(Slashed(RescueFolder(U16(folder), true)), root + Mirror(folder));  // a folder maps to itself
  EXPECT_TRUE(fs::is_directory(root + Mirror(folder)));
}

// Alone and in a batch with a neighbour whose copy is replaced before it: a copy whose backup fails stays
// as it was, and the neighbour's is done with its backup.
TEST(ConvertFile, AnExistingCopyIsReplacedOnlyOnceItsBackupIsSafe) {
  const std::string rescue_root = test::SandboxRoot() + "/tmp/Rescue";
  const auto repeat = [](std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
  };
  enum class Rescue { kFolder, kFile, kFullDisk };
  struct Case {
    const char* what;
    std::string name;
    Rescue rescue_root;
    std::size_t folder_length;  // of the output folder; 0 for an ordinary one
    FileResult expected;
  };
  const Case cases[] = {
      // The time-stamped name would take 266 bytes: it is shortened, keeping stamp and extension.
      {"250-byte name", repeat("a", 246) + ".txt", Rescue::kFolder, 0, FileResult::kConverted},
      {"250-byte name of 82 kana", repeat("\xE3\x81\x82", 82) + ".txt", Rescue::kFolder, 0, FileResult::kConverted},
      {"Rescue root is a file", "n.txt", Rescue::kFile, 0, FileResult::kBackupFailed},
#ifndef _WIN32
      // Windows paths reach 32,767 units, so no output folder there leaves its mirror too long.
      {"output folder near PATH_MAX", "n.txt", Rescue::kFolder, 4040, FileResult::kBackupFailed},
      {"disk full under the temporary root", "n.txt", Rescue::kFullDisk, 0, FileResult::kBackupFailed},
#endif
  };
  for (const Case& c : cases) {
    for (const bool batched : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (batched ? ", in a batch" : ""));
      // A copy larger than the 64 KiB file system that holds the Rescue root in the full-disk case.
      const test::Bytes previous(c.rescue_root == Rescue::kFullDisk ? 128 * 1024 : 8, 'p');
      fs::remove_all(rescue_root);
#ifndef _WIN32
      struct Unmount {
        std::string path;
        ~Unmount() {
          if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
        }
      } unmount;
      if (c.rescue_root == Rescue::kFullDisk) {
        fs::create_directories(rescue_root);
        if (::mount("tmpfs", rescue_root.c_str(), "tmpfs", 0, "size=64k") != 0) {
          std::printf("skipped \"%s\": a small file system can be mounted only by root\n", c.what);
          continue;
        }
        unmount.path = rescue_root;
      }
#endif
      Layout layout;
      const std::string source = layout.Source(c.name, Hex("82 A0"));
      std::string out = layout.out;
      while (out.size() + 2 < c.folder_length) {
        // Appended piece by piece: `"/" + std::string(...)` trips GCC 12's false -Wrestrict warning (GCC bug 105651).
        out += '/';
        out.append(std::min<std::size_t>(200, c.folder_length - out.size() - 1), 'd');
      }
      fs::create_directories(out);
      const std::string dest = out + "/" + c.name;
      test::WriteBytes(dest, previous);
      if (c.rescue_root == Rescue::kFile) {
        test::WriteText(rescue_root, "not a folder");
      }
      // The neighbour's copy goes to a folder of its own, with a Rescue folder of its own.
      const std::string next = layout.out + "-next";
      fs::create_directories(next);
      const std::string neighbour = layout.Source("next.txt", Hex("82 A2"));
      test::WriteText(next + "/next.txt", "old");
      const std::size_t logged = test::DumpLog().size();  // the lines before are another run's
      std::optional<ConversionBatch> batch;
      if (batched) batch.emplace();
      // Its backup fails too when the Rescue root is a file.
      const bool neighbour_done = c.rescue_root != Rescue::kFile;
      EXPECT_EQ(ConvertOne(kind::Utf8, U16(neighbour), U16(next)),
                neighbour_done ? FileResult::kConverted : FileResult::kBackupFailed);
      EXPECT_EQ(ConvertFileWithOutcome(kind::Utf8, U16(source), U16(out)), c.expected);
      if (batch) {
        EXPECT_TRUE(batch->Finish());
      }
      EXPECT_EQ(test::ReadBytes(source), Hex("82 A0"));
      EXPECT_EQ(CountFiles(out), 1) << "a temporary file was left behind";
      if (neighbour_done) {
        EXPECT_EQ(test::ReadBytes(next + "/next.txt"), Hex("E3 81 84"));
        EXPECT_EQ(test::ReadBytes(RescueOf(next) + "/next.txt"), Hex("6F 6C 64"));
      } else {
        EXPECT_EQ(test::ReadBytes(next + "/next.txt"), Hex("6F 6C 64"));
      }
      if (c.expected == FileResult::kConverted) {
        EXPECT_EQ(test::ReadBytes(dest), Hex("E3 81 82"));
        const std::string rescue = RescueOf(out);
        EXPECT_EQ(test::ReadBytes(rescue + "/" + c.name), previous);
        std::vector<std::string> stamped;
        for (const auto& entry : fs::directory_iterator(rescue)) {
          const std::string name = test::U8(entry.path().filename().u16string());  // not the narrow code page's
          if (name != c.name) stamped.push_back(name);
        }
        ASSERT_EQ(stamped.size(), 1u);
        EXPECT_LE(stamped[0].size(), 255u);
        EXPECT_EQ(stamped[0].substr(stamped[0].size() - 4), ".txt");
        EXPECT_EQ(test::ReadBytes(rescue + "/" + stamped[0]), previous);
      } else {
        EXPECT_EQ(test::ReadBytes(dest), previous) << "replaced without a backup";
        const std::string log = Slashed(U16(test::DumpLog()));  // the copy's path as the program joined it
        EXPECT_NE(log.find("Can't back up the existing copy  " + dest, logged), std::string::npos);
      }
    }
  }
  fs::remove_all(rescue_root);
}

TEST(BackupName, KeepsStampAndExtensionWithin255Bytes) {
  const std::u16string stamp = u"20240131_235959.";
  struct Case {
    std::u16string name;
    std::u16string expected;
  };
  const std::u16string a226(226, u'a');
  const Case cases[] = {
      {u"notes.txt", u"20240131_235959.notes.txt"},
      {std::u16string(239, u'a'), u"20240131_235959." + std::u16string(239, u'a')},  // exactly 255
      {std::u16string(246, u'a') + u".txt", u"20240131_235959." + a226 + u"~"},
      {std::u16string(246, u'a') + u".tx", u"20240131_235959." + a226 + u"a~"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::U8(c.name));
    const std::u16string name = BackupName(stamp, c.name);
    EXPECT_EQ(name.substr(0, c.expected.size()), c.expected);
    EXPECT_LE(test::U8(name).size(), 255u);
  }
  // Long names that share their start and extension get different backups; a kana is never cut in half.
  const std::u16string kana(100, u'あ');
  EXPECT_NE(BackupName(stamp, kana + u"1.txt"), BackupName(stamp, kana + u"2.txt"));
  EXPECT_EQ(test::U8(BackupName(stamp, kana + u".txt")).size(), 16u + 75 * 3 + 9 + 4);
}

TEST(SetModifiedTime, KeepsTheAccessTime) {
  const std::string path = test::TestFolder() + "/t.txt";
  test::WriteText(path, "x");
  ASSERT_EQ(sys::SetFileTimes(U16(path), 1000000000, 1100000000), 0);
  EXPECT_TRUE(SetModifiedTime(U16(path), 1200000000));
  sys::StatRecord record;
  ASSERT_EQ(sys::Stat(U16(path), record), 0);
  EXPECT_EQ(record.access_time, 1000000000);
  EXPECT_EQ(record.modify_time, 1200000000);
  EXPECT_FALSE(SetModifiedTime(U16(path + ".missing"), 1));
}

}  // namespace
}  // namespace ocelo
