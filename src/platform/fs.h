// Files and folders of the operating system: the only door from the program to the file system.
// Paths are UTF-16 texts; on POSIX they become UTF-8 here, with lone surrogates U+DC80..U+DCFF standing
// for the bytes of a file name that are not valid UTF-8, so every name round-trips.
//
// Every call that can fail answers with a C error number: 0 for success, else the errno value of the
// failure (EBUSY for a file that another open holds). What a call gives besides goes into an
// out-parameter or, for a stream, into OpenResult. errno itself carries nothing across this interface.
#pragma once

#include <compare>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo::sys {

/// The status of a path, with 64-bit sizes and times (seconds since 1970).
struct StatRecord {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t mode = 0;  ///< type bits as on Windows: 0x8000 file, 0x4000 folder; permission bits as the system's
  std::uint64_t links = 0;
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  std::uint64_t raw_device = 0;
  std::int64_t size = 0;
  std::int64_t access_time = 0;
  std::int64_t modify_time = 0;
  std::int64_t change_time = 0;
};

/// Reads the status of a path (following links). Returns 0, or the C error number of the failure.
[[nodiscard]] int Stat(std::u16string_view path, StatRecord& record);

/// Stat of the file an open stream reads: the very file, whatever its path names by now, and no lookup of
/// the path. Returns 0, or the C error number of the failure.
[[nodiscard]] int StatStream(std::FILE* stream, StatRecord& record);

/// Which file a path names: its device and file number, links followed. Two paths name one file exactly
/// when their ids are equal, however they are spelt ("." and "..", letter case on a file system that ignores
/// it, a symbolic or hard link).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};

/// Reads the id of the file a path names (following links); for a replacement waiting in a batch, the id
/// of the new file that the path will name. Returns 0 or the C error number (ENOENT
/// when there is no such file); after a failure `id` is all zero.
[[nodiscard]] int GetFileId(std::u16string_view path, FileId& id);

/// Whether two paths name one file: `same` is true when both exist and their ids are equal. Returns 0,
/// or the C error number of the first path whose id cannot be read (then `same` is false).
[[nodiscard]] int SameFile(std::u16string_view a, std::u16string_view b, bool& same);

/// Windows file attribute bits, derived from the system's view of a path.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;  ///< no write permission for anyone
inline constexpr std::uint32_t kAttrHidden = 0x2;    ///< name starts with "."
inline constexpr std::uint32_t kAttrSystem = 0x4;    ///< never set on POSIX
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrNormal = 0x80;  ///< a file with none of the above
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;

/// Reads the attribute word of a path into `attributes`. Returns 0 or the C error number; after a
/// failure `attributes` is kInvalidAttributes.
[[nodiscard]] int GetAttributes(std::u16string_view path, std::uint32_t& attributes);

/// Applies an attribute word: the read-only bit clears or restores the write permission bits; the
/// hidden and system bits cannot be changed on POSIX and are ignored. kInvalidAttributes is EINVAL.
/// Returns 0 or the C error number.
[[nodiscard]] int SetAttributes(std::u16string_view path, std::uint32_t attributes);

/// An opened stream, or the C error number of the failed open.
struct OpenResult {
  std::FILE* stream = nullptr;  ///< the caller closes it
  int error = 0;                ///< 0 when `stream` is open
};

/// How a stream is opened, as the C runtime's mode texts "rb", "wb", "ab".
/// A stream opened for reading holds a shared lock on the file, one opened for writing or appending an
/// exclusive one; a lock that another process holds makes the open fail with EBUSY at once (the
/// sharing violation that callers retry). Locks belong to each open stream, so a second open by the same
/// process conflicts with its first one just as another process's would. A folder does not open (EISDIR),
/// nor does a read-only file for writing (EACCES, also for root); "w" empties a file only once its lock
/// is won. A mode text that is none of these is EINVAL.
[[nodiscard]] OpenResult OpenStream(std::u16string_view path, const char* mode);

/// The system's file handle under a stream, for size queries of the open file.
int StreamHandle(std::FILE* stream);

/// Whose file a write makes. A user's file is written where its name leads: a link at the name is followed
/// and stays, and a new file gets the usual mode (0666 less the umask). The program's own working files
/// under its temporary root (Rescue backups, the page cache, command scripts) are never written through a
/// link, whoever planted it: a link at the name is replaced by the new file, which is created 0600.
enum class WriteKind { kUserFile, kWorkingFile };

