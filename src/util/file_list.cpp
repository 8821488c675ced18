// Folder walking, copies and deletion, and the lists of temporary files removed at exit.
#include "util/file_list.h"

#include <algorithm>
#include <cstdint>

#include "base/paths.h"
#include "platform/fs.h"
#include "util/file_status.h"
#include "util/folders.h"
#include "util/policy.h"
#include "util/strings.h"

namespace ocelo {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

bool IsDots(std::u16string_view name) { return name == u"." || name == u".."; }

// Makes sure the folder of a target path exists.
bool EnsureFolderOf(std::u16string_view target) {
  const std::u16string folder = FolderPart(target);
  return FolderExists(folder) || CreateFolderTree(folder);
}

}  // namespace

std::vector<std::u16string> ListFolder(std::u16string_view folder, bool skip_dots) {
  const std::u16string base = AddSlash(folder, kPathSeparator);
  std::vector<std::u16string> paths;
  std::vector<sys::FolderEntry> entries;
  if (sys::ListFolder(folder, entries) != 0) return paths;  // a folder that cannot be read lists nothing
  for (const sys::FolderEntry& entry : entries) {
    if (skip_dots && IsDots(entry.name)) continue;
    std::u16string path = base + entry.name;
    if (entry.is_folder) path += kPathSeparator;
    paths.push_back(std::move(path));
  }
  return paths;
}

std::vector<std::u16string> ListMatchingFiles(std::u16string_view path, std::u16string_view pattern) {
  const std::u16string folder = FolderExists(path) ? std::u16string(path) : FolderPart(path);
  std::vector<std::u16string> files;
  for (std::u16string& entry : ListFolder(folder, true)) {
    if (entry.empty() || IsSeparator(entry.back())) continue;
    if (MatchesPattern(entry, pattern)) files.push_back(std::move(entry));
  }
  return files;
}

bool MatchesPattern(std::u16string_view path, std::u16string_view pattern) {
  const std::u16string name = ToLower(FileName(path));
  const std::u16string lower = ToLower(pattern);
  if (lower.empty() || lower == u"*") return true;
  if (lower == u"*.*") return name.find(u'.') != std::u16string::npos;
  // Without a wildcard the name must be the pattern itself: anchoring one piece at both ends alone
  // would let "abc" match "abcabc".
  if (lower.find(u'*') == std::u16string::npos) return name == lower;

  std::vector<std::u16string_view> pieces;
  const std::u16string_view view(lower);
  for (std::size_t start = 0; start <= view.size();) {
    std::size_t star = view.find(u'*', start);
    if (star == std::u16string_view::npos) star = view.size();
    if (star > start) pieces.push_back(view.substr(start, star - start));
    start = star + 1;
  }
  std::size_t from = 0;
  for (std::u16string_view piece : pieces) {
    const std::size_t found = name.find(piece, from);
    if (found == std::u16string::npos) return false;
    from = found + piece.size();
  }
  if (pieces.empty()) return true;
  const std::u16string_view whole(name);
  if (lower.front() != u'*' && !whole.starts_with(pieces.front())) return false;
  if (lower.back() != u'*' && !whole.ends_with(pieces.back())) return false;
  return true;
}

bool FolderExists(std::u16string_view path) {
  const std::u16string stripped = StripSlash(path);
  if (IsNetworkPath(stripped)) return sys::Access(stripped, 0) == 0;
  FileStatus status(stripped);
  return !status.Failed() && status.IsFolder();
}

bool FileExists(std::u16string_view path, bool non_empty) {
  if (IsNetworkPath(path)) return sys::Access(path, 0) == 0;
  FileStatus status(path);
  if (status.Failed()) return false;
  if (status.Size() > 0 || status.IsFolder()) return true;
  return !non_empty;
}

bool IsFolderEmpty(std::u16string_view path) {
  const std::u16string folder = FolderExists(path) ? std::u16string(path) : FolderPart(path);
  std::vector<sys::FolderEntry> entries;
  // A folder that cannot be read counts as empty, as one without entries does.
  if (sys::ListFolder(folder, entries) != 0) return true;
  for (const sys::FolderEntry& entry : entries) {
    if (!IsDots(entry.name)) return false;
  }
  return true;
}

