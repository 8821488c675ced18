// The POSIX file layer: name round trips, locks as sharing violations, read-only files (also for root),
// and replacements and copies that leave the old target intact when they fail.
#include "platform/fs.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#undef CopyFile  // windows.h names its narrow and wide calls by macros that would rename ours
#undef MoveFile
#undef ReplaceFile
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "support/sandbox.h"

namespace ocelo::sys {
namespace {

using test::Bytes;
using test::ReadBytes;
using test::U16;
using test::WriteText;

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

#ifndef _WIN32
unsigned ModeOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}
#endif

void MakeReadOnly(const std::string& path) {
  std::filesystem::permissions(path, std::filesystem::perms(0444));  // on Windows, the read-only attribute
}

bool HasTempFiles(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".ocelo-") != std::string::npos) return true;
  }
  return false;
}

// Another open file description holding a lock on the path, as another process would: on Windows a
// handle that shares the file with readers only (shared) or with nobody (exclusive).
#ifdef _WIN32
constexpr int kShared = 1, kExclusive = 2;
class LockHolder {
 public:
  LockHolder(const std::string& path, int operation) {
    const std::u16string wide = U16(path);
    handle_ = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ,
                            operation == kShared ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
  }
  ~LockHolder() { ::CloseHandle(handle_); }

 private:
  HANDLE handle_;
};
#else
constexpr int kShared = LOCK_SH, kExclusive = LOCK_EX;
class LockHolder {
 public:
  LockHolder(const std::string& path, int operation) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_EQ(flock(fd_, operation | LOCK_NB), 0);
  }
  ~LockHolder() { close(fd_); }

 private:
  int fd_;
};
#endif

TEST(NativePath, EveryNameRoundTrips) {
  const struct {
    std::u16string text;
    const char* native_hex;
  } cases[] = {
      {u"/a\u00E9\u65E5", "2F 61 C3 A9 E6 97 A5"},
      {u"\U0001F600", "F0 9F 98 80"},
#ifdef _WIN32
      {u"a\xD800", "61 ED A0 80"},  // a lone surrogate, which a Windows name may hold, as its three bytes
      {u"\xDCFF", "ED B3 BF"},
  };
#else
      {u"a\xDCFF\xDC80", "61 FF 80"},                // bytes that are not UTF-8
      {u"\xDCC0\xDCAF", "C0 AF"},                    // overlong
      {u"\xDCED\xDCA0\xDC80", "ED A0 80"},           // an encoded surrogate
      {u"\xDCF4\xDC90\xDC80\xDC80", "F4 90 80 80"},  // above U+10FFFF
  };
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.native_hex);
    const std::string native = ToNativePath(c.text);
    EXPECT_EQ(test::ToHex(B(native)), c.native_hex);
    EXPECT_EQ(FromNativePath(native), c.text);
  }
#ifndef _WIN32
  // Names that are not UTF-8 are POSIX's: a Windows name is UTF-16 units, which the rows above round-trip.
  // Other lone surrogates name no file; they become U+FFFD rather than vanish and alias "ab".
  EXPECT_EQ(test::ToHex(B(ToNativePath(u"a\xD800"
                                       "b"))),
            "61 EF BF BD 62");
  std::string native;
  for (int a = 0; a < 256; ++a) {
    for (int b = -1; b < 256; ++b) {
      native.assign(1, static_cast<char>(a));
      if (b >= 0) native += static_cast<char>(b);
      ASSERT_EQ(ToNativePath(FromNativePath(native)), native) << a << " " << b;
    }
  }
  // A Latin-1 name made through the system comes back from a listing and names the same file.
  const std::string folder = test::TestFolder();
  WriteText(folder + "/caf\xE9-\xFF.txt", "raw");
  std::vector<FolderEntry> entries;
  ASSERT_EQ(ListFolder(U16(folder), entries), 0);
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [](const FolderEntry& e) { return e.name == u"caf\xDCE9-\xDCFF.txt"; });
  ASSERT_NE(found, entries.end());
  EXPECT_EQ(ReplaceFile(U16(folder) + u"/" + found->name, B("new")), 0);
  EXPECT_EQ(ReadBytes(folder + "/caf\xE9-\xFF.txt"), B("new"));
