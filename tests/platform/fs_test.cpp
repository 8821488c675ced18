// The POSIX file layer: name round trips, locks as sharing violations, read-only files (also for root),
// and replacements and copies that leave the old target intact when they fail.
#include "platform/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>

#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using test::Bytes;
using test::Hex;
using test::ReadBytes;
using test::U16;
using test::WriteText;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Names in a folder that look like our temporary files.
std::vector<std::string> TempFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".ocelo-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// Another open file description holding a lock on the path, as another process would.
class LockHolder {
 public:
  LockHolder(const std::string& path, int operation) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(flock(fd_, operation | LOCK_NB), 0);
  }
  ~LockHolder() { close(fd_); }

 private:
  int fd_;
};

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(NativePath, ConvertsBothWays) {
  struct Case {
    const char* description;
    std::u16string text;
    const char* native_hex;
  };
  const Case cases[] = {
      {"ascii", u"/a/b.txt", "2F 61 2F 62 2E 74 78 74"},
      {"two and three bytes", u"\u00E9\u65E5", "C3 A9 E6 97 A5"},
      {"pair", u"\U0001F600", "F0 9F 98 80"},
      {"escaped bytes", u"a\xDCFF\xDC80", "61 FF 80"},
      {"lone high surrogate", u"a\xD800" "b", "61 EF BF BD 62"},
      {"lone low surrogate outside escapes", u"\xDC7F", "EF BF BD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    const std::string native = ToNativePath(c.text);
    EXPECT_EQ(test::ToHex(Bytes(native.begin(), native.end())), c.native_hex);
  }
  // Bytes that are not UTF-8 come back as escapes, one per byte, and go out again unchanged.
  const struct {
    const char* hex;
    std::u16string text;
  } invalid[] = {
      {"C3", u"\xDCC3"},                              // cut short
      {"C0 AF", u"\xDCC0\xDCAF"},                     // overlong
      {"ED A0 80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
      {"F4 90 80 80", u"\xDCF4\xDC90\xDC80\xDC80"},   // above U+10FFFF
      {"E6 97 41", u"\xDCE6\xDC97" "A"},
  };
  for (const auto& c : invalid) {
    SCOPED_TRACE(c.hex);
    const Bytes bytes = Hex(c.hex);
    const std::string native(bytes.begin(), bytes.end());
    EXPECT_EQ(FromNativePath(native), c.text);
    EXPECT_EQ(ToNativePath(FromNativePath(native)), native);
  }
}

TEST(NativePath, EveryShortByteStringRoundTrips) {
  std::string native;
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      native.assign(1, static_cast<char>(a));
      if (b >= 0) native += static_cast<char>(b);
      ASSERT_EQ(ToNativePath(FromNativePath(native)), native) << a << " " << b;
    }
  }
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    native.resize(random() % 9);
    for (char& c : native) c = static_cast<char>(random() % 4 == 0 ? 0x80 | random() % 0x80 : random());
    ASSERT_EQ(ToNativePath(FromNativePath(native)), native);
  }
}

TEST(NativePath, RawNameRoundTripsThroughTheFileSystem) {
  const std::string folder = test::TestFolder();
  const std::string raw_name = "caf\xE9-\xFF.txt";  // Latin-1, not UTF-8
  WriteText(folder + "/" + raw_name, "raw");
  const auto entries = ListFolder(U16(folder));
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [](const FolderEntry& e) { return e.name == u"caf\xDCE9-\xDCFF.txt"; });
  ASSERT_NE(found, entries.end());
  const std::u16string path = U16(folder) + u"/" + found->name;
  StatRecord record;
  EXPECT_EQ(Stat(path, record), 0);
  EXPECT_EQ(record.size, 3);
  EXPECT_EQ(ReplaceFile(path, AsBytes("new")), 0);
  EXPECT_EQ(ReadBytes(folder + "/" + raw_name), AsBytes("new"));
}