/// Every write below goes through a temporary file ".<name>.ocelo-XXXXXX" beside its target, created
/// with O_EXCL | O_NOFOLLOW and locked while it is written. The first write of a process into a folder
/// removes the temporary files there that killed runs left behind: names of that form, regular files of
/// the calling user that nobody holds, last modified more than a day ago by the system's clock (which
/// stamped them). Nothing else is removed.

/// Replaces a file's whole content atomically: the bytes go to a new file beside the target, which is
/// then renamed over it, so readers see the old or the new content, never a mix. A target that exists
/// keeps its permission bits. Fails, leaving the target untouched, when the target is read-only
/// (kAttrReadOnly), locked by another process (EBUSY), its folder is missing or not writable, or
/// the write fails (disk full). Returns 0 or the C error number.
[[nodiscard]] int ReplaceFile(std::u16string_view path, std::span<const std::uint8_t> bytes,
                              WriteKind kind = WriteKind::kUserFile);

/// ReplaceFile with the content given in pieces, so that a large content never has to be held whole:
/// Begin checks and locks the target and creates the temporary file, each Append adds a piece, Commit
/// renames the finished file over the target. A replacement that is not committed (a failure, or the
/// object going away) leaves the target as it was and no temporary file behind.
class FileReplacement {
 public:
  FileReplacement();
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  [[nodiscard]] int Begin(std::u16string_view path,
                          WriteKind kind = WriteKind::kUserFile);  ///< 0 or the C error number
  [[nodiscard]] int Append(std::span<const std::uint8_t> bytes);   ///< 0 or the C error number
  /// Reads what the temporary file holds now, from the file system rather than from memory, so the new
  /// content can be checked before Commit makes it visible. 0 or the C error number (`bytes` empty then).
  [[nodiscard]] int ReadBack(std::vector<std::uint8_t>& bytes);
  /// ReadBack as a stream from the temporary file's start, for a content too large to hold: the caller
  /// closes it before Commit. 0 or the C error number (`stream` null then).
  [[nodiscard]] int OpenReadBack(std::FILE*& stream);
  /// Gives the new file a modification time (its access time stays) before it replaces the target.
  [[nodiscard]] int SetModifyTime(std::int64_t time);
  [[nodiscard]] int Commit();  ///< 0 or the C error number
  /// Lets Commit leave the sync and the rename to an open batch (BeginBatch); after Begin.
  void JoinBatch();
  /// The Commit left the rename to an open batch.
  [[nodiscard]] bool Deferred() const;

 private:
  struct State;
  State* state_;
};

/// Batches of replacements (FileReplacement, ReplaceFile) and backups (BackUpFile) whose durability is
/// settled together: between BeginBatch and EndBatch, a Commit leaves its checked temporary file for later,
/// and the batch then syncs all of them at once (one syncfs per file system), renames the backups into
/// place and syncs their folders, and only then renames each replacement over its target and syncs each
/// folder once. Until then a target keeps its old content (and its lock); after a crash at any moment each
/// target holds its old or its complete new content, and one whose old content is gone has durable backups
/// of it wherever the batch made them. A replacement of a file whose backup failed in the batch leaves it
/// as it was. A full batch (256 MiB, or 256 to 4,096 files by the number of files the process may open)
/// settles at once. Batches nest; the outermost EndBatch settles. Each returns 0 or the C error number of
/// the first failure (whose target then stays as it was); EndBatch also tells one of an earlier settling.
[[nodiscard]] int BeginBatch();
[[nodiscard]] int EndBatch();
/// Settles the batch now when a replacement of `path` waits in it (an empty path: whatever waits), so that
/// the file can be read, backed up or replaced again.
[[nodiscard]] int SettlePending(std::u16string_view path);

/// `_waccess`: 0 when the path exists and allows `mode` (0 exists, 2 write, 4 read), else the C error
/// number (ENOENT missing, EACCES not allowed, also for a read-only file that root could write).
[[nodiscard]] int Access(std::u16string_view path, int mode);

/// `_wmkdir`: creates one folder. Returns 0 or the C error number.
[[nodiscard]] int MakeFolder(std::u16string_view path);

/// Creates one folder that only its owner may enter (mode 0700 on POSIX). Returns 0 or the C error number.
[[nodiscard]] int MakePrivateFolder(std::u16string_view path);

