// Folder walking, copies and deletion: listing and matching, existence tests, `CopyFileTo`, and
// `TempFileList`, the paths removed (optionally after a copy-back) when the list is destroyed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Full paths of a folder's entries in the system's order; folders end in a separator. One level only.
std::vector<std::u16string> ListFolder(std::u16string_view folder, bool skip_dots);

/// The files (not folders) of the folder named by the path (or of its folder part) matching the pattern.
std::vector<std::u16string> ListMatchingFiles(std::u16string_view path, std::u16string_view pattern);

/// Whether the path's file name matches a pattern in which only "*" is a wildcard, without letter case.
///   notes.TXT ~ notes*.txt => true      xnotes.txt ~ notes*.txt => false      a ~ *.* => false
bool MatchesPattern(std::u16string_view path, std::u16string_view pattern);

/// True when the path, without one trailing separator, is an existing folder.
bool FolderExists(std::u16string_view path);

/// True when the path exists: a file with content, a folder, or (unless `non_empty`) an empty file.
bool FileExists(std::u16string_view path, bool non_empty = false);

/// True when the folder (or the folder of a file path) holds nothing but "." and "..".
bool IsFolderEmpty(std::u16string_view path);

/// Copies a file, creating the target's folder first; keeps the source's times. False when the source is
/// missing, when `fail_if_exists` is set and the target exists, or when the copy fails. A target inside
/// the temporary root (a Rescue backup) is one of our working files: made 0600, never written through a link.
[[nodiscard]] bool CopyFileTo(std::u16string_view source, std::u16string_view target, bool fail_if_exists);

/// Registers every file named like "<title>*.<extension>" in the path's folder that is not read-only and
/// was last modified at least `days` days ago for removal at process exit. False when any was registered.
bool ScheduleOldFiles(std::u16string_view path, int days);

class TempFileList;

/// The process-wide list of old files to remove at exit, filled by ScheduleOldFiles; created on first use.
TempFileList& OldFileList();

/// Paths to remove when the list is destroyed, each optionally copied back to a target first.
class TempFileList {
 public:
  TempFileList() = default;
  TempFileList(const TempFileList&) = delete;
  TempFileList& operator=(const TempFileList&) = delete;
  virtual ~TempFileList();

  virtual bool Add(std::u16string_view path);
  virtual bool Add(const char16_t* path);
  virtual bool AddList(const std::vector<std::u16string>& paths);
  virtual bool AddPair(std::u16string_view path, std::u16string_view target);
  virtual bool CopyBack();
  virtual bool RemoveAll();

  /// Adds a file this process has just written, to be removed only while it is still that file: one that
  /// another process has since put in its place (another inode, size or modification time) stays. False,
  /// registering nothing, when the file cannot be looked at now.
  bool AddOwned(std::u16string_view path);

  const std::vector<std::u16string>& Paths() const { return paths_; }
  const std::vector<std::u16string>& Targets() const { return targets_; }

 private:
  // What a file was when it was registered with AddOwned.
  struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modify_time = 0;
    bool operator==(const Identity&) const = default;
  };

  std::vector<std::u16string> paths_;
  std::vector<std::u16string> targets_;
  std::map<std::u16string, Identity> owned_;
};

}  // namespace ocelo