#endif
}

TEST(Fs, StatAndAttributes) {
  const std::string folder = test::TestFolder();
  const std::string big = folder + "/big";
  test::MakeSparseFile(big, 5'000'000'000LL);                    // beyond 32 bits
  ASSERT_EQ(SetFileTimes(U16(big), 4102444800, 4102444801), 0);  // the year 2100
  StatRecord record;
  ASSERT_EQ(Stat(U16(big), record), 0);
  EXPECT_EQ(record.size, 5'000'000'000LL);
  EXPECT_EQ(record.access_time, 4102444800);
  EXPECT_EQ(record.modify_time, 4102444801);
  EXPECT_EQ(Stat(U16(big) + u'\0' + u"x", record), EINVAL);  // never cut short to another path

  struct Case {
    const char* name;
    unsigned mode;  // 0: leave as made
    int error;
    std::uint32_t stat_mode;
    std::uint32_t attributes;
  };
#ifdef _WIN32
  // The attribute word is the system's: a new file carries the archive bit; write permission is the
  // read-only attribute's opposite, for everyone.
  std::filesystem::create_directory(folder + "/sub");
  const Case cases[] = {
      {"plain", 0666, 0, 0x8000 | 0666, FILE_ATTRIBUTE_ARCHIVE},
      {"locked", 0444, 0, 0x8000 | 0444, FILE_ATTRIBUTE_ARCHIVE | kAttrReadOnly},
      {"sub", 0, 0, 0x4000 | 0777, kAttrDirectory},
      {"missing", 0, ENOENT, 0, kInvalidAttributes},
  };
#else
  ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
  mkdir((folder + "/.sub").c_str(), 0700);
  chmod((folder + "/.sub").c_str(), 0555);
  const Case cases[] = {
      {"plain", 0640, 0, 0x8000 | 0640, kAttrNormal},
      {"group-writes", 0464, 0, 0x8000 | 0464, kAttrNormal},
      {"locked", 0444, 0, 0x8000 | 0444, kAttrReadOnly},
      {".both", 0400, 0, 0x8000 | 0400, kAttrHidden | kAttrReadOnly},
      {".sub", 0, 0, 0x4000 | 0555, kAttrDirectory | kAttrHidden | kAttrReadOnly},
      {".sub/..", 0, 0, 0x4000 | 0755, kAttrDirectory},
      {"pipe", 0, 0, 0600, kAttrNormal},  // neither file nor folder
      {"missing", 0, ENOENT, 0, kInvalidAttributes},
  };
  chmod(folder.c_str(), 0755);
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "/" + c.name;
    if (c.mode) {
      WriteText(path, "x");
      std::filesystem::permissions(path, std::filesystem::perms(c.mode));
    }
    EXPECT_EQ(Stat(U16(path), record), c.error);
    EXPECT_EQ(record.mode, c.stat_mode);
    std::uint32_t attributes = 0;
    EXPECT_EQ(GetAttributes(U16(path), attributes), c.error);
    EXPECT_EQ(attributes, c.attributes);
  }

  const std::string path = folder + "/plain";
#ifndef _WIN32
  chmod(path.c_str(), 0664);
#endif
  ASSERT_EQ(SetAttributes(U16(path), kAttrReadOnly), 0);
#ifndef _WIN32
  EXPECT_EQ(ModeOf(path), 0444u);
#endif
  EXPECT_EQ(Access(U16(path), 2), EACCES);  // also for root
  EXPECT_EQ(Access(U16(path), 4), 0);
  EXPECT_EQ(Access(U16(path + ".missing"), 0), ENOENT);
  EXPECT_EQ(SetAttributes(U16(path + ".missing"), kAttrNormal), ENOENT);
  EXPECT_EQ(SetAttributes(U16(path), kInvalidAttributes), EINVAL);
  EXPECT_EQ(RemoveFile(U16(path)), EACCES);
  ASSERT_EQ(SetAttributes(U16(path), kAttrNormal), 0);
#ifndef _WIN32
  EXPECT_EQ(ModeOf(path), 0644u);  // the owner's write bit comes back
#endif
  EXPECT_EQ(Access(U16(path), 2), 0);
  EXPECT_EQ(RemoveFile(U16(path)), 0);
}

TEST(Fs, OpenStreamLocksAndRefusals) {
  const std::string folder = test::TestFolder();
  const std::string path = folder + "/f.txt", read_only = folder + "/ro.txt";
  WriteText(read_only, "old");
  MakeReadOnly(read_only);
  struct Case {
    std::string path;
    int held;  // the lock another open file holds
    const char* mode;
    int expected;  // 0 or errno
  };
  std::vector<Case> cases = {
      {path, kShared, "rb", 0},
      {path, kShared, "wb", EBUSY},
      {path, kShared, "ab", EBUSY},
      {path, kShared, "r+b", EBUSY},
      {path, kExclusive, "rb", EBUSY},
      {path, kExclusive, "wb", EBUSY},
      {path, 0, "wb", 0},
      {read_only, 0, "wb", EACCES},
      {read_only, 0, "ab", EACCES},
      {read_only, 0, "r+b", EACCES},
      {read_only, 0, "rb", 0},
      {folder, 0, "rb", EISDIR},
      {folder + "/no/f.txt", 0, "wb", ENOENT},
      {path, 0, "q", EINVAL},
  };
#ifndef _WIN32
  ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
  cases.push_back({folder + "/pipe", 0, "rb", 0});  // opens at once, without waiting for a writer
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.mode + (c.held == kExclusive ? " vs exclusive" : c.held ? " vs shared" : ""));
    if (c.path == path) WriteText(path, "old");
    std::FILE* stream;
    {
      std::optional<LockHolder> holder;
      if (c.held) holder.emplace(c.path, c.held);
      const OpenResult opened = OpenStream(U16(c.path), c.mode);
      stream = opened.stream;
      EXPECT_EQ(opened.error, c.expected);
      EXPECT_EQ(stream != nullptr, c.expected == 0);
    }
    if (c.path == path || c.path == read_only) {
      // A "w" open that lost its lock must not have emptied the file.
      EXPECT_EQ(ReadBytes(c.path), c.expected == 0 && c.mode[0] == 'w' ? Bytes() : B("old"));
    }
    if (stream) {
#ifndef _WIN32
      EXPECT_EQ(fcntl(StreamHandle(stream), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
#endif
      const OpenResult writer = OpenStream(U16(c.path), "ab");  // the stream's own lock still holds
      EXPECT_EQ(writer.stream, nullptr);
      EXPECT_NE(writer.error, 0);
      if (writer.stream) std::fclose(writer.stream);
      std::fclose(stream);
    }
  }
}

// Processes that update one file under its exclusive lock, retrying the sharing violation, lose no update.
TEST(Fs, ExclusiveLockSerialisesProcesses) {
#ifdef _WIN32
  GTEST_SKIP() << "fork is POSIX's; Windows' sharing violations are waited out in tests/windows/win32_test.cpp";
#else
  const std::string path = test::TestFolder() + "/counter";
  WriteText(path, "0");
  constexpr int kProcesses = 4, kIncrements = 50;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int done = 0; done < kIncrements;) {
        const OpenResult opened = OpenStream(U16(path), "r+b");
        std::FILE* stream = opened.stream;
        if (!stream) {
          if (opened.error != EBUSY) _exit(1);
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
  EXPECT_EQ(ReadBytes(path), B(std::to_string(kProcesses * kIncrements)));
#endif
}

TEST(Fs, FailedReplaceOrCopyLeavesTargetIntact) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", source = folder + "/s.txt";
  WriteText(source, "source");
  const struct {
    const char* description;
    unsigned mode;
    int held_lock;  // a lock another open file holds on the target
    int expected;
  } cases[] = {
      {"locked for reading", 0644, kShared, EBUSY},
      {"locked for writing", 0644, kExclusive, EBUSY},
      {"read-only", 0444, 0, EACCES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    WriteText(target, "old");
    std::filesystem::permissions(target, std::filesystem::perms(c.mode));
    std::optional<LockHolder> holder;
    if (c.held_lock) holder.emplace(target, c.held_lock);
    EXPECT_EQ(ReplaceFile(U16(target), B("new")), c.expected);
    EXPECT_EQ(CopyFile(U16(source), U16(target), false), c.expected);
    holder.reset();  // on Windows an exclusive holder keeps out the check below too
    EXPECT_EQ(ReadBytes(target), B("old"));
    EXPECT_FALSE(HasTempFiles(folder));
  }
  for (const auto& [path, expected] : std::vector<std::pair<std::string, int>>{
           {folder, EISDIR}, {folder + "/", EISDIR}, {folder + "/missing/t.txt", ENOENT}, {"", ENOENT}}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ReplaceFile(U16(path), B("new")), expected);
    EXPECT_EQ(CopyFile(U16(source), U16(path), false), expected);
  }
  std::filesystem::permissions(target, std::filesystem::perms(0644));
  EXPECT_EQ(CopyFile(U16(source), U16(target), true), EEXIST);
  EXPECT_EQ(ReadBytes(target), B("old"));
  EXPECT_EQ(CopyFile(U16(source), U16(source), false), EBUSY);  // onto itself: refused, not emptied
  EXPECT_EQ(ReadBytes(source), B("source"));
  EXPECT_EQ(CopyFile(U16(folder), U16(folder + "/x"), false), EISDIR);
  LockHolder source_lock(source, kExclusive);
  EXPECT_EQ(CopyFile(U16(source), U16(folder + "/x"), false), EBUSY);
  EXPECT_FALSE(HasTempFiles(folder));
}

#ifndef _WIN32  // POSIX descriptors, links made by the test, and replacements that wait in a batch
// A replacement reads back the very file it wrote, also after a read-back moved the position of the
// descriptor that writes it; a file swapped in under the temporary name is refused, never read or put in
// place.
TEST(Fs, ReplacementReadsBackTheFileItWrote) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt";
  WriteText(target, "old");
  {
    FileReplacement replacement;
    ASSERT_EQ(replacement.Begin(U16(target)), 0);
    ASSERT_EQ(replacement.Append(Bytes(100'000, 'a')), 0);
    std::FILE* stream = nullptr;
    ASSERT_EQ(replacement.OpenReadBack(stream), 0);
    char first = 0;  // a check that stops early, its stream's buffer read ahead
    EXPECT_EQ(std::fread(&first, 1, 1, stream), 1u);
    std::fclose(stream);
    ASSERT_EQ(replacement.Append(B("def")), 0);
    Bytes back;
    ASSERT_EQ(replacement.ReadBack(back), 0);
    ASSERT_EQ(back.size(), 100'003u);
    EXPECT_EQ(std::count(back.begin(), back.end() - 3, 'a'), 100'000);
    EXPECT_EQ(Bytes(back.end() - 3, back.end()), B("def"));
    ASSERT_EQ(replacement.Commit(), 0);
  }
  const Bytes written = ReadBytes(target);
  EXPECT_EQ(written.size(), 100'003u);
  {
    FileReplacement replacement;
    ASSERT_EQ(replacement.Begin(U16(target)), 0);
    ASSERT_EQ(replacement.Append(B("new")), 0);
    std::string temp;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().filename().string().find(".ocelo-") != std::string::npos) temp = entry.path().string();
    }
    ASSERT_FALSE(temp.empty());
    WriteText(folder + "/swapped", "swapped");
    ASSERT_EQ(rename((folder + "/swapped").c_str(), temp.c_str()), 0);
    Bytes back;
    EXPECT_EQ(replacement.ReadBack(back), EBUSY);
    std::FILE* stream = nullptr;
    EXPECT_EQ(replacement.OpenReadBack(stream), EBUSY);
  }
  EXPECT_EQ(ReadBytes(target), written);
  EXPECT_FALSE(HasTempFiles(folder));
}

// Which file a path names: links followed, the file an open stream reads, and a replacement that waits
// in a batch (for a target that exists and one that does not yet), however the path reaches it.
TEST(Fs, FileIdsFollowLinksAndWaitingReplacements) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", fresh = folder + "/fresh.txt";
  WriteText(target, "old");
  ASSERT_EQ(symlink("t.txt", (folder + "/link").c_str()), 0);
  ASSERT_EQ(symlink("fresh.txt", (folder + "/to-fresh").c_str()), 0);
  FileId old_id;
  ASSERT_EQ(GetFileId(U16(target), old_id), 0);
  std::FILE* stream = std::fopen(target.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  StatRecord record;
  EXPECT_EQ(StatStream(stream, record), 0);
  std::fclose(stream);
  EXPECT_EQ((FileId{record.device, record.inode}), old_id);
  EXPECT_EQ(record.size, 3);

  ASSERT_EQ(BeginBatch(), 0);
  FileReplacement replacements[2];
  const std::string targets[2] = {target, fresh};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(replacements[i].Begin(U16(targets[i])), 0);
    ASSERT_EQ(replacements[i].Append(B("new")), 0);
    replacements[i].JoinBatch();
    ASSERT_EQ(replacements[i].Commit(), 0);
    ASSERT_TRUE(replacements[i].Deferred());
  }
  const struct {
    std::string path;
    int error;
    int waiting;  // -1: old_id; else the id the replacement of targets[waiting] will have
  } cases[] = {
      {target, 0, 0},
      {folder + "/link", 0, 0},
      {fresh, 0, 1},
      {folder + "/to-fresh", 0, 1},
      {folder + "/missing", ENOENT, -1},
      {target + "/x", ENOTDIR, -1},
  };
  FileId waiting[2];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FileId id;
    EXPECT_EQ(GetFileId(U16(c.path), id), c.error);
    if (c.error != 0) continue;
    EXPECT_NE(id, old_id);
    if (waiting[c.waiting] == FileId()) waiting[c.waiting] = id;
    EXPECT_EQ(id, waiting[c.waiting]);
  }
  EXPECT_EQ(ReadBytes(target), B("old"));
  ASSERT_EQ(EndBatch(), 0);
  for (int i = 0; i < 2; ++i) {
    FileId id;
    ASSERT_EQ(GetFileId(U16(targets[i]), id), 0);
    EXPECT_EQ(id, waiting[i]) << targets[i];
    EXPECT_EQ(ReadBytes(targets[i]), B("new"));
  }
}
#endif  // !_WIN32

// A write that the file-size limit stops behaves like one into a full disk.
TEST(Fs, FullDiskLeavesTargetIntactAndNoTempFile) {
#ifdef _WIN32
  GTEST_SKIP() << "a file-size limit (setrlimit) stands in for a full disk on POSIX only";
#else
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
      _exit(copy ? CopyFile(U16(source), U16(target), false) : ReplaceFile(U16(target), Bytes(256 * 1024)));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EFBIG);
    EXPECT_EQ(ReadBytes(target), B("old"));
    EXPECT_FALSE(HasTempFiles(folder));
  }
#endif
}