/// True when the path is a folder itself (not a link to one), owned by the calling user, and writable by
/// nobody else.
[[nodiscard]] bool IsPrivateFolder(std::u16string_view path);

/// `_wremove` of a file and `_wrmdir` of an empty folder. Return 0 or the C error number.
[[nodiscard]] int RemoveFile(std::u16string_view path);  ///< a read-only file stays (EACCES), as on Windows
[[nodiscard]] int RemoveFolder(std::u16string_view path);

/// `CopyFileW`: copies a file's content and permission bits and keeps its access and modification times,
/// as the system's copy does. With `fail_if_exists`, an existing target is an error. The target is
/// written beside itself and renamed into place, so a failed copy leaves an existing target intact.
/// A working file (`kind`) is made 0600 whatever the source's permission bits. Returns 0 or the C error number.
[[nodiscard]] int CopyFile(std::u16string_view source, std::u16string_view target, bool fail_if_exists,
                           WriteKind kind = WriteKind::kUserFile);

/// CopyFile of a file that is about to be replaced into a backup of it, a working file; `copied` is the size
/// of the backup written (-1 when there is none). Outside a batch it is CopyFile itself, durable at its name
/// on return, and `copied` is read back through that name. In a batch the checked copy waits there, and the
/// batch puts it in place before any replacement of the file copied (the same device and inode); a
/// replacement that does not wait in the batch settles it first. A replacement of `source` waiting in the
/// batch is for the caller to settle first (SettlePending). Returns 0 or the C error number.
[[nodiscard]] int BackUpFile(std::u16string_view source, std::u16string_view target, std::int64_t& copied);

/// `MoveFileW`: renames a file or folder; an existing target is an error. Returns 0 or the error number.
[[nodiscard]] int MoveFile(std::u16string_view source, std::u16string_view target);

/// `_wutime`: sets a path's access and modification times. Returns 0 or the C error number.
[[nodiscard]] int SetFileTimes(std::u16string_view path, std::int64_t access_time, std::int64_t modify_time);

/// One entry of a folder listing.
struct FolderEntry {
  std::u16string name;  ///< the name alone, without the folder
  bool is_folder = false;
  bool is_link = false;  ///< a symbolic link (on Windows also a junction): is_folder says where it leads
};

/// Reads the entries of one folder into `entries`, in the order the system enumerates them, "." and ".."
/// included (as `FindFirstFile` reports them). Returns 0 or the C error number; after a failure
/// `entries` is empty.
[[nodiscard]] int ListFolder(std::u16string_view folder, std::vector<FolderEntry>& entries);

/// Reads a stream from where it stands to its end into `bytes` (replacing what they held; their
/// capacity is kept and used). The end is where reading stops, never the size the file's status
/// reports: a file may shrink or grow meanwhile, and pipes and /proc files report 0. A stream with
/// more than `limit` bytes (or a regular file whose status already says so, before anything is
/// allocated) is EFBIG; memory running out is ENOMEM; a failed read is its C error number (EIO when
/// the system gives none). After a failure `bytes` is empty.
[[nodiscard]] int ReadWholeFile(std::FILE* stream, std::vector<std::uint8_t>& bytes, std::uint64_t limit = UINT64_MAX);

/// Reads up to `bytes.size()` bytes at `offset` of the file under a stream, without moving the stream or
/// touching its buffer, so that several threads may read one file at once; `got` is their count, fewer
/// only at the file's end. Returns 0 or the C error number (`got` then 0).
[[nodiscard]] int ReadAt(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> bytes, std::size_t& got);

/// Readies a stream opened for reading for ReadWholeFile. A pipe that no writer has opened yet reads as
/// empty, so it is waited for, up to `wait_ms` milliseconds (ETIMEDOUT when none came: there is nothing to
/// read). A device is refused at once (ENODEV): it may never end (/dev/zero) or wait for a person (a
/// terminal). Anything else, a regular or /proc file, is ready at once (0).
[[nodiscard]] int AwaitContent(std::FILE* stream, int wait_ms);

/// Makes a write beyond the process's file-size limit fail with EFBIG, as a full disk does, instead of
/// ending the process with SIGXFSZ (which leaves a temporary file behind and reports nothing). Each program
/// calls it once at start.
void IgnoreFileSizeSignal();

/// A path in the system's own form (UTF-8 bytes on POSIX) and back.
std::string ToNativePath(std::u16string_view path);
std::u16string FromNativePath(std::string_view native);

}  // namespace ocelo::sys
