// Files and folders on POSIX systems: status, attributes from permission bits, streams guarded by
// advisory locks, and writes that replace a file in one rename.
#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "platform/fs_detail.h"
#include "platform/posix/native.h"

namespace ocelo::sys {
namespace {

using detail::kTempMarker;
using detail::kTempRandomLength;
using detail::kTempSuffixChars;
using posix::Descriptor;
using posix::NativeArg;

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = 07777;
constexpr int kLockAttempts = 20;  // opens of a name that another process keeps replacing

// A file that nobody may write is read-only, also for root, whom the system itself would let write.
bool IsReadOnlyMode(mode_t mode) { return (mode & kAnyWrite) == 0; }

// Retries a system call that an interrupting signal broke off.
template <typename Call>
auto Retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// The folder part of a native path ("." when it has none) and its last piece.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Follows the symbolic links of a path's last piece to the file they name (which may not exist yet),
// so a write through a link changes the file it points to and the link stays. Returns 0 or ELOOP;
// `missing`, when given, tells that nothing was there at the end.
int ResolveLinks(std::string& path, bool* missing = nullptr) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (missing) *missing = errno == ENOENT;
      return 0;
    }
    if (!S_ISLNK(st.st_mode)) return 0;
    std::string target(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 256, '\0');
    for (;;) {
      const ssize_t n = readlink(path.c_str(), target.data(), target.size());
      if (n < 0) return 0;  // gone meanwhile: the caller's checks report what is there now
      if (static_cast<std::size_t>(n) < target.size()) {
        target.resize(static_cast<std::size_t>(n));
        break;
      }
      target.resize(target.size() * 2);
    }
    if (!target.empty() && target[0] == '/') {
      path = target;
    } else {
      const std::size_t slash = path.rfind('/');
      path = slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
  }
  return ELOOP;
}

int WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = Retry([&] { return write(fd, data, size); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// WriteAll at an offset of the file, whatever its descriptor's position.
int WriteAllAt(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const ssize_t n = Retry([&] { return pwrite(fd, data, size, static_cast<off_t>(offset)); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

// A name part for temporary files that other processes are unlikely to pick at the same moment.
std::string RandomSuffix() {
  // Random bytes come from the system a few dozen names at a time, not one call a file.
  thread_local unsigned char pool[kTempRandomLength * 32];
  thread_local std::size_t taken = sizeof pool;
  unsigned char bytes[kTempRandomLength];
  if (taken == sizeof pool && getrandom(pool, sizeof pool, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof pool)) {
    taken = 0;
  }
  if (taken < sizeof pool) {
    std::copy_n(pool + taken, kTempRandomLength, bytes);
    taken += kTempRandomLength;
  } else {
    static unsigned counter = 0;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) * 2654435761u ^
                             (static_cast<unsigned long long>(getpid()) << 20) ^ ++counter;
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(mix);
      mix = (mix >> 8) | (mix << 56);
      mix *= 0x9E3779B97F4A7C15ull;
    }
  }
  std::string out;
  for (unsigned char b : bytes) out += kTempSuffixChars[b % kTempSuffixChars.size()];
  return out;
}

// Removes the temporary files that killed runs left in a folder ("" is the current one): our names,
// regular files of this user, unchanged for a day, and not held by a live writer (which keeps its
// temporary file locked). Each folder is looked at once per process, so writing many files into one
// folder lists it only once.
void RemoveStaleTemps(const std::string& folder) {
  if (!detail::FirstSweepOf(std::string_view(folder))) return;
  Descriptor dir_fd(
      Retry([&] { return open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!dir_fd.valid()) return;
  DIR* dir = fdopendir(dir_fd.get());
  if (!dir) return;
  const int dfd = dir_fd.Release();
  const std::int64_t cutoff = static_cast<std::int64_t>(std::time(nullptr)) - detail::kStaleTempAge;
  while (const dirent* entry = readdir(dir)) {
    if (!detail::IsTempName(std::string_view(entry->d_name))) continue;
    Descriptor file(openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (!file.valid() || fstat(file.get(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_mtim.tv_sec >= cutoff) continue;
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) continue;
    // Still the file just looked at under that name: then it goes.
    struct stat named;
    if (fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (named.st_dev == st.st_dev && named.st_ino == st.st_ino) unlinkat(dfd, entry->d_name, 0);
  }
  closedir(dir);
}

// A temporary file beside `target`, ".<name>.ocelo-XXXXXX", opened for writing, close-on-exec, never
// through a link, and locked so that no other run takes it for a stale one. For a user's file the system
// applies the umask to its 0666, which is the mode a new target gets; a working file is 0600.
int CreateTempBeside(const std::string& target, std::string& temp_path, Descriptor& fd, WriteKind kind) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  RemoveStaleTemps(folder);
  const mode_t mode = kind == WriteKind::kWorkingFile ? 0600 : 0666;
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // Keep the temporary name within the usual 255-byte limit of one name.
  constexpr std::size_t kSuffix = kTempMarker.size() + kTempRandomLength;
  if (name.size() > 255 - 1 - kSuffix) name.resize(255 - 1 - kSuffix);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path = folder + "." + name + std::string(kTempMarker) + RandomSuffix();
    // Read and write: the read-back check reads the file through the descriptor that wrote it.
    const int created = Retry(
        [&] { return open(temp_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode); });
    if (created >= 0) {
      fd.Reset(created);
      (void)flock(created, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Takes a lock without waiting. A lock another open file holds is the sharing violation, EBUSY.
// File systems without locks are used without them rather than refused.
int TakeLock(int fd, bool exclusive) {
  if (Retry([&] { return flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB); }) == 0) return 0;
  if (errno == EWOULDBLOCK) return EBUSY;
  if (errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP) return 0;
  return errno;
}

// Whether the path still names the file whose status is `st`: between an open and its lock, another
// process may have renamed a new file over the name, and a lock on the old one guards nothing.
bool StillNamed(const std::string& path, const struct stat& st) {
  struct stat now;
  return stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

// Checks an existing target before its content is replaced and locks it for the time of the
// replacement. Sets `exists` and, for an existing target, its status. A link at a working file's name
// is not followed: it counts as no target, and the rename puts the new file in its place.
int PrepareTarget(const std::string& target, bool& exists, struct stat& st, Descriptor& lock, WriteKind kind) {
  const bool follow = kind == WriteKind::kUserFile;
  const int no_follow = follow ? 0 : O_NOFOLLOW;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    exists = false;
    lock.Reset(Retry([&] { return open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | no_follow); }));
    // Nothing at the name (or a link to nothing): the status would say the same.
    if (!lock.valid() && errno == ENOENT) return 0;
    const int status = lock.valid() ? fstat(lock.get(), &st)
                       : follow     ? stat(target.c_str(), &st)
                                    : lstat(target.c_str(), &st);
    if (status != 0) return errno == ENOENT ? 0 : errno;
    if (!follow && S_ISLNK(st.st_mode)) return 0;
    exists = true;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    // Renaming over a device, pipe or socket would take the node away from everyone who uses it.
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (IsReadOnlyMode(st.st_mode)) return EACCES;
    // A file this process may not read cannot be locked; it is replaced without the lock.
    if (!lock.valid()) return 0;
    if (const int error = TakeLock(lock.get(), true)) return error;
    if (StillNamed(target, st)) return 0;
  }
  return EBUSY;
}

void SyncFolder(const std::string& path) {
  Descriptor folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) fsync(folder.get());  // some file systems cannot sync a folder; the rename stands
}

// rename(2) that fails with EEXIST when the target exists, also where the system lacks RENAME_NOREPLACE.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return EEXIST;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Finishes a temporary file and renames it over (or, with `no_replace`, to) the target; removes the
// temporary file when anything fails.
int CommitTemp(Descriptor& fd, const std::string& temp_path, const std::string& target, bool no_replace) {
  int error = 0;
  if (fsync(fd.get()) != 0 && errno != EINVAL) error = errno;
  // Some file systems report a failed write only when the file is closed.
  if (error == 0 && close(fd.Release()) != 0 && errno != EINTR) error = errno;
  if (error == 0) {
    if (no_replace) {
      error = RenameNoReplace(temp_path, target);
    } else if (rename(temp_path.c_str(), target.c_str()) != 0) {
      error = errno;
    }
  }
  if (error != 0) {
    fd.Reset();
    unlink(temp_path.c_str());
    return error;
  }
  SyncFolder(target);
  return 0;
}

// The native target of a write: a user's file's links followed, a trailing slash refused as a folder.
// `missing`, when given, tells that the links led to nothing (a user's file only).
int WriteTarget(std::u16string_view path, std::string& target, WriteKind kind, bool* missing = nullptr) {
  if (!NativeArg(path, target)) return errno;
  if (target.empty()) return ENOENT;
  if (target.back() == '/') return EISDIR;
  return kind == WriteKind::kUserFile ? ResolveLinks(target, missing) : 0;
}

// Copies the rest of one file into another: in the kernel where it can, else through a 1 MiB buffer.
int CopyData(int in, int out) {
  bool copied_any = false;
  for (;;) {
    const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
    if (n > 0) {
      copied_any = true;
      continue;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (copied_any || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF &&
                       errno != EPERM)) {
      return errno;
    }
    break;
  }
  try {
    std::vector<std::uint8_t> buffer(1u << 20);
    for (;;) {
      const ssize_t n = Retry([&] { return read(in, buffer.data(), buffer.size()); });
      if (n < 0) return errno;
      if (n == 0) return 0;
      if (const int error = WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return error;
    }
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

}  // namespace

namespace posix {

void Descriptor::Reset(int fd) {
  if (fd_ >= 0) {
    const int saved = errno;
    close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

int MakeFolderTree(const std::string& native, unsigned mode) {
  if (native.empty()) return ENOENT;
  struct stat st;
  if (stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  for (std::size_t pos = native.find('/', 1);; pos = native.find('/', pos + 1)) {
    const std::string prefix = native.substr(0, pos);
    if (!prefix.empty() && prefix.back() != '/' && mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
      return errno;
    }
    if (pos == std::string::npos) break;
  }
  if (stat(native.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace posix

namespace {

// The portable record of a system status.
void FillRecord(const struct stat& st, StatRecord& record) {
  std::uint32_t type = 0;  // pipes, devices and sockets are neither file nor folder
  if (S_ISREG(st.st_mode)) type = 0x8000;
  if (S_ISDIR(st.st_mode)) type = 0x4000;
  record.device = st.st_dev;
  record.inode = st.st_ino;
  record.mode = type | (st.st_mode & kPermissionBits);
  record.links = st.st_nlink;
  record.user = st.st_uid;
  record.group = st.st_gid;
  record.raw_device = st.st_rdev;
  record.size = st.st_size;
  record.access_time = st.st_atim.tv_sec;
  record.modify_time = st.st_mtim.tv_sec;
  record.change_time = st.st_ctim.tv_sec;
}

}  // namespace

int Stat(std::u16string_view path, StatRecord& record) {
  record = StatRecord();
  std::string native;
  if (!NativeArg(path, native)) return errno;
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return errno;
  FillRecord(st, record);
  return 0;
}

int StatStream(std::FILE* stream, StatRecord& record) {
  record = StatRecord();
  if (!stream) return EBADF;
  struct stat st;
  if (fstat(fileno(stream), &st) != 0) return errno;
  FillRecord(st, record);
  return 0;
}

bool PendingFileId(std::u16string_view path, FileId& id);
bool PendingTargetId(const std::string& target, FileId& id);

int GetFileId(std::u16string_view path, FileId& id) {
  id = FileId();
  // A replacement waiting for the name itself is what the name will lead to: the rename replaces whatever
  // stands there. Otherwise, while no link stands at the name, one query tells which file it is.
  std::string native;
  if (!NativeArg(path, native)) return errno;
  if (PendingTargetId(native, id)) return 0;
  struct stat st;
  const int looked = lstat(native.c_str(), &st) == 0 ? 0 : errno;
  if (looked == 0 && !S_ISLNK(st.st_mode)) {
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return 0;
  }
  if (looked == ENOENT) return ENOENT;
  // A replacement waiting in a batch is the file that the path will name: the rename keeps its id.
  if (PendingFileId(path, id)) return 0;
  return detail::FileIdByStat(path, id);
}

int GetAttributes(std::u16string_view path, std::uint32_t& attributes) {
  attributes = kInvalidAttributes;
  std::string native;
  if (!NativeArg(path, native)) return EINVAL;
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return errno;
  std::uint32_t word = 0;
  if (IsReadOnlyMode(st.st_mode)) word |= kAttrReadOnly;
  const std::string name = NameOf(native);
  if (name.size() > 1 && name[0] == '.' && name != "..") word |= kAttrHidden;
  if (S_ISDIR(st.st_mode)) word |= kAttrDirectory;
  attributes = word ? word : kAttrNormal;
  return 0;
}

int SetAttributes(std::u16string_view path, std::uint32_t attributes) {
  std::string native;
  if (!NativeArg(path, native) || attributes == kInvalidAttributes) return EINVAL;
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return errno;
  mode_t mode = st.st_mode & kPermissionBits;
  if (attributes & kAttrReadOnly) {
    mode &= ~kAnyWrite;
  } else if (IsReadOnlyMode(mode)) {
    mode |= S_IWUSR;  // clearing read-only gives the owner the write permission back
  }
  if (mode == (st.st_mode & kPermissionBits)) return 0;
  return chmod(native.c_str(), mode) == 0 ? 0 : errno;
}

OpenResult OpenStream(std::u16string_view path, const char* mode_text) {
  const detail::OpenMode mode = detail::ParseMode(mode_text);
  std::string native;
  if (!mode.valid || !NativeArg(path, native)) return {nullptr, EINVAL};
  // O_NONBLOCK keeps the open of a pipe without writer from waiting; it is cleared again below.
  // No O_TRUNC: a file is emptied only once its lock is won.
  const int access = mode.read && mode.write ? O_RDWR : mode.write ? O_WRONLY : O_RDONLY;
  const int flags = access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (mode.append ? O_APPEND : 0);
  Descriptor fd;
  struct stat st;
  for (int attempt = 0;; ++attempt) {
    // A name that keeps changing under us is as busy as a held lock.
    if (attempt == kLockAttempts) return {nullptr, EBUSY};
    bool created = false;
    if (mode.must_create) {
      fd.Reset(Retry([&] { return open(native.c_str(), flags | O_CREAT | O_EXCL, 0666); }));
      created = fd.valid();
    } else {
      // Open what is there; create only what is not, so that a new file (whatever the umask made of
      // its mode) is never mistaken for a read-only one.
      for (int tries = 0; tries < 10 && !fd.valid(); ++tries) {
        fd.Reset(Retry([&] { return open(native.c_str(), flags); }));
        if (fd.valid() || errno != ENOENT || !mode.create) break;
        fd.Reset(Retry([&] { return open(native.c_str(), flags | O_CREAT | O_EXCL, 0666); }));
        created = fd.valid();
        if (!fd.valid() && errno != EEXIST) break;
      }
    }
    if (!fd.valid()) return {nullptr, errno};
    if (fstat(fd.get(), &st) != 0) return {nullptr, errno};
    int error = 0;
    if (S_ISDIR(st.st_mode)) {
      error = EISDIR;
    } else if (mode.write && !created && IsReadOnlyMode(st.st_mode)) {
      error = EACCES;
    } else {
      error = TakeLock(fd.get(), mode.write);
    }
    if (error != 0) return {nullptr, error};
    // A reader that the name's replacement left with the file before reads that whole file, which is
    // what it would have read a moment earlier; a writer must hold the lock of the file the name leads to.
    if (!mode.write || StillNamed(native, st)) break;
    fd.Reset();
  }
  // O_NONBLOCK changes nothing for a regular file: only other kinds have it cleared.
  if (!S_ISREG(st.st_mode)) {
    const int status = fcntl(fd.get(), F_GETFL);
    if (status == -1 || fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) == -1) return {nullptr, errno};
  }
  if (mode.truncate && S_ISREG(st.st_mode) && Retry([&] { return ftruncate(fd.get(), 0); }) != 0) {
    return {nullptr, errno};
  }
  std::FILE* stream = fdopen(fd.get(), mode.stdio);
  if (!stream) return {nullptr, errno};
  fd.Release();
  return {stream, 0};
}

int StreamHandle(std::FILE* stream) { return stream ? fileno(stream) : -1; }

struct FileReplacement::State {
  std::string target;
  std::string temp_path;
  Descriptor fd;    // the temporary file
  Descriptor lock;  // held on an existing target until the new content is in place
  std::uint64_t written = 0;
  std::uint64_t flushed = 0;  // bytes whose write-back has been started
  bool deferred = false;      // committed into a batch
  bool batchable = false;     // may wait in a batch
  FileId replaced;            // the file at the target when it began (zero when none)
};

namespace {

// Write-back of a temporary file starts every this many bytes, so the disk works while the content is
// still being made and the sync before the rename waits only for the tail.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

// Replacements and backups finished while a batch is open: written, checked and closed to the program,
// waiting for one sync of their file systems, their renames and one sync of each folder.
struct PendingReplacement {
  std::string target;
  std::string temp_path;
  Descriptor fd;
  Descriptor lock;
  bool backup = false;  // a backup (BackUpFile) of `file`, in place before any replacement of that file
  FileId file;          // a backup's original; a replacement's old file at its target (zero when none)
  int error = 0;        // a failed sync, rename or folder sync: a replacement stays out of place
};

struct Batch {
  std::mutex mutex;
  int depth = 0;
  std::list<PendingReplacement> pending;
  std::multiset<std::string> targets;    // of `pending`: a path is looked up once a file, not once a pending file
  std::multiset<FileId> backed_up;       // the originals of the backups in `pending`
  std::map<FileId, int> failed_backups;  // originals whose backup failed in this batch, with the error
  int error = 0;                         // the first failure of any settling since the batch began
  std::uint64_t pending_bytes = 0;
};

// The native target of a path as the batch knows it (links followed), when a replacement of it waits.
bool FindPending(Batch& batch, std::u16string_view path, std::string& target) {
  if (batch.pending.empty() || !NativeArg(path, target)) return false;
  (void)ResolveLinks(target);
  return batch.targets.count(target) != 0;
}

Batch& TheBatch() {
  static Batch batch;
  return batch;
}

// A batch holds at most this many bytes, and as many files as a quarter of the descriptors the process
// may open (each waiting file holds one, and the lock of an old target another), from 256 to 4,096,
// before it settles them: each settling syncs the whole file system, whatever else waits to be written
// there, so fewer of them make many small files faster.
constexpr std::uint64_t kBatchBytes = std::uint64_t{256} << 20;

std::size_t BatchFiles() {
  static const std::size_t files = [] {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::size_t{256};
    return std::clamp<std::size_t>(static_cast<std::size_t>(limit.rlim_cur / 4), 256, 4096);
  }();
  return files;
}

// Makes the data of every waiting file durable: one syncfs per file system, through the first waiting
// file of each (the one opened first, so a failed write of any of them is reported). Without syncfs, or
// when it reports a failed write, each file is synced by itself, which tells which one failed.
void SyncPendingData(Batch& batch) {
  bool each = false;
  std::set<std::uint64_t> devices;
  std::set<std::string> looked_at;  // the files of one folder share its file system
  for (PendingReplacement& p : batch.pending) {
    if (!looked_at.insert(FolderOf(p.target)).second) continue;
    struct stat st;
    if (fstat(p.fd.get(), &st) != 0) {
      each = true;
    } else if (devices.insert(st.st_dev).second && syncfs(p.fd.get()) != 0) {
      each = true;
    }
  }
  if (!each) return;
  for (PendingReplacement& p : batch.pending) {
    if (fsync(p.fd.get()) != 0 && errno != EINVAL) p.error = errno;
  }
}

// Closes the descriptors that held the files a batch replaced, on up to four threads at once: the last
// close of a replaced file frees its blocks, and where the file system discards freed blocks at once
// (ext4 mounted with `discard` and no journal, as on the build machine) each free waits for the disk,
// which takes several such waits at once (3,000 frees: 1.0 to 1.9 s on one thread, 0.4 to 0.8 s on four).
void CloseReplaced(std::vector<int>& fds) {
  constexpr std::size_t kClosers = 4;
  constexpr std::size_t kFewest = 64;  // fewer are closed here: a thread costs more than their waits
  const auto close_share = [&fds](std::size_t share) {
    for (std::size_t i = share; i < fds.size(); i += kClosers) close(fds[i]);
  };
  std::vector<std::thread> threads;
  try {
    if (fds.size() >= kFewest) {
      threads.reserve(kClosers - 1);
      for (std::size_t share = 1; share < kClosers; ++share) threads.emplace_back(close_share, share);
    }
  } catch (const std::exception&) {
    // a thread that cannot start leaves its share to this one
  }
  close_share(0);
  for (std::size_t share = threads.size() + 1; share < kClosers; ++share) close_share(share);
  for (std::thread& thread : threads) thread.join();
  fds.clear();
}

// Renames the waiting backups (or replacements) over their targets, then syncs each of their folders
// once. A replacement of a file whose backup failed stays out of place, and so does one whose sync
// failed; a backup counts only once its folder is synced (a replacement's rename stands even when its
// folder cannot be synced, as outside a batch). The locks of the old targets go to `replaced`.
void PutInPlace(Batch& batch, bool backups, std::vector<int>& replaced) {
  std::map<std::string, int> folders;  // each folder of a file put in place, and the result of its sync
  for (PendingReplacement& p : batch.pending) {
    if (p.backup != backups) continue;
    if (!backups && p.error == 0 && p.file != FileId()) {
      if (const auto failed = batch.failed_backups.find(p.file); failed != batch.failed_backups.end()) {
        p.error = failed->second;
      }
    }
    if (p.error == 0 && close(p.fd.Release()) != 0 && errno != EINTR) p.error = errno;
    if (p.error == 0 && rename(p.temp_path.c_str(), p.target.c_str()) != 0) p.error = errno;
    if (p.error != 0) {
      p.fd.Reset();
      unlink(p.temp_path.c_str());
    } else {
      folders.emplace(FolderOf(p.target), 0);
    }
    // Without room reserved for it (memory ran out), a lock is closed here.
    if (p.lock.valid() && replaced.size() < replaced.capacity()) replaced.push_back(p.lock.Release());
    p.lock.Reset();
  }
  for (auto& [folder, result] : folders) {
    Descriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems cannot sync a folder (EINVAL); their renames stand.
    if (fd.valid() && fsync(fd.get()) != 0 && errno != EINVAL) result = errno;
  }
  if (!backups) return;
  for (PendingReplacement& p : batch.pending) {
    if (!p.backup) continue;
    if (p.error == 0) p.error = folders[FolderOf(p.target)];
    if (p.error != 0) batch.failed_backups.emplace(p.file, p.error);
  }
}

// Settles the batch: the data of all waiting files made durable at once, then the backups put in place
// and their folders synced, and only then the replacements renamed over their targets and their folders
// synced. So after a crash at any moment a target holds its old or its complete new content, and a
// target whose old content is gone has durable backups of it wherever the batch made them. Returns the
// first error; a replacement that fails (or whose file's backup failed) leaves its target as it was and
// no temporary file.
int SettleLocked(Batch& batch) {
  SyncPendingData(batch);
  std::vector<int> replaced;
  try {
    replaced.reserve(batch.pending.size());
  } catch (const std::bad_alloc&) {
    // each lock is then closed where it is released
  }
  PutInPlace(batch, true, replaced);
  PutInPlace(batch, false, replaced);
  CloseReplaced(replaced);
  int first_error = 0;
  for (const PendingReplacement& p : batch.pending) {
    if (first_error == 0) first_error = p.error;
  }
  if (batch.error == 0) batch.error = first_error;
  batch.pending.clear();
  batch.targets.clear();
  batch.backed_up.clear();
  batch.pending_bytes = 0;
  return first_error;
}

// Whether the batch is full: its files hold descriptors and its bytes wait for the disk.
bool FullLocked(const Batch& batch) {
  return batch.pending.size() >= BatchFiles() || batch.pending_bytes >= kBatchBytes;
}

// Before a replacement of `file` (the old file at its target; zero for none) goes in place: the backups
// of that file waiting in the batch go first, settled now when `settle` (the replacement does not wait in
// the batch). Returns 0, or the error of a backup of that file that failed in this batch.
int BackupsFirstLocked(Batch& batch, const FileId& file, bool settle) {
  if (file == FileId()) return 0;
  if (settle && batch.backed_up.count(file) != 0) (void)SettleLocked(batch);
  const auto failed = batch.failed_backups.find(file);
  return failed == batch.failed_backups.end() ? 0 : failed->second;
}

}  // namespace

namespace {

// The id of the file that will replace `target` (its links followed), when one waits in the batch.
bool PendingIdLocked(Batch& batch, const std::string& target, FileId& id) {
  if (batch.targets.count(target) == 0) return false;
  // The latest replacement of the target is the file it will name.
  for (auto p = batch.pending.rbegin(); p != batch.pending.rend(); ++p) {
    struct stat st;
    if (p->target == target && fstat(p->fd.get(), &st) == 0) {
      id.device = st.st_dev;
      id.inode = st.st_ino;
      return true;
    }
  }
  return false;
}

}  // namespace

bool PendingTargetId(const std::string& target, FileId& id) {
  Batch& batch = TheBatch();
  std::lock_guard<std::mutex> hold(batch.mutex);
  return !batch.pending.empty() && PendingIdLocked(batch, target, id);
}

bool PendingFileId(std::u16string_view path, FileId& id) {
  Batch& batch = TheBatch();
  std::lock_guard<std::mutex> hold(batch.mutex);
  std::string target;
  return FindPending(batch, path, target) && PendingIdLocked(batch, target, id);
}

int BeginBatch() {
  Batch& batch = TheBatch();
  std::lock_guard<std::mutex> hold(batch.mutex);
  ++batch.depth;
  return 0;
}

int EndBatch() {
  Batch& batch = TheBatch();
  std::lock_guard<std::mutex> hold(batch.mutex);
  if (batch.depth > 0) --batch.depth;
  if (batch.depth > 0) return 0;
  (void)SettleLocked(batch);
  // Failures of earlier settlings too (a full batch, a path settled early): none goes untold.
  const int error = batch.error;
  batch.error = 0;
  batch.failed_backups.clear();
  return error;
}

int SettlePending(std::u16string_view path) {
  Batch& batch = TheBatch();
  std::lock_guard<std::mutex> hold(batch.mutex);
  if (batch.pending.empty()) return 0;
  std::string target;
  if (!path.empty() && !FindPending(batch, path, target)) return 0;
  return SettleLocked(batch);
}

FileReplacement::FileReplacement() : state_(nullptr) {}

FileReplacement::~FileReplacement() {
  if (state_ && state_->fd.valid()) {
    state_->fd.Reset();
    unlink(state_->temp_path.c_str());
  }
  delete state_;
}

int FileReplacement::Begin(std::u16string_view path, WriteKind kind) {
  delete state_;
  state_ = new (std::nothrow) State;
  if (!state_) return ENOMEM;
  State& s = *state_;
  bool missing = false;
  if (const int error = WriteTarget(path, s.target, kind, &missing)) return error;
  bool exists = false;
  struct stat st;
  // A target that the look for links found missing has nothing to check or lock.
  if (!missing) {
    if (const int error = PrepareTarget(s.target, exists, st, s.lock, kind)) return error;
  }
  if (const int error = CreateTempBeside(s.target, s.temp_path, s.fd, kind)) return error;
  if (exists) s.replaced = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  int error = 0;
  if (exists && kind == WriteKind::kUserFile) {
    // The old file's owner and permission bits, set before any byte is written, so the content is
    // never readable by more users than the old file allowed. Only root may give a file away.
    if (fchown(s.fd.get(), st.st_uid, st.st_gid) != 0 && errno != EPERM) error = errno;
    if (error == 0 && fchmod(s.fd.get(), st.st_mode & kPermissionBits) != 0) error = errno;
  }
  if (error != 0) {
    s.fd.Reset();
    unlink(s.temp_path.c_str());
  }
  return error;
}

int FileReplacement::Append(std::span<const std::uint8_t> bytes) {
  if (!state_ || !state_->fd.valid()) return EBADF;
  // At its place in the file: a read-back moves the descriptor's position.
  const int error = WriteAllAt(state_->fd.get(), bytes.data(), bytes.size(), state_->written);
  if (error != 0) {
    state_->fd.Reset();
    unlink(state_->temp_path.c_str());
    return error;
  }
  state_->written += bytes.size();
  if (state_->written - state_->flushed >= kWriteBackStep) {
    // Only a start: the call does not wait, and a file system without it loses nothing.
    (void)sync_file_range(state_->fd.get(), static_cast<off_t>(state_->flushed),
                          static_cast<off_t>(state_->written - state_->flushed), SYNC_FILE_RANGE_WRITE);
    state_->flushed = state_->written;
  }
  return 0;
}

namespace {

// The temporary file is read back through the descriptor that wrote it, from the file system's cache of
// it as any other reader would see it, without opening it again. Its name lies in a folder that others
// may write: a file swapped in under it would be what the rename puts in place, so the name must still
// lead to the file written (EBUSY).
int CheckTempNamed(const Descriptor& fd, const std::string& temp_path) {
  struct stat written, named;
  if (fstat(fd.get(), &written) != 0 || lstat(temp_path.c_str(), &named) != 0) return errno;
  return written.st_dev == named.st_dev && written.st_ino == named.st_ino ? 0 : EBUSY;
}

}  // namespace

int FileReplacement::ReadBack(std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (!state_ || !state_->fd.valid()) return EBADF;
  if (const int error = CheckTempNamed(state_->fd, state_->temp_path)) return error;
  // The bytes written are a first guess of the size; reading goes on to the file's end whatever it is.
  try {
    std::size_t used = 0;
    bytes.resize(static_cast<std::size_t>(state_->written) + 1);
    for (;;) {
      const ssize_t n = Retry([&] { return pread(state_->fd.get(), bytes.data() + used, bytes.size() - used, used); });
      if (n < 0) {
        const int error = errno;
        std::vector<std::uint8_t>().swap(bytes);
        return error;
      }
      used += static_cast<std::size_t>(n);
      if (n == 0 || used < bytes.size()) break;  // a regular file reads short only at its end
      bytes.resize(bytes.size() * 2);
    }
    bytes.resize(used);
  } catch (const std::bad_alloc&) {
    std::vector<std::uint8_t>().swap(bytes);
    return ENOMEM;
  }
  return 0;
}

int FileReplacement::OpenReadBack(std::FILE*& stream) {
  stream = nullptr;
  if (!state_ || !state_->fd.valid()) return EBADF;
  if (const int error = CheckTempNamed(state_->fd, state_->temp_path)) return error;
  Descriptor reader(Retry([&] { return fcntl(state_->fd.get(), F_DUPFD_CLOEXEC, 0); }));
  if (!reader.valid()) return errno;
  // The copy shares the position of the writing descriptor, which writes at explicit offsets.
  if (lseek(reader.get(), 0, SEEK_SET) != 0) return errno;
  stream = fdopen(reader.get(), "rb");
  if (!stream) return errno;
  reader.Release();
  return 0;
}

int FileReplacement::SetModifyTime(std::int64_t time) {
  if (!state_ || !state_->fd.valid()) return EBADF;
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time), 0}};
  return futimens(state_->fd.get(), times) == 0 ? 0 : errno;
}

void FileReplacement::JoinBatch() {
  if (state_) state_->batchable = true;
}

bool FileReplacement::Deferred() const { return state_ && state_->deferred; }

int FileReplacement::Commit() {
  if (!state_ || !state_->fd.valid()) return EBADF;
  Batch& batch = TheBatch();
  {
    std::lock_guard<std::mutex> hold(batch.mutex);
    const bool defer = batch.depth > 0 && state_->batchable;
    if (const int error = BackupsFirstLocked(batch, state_->replaced, !defer)) {
      state_->fd.Reset();
      unlink(state_->temp_path.c_str());
      state_->lock.Reset();
      return error;
    }
    if (defer) {
      // The sync, the rename and the folder's sync wait for the batch; a full batch settles now.
      PendingReplacement& pending = batch.pending.emplace_back();
      pending.target = state_->target;
      pending.temp_path = state_->temp_path;
      pending.fd.Reset(state_->fd.Release());
      pending.lock.Reset(state_->lock.Release());
      pending.file = state_->replaced;
      batch.targets.insert(pending.target);
      state_->deferred = true;
      batch.pending_bytes += state_->written;
      return FullLocked(batch) ? SettleLocked(batch) : 0;
    }
  }
  const int error = CommitTemp(state_->fd, state_->temp_path, state_->target, false);
  state_->lock.Reset();
  return error;
}

int Access(std::u16string_view path, int mode) {
  std::string native;
  if (!NativeArg(path, native) || (mode & ~6)) return EINVAL;
  const int wanted = (mode & 2 ? W_OK : 0) | (mode & 4 ? R_OK : 0);
  if (access(native.c_str(), wanted ? wanted : F_OK) != 0) return errno;
  if (mode & 2) {
    struct stat st;
    if (stat(native.c_str(), &st) != 0) return errno;
    if (IsReadOnlyMode(st.st_mode)) return EACCES;
  }
  return 0;
}

int MakeFolder(std::u16string_view path) {
  std::string native;
  if (!NativeArg(path, native)) return errno;
  return mkdir(native.c_str(), 0777) == 0 ? 0 : errno;
}

int RemoveFile(std::u16string_view path) {
  std::string native;
  if (!NativeArg(path, native)) return errno;
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return errno;
  // A read-only file is protected from removal, as the attribute promises; MakeWritable first.
  if (S_ISREG(st.st_mode) && IsReadOnlyMode(st.st_mode)) return EACCES;
  return unlink(native.c_str()) == 0 ? 0 : errno;
}

int RemoveFolder(std::u16string_view path) {
  std::string native;
  if (!NativeArg(path, native)) return errno;
  return rmdir(native.c_str()) == 0 ? 0 : errno;
}

namespace {

// CopyFile, and BackUpFile when `copied` is given (then into a working file): the copy is written beside
// the target and renamed into place, or, for a backup in an open batch, left to wait there.
int CopyInto(std::u16string_view source, std::u16string_view target_path, bool fail_if_exists, WriteKind kind,
             std::int64_t* copied) {
  std::string from;
  if (!NativeArg(source, from)) return errno;
  Descriptor in(Retry([&] { return open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
  if (!in.valid()) return errno;
  struct stat source_st;
  if (fstat(in.get(), &source_st) != 0) return errno;
  if (S_ISDIR(source_st.st_mode)) return EISDIR;
  if (!S_ISREG(source_st.st_mode)) return EINVAL;  // a pipe or device has no end to copy up to
  if (const int error = TakeLock(in.get(), false)) return error;

  std::string target;
  if (!NativeArg(target_path, target)) return errno;
  struct stat st;
  if (fail_if_exists && lstat(target.c_str(), &st) == 0) return EEXIST;
  if (const int error = WriteTarget(target_path, target, kind)) return error;
  Batch& batch = TheBatch();
  {
    // A file waiting in the batch for this very target goes first: this copy replaces it, and its lock
    // would keep this copy out.
    std::lock_guard<std::mutex> hold(batch.mutex);
    if (batch.targets.count(target) != 0) (void)SettleLocked(batch);
  }
  bool exists = false;
  Descriptor lock;
  if (!fail_if_exists) {
    if (const int error = PrepareTarget(target, exists, st, lock, kind)) return error;
  }

  std::string temp_path;
  Descriptor fd;
  if (const int error = CreateTempBeside(target, temp_path, fd, kind)) return error;
  int error = 0;
  if (kind == WriteKind::kUserFile && fchmod(fd.get(), source_st.st_mode & kPermissionBits) != 0) error = errno;
  if (error == 0) error = CopyData(in.get(), fd.get());
  if (error == 0) {
    const timespec times[2] = {source_st.st_atim, source_st.st_mtim};
    if (futimens(fd.get(), times) != 0) error = errno;
  }
  struct stat written;
  if (error == 0 && copied && fstat(fd.get(), &written) != 0) error = errno;
  if (error == 0) {
    std::lock_guard<std::mutex> hold(batch.mutex);
    const FileId original{static_cast<std::uint64_t>(source_st.st_dev), static_cast<std::uint64_t>(source_st.st_ino)};
    if (copied && batch.depth > 0) {
      // The size the copy holds is that of the file written; its sync and rename wait for the batch, which
      // puts it in place before any replacement of the original.
      *copied = written.st_size;
      PendingReplacement& pending = batch.pending.emplace_back();
      pending.target = target;
      pending.temp_path = temp_path;
      pending.fd.Reset(fd.Release());
      pending.lock.Reset(lock.Release());
      pending.backup = true;
      pending.file = original;
      batch.targets.insert(target);
      batch.backed_up.insert(original);
      batch.failed_backups.erase(original);  // a backup that failed before is superseded by this one
      batch.pending_bytes += static_cast<std::uint64_t>(written.st_size);
      if (FullLocked(batch)) (void)SettleLocked(batch);
      const auto failed = batch.failed_backups.find(original);
      return failed == batch.failed_backups.end() ? 0 : failed->second;
    }
    if (exists) {
      // Put in place now: the file at the target goes only once its backups waiting in the batch are in place.
      const FileId old_file{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
      error = BackupsFirstLocked(batch, old_file, true);
    }
  }
  if (error != 0) {
    fd.Reset();
    unlink(temp_path.c_str());
    return error;
  }
  error = CommitTemp(fd, temp_path, target, fail_if_exists);
  if (error == 0 && copied) {
    // Outside a batch the backup's size is read back through its name.
    struct stat placed;
    *copied = stat(target.c_str(), &placed) == 0 ? placed.st_size : -1;
  }
  return error;
}

}  // namespace

int CopyFile(std::u16string_view source, std::u16string_view target, bool fail_if_exists, WriteKind kind) {
  return CopyInto(source, target, fail_if_exists, kind, nullptr);
}

int BackUpFile(std::u16string_view source, std::u16string_view target, std::int64_t& copied) {
  copied = -1;
  return CopyInto(source, target, false, WriteKind::kWorkingFile, &copied);
}

int MoveFile(std::u16string_view source, std::u16string_view target) {
  std::string from, to;
  if (!NativeArg(source, from) || !NativeArg(target, to)) return errno;
  const int error = RenameNoReplace(from, to);
  if (error != EXDEV) return error;
  // Another file system: a file is copied and its source removed; a folder cannot move there.
  struct stat st;
  if (lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return EXDEV;
  if (const int copy_error = CopyFile(source, target, true)) return copy_error;
  if (unlink(from.c_str()) != 0) {
    const int unlink_error = errno;
    unlink(to.c_str());
    return unlink_error;
  }
  return 0;
}

int SetFileTimes(std::u16string_view path, std::int64_t access_time, std::int64_t modify_time) {
  std::string native;
  if (!NativeArg(path, native)) return errno;
  timespec times[2] = {};
  times[0].tv_sec = static_cast<time_t>(access_time);
  times[1].tv_sec = static_cast<time_t>(modify_time);
  return utimensat(AT_FDCWD, native.c_str(), times, 0) == 0 ? 0 : errno;
}

int ListFolder(std::u16string_view folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  std::string native;
  if (!NativeArg(folder, native)) return EINVAL;
  if (native.empty()) return ENOENT;
  Descriptor fd(Retry([&] { return open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd.valid()) return errno;
  DIR* dir = fdopendir(fd.get());
  if (!dir) return errno;
  fd.Release();
  int error = 0;
  try {
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir);
      if (!entry) {
        error = errno;  // 0 at the end of the folder
        break;
      }
      bool is_folder = entry->d_type == DT_DIR;
      bool is_link = entry->d_type == DT_LNK;
      if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
        // A link to a folder lists as a folder, as a junction does on Windows.
        struct stat st;
        is_folder = fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        if (entry->d_type == DT_UNKNOWN) {
          is_link = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        }
      }
      entries.push_back({FromNativePath(entry->d_name), is_folder, is_link});
    }
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  closedir(dir);
  if (error != 0) std::vector<FolderEntry>().swap(entries);
  return error;
}

std::uint64_t detail::RemainingSizeGuess(std::FILE* stream) {
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
  const off_t here = ftello(stream);
  return static_cast<std::uint64_t>(st.st_size) - std::min<std::uint64_t>(st.st_size, here > 0 ? here : 0);
}

int ReadAt(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> bytes, std::size_t& got) {
  got = 0;
  if (!stream) return EBADF;
  const int fd = fileno(stream);
  while (got < bytes.size()) {
    const ssize_t n = Retry(
        [&] { return pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(offset + got)); });
    if (n < 0) {
      const int error = errno;
      got = 0;
      return error;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return 0;
}

int AwaitContent(std::FILE* stream, int wait_ms) {
  if (!stream) return EBADF;
  struct stat st;
  if (fstat(fileno(stream), &st) != 0) return errno;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return ENODEV;
  if (!S_ISFIFO(st.st_mode)) return 0;
  // A pipe opened without waiting reports neither data nor its end until a writer has come: poll
  // returns once one has written or come and gone.
  pollfd entry{fileno(stream), POLLIN, 0};
  const int ready = Retry([&] { return poll(&entry, 1, std::max(wait_ms, 0)); });
  if (ready < 0) return errno;
  return ready == 0 ? ETIMEDOUT : 0;
}

void IgnoreFileSizeSignal() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace ocelo::sys
