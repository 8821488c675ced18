// Files and folders on Windows: status and attributes from the system, streams opened with CreateFileW
// under sharing modes (so a file another open holds is the system's own sharing violation), and writes
// that replace a file in one MoveFileExW after FlushFileBuffers.
#include "platform/fs.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>

#include "base/paths.h"
#include "base/utf.h"
#include "platform/fs_detail.h"
#include "platform/win32/native.h"

namespace ocelo::sys {
namespace {

using detail::kTempMarker;
using detail::kTempRandomLength;
using detail::kTempSuffixChars;
using win32::ErrorNumber;
using win32::Handle;
using win32::LastErrorNumber;
using win32::WidePath;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;
constexpr std::uint32_t kModeFile = 0x8000;
constexpr std::uint32_t kModeFolder = 0x4000;

// The error number of a failed call on a wide path. The system says "path not found" for a path that runs
// through a file (f.txt\x), where POSIX says ENOTDIR: the nearest part of the path that exists tells the
// two apart.
int PathError(const std::wstring& wide, DWORD error) {
  if (error != ERROR_PATH_NOT_FOUND) return ErrorNumber(error);
  std::wstring prefix = wide;
  for (std::size_t separator; (separator = prefix.find_last_of(L"\\/")) != std::wstring::npos && separator > 2;) {
    prefix.resize(separator);
    const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
    if (attributes != kNoAttributes) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ENOENT : ENOTDIR;
  }
  return ENOENT;
}

int LastPathError(const std::wstring& wide) { return PathError(wide, ::GetLastError()); }

// The attribute word of a wide path, or kNoAttributes with the error number in `error`.
DWORD AttributesOf(const std::wstring& wide, int& error) {
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  error = attributes == kNoAttributes ? LastPathError(wide) : 0;
  return attributes;
}

// A handle on a file or folder for reading its information only; it conflicts with no other open.
Handle OpenForInfo(const std::wstring& wide) {
  return Handle(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

int WriteAll(HANDLE handle, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, data, piece, &written, nullptr)) return LastErrorNumber();
    if (written == 0) return EIO;
    data += written;
    size -= written;
  }
  return 0;
}

// A name part for temporary files that other processes are unlikely to pick at the same moment.
std::u16string RandomSuffix() {
  static std::atomic<unsigned long long> counter{0};
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  unsigned long long mix = static_cast<unsigned long long>(now.QuadPart) * 2654435761u ^
                           (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20) ^ ++counter;
  std::u16string out;
  for (std::size_t i = 0; i < kTempRandomLength; ++i) {
    mix *= 0x9E3779B97F4A7C15ull;
    out += static_cast<char16_t>(kTempSuffixChars[(mix >> 40) % kTempSuffixChars.size()]);
  }
  return out;
}

// The folder part of a path with its separator ("" for a bare name).
std::u16string FolderWithSeparator(std::u16string_view path) {
  const std::size_t separator = path.find_last_of(u"\\/");
  return separator == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, separator + 1));
}