TEST(Fs, ReplaceAndCopyKeepModesTimesAndLinks) {
  const std::string folder = test::TestFolder();
  const std::string target = folder + "/t.txt", link = folder + "/link.txt";
  WriteText(target, "old content");
#ifndef _WIN32
  // Links and permission bits are POSIX's; a Windows file keeps its attributes (tests/windows/win32_test.cpp).
  chmod(target.c_str(), 0640);
  ASSERT_EQ(symlink("t.txt", link.c_str()), 0);
  ASSERT_EQ(ReplaceFile(U16(link), B("new")), 0);
  EXPECT_EQ(ReadBytes(target), B("new"));
  EXPECT_EQ(ModeOf(target), 0640u);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  const mode_t mask = umask(022);
  EXPECT_EQ(ReplaceFile(U16(folder + "/fresh"), B("")), 0);
  umask(mask);
  EXPECT_EQ(ModeOf(folder + "/fresh"), 0644u);
#endif

  Bytes content(3 * 1024 * 1024 + 17);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  const std::string source = folder + "/s.bin";
  test::WriteBytes(source, content);
#ifdef _WIN32
  ASSERT_EQ(SetFileTimes(U16(source), 1000000000, 1200000000), 0);
  ASSERT_EQ(CopyFile(U16(source), U16(target), false), 0);
  StatRecord record;
  ASSERT_EQ(Stat(U16(target), record), 0);  // before reading it moves the access time
  EXPECT_EQ(record.access_time, 1000000000);
  EXPECT_EQ(record.modify_time, 1200000000);
#else
  chmod(source.c_str(), 0750);
  const timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  ASSERT_EQ(CopyFile(U16(source), U16(target), false), 0);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);  // before reading it moves the access time
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
#endif
  EXPECT_TRUE(ReadBytes(target) == content);
  EXPECT_FALSE(HasTempFiles(folder));
}