TEST(Fs, StatMapsTypesSizesAndTimes) {
  const std::string folder = test::TestFolder();
  const std::string file = folder + "/f", fifo = folder + "/pipe";
  WriteText(file, "");
  ASSERT_EQ(truncate(file.c_str(), 5'000'000'000LL), 0);  // sparse, beyond 32 bits
  chmod(file.c_str(), 0640);
  ASSERT_EQ(SetFileTimes(U16(file), 4102444800, 4102444801), 0);  // the year 2100
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  StatRecord record;
  ASSERT_EQ(Stat(U16(file), record), 0);
  EXPECT_EQ(record.mode, 0x8000u | 0640);
  EXPECT_EQ(record.size, 5'000'000'000LL);
  EXPECT_EQ(record.access_time, 4102444800);
  EXPECT_EQ(record.modify_time, 4102444801);
  ASSERT_EQ(Stat(U16(folder), record), 0);
  EXPECT_EQ(record.mode & 0xF000, 0x4000u);
  ASSERT_EQ(Stat(U16(fifo), record), 0);
  EXPECT_EQ(record.mode & 0xF000, 0u);
  EXPECT_EQ(record.mode & 0777, 0600u);
  EXPECT_EQ(Stat(U16(folder + "/missing"), record), ENOENT);
  EXPECT_EQ(record.mode, 0u);
  EXPECT_EQ(Stat(U16(file) + u'\0' + u"x", record), EINVAL);  // never cut short to another path
}

TEST(Fs, AttributesFromPermissionsAndNames) {
  const std::string folder = test::TestFolder();
  struct Case {
    const char* name;
    bool is_folder;
    unsigned mode;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"plain", false, 0644, kAttrNormal},
      {"only-group-writes", false, 0464, kAttrNormal},
      {"locked", false, 0444, kAttrReadOnly},
      {".hidden", false, 0600, kAttrHidden},
      {".both", false, 0400, kAttrHidden | kAttrReadOnly},
      {"sub", true, 0755, kAttrDirectory},
      {".sub", true, 0555, kAttrDirectory | kAttrHidden | kAttrReadOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "/" + c.name;
    if (c.is_folder) {
      mkdir(path.c_str(), 0700);
    } else {
      WriteText(path, "x");
    }
    chmod(path.c_str(), c.mode);
    EXPECT_EQ(GetAttributes(U16(path)), c.expected);
  }
  EXPECT_EQ(GetAttributes(U16(folder + "/.")), kAttrDirectory);
  EXPECT_EQ(GetAttributes(U16(folder + "/sub/..")), kAttrDirectory);
  EXPECT_EQ(GetAttributes(U16(folder + "/missing")), kInvalidAttributes);

  const std::string path = folder + "/plain";
  chmod(path.c_str(), 0664);
  ASSERT_TRUE(SetAttributes(U16(path), kAttrReadOnly));
  EXPECT_EQ(ModeOf(path), 0444u);
  EXPECT_EQ(Access(U16(path), 2), -1);  // also for root
  EXPECT_EQ(Access(U16(path), 4), 0);
  EXPECT_EQ(RemoveFile(U16(path)), EACCES);
  ASSERT_TRUE(SetAttributes(U16(path), kAttrNormal));
  EXPECT_EQ(ModeOf(path), 0644u);  // the owner's write bit comes back
  EXPECT_EQ(RemoveFile(U16(path)), 0);
}

TEST(Fs, OpenStreamLocksAsSharingModes) {
  const std::string path = test::TestFolder() + "/f.txt";
  struct Case {
    int held;  // the lock another open file holds
    const char* mode;
    int expected;  // 0 or errno
  };
  const Case cases[] = {
      {LOCK_SH, "rb", 0},     {LOCK_SH, "wb", EBUSY}, {LOCK_SH, "ab", EBUSY}, {LOCK_SH, "r+b", EBUSY},
      {LOCK_EX, "rb", EBUSY}, {LOCK_EX, "wb", EBUSY}, {LOCK_EX, "a+", EBUSY}, {0, "wb", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.held == LOCK_EX ? " against exclusive" : " against shared"));
    WriteText(path, "old");
    std::FILE* stream;
    {
      std::optional<LockHolder> holder;
      if (c.held) holder.emplace(path, c.held);
      errno = 0;
      stream = OpenStream(U16(path), c.mode);
      EXPECT_EQ(stream ? 0 : errno, c.expected);
      // A "w" open that lost the lock must not have emptied the file.
      EXPECT_EQ(ReadBytes(path), c.expected == 0 && c.mode[0] == 'w' ? Bytes() : AsBytes("old"));
    }
    if (stream) {
      EXPECT_EQ(fcntl(StreamHandle(stream), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
      // The lock lasts as long as the stream: another writer is refused meanwhile.
      std::FILE* other = OpenStream(U16(path), "ab");
      EXPECT_EQ(other, nullptr);
      if (other) std::fclose(other);
      std::fclose(stream);
    }
  }
}

TEST(Fs, OpenStreamRefusals) {
  const std::string folder = test::TestFolder();
  const std::string read_only = folder + "/ro.txt";
  WriteText(read_only, "keep");
  chmod(read_only.c_str(), 0444);
  ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
  struct Case {
    std::string path;
    const char* mode;
    int expected;
  };
  const Case cases[] = {
      {folder, "rb", EISDIR},
      {folder, "wb", EISDIR},
      {read_only, "wb", EACCES},
      {read_only, "ab", EACCES},
      {read_only, "r+b", EACCES},
      {folder + "/missing.txt", "rb", ENOENT},
      {folder + "/no/such.txt", "wb", ENOENT},
      {read_only, "q", EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.mode);
    errno = 0;
    std::FILE* stream = OpenStream(U16(c.path), c.mode);
    EXPECT_EQ(stream, nullptr);
    if (stream) std::fclose(stream);
    EXPECT_EQ(errno, c.expected);
  }
  EXPECT_EQ(ReadBytes(read_only), AsBytes("keep"));
  // A read-only file can still be read, and a pipe without writer opens at once instead of waiting.
  for (const std::string& path : {read_only, folder + "/pipe"}) {
    std::FILE* stream = OpenStream(U16(path), "rb");
    EXPECT_NE(stream, nullptr) << path;
    if (stream) std::fclose(stream);
  }
}

TEST(Fs, OpenStreamWritesAndAppends) {
  const std::string path = test::TestFolder() + "/new.txt";
  for (const char* mode : {"wb", "ab", "ab"}) {
    std::FILE* stream = OpenStream(U16(path), mode);
    ASSERT_NE(stream, nullptr) << mode;
    std::fputs(mode, stream);
    std::fclose(stream);
  }
  EXPECT_EQ(ReadBytes(path), AsBytes("wbabab"));
  std::FILE* stream = OpenStream(U16(path), "wb");
  ASSERT_NE(stream, nullptr);
  std::fclose(stream);
  EXPECT_EQ(ReadBytes(path), Bytes());
}

// Processes that update one file under its exclusive lock, retrying the sharing violation, lose no update.
TEST(Fs, ExclusiveLockSerialisesProcesses) {
  const std::string path = test::TestFolder() + "/counter";
  WriteText(path, "0");
  constexpr int kProcesses = 4, kIncrements = 50;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int done = 0; done < kIncrements;) {
        std::FILE* stream = OpenStream(U16(path), "r+b");
        if (!stream) {
          if (errno != EBUSY) _exit(1);
          usleep(50);
          continue;
        }
        long value = 0;
        if (std::fscanf(stream, "%ld", &value) != 1) _exit(2);
        usleep(200);  // widens the window another writer would slip into
        std::rewind(stream);
        std::fprintf(stream, "%ld", value + 1);
        std::fclose(stream);
        ++done;
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ReadBytes(path), AsBytes(std::to_string(kProcesses * kIncrements)));
}

TEST(Fs, ReplaceFileKeepsModeAndLinks) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", link = folder + "/link.txt";
  WriteText(target, "old content");
  chmod(target.c_str(), 0640);
  ASSERT_EQ(symlink("t.txt", link.c_str()), 0);
  ASSERT_EQ(ReplaceFile(U16(link), AsBytes("new")), 0);
  EXPECT_EQ(ReadBytes(target), AsBytes("new"));
  EXPECT_EQ(ModeOf(target), 0640u);
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  const mode_t mask = umask(022);
  ASSERT_EQ(ReplaceFile(U16(folder + "/fresh"), AsBytes("")), 0);
  umask(mask);
  EXPECT_EQ(ModeOf(folder + "/fresh"), 0644u);
  EXPECT_TRUE(test::Exists(folder + "/fresh"));
  EXPECT_TRUE(TempFiles(folder).empty());
}

TEST(Fs, FailedReplaceOrCopyLeavesTargetIntact) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", source = folder + "/s.txt";
  WriteText(source, "source");
  struct Case {
    const char* description;
    void (*arrange)(const std::string& target);
    int held_lock;  // a lock another open file holds on the target
    int expected;
  };
  const Case cases[] = {
      {"locked for reading", nullptr, LOCK_SH, EBUSY},
      {"locked for writing", nullptr, LOCK_EX, EBUSY},
      {"read-only", [](const std::string& t) { chmod(t.c_str(), 0444); }, 0, EACCES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    WriteText(target, "old");
    chmod(target.c_str(), 0644);
    if (c.arrange) c.arrange(target);
    std::optional<LockHolder> holder;
    if (c.held_lock) holder.emplace(target, c.held_lock);
    EXPECT_EQ(ReplaceFile(U16(target), AsBytes("new")), c.expected);
    EXPECT_EQ(CopyFile(U16(source), U16(target), false), c.expected);
    EXPECT_EQ(ReadBytes(target), AsBytes("old"));
    EXPECT_TRUE(TempFiles(folder).empty());
  }
  chmod(target.c_str(), 0644);
  const struct {
    std::string target;
    int expected;
  } paths[] = {
      {folder, EISDIR},
      {folder + "/", EISDIR},
      {folder + "/missing/t.txt", ENOENT},
      {"", ENOENT},
  };
  for (const auto& p : paths) {
    SCOPED_TRACE(p.target);
    EXPECT_EQ(ReplaceFile(U16(p.target), AsBytes("new")), p.expected);
    EXPECT_EQ(CopyFile(U16(source), U16(p.target), false), p.expected);
  }
  EXPECT_EQ(CopyFile(U16(source), U16(source), false), EBUSY);  // onto itself: refused, not emptied
  EXPECT_EQ(ReadBytes(source), AsBytes("source"));
  EXPECT_EQ(CopyFile(U16(source), U16(target), true), EEXIST);
  EXPECT_EQ(ReadBytes(target), AsBytes("old"));
  EXPECT_EQ(CopyFile(U16(folder), U16(folder + "/x"), false), EISDIR);
  EXPECT_EQ(CopyFile(U16(folder + "/none"), U16(folder + "/x"), false), ENOENT);
  LockHolder source_lock(source, LOCK_EX);
  EXPECT_EQ(CopyFile(U16(source), U16(folder + "/x"), false), EBUSY);
  EXPECT_TRUE(TempFiles(folder).empty());
}

// A write that the file-size limit stops behaves like one into a full disk.
TEST(Fs, FullDiskLeavesTargetIntactAndNoTempFile) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", source = folder + "/big.bin";
  test::WriteBytes(source, Bytes(256 * 1024, 'b'));
  for (bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "CopyFile" : "ReplaceFile");
    WriteText(target, "old");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      setrlimit(RLIMIT_FSIZE, &limit);
      const int result = copy ? CopyFile(U16(source), U16(target), false)
                              : ReplaceFile(U16(target), Bytes(256 * 1024, 'n'));
      _exit(result);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EFBIG);
    EXPECT_EQ(ReadBytes(target), AsBytes("old"));
    EXPECT_TRUE(TempFiles(folder).empty());
  }
}