// Removes the temporary files that killed runs left in a folder: our names, plain files unchanged for a
// day. A live writer keeps its temporary file open without sharing, so the system refuses to delete it.
// Each folder is looked at once per process.
void RemoveStaleTemps(const std::u16string& folder) {
  if (!detail::FirstSweepOf(folder)) return;
  std::wstring pattern;
  if (WidePath(folder + u"*", pattern) != 0) return;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::int64_t cutoff = static_cast<std::int64_t>(std::time(nullptr)) - detail::kStaleTempAge;
  do {
    const std::u16string name = win32::FromWide(found.cFileName, wcslen(found.cFileName));
    if (!detail::IsTempName(std::u16string_view(name))) continue;
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (win32::UnixTime(found.ftLastWriteTime) >= cutoff) continue;
    std::wstring wide;
    if (WidePath(folder + name, wide) == 0) ::DeleteFileW(wide.c_str());
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

// A temporary file beside `target`, ".<name>.ocelo-XXXXXX", created new and opened for writing; others
// may read it (ReadBack does) but neither write nor delete it while it is written.
int CreateTempBeside(const std::u16string& target, std::u16string& temp_path, Handle& file) {
  const std::u16string folder = FolderWithSeparator(target);
  RemoveStaleTemps(folder);
  std::u16string name = target.substr(folder.size());
  // A name may take 255 UTF-16 units on NTFS, but only 255 bytes on a file system of POSIX's behind a share
  // or Wine: the temporary name keeps within both.
  constexpr std::size_t kRoom = 255 - 1 - kTempMarker.size() - kTempRandomLength;
  while (!name.empty() && (name.size() > kRoom || ToNativePath(name).size() > kRoom)) {
    const bool pair = name.size() >= 2 && IsLowSurrogate(name.back()) && IsHighSurrogate(name[name.size() - 2]);
    name.resize(name.size() - (pair ? 2 : 1));
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_path = folder + u"." + name + std::u16string(kTempMarker.begin(), kTempMarker.end()) + RandomSuffix();
    std::wstring wide;
    if (const int error = WidePath(temp_path, wide)) return error;
    file.Reset(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return 0;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return ErrorNumber(error);
  }
  return EEXIST;
}

void RemoveTemp(Handle& file, const std::u16string& temp_path) {
  file.Reset();
  std::wstring wide;
  if (WidePath(temp_path, wide) == 0) ::DeleteFileW(wide.c_str());
}

// Checks an existing target before its content is replaced and holds it for the time of the replacement:
// the handle shares nothing but deletion, so a file that anyone else has open is busy (EBUSY), as an
// exclusive lock would make it. Sets `attributes` (kNoAttributes for no target).
int PrepareTarget(const std::u16string& target, DWORD& attributes, Handle& hold) {
  std::wstring wide;
  if (const int error = WidePath(target, wide)) return error;
  int error = 0;
  attributes = AttributesOf(wide, error);
  if (attributes == kNoAttributes) return error == ENOENT ? 0 : error;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
  hold.Reset(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!hold.valid()) {
    const DWORD why = ::GetLastError();
    if (why == ERROR_FILE_NOT_FOUND) {
      attributes = kNoAttributes;  // gone meanwhile: the rename makes it anew
      return 0;
    }
    return ErrorNumber(why);
  }
  return 0;
}

// Finishes a temporary file: its bytes on the disk, then renamed over (or, with `no_replace`, to) the
// target, the rename itself written through. Removes the temporary file when anything fails.
int CommitTemp(Handle& file, const std::u16string& temp_path, const std::u16string& target, bool no_replace,
               Handle& hold) {
  int error = ::FlushFileBuffers(file.get()) ? 0 : LastErrorNumber();
  file.Reset();
  std::wstring from, to;
  if (error == 0) error = WidePath(temp_path, from);
  if (error == 0) error = WidePath(target, to);
  hold.Reset();  // the rename needs the target free
  if (error == 0) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (no_replace ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (!::MoveFileExW(from.c_str(), to.c_str(), flags)) error = LastErrorNumber();
  }
  if (error != 0) RemoveTemp(file, temp_path);
  return error;
}

// A handle made a C stream; the handle is the stream's from then on.
OpenResult StreamFromHandle(Handle& file, const detail::OpenMode& mode) {
  const int flags = _O_BINARY | (mode.append ? _O_APPEND : 0) | (!mode.write ? _O_RDONLY : mode.read ? _O_RDWR : 0);
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), flags);
  if (fd < 0) return {nullptr, EMFILE};
  file.Release();
  std::FILE* stream = ::_fdopen(fd, mode.stdio);
  if (!stream) {
    const int error = errno;
    ::_close(fd);
    return {nullptr, error != 0 ? error : EMFILE};
  }
  return {stream, 0};
}

}  // namespace

namespace {

// The status of an open file.
int RecordOfHandle(HANDLE file, StatRecord& record) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return LastErrorNumber();
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The C runtime's view: read for everyone, write unless read-only, run for folders.
  std::uint32_t permissions = 0444;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) permissions |= 0222;
  if (folder) permissions |= 0111;
  record.device = info.dwVolumeSerialNumber;
  record.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  record.mode = (folder ? kModeFolder : kModeFile) | permissions;
  record.links = info.nNumberOfLinks;
  record.size = folder ? 0
                       : static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                                   info.nFileSizeLow);
  record.access_time = win32::UnixTime(info.ftLastAccessTime);
  record.modify_time = win32::UnixTime(info.ftLastWriteTime);
  record.change_time = win32::UnixTime(info.ftCreationTime);
  return 0;
}

}  // namespace

int Stat(std::u16string_view path, StatRecord& record) {
  record = StatRecord();
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  Handle file = OpenForInfo(wide);
  if (!file.valid()) return LastPathError(wide);
  return RecordOfHandle(file.get(), record);
}

int StatStream(std::FILE* stream, StatRecord& record) {
  record = StatRecord();
  if (!stream) return EBADF;
  const intptr_t handle = ::_get_osfhandle(::_fileno(stream));
  if (handle == -1) return EBADF;
  return RecordOfHandle(reinterpret_cast<HANDLE>(handle), record);
}

