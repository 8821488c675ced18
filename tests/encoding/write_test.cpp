// Writing text files: the bytes of each writer, and a target that survives every failed write.
#include "encoding/write.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "platform/fs.h"
#include "support/sandbox.h"
#include "util/policy.h"

namespace ocelo {
namespace {

using test::Hex;
using test::ToHex;
using test::U16;

using Writer = std::function<bool(std::u16string_view, std::u16string_view)>;

const Writer kUtf8 = [](auto path, auto text) { return WriteUtf8File(path, text, false); };
const Writer kUtf8Marked = [](auto path, auto text) { return WriteUtf8File(path, text, true); };
const Writer kUtf16 = [](auto path, auto text) { return WriteUtf16File(path, text, false); };
const Writer kUtf16Marked = [](auto path, auto text) { return WriteUtf16File(path, text, true); };
const Writer kUtf16Once = [](auto path, auto text) { return WriteUtf16MarkedFile(path, text); };
const Writer kShiftJis = [](auto path, auto text) { return WriteShiftJisFile(path, text); };

TEST(Writers, BytesOfEachEncoding) {
  struct Case {
    const char* description;
    const Writer& writer;
    std::u16string text;
    const char* hex;
  };
  const Case cases[] = {
      {"UTF-8 empty", kUtf8, u"", ""},
      {"UTF-8 empty with mark", kUtf8Marked, u"", "EF BB BF"},
      {"UTF-8 kana, CR LF kept", kUtf8, u"\u3042\r\n", "E3 81 82 0D 0A"},
      {"UTF-8 surrogate pair", kUtf8, u"\U0001F600", "F0 9F 98 80"},
      {"UTF-8 lone surrogate", kUtf8, u"a\xD800z", "61 EF BF BD 7A"},
      {"UTF-8 stops at U+0000", kUtf8, std::u16string(u"ab\0cd", 5), "61 62"},
      {"UTF-16 empty with mark", kUtf16Marked, u"", "FF FE"},
      {"UTF-16 without mark", kUtf16, u"A\u3042", "41 00 42 30"},
      {"UTF-16 stops at U+0000", kUtf16Marked, std::u16string(u"a\0b", 3), "FF FE 61 00"},
      {"one mark for marked text", kUtf16Once, u"\uFEFF\uFEFFA", "FF FE 41 00"},
      {"one mark for plain text", kUtf16Once, u"A", "FF FE 41 00"},
      {"marks alone are kept", kUtf16Once, u"\uFEFF\uFEFF", "FF FE FF FE FF FE"},
      {"marked writer keeps U+0000", kUtf16Once, std::u16string(u"a\0b", 3), "FF FE 61 00 00 00 62 00"},
      {"Shift_JIS kana, kanji, half-width", kShiftJis, u"\u3042\u6F22\uFF71", "82 A0 8A BF B1"},
      {"Shift_JIS unmappable becomes _", kShiftJis, u"caf\u00E9", "63 61 66 5F"},
      {"Shift_JIS stops at U+0000", kShiftJis, std::u16string(u"x\0y", 3), "78"},
  };
  const std::string folder = test::TestFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string path = folder + "/out.txt";
    ASSERT_TRUE(c.writer(U16(path), c.text));
    EXPECT_EQ(ToHex(test::ReadBytes(path)), ToHex(Hex(c.hex)));
  }
}

TEST(Writers, LargeTextsAreWrittenInPiecesWithoutCuttingASurrogatePair) {
  // Pieces of 32768 units: put a surrogate pair across every boundary of a text of several pieces.
  std::u16string text;
  for (int piece = 0; piece < 4; ++piece) {
    text.append(32767, u'\u3042');
    text += u"\U0001F600";
  }
  const std::string path = test::TestFolder() + "/big.txt";
  ASSERT_TRUE(WriteUtf8File(U16(path), text, true));
  test::Bytes expected = Hex("EF BB BF");
  for (int piece = 0; piece < 4; ++piece) {
    for (int i = 0; i < 32767; ++i) expected.insert(expected.end(), {0xE3, 0x81, 0x82});
    expected.insert(expected.end(), {0xF0, 0x9F, 0x98, 0x80});
  }
  EXPECT_TRUE(test::ReadBytes(path) == expected);
  ASSERT_TRUE(WriteShiftJisFile(U16(path), text));
  EXPECT_EQ(test::ReadBytes(path).size(), 4u * (32767 * 2 + 2));  // each half of a pair becomes "_"
  ASSERT_TRUE(WriteUtf16File(U16(path), text, false));
  EXPECT_EQ(test::ReadBytes(path).size(), text.size() * 2);
}

// The file's own marks survive its new content: its permission bits on POSIX, its hidden attribute on Windows.
TEST(WriteFileBytes, ReplacesContentAndKeepsPermissionBits) {
  const std::string path = test::TestFolder() + "/keep.txt";
  test::WriteText(path, "a much longer old content");
#ifdef _WIN32
  ASSERT_EQ(sys::SetAttributes(U16(path), sys::kAttrHidden), 0);
#else
  ::chmod(path.c_str(), 0640);
#endif
  ASSERT_TRUE(WriteFileBytes(U16(path), Hex("41 42")));
  EXPECT_EQ(test::ReadBytes(path), Hex("41 42"));
#ifdef _WIN32
  std::uint32_t attributes = 0;
  ASSERT_EQ(sys::GetAttributes(U16(path), attributes), 0);
  EXPECT_EQ(attributes & (sys::kAttrHidden | sys::kAttrReadOnly), sys::kAttrHidden);
#else
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
}

TEST(WriteFileBytes, FailuresLeaveTheOldContentAndOneDumpLine) {
  const std::string folder = test::TestFolder();
  const std::string read_only = folder + "/read-only.txt";
  test::WriteText(read_only, "old");
  std::filesystem::permissions(read_only, std::filesystem::perms(0444));  // on Windows, the read-only attribute
  const std::string locked = folder + "/locked.txt";
  test::WriteText(locked, "old");
  std::optional<test::FileLock> lock(locked);
  const std::string missing_folder = folder + "/no/such/folder/x.txt";
  const std::string is_folder = folder + "/sub";
  std::filesystem::create_directory(is_folder);

  // Only the busy file is waited for; the others fail after one attempt, without a pause.
  test::CountedPauses pauses(5);
  for (const std::string& path : {read_only, locked, missing_folder, is_folder}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(WriteFileBytes(U16(path), Hex("4E 45 57")));
    EXPECT_EQ(pauses.Take(), path == locked ? 5 : 0);
    EXPECT_NE(test::DumpLog().find("\tCan't open wb  " + path + "\r\n"), std::string::npos);
  }
  lock.reset();  // on Windows the holder shares the file with nobody, not even the check below
  EXPECT_EQ(test::ReadBytes(read_only), Hex("6F 6C 64"));
  EXPECT_EQ(test::ReadBytes(locked), Hex("6F 6C 64"));
  EXPECT_FALSE(test::Exists(missing_folder));
  EXPECT_TRUE(std::filesystem::is_directory(is_folder));
  // Nothing but the files the test made is left in the folder: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 3);
}

TEST(WriteFileBytes, WaitsForABusyFileToBeReleased) {
  WaitPolicy waits = Waits();
  waits.open_attempts = 12000;  // ends on the release; a minute is only a bound
  waits.open_wait = std::chrono::milliseconds(5);
  const WaitPolicy previous = SetWaits(waits);
  const std::string path = test::TestFolder() + "/busy.txt";
  test::WriteText(path, "old");
  auto lock = std::make_unique<test::FileLock>(path);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    lock.reset();
  });
  EXPECT_TRUE(WriteFileBytes(U16(path), Hex("4E")));
  release.join();
  SetWaits(previous);
  EXPECT_EQ(test::ReadBytes(path), Hex("4E"));
}

TEST(WriteFileBytes, FullDiskFailsAtOnceAndKeepsTheOldContent) {
#ifdef _WIN32
  GTEST_SKIP() << "a file-size limit (setrlimit) stands in for a full disk on POSIX only";
#else
  const std::string folder = test::TestFolder();
  const std::string path = folder + "/full.txt";
  test::WriteText(path, "old content");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit stands in for a full disk: the 4 MiB write fails with EFBIG, while the short
    // dump line still fits below the limit.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    bool written = WriteFileBytes(U16(path), test::Bytes(4 << 20, 0x41));
    _exit(written ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
  EXPECT_EQ(test::ReadBytes(path), Hex("6F 6C 64 20 63 6F 6E 74 65 6E 74"));
  EXPECT_NE(test::DumpLog().find("\tCan't write   " + path + "\r\n"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
#endif
}

TEST(WriteFileBytes, EmptyPathFails) {
  EXPECT_FALSE(WriteFileBytes(u"", Hex("41")));
  EXPECT_NE(test::DumpLog().find("\tCan't open wb  \r\n"), std::string::npos);
}

}  // namespace
}  // namespace ocelo