TEST(Fs, CopyFileKeepsContentModeAndTimes) {
  const std::string folder = test::TestFolder();
  const std::string source = folder + "/s.bin", target = folder + "/t.bin";
  Bytes content(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  test::WriteBytes(source, content);
  chmod(source.c_str(), 0750);
  const timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  WriteText(target, "old");

  ASSERT_EQ(CopyFile(U16(source), U16(target), false), 0);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);  // before reading it moves the access time
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
  EXPECT_TRUE(ReadBytes(target) == content);
  EXPECT_TRUE(TempFiles(folder).empty());

  // A read-only source gives a read-only copy.
  chmod(source.c_str(), 0444);
  ASSERT_EQ(CopyFile(U16(source), U16(folder + "/ro.bin"), true), 0);
  EXPECT_EQ(GetAttributes(U16(folder + "/ro.bin")), kAttrReadOnly);
}

TEST(Fs, MoveFileNeverReplaces) {
  const std::string folder = test::TestFolder();
  WriteText(folder + "/a", "a");
  WriteText(folder + "/b", "b");
  EXPECT_EQ(MoveFile(U16(folder + "/a"), U16(folder + "/b")), EEXIST);
  EXPECT_EQ(ReadBytes(folder + "/a"), AsBytes("a"));
  EXPECT_EQ(ReadBytes(folder + "/b"), AsBytes("b"));
  EXPECT_EQ(MoveFile(U16(folder + "/a"), U16(folder + "/c")), 0);
  EXPECT_EQ(ReadBytes(folder + "/c"), AsBytes("a"));
  EXPECT_FALSE(test::Exists(folder + "/a"));
  ASSERT_EQ(MakeFolder(U16(folder + "/d")), 0);
  EXPECT_EQ(MakeFolder(U16(folder + "/d")), EEXIST);
  EXPECT_EQ(MoveFile(U16(folder + "/d"), U16(folder + "/e")), 0);
  EXPECT_EQ(RemoveFolder(U16(folder + "/e")), 0);
  EXPECT_EQ(MoveFile(U16(folder + "/missing"), U16(folder + "/f")), ENOENT);
}

TEST(Fs, ListFolderReportsFoldersAndLinks) {
  const std::string folder = test::TestFolder();
  WriteText(folder + "/file", "");
  mkdir((folder + "/sub").c_str(), 0700);
  symlink("sub", (folder + "/to-sub").c_str());
  symlink("gone", (folder + "/dangling").c_str());
  auto entries = ListFolder(U16(folder));
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  std::vector<std::pair<std::u16string, bool>> seen;
  for (const auto& e : entries) seen.emplace_back(e.name, e.is_folder);
  const std::vector<std::pair<std::u16string, bool>> expected = {
      {u".", true}, {u"..", true}, {u"dangling", false}, {u"file", false}, {u"sub", true}, {u"to-sub", true}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(ListFolder(U16(folder + "/missing")).empty());
  EXPECT_TRUE(ListFolder(U16(folder + "/file")).empty());
}

}  // namespace
}  // namespace ocelo::sys
