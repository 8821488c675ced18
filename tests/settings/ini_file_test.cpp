// The INI engine: the bytes it writes, lines it keeps, names without case, concurrent writers.
#include "settings/ini_file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <atomic>
#include <thread>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <tuple>
#include <vector>

#include "settings/settings_files.h"

namespace ocelo {
namespace {

using namespace test;

TEST(IniText, FindsValuesAsTheWindowsReaderDoes) {
  const std::u16string text =
      u"k=before any section\r\n"
      u"[Main]\r\n"
      u"  Name = some value  \r\n"
      u"quoted=\"a b\"\r\n"
      u"; comment=not an entry\r\n"
      u"bare line\r\n"
      u"dup=first\r\n"
      u"dup=second\r\n"
      u"empty=\r\n"
      u"[ Spaced ]\n"
      u"lf=only\n"
      u"[main]\r\n"
      u"later=in a second section of the same name\r\n"
      u"[Debug\\2009_09]\r\n"
      u"UseProfileCache=0";
  struct Case {
    const char16_t* section;
    const char16_t* entry;
    std::optional<std::u16string> value;
  } cases[] = {
      {u"MAIN", u"name", u"some value"},
      {u"Main", u"quoted", u"\"a b\""},
      {u"Main", u"; comment", std::nullopt},
      {u"Main", u"bare line", std::nullopt},
      {u"Main", u"dup", u"first"},
      {u"Main", u"empty", u""},
      {u"Spaced", u"lf", u"only"},
      {u"Main", u"later", std::nullopt},
      {u"", u"k", std::nullopt},
      {u"Debug\\2009_09", u"UseProfileCache", u"0"},
      {u"Missing", u"k", std::nullopt},
      {u" Main ", u" name ", u"some value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.section) + "/" + U8(c.entry));
    std::optional<std::u16string_view> found = ini::FindValue(text, c.section, c.entry);
    EXPECT_EQ(found.has_value(), c.value.has_value());
    if (found && c.value) {
      EXPECT_EQ(std::u16string(*found), *c.value);
    }
  }
}

TEST(IniText, EditsTouchOnlyTheLinesConcerned) {
  struct Case {
    const char* what;
    std::u16string before;
    const char16_t* section;
    TextArg entry;
    TextArg value;
    std::u16string after;
  } cases[] = {
      {"first entry of a new file", u"", u"S", u"k", u"v", u"[S]\r\nk=v\r\n"},
      {"new entry after the section's last entry", u"[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\n", u"a", u"y", u"2",
       u"[A]\r\nx=1\r\ny=2\r\n\r\n; about B\r\n[B]\r\n"},
      {"new entry in an empty section", u"[A]\n[B]\n", u"B", u"y", u"2", u"[A]\n[B]\ny=2\r\n"},
      {"last line without line end", u"[A]\r\nx=1", u"A", u"y", u"2", u"[A]\r\nx=1\r\ny=2\r\n"},
      {"new section after text without line end", u"; c", u"S", u"k", u"v", u"; c\r\n[S]\r\nk=v\r\n"},
      {"present entry keeps its spelling", u"[A]\r\n  Key = old \r\nz=1\n", u"A", u"KEY", u"new value ",
       u"[A]\r\nKey=new value \r\nz=1\n"},
      {"delete one entry", u"[A]\r\nx=1\r\ny=2\r\n", u"A", u"X", std::nullopt, u"[A]\r\ny=2\r\n"},
      {"delete a section up to the next", u"[A]\r\nx=1\r\n; note\r\n[B]\r\ny=2\r\n", u"A", std::nullopt, std::nullopt,
       u"[B]\r\ny=2\r\n"},
      {"delete the last section", u"[A]\r\nx=1\r\n[B]\r\ny=2", u"b", std::nullopt, std::nullopt, u"[A]\r\nx=1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string text = c.before;
    EXPECT_TRUE(ini::EditText(text, c.section, c.entry, c.value));
    EXPECT_EQ(U8(text), U8(c.after));
  }
  // Edits that change nothing say so.
  std::u16string text = u"[A]\r\nx = 1\r\n";
  EXPECT_FALSE(ini::EditText(text, u"A", u"x", u"1"));
  EXPECT_FALSE(ini::EditText(text, u"A", u"y", std::nullopt));
  EXPECT_FALSE(ini::EditText(text, u"B", std::nullopt, std::nullopt));
  EXPECT_EQ(text, u"[A]\r\nx = 1\r\n");
}

TEST(IniText, RefusesWhatWouldNotReadBackAsWritten) {
  EXPECT_TRUE(ini::CanStore(u"Position\\Dialog", u"", u"\"1 2\" = ; [x]"));
  EXPECT_TRUE(ini::CanStore(u"S", std::nullopt, std::nullopt));
  for (auto [section, entry, value] : {std::tuple{u"a]b", u"k", u"v"},
                                       {u"S", u"a=b", u"v"},
                                       {u"S", u" [k", u"v"},
                                       {u"S", u";k", u"v"},
                                       {u"S", u"k", u"line\nbreak"},
                                       {u"S\r", u"k", u"v"}}) {
    EXPECT_FALSE(ini::CanStore(section, entry, value)) << U8(section) << "/" << U8(entry) << "=" << U8(value);
  }
}

TEST(IniFile, WritesUtf16WithMarkAndReadsBack) {
  const std::string path = TestFolder() + "/t.ini";
  const std::u16string ini = U16(path);
  ASSERT_TRUE(ini::WriteValue(ini, u"S", u"k", u"\u3042 v"));
  ASSERT_TRUE(ini::WriteValue(ini, u"S", u"n", u"1"));
  ASSERT_TRUE(ini::WriteValue(ini, u"T", u"k", u"x"));
  EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(MarkedUtf16(u"[S]\r\nk=\u3042 v\r\nn=1\r\n[T]\r\nk=x\r\n")));
  EXPECT_EQ(ini::ReadValue(ini, u"s", u"K"), u"\u3042 v");
  EXPECT_TRUE(Exists(U8(ini::LockPath(ini))));

  // A refused value leaves the file as it was.
  const Bytes before = ReadBytes(path);
  EXPECT_FALSE(ini::WriteValue(ini, u"S", u"k", u"two\r\nlines"));
  EXPECT_EQ(ReadBytes(path), before);

  // A writer holding the lock keeps others out; deleting from a missing file creates none.
  {
    FileLock lock(U8(ini::LockPath(ini)));
    EXPECT_FALSE(ini::WriteValue(ini, u"S", u"k", u"changed"));
  }
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_TRUE(ini::WriteValue(ini + u".none", u"S", u"k", std::nullopt));
  EXPECT_FALSE(Exists(path + ".none"));
}

// A zero that a crash left in the file ends what reads see; a write edits the text before it and keeps
// the zero and everything after it, in whichever form the file came.
TEST(IniFile, WritesKeepWhatFollowsAZero) {
  using namespace std::string_literals;
  const std::string path = TestFolder() + "/crashed.ini";
  const std::u16string ini = U16(path);
  const std::u16string head = u"[A]\r\na=1\r\n", tail = u"\0[B]\r\nb=2\r\n[C]\r\nc=3\r\n"s;
  const struct {
    const char* description;
    const char16_t* section;
    TextArg entry, value;
    std::u16string after;  // the text before the zero afterwards
  } cases[] = {
      {"new entry", u"A", u"x", u"9", u"[A]\r\na=1\r\nx=9\r\n"},
      {"changed entry", u"A", u"a", u"5", u"[A]\r\na=5\r\n"},
      {"section seen only after the zero", u"B", u"b", u"5", head + u"[B]\r\nb=5\r\n"},
      {"deleted section", u"A", std::nullopt, std::nullopt, u""},
  };
  auto big_endian = [](std::u16string_view text) {
    Bytes bytes = MarkedUtf16(text);
    for (std::size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
  };
  auto utf8_marked = [](std::u16string_view text) { return Raw("\xEF\xBB\xBF" + U8(text)); };
  for (const auto& c : cases) {
    for (const auto& [form, bytes] :
         {std::pair{"UTF-16LE", MarkedUtf16(head + tail)}, std::pair{"UTF-16BE", big_endian(head + tail)},
          std::pair{"UTF-8", utf8_marked(head + tail)}}) {
      SCOPED_TRACE(std::string(c.description) + ", " + form);
      WriteBytes(path, bytes);
      ASSERT_TRUE(ini::WriteValue(ini, c.section, c.entry, c.value));
      EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(MarkedUtf16(c.after + tail)));
      if (c.entry) {
        EXPECT_EQ(ini::ReadValue(ini, c.section, *c.entry), std::u16string(*c.value));
      }
    }
  }
}

std::u16string EntryName(int writer, int entry) {
  std::string name = "W";
  name += std::to_string(writer);
  name += "E";
  name += std::to_string(entry);
  return U16(name);
}

TEST(IniFile, ConcurrentWritersLoseNoUpdate) {
  const std::string path = TestFolder() + "/shared.ini";
  const std::u16string ini = U16(path);
  constexpr int kWriters = 4;
  constexpr int kEntries = 40;
#ifdef _WIN32
  // Threads of one process: a sharing mode holds between handles, whichever process holds them.
  ScopedWaits waits(100, std::chrono::milliseconds(100));  // as long as the program would wait
  std::atomic<int> failed_writers{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      bool all = true;
      for (int e = 0; e < kEntries; ++e) {
        all &= ini::WriteValue(ini, u"Shared", EntryName(w, e), U16(std::to_string(w * 1000 + e)));
      }
      if (!all) ++failed_writers;
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(failed_writers, 0);
#else
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ScopedWaits waits(100, std::chrono::milliseconds(100));  // as long as the program would wait
      bool all = true;
      for (int e = 0; e < kEntries; ++e) {
        all &= ini::WriteValue(ini, u"Shared", EntryName(w, e), U16(std::to_string(w * 1000 + e)));
      }
      _exit(all ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
#endif
  for (int w = 0; w < kWriters; ++w) {
    for (int e = 0; e < kEntries; ++e) {
      EXPECT_EQ(ini::ReadValue(ini, u"Shared", EntryName(w, e)), U16(std::to_string(w * 1000 + e)))
          << U8(EntryName(w, e));
    }
  }
}

}  // namespace
}  // namespace ocelo