// Temporary files that killed runs left behind go at the first write into their folder; whatever may
// belong to a live run, or is not ours, stays.
TEST(Fs, FirstWriteIntoAFolderRemovesStaleTemporaryFiles) {
  const std::string folder = test::TestFolder();
  const std::int64_t two_days_ago = time(nullptr) - 2 * 24 * 60 * 60;
  WriteText(folder + "/victim", "old file a link points to");
  ASSERT_EQ(SetFileTimes(U16(folder + "/victim"), two_days_ago, two_days_ago), 0);
  const struct {
    const char* name;
    const char* shape;  // file, folder, link (to the old victim), held (by a live writer's lock)
    bool old;
    bool removed;
  } cases[] = {
      {".t.txt.ocelo-AbC123", "file", true, true},
      {".other name.ocelo-000000", "file", true, true},
      {".t.txt.ocelo-XyZ789", "file", false, false},  // may be a live run's
      {".t.txt.ocelo-Held00", "held", true, false},
      {".t.txt.ocelo-AbC12", "file", true, false},  // five characters: not our name
      {".t.txt.ocelo-AbC12_", "file", true, false},
      {"t.txt.ocelo-AbC123", "file", true, false},  // no leading dot
      {".ocelo-AbC123", "file", true, false},       // no name before it
      {".t.txt.ocelo-Dir000", "folder", true, false},
#ifndef _WIN32
      {".t.txt.ocelo-Link00", "link", true, false},
#endif
  };
  std::vector<std::unique_ptr<LockHolder>> holders;
  for (const auto& c : cases) {
    const std::string path = folder + "/" + c.name;
    const std::string shape = c.shape;
    if (shape == "folder") {
      std::filesystem::create_directory(path);
#ifndef _WIN32
    } else if (shape == "link") {
      ASSERT_EQ(symlink("victim", path.c_str()), 0);
#endif
    } else {
      WriteText(path, "partial");
    }
    if (c.old) {
#ifdef _WIN32
      ASSERT_EQ(SetFileTimes(U16(path), two_days_ago, two_days_ago), 0);
#else
      const timespec times[2] = {{two_days_ago, 0}, {two_days_ago, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
#endif
    }
    if (shape == "held") holders.push_back(std::make_unique<LockHolder>(path, kExclusive));
  }
  ASSERT_EQ(ReplaceFile(U16(folder + "/t.txt"), B("new")), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::filesystem::symlink_status(folder + "/" + c.name).type() == std::filesystem::file_type::not_found,
              c.removed);
  }
  EXPECT_EQ(ReadBytes(folder + "/victim"), B("old file a link points to"));
  EXPECT_EQ(ReadBytes(folder + "/t.txt"), B("new"));
}

// A whole file is read to its end, whatever its status says, and a read that fails is a failure.
TEST(Fs, ReadWholeFileReadsToTheEndAndReportsFailedReads) {
  const std::string folder = test::TestFolder();
  Bytes large(300000);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
  test::WriteBytes(folder + "/large", large);
  struct Case {
    const char* what;
    std::string path;
    std::uint64_t limit;
    int error;
    Bytes bytes;
  };
  std::vector<Case> cases = {
      {"a file", folder + "/large", UINT64_MAX, 0, large},
      {"a file at the limit", folder + "/large", large.size(), 0, large},
      {"a file beyond the limit", folder + "/large", large.size() - 1, EFBIG, {}},
  };
#ifndef _WIN32
  // Named pipes and folders that open as streams are POSIX's.
  ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
  cases.push_back({"a pipe, whose status says 0", folder + "/pipe", UINT64_MAX, 0, B("piped")});
  cases.push_back({"a pipe beyond the limit", folder + "/pipe", 4, EFBIG, {}});
  cases.push_back({"a folder, which opens but cannot be read", folder, UINT64_MAX, EISDIR, {}});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
#ifndef _WIN32
    int writer = -1;
    if (c.path.ends_with("pipe")) {
      // The pipe holds its bytes and has no writer left once the reader is open, so the read ends.
      writer = open(c.path.c_str(), O_RDWR);
      ASSERT_EQ(write(writer, "piped", 5), 5);
    }
#endif
    std::FILE* stream = std::fopen(c.path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
#ifndef _WIN32
    if (writer >= 0) close(writer);
#endif
    Bytes bytes = B("old");
    EXPECT_EQ(ReadWholeFile(stream, bytes, c.limit), c.error);
    EXPECT_EQ(bytes, c.bytes);
    std::fclose(stream);
  }
}

TEST(Fs, MoveAndListFolder) {
  const std::string folder = test::TestFolder();
  WriteText(folder + "/a", "a");
  WriteText(folder + "/b", "b");
  EXPECT_EQ(MoveFile(U16(folder + "/a"), U16(folder + "/b")), EEXIST);
  EXPECT_EQ(ReadBytes(folder + "/b"), B("b"));
  EXPECT_EQ(MoveFile(U16(folder + "/a"), U16(folder + "/file")), 0);
  EXPECT_EQ(MoveFile(U16(folder + "/missing"), U16(folder + "/c")), ENOENT);
  ASSERT_EQ(MakeFolder(U16(folder + "/d")), 0);
  EXPECT_EQ(MakeFolder(U16(folder + "/d")), EEXIST);
  EXPECT_EQ(MoveFile(U16(folder + "/d"), U16(folder + "/sub")), 0);
#ifndef _WIN32
  symlink("sub", (folder + "/to-sub").c_str());
  symlink("gone", (folder + "/dangling").c_str());
#endif

  std::vector<FolderEntry> entries;
  ASSERT_EQ(ListFolder(U16(folder), entries), 0);
  std::vector<std::pair<std::u16string, bool>> seen;
  for (const auto& e : entries) seen.emplace_back(e.name, e.is_folder);
  std::sort(seen.begin(), seen.end());
#ifdef _WIN32
  // Junctions and links to folders are listed by tests/windows/win32_test.cpp.
  const std::vector<std::pair<std::u16string, bool>> expected = {
      {u".", true}, {u"..", true}, {u"b", false}, {u"file", false}, {u"sub", true}};
#else
  const std::vector<std::pair<std::u16string, bool>> expected = {{u".", true},         {u"..", true},    {u"b", false},
                                                                 {u"dangling", false}, {u"file", false}, {u"sub", true},
                                                                 {u"to-sub", true}};  // a link to a folder walks as one
#endif
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(ListFolder(U16(folder + "/missing"), entries), ENOENT);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(ListFolder(U16(folder + "/file"), entries), ENOTDIR);
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace ocelo::sys