bool CopyFileTo(std::u16string_view source, std::u16string_view target, bool fail_if_exists) {
  if (!FileExists(source)) return false;
  if (fail_if_exists) {
    const bool exists = IsNetworkPath(target) ? sys::Access(target, 0) == 0 : !FileStatus(target).Failed();
    if (exists) return false;
  }
  if (!EnsureFolderOf(target)) return false;
  const sys::WriteKind kind = IsInTempFolder(target) ? sys::WriteKind::kWorkingFile : sys::WriteKind::kUserFile;
  return sys::CopyFile(source, target, fail_if_exists, kind) == 0;
}

TempFileList& OldFileList() {
  static TempFileList list;
  return list;
}

bool ScheduleOldFiles(std::u16string_view path, int days) {
  const std::int64_t now = Now();
  const std::int64_t age = static_cast<std::int64_t>(days) * kSecondsPerDay;
  const std::u16string pattern = FileTitle(path) + u"*." + FileExtension(path);
  bool none = true;
  for (const std::u16string& file : ListMatchingFiles(FolderPart(path), pattern)) {
    std::uint32_t attributes = 0;
    if (sys::GetAttributes(file, attributes) != 0 || (attributes & sys::kAttrReadOnly)) continue;
    FileStatus status(file);
    if (status.Failed()) continue;
    if (now - status.ModifyTime() >= age) {
      OldFileList().Add(file);
      none = false;
    }
  }
  return none;
}

TempFileList::~TempFileList() {
  // Virtual calls do not reach a derived class here; the base operations are what a list does at its end.
  TempFileList::CopyBack();
  TempFileList::RemoveAll();
}

bool TempFileList::Add(std::u16string_view path) {
  paths_.emplace_back(path);
  return true;
}

bool TempFileList::Add(const char16_t* path) { return Add(path ? std::u16string_view(path) : std::u16string_view()); }

bool TempFileList::AddList(const std::vector<std::u16string>& paths) {
  paths_.insert(paths_.end(), paths.begin(), paths.end());
  return true;
}

bool TempFileList::AddPair(std::u16string_view path, std::u16string_view target) {
  paths_.emplace_back(path);
  targets_.resize(paths_.size());
  targets_.back() = target;
  return true;
}

bool TempFileList::AddOwned(std::u16string_view path) {
  sys::StatRecord record;
  if (sys::Stat(path, record) != 0) return false;
  const std::u16string key(path);
  owned_[key] = {record.device, record.inode, record.size, record.modify_time};
  paths_.push_back(key);
  return true;
}

bool TempFileList::CopyBack() {
  const std::size_t count = std::min(paths_.size(), targets_.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::u16string& path = paths_[i];
    const std::u16string& target = targets_[i];
    if (path.empty() || target.empty() || !FileExists(path)) continue;
    // A file that could not be copied back is kept: it may be the only copy of its content.
    if (!CopyFileTo(path, target, false)) path.clear();
  }
  targets_.clear();
  return true;
}

bool TempFileList::RemoveAll() {
  // Reverse order puts every path before the folders that hold it.
  std::sort(paths_.begin(), paths_.end());
  paths_.erase(std::unique(paths_.begin(), paths_.end()), paths_.end());
  std::reverse(paths_.begin(), paths_.end());
  for (std::u16string& entry : paths_) {
    if (entry.empty()) continue;
    const std::u16string path = StripSlash(entry);
    entry.clear();
    if (!FileExists(path)) continue;
    if (const auto owned = owned_.find(path); owned != owned_.end()) {
      sys::StatRecord now;
      const bool same = sys::Stat(path, now) == 0 &&
                        owned->second == Identity{now.device, now.inode, now.size, now.modify_time};
      if (!same) continue;  // another process's file now: not ours to remove
    }
    if (FileStatus(path).IsFolder()) {
      // A removal that fails leaves the entry for whoever cleans up next; there is nobody to tell.
      if (IsFolderEmpty(path)) (void)sys::RemoveFolder(path);
    } else {
      (void)sys::RemoveFile(path);
    }
  }
  paths_.clear();
  owned_.clear();
  return true;
}

}  // namespace ocelo