int GetFileId(std::u16string_view path, FileId& id) {
  id = FileId();
  return detail::FileIdByStat(path, id);
}

int GetAttributes(std::u16string_view path, std::uint32_t& attributes) {
  attributes = kInvalidAttributes;
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  int error = 0;
  const DWORD word = AttributesOf(wide, error);
  if (word == kNoAttributes) return error;
  attributes = word;
  return 0;
}

int SetAttributes(std::u16string_view path, std::uint32_t attributes) {
  std::wstring wide;
  if (attributes == kInvalidAttributes) return EINVAL;
  if (const int error = WidePath(path, wide)) return error;
  // The folder bit is the system's to say; it cannot be set or cleared.
  const DWORD word = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  return ::SetFileAttributesW(wide.c_str(), word ? word : FILE_ATTRIBUTE_NORMAL) ? 0 : LastErrorNumber();
}

OpenResult OpenStream(std::u16string_view path, const char* mode_text) {
  const detail::OpenMode mode = detail::ParseMode(mode_text);
  std::wstring wide;
  if (!mode.valid) return {nullptr, EINVAL};
  if (const int error = WidePath(path, wide)) return {nullptr, error};
  int error = 0;
  const DWORD attributes = AttributesOf(wide, error);
  if (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {nullptr, EISDIR};
  if (attributes != kNoAttributes && mode.write && (attributes & FILE_ATTRIBUTE_READONLY)) return {nullptr, EACCES};
  // Readers share the file with readers; a writer shares it with nobody. A second open against those
  // rules fails with the system's sharing violation (EBUSY), also within one process.
  const DWORD access = (mode.read ? GENERIC_READ : 0) | (mode.write ? GENERIC_WRITE : 0);
  const DWORD share = mode.write ? 0 : FILE_SHARE_READ;
  const DWORD disposition = mode.must_create ? CREATE_NEW : mode.create ? OPEN_ALWAYS : OPEN_EXISTING;
  Handle file(::CreateFileW(wide.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return {nullptr, LastPathError(wide)};
  // "w" empties the file only now that it is held.
  if (mode.truncate && ::GetFileType(file.get()) == FILE_TYPE_DISK && !::SetEndOfFile(file.get())) {
    return {nullptr, LastErrorNumber()};
  }
  return StreamFromHandle(file, mode);
}

int StreamHandle(std::FILE* stream) { return stream ? ::_fileno(stream) : -1; }

struct FileReplacement::State {
  std::u16string target;
  std::u16string temp_path;
  Handle file;  // the temporary file
  Handle hold;  // an existing target, held until the new content is in place
};

FileReplacement::FileReplacement() : state_(nullptr) {}

FileReplacement::~FileReplacement() {
  if (state_ && state_->file.valid()) RemoveTemp(state_->file, state_->temp_path);
  delete state_;
}

int FileReplacement::Begin(std::u16string_view path, WriteKind kind) {
  delete state_;
  state_ = new (std::nothrow) State;
  if (!state_) return ENOMEM;
  State& s = *state_;
  if (path.empty()) return ENOENT;
  if (IsSeparator(path.back(), PathStyle::kWindows)) return EISDIR;
  s.target = std::u16string(path);
  DWORD attributes = kNoAttributes;
  if (const int error = PrepareTarget(s.target, attributes, s.hold)) return error;
  if (const int error = CreateTempBeside(s.target, s.temp_path, s.file)) return error;
  // A user's file keeps its attributes (hidden, system, archive, not indexed); a working file gets none.
  if (attributes != kNoAttributes && kind == WriteKind::kUserFile) {
    std::wstring wide;
    if (WidePath(s.temp_path, wide) == 0) ::SetFileAttributesW(wide.c_str(), attributes);
  }
  return 0;
}

int FileReplacement::Append(std::span<const std::uint8_t> bytes) {
  if (!state_ || !state_->file.valid()) return EBADF;
  const int error = WriteAll(state_->file.get(), bytes.data(), bytes.size());
  if (error != 0) RemoveTemp(state_->file, state_->temp_path);
  return error;
}

int FileReplacement::ReadBack(std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::FILE* stream = nullptr;
  if (const int error = OpenReadBack(stream)) return error;
  const int error = ReadWholeFile(stream, bytes);
  std::fclose(stream);
  return error;
}

int FileReplacement::OpenReadBack(std::FILE*& stream) {
  stream = nullptr;
  if (!state_ || !state_->file.valid()) return EBADF;
  // A second handle for reading; the writing handle lets nobody else write or delete the file, so this
  // reads the very file written.
  std::wstring wide;
  if (const int error = WidePath(state_->temp_path, wide)) return error;
  Handle reader(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!reader.valid()) return LastErrorNumber();
  const detail::OpenMode mode = detail::ParseMode("rb");
  const OpenResult opened = StreamFromHandle(reader, mode);
  if (!opened.stream) return opened.error;
  stream = opened.stream;
  return 0;
}

int FileReplacement::SetModifyTime(std::int64_t time) {
  if (!state_ || !state_->file.valid()) return EBADF;
  const FILETIME modify = win32::FileTime(time);
  return ::SetFileTime(state_->file.get(), nullptr, nullptr, &modify) ? 0 : LastErrorNumber();
}

// Each Commit makes its file durable and renames it at once (FlushFileBuffers, then a write-through
// move): the batch that groups the syncs of a run is the POSIX layer's, and here a batch changes nothing.
void FileReplacement::JoinBatch() {}

bool FileReplacement::Deferred() const { return false; }

int BeginBatch() { return 0; }

int EndBatch() { return 0; }

int SettlePending(std::u16string_view path) { return 0; }

int FileReplacement::Commit() {
  if (!state_ || !state_->file.valid()) return EBADF;
  return CommitTemp(state_->file, state_->temp_path, state_->target, false, state_->hold);
}

int Access(std::u16string_view path, int mode) {
  std::wstring wide;
  if (mode & ~6) return EINVAL;
  if (const int error = WidePath(path, wide)) return error;
  int error = 0;
  const DWORD attributes = AttributesOf(wide, error);
  if (attributes == kNoAttributes) return error;
  if ((mode & 2) && (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return EACCES;
  }
  return 0;
}

int MakeFolder(std::u16string_view path) {
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  return ::CreateDirectoryW(wide.c_str(), nullptr) ? 0 : LastErrorNumber();
}

// A new folder inherits the access of the one around it; under the user's profile that is the user's
// alone already.
int MakePrivateFolder(std::u16string_view path) { return MakeFolder(path); }

bool IsPrivateFolder(std::u16string_view path) {
  std::wstring wide;
  if (WidePath(path, wide) != 0) return false;
  while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  int error = 0;
  const DWORD attributes = AttributesOf(wide, error);
  // A junction or link may lead anywhere: only a folder itself counts.
  return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int RemoveFile(std::u16string_view path) {
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  return ::DeleteFileW(wide.c_str()) ? 0 : LastErrorNumber();  // a read-only file stays: EACCES
}

int RemoveFolder(std::u16string_view path) {
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  return ::RemoveDirectoryW(wide.c_str()) ? 0 : LastErrorNumber();
}

int CopyFile(std::u16string_view source, std::u16string_view target_path, bool fail_if_exists, WriteKind kind) {
  std::wstring from, to;
  if (const int error = WidePath(source, from)) return error;
  if (const int error = WidePath(target_path, to)) return error;
  int error = 0;
  const DWORD source_attributes = AttributesOf(from, error);
  if (source_attributes == kNoAttributes) return error;
  if (source_attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  if (fail_if_exists && ::GetFileAttributesW(to.c_str()) != kNoAttributes) return EEXIST;
  const std::u16string target(target_path);
  if (target.empty()) return ENOENT;
  if (IsSeparator(target.back(), PathStyle::kWindows)) return EISDIR;
  DWORD attributes = kNoAttributes;
  Handle hold;
  if (!fail_if_exists) {
    if (const int prepare_error = PrepareTarget(target, attributes, hold)) return prepare_error;
  }
  std::u16string temp_path;
  Handle file;
  if (const int create_error = CreateTempBeside(target, temp_path, file)) return create_error;
  // The system's copy brings the content, attributes and times; it writes over the empty temporary file.
  file.Reset();
  std::wstring temp;
  error = WidePath(temp_path, temp);
  if (error == 0 && !::CopyFileW(from.c_str(), temp.c_str(), FALSE)) error = LastErrorNumber();
  if (error == 0 && kind == WriteKind::kWorkingFile) ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (error == 0) {
    // Opened again to flush the copy to the disk before the rename makes it visible.
    file.Reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
      // A read-only copy cannot be opened for writing; its content is on the disk once the copy closed it.
      const DWORD copied = ::GetFileAttributesW(temp.c_str());
      if (copied == kNoAttributes || !(copied & FILE_ATTRIBUTE_READONLY)) error = LastErrorNumber();
    }
  }
  if (error != 0) {
    RemoveTemp(file, temp_path);
    return error;
  }
  if (!file.valid()) {
    hold.Reset();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (fail_if_exists ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (::MoveFileExW(temp.c_str(), to.c_str(), flags)) return 0;
    error = LastErrorNumber();
    ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(temp.c_str());
    return error;
  }
  return CommitTemp(file, temp_path, target, fail_if_exists, hold);
}

// Each copy is durable at its name on return (CopyFile), so a backup needs no batch here.
int BackUpFile(std::u16string_view source, std::u16string_view target, std::int64_t& copied) {
  copied = -1;
  if (const int error = CopyFile(source, target, false, WriteKind::kWorkingFile)) return error;
  StatRecord record;
  if (Stat(target, record) == 0) copied = record.size;
  return 0;
}

int MoveFile(std::u16string_view source, std::u16string_view target) {
  std::wstring from, to;
  if (const int error = WidePath(source, from)) return error;
  if (const int error = WidePath(target, to)) return error;
  // Onto another volume the system copies a file and removes its source; a folder cannot move there.
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) ? 0
                                                                                                 : LastErrorNumber();
}

int SetFileTimes(std::u16string_view path, std::int64_t access_time, std::int64_t modify_time) {
  std::wstring wide;
  if (const int error = WidePath(path, wide)) return error;
  Handle file(::CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return LastErrorNumber();
  const FILETIME access = win32::FileTime(access_time);
  const FILETIME modify = win32::FileTime(modify_time);
  return ::SetFileTime(file.get(), nullptr, &access, &modify) ? 0 : LastErrorNumber();
}

int ListFolder(std::u16string_view folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  if (folder.empty()) return ENOENT;
  std::u16string pattern(folder);
  if (!IsSeparator(pattern.back(), PathStyle::kWindows)) pattern += u'\\';
  pattern += u'*';
  std::wstring wide;
  if (const int error = WidePath(pattern, wide)) return error;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;  // a drive's root may have no entry
    // A file named as the folder: its pattern runs through the file (which Wine calls an invalid name).
    const bool through = error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME;
    return PathError(wide, through ? ERROR_PATH_NOT_FOUND : error);
  }
  int error = 0;
  try {
    do {
      // A junction or symbolic link is a reparse point with its tag; Wine shows a POSIX link as a reparse
      // point without one. Other tags (a cloud file's placeholder, say) are the entry itself.
      const DWORD tag = found.dwReserved0;
      const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                        (tag == IO_REPARSE_TAG_MOUNT_POINT || tag == IO_REPARSE_TAG_SYMLINK || tag == 0);
      entries.push_back({win32::FromWide(found.cFileName, wcslen(found.cFileName)),
                         (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, link});
    } while (::FindNextFileW(search, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) error = LastErrorNumber();
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  ::FindClose(search);
  if (error != 0) std::vector<FolderEntry>().swap(entries);
  return error;
}

std::uint64_t detail::RemainingSizeGuess(std::FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &size) ||
      size.QuadPart <= 0) {
    return 0;
  }
  const std::int64_t here = ::_ftelli64(stream);
  const std::uint64_t total = static_cast<std::uint64_t>(size.QuadPart);
  return total - std::min<std::uint64_t>(total, here > 0 ? static_cast<std::uint64_t>(here) : 0);
}

int ReadAt(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> bytes, std::size_t& got) {
  got = 0;
  if (!stream) return EBADF;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  // A read with its own offset; on a handle opened for plain reading it leaves the handle's position
  // where the read ended, which the stream does not look at until it is moved itself (fseek).
  while (got < bytes.size()) {
    const std::uint64_t at = offset + got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
    if (!::ReadFile(handle, bytes.data() + got, wanted, &read, &where)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      got = 0;
      return LastErrorNumber();
    }
    if (read == 0) break;
    got += read;
  }
  return 0;
}

int AwaitContent(std::FILE* stream, int wait_ms) {
  if (!stream) return EBADF;
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE) return EBADF;
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR: return ENODEV;  // a console or device: it may never end
    case FILE_TYPE_PIPE: break;
    default: return 0;
  }
  // A pipe: ready once a writer has written something or closed its end.
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(wait_ms, 0));
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return 0;  // ended: reads as such
    if (available > 0) return 0;
    if (::GetTickCount64() >= deadline) return ETIMEDOUT;
    ::Sleep(5);
  }
}

// Windows has no signal for the file-size limit: a write beyond what the disk holds fails by itself.
void IgnoreFileSizeSignal() {}

}  // namespace ocelo::sys
