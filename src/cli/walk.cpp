// The files of a source folder for a recursive conversion.
#include "cli/walk.h"

#include <algorithm>
#include <set>

#include "base/paths.h"
#include "platform/fs.h"
#include "util/file_status.h"

namespace ocelo {
namespace {

class Walker {
 public:
  explicit Walker(const std::vector<std::u16string>& excluded) {
    for (const std::u16string& path : excluded) {
      excluded_paths_.push_back(NormalizePath(path));
      sys::FileId id;
      if (sys::GetFileId(path, id) == 0) excluded_ids_.insert(id);
    }
  }

  void Walk(const std::u16string& folder, const std::u16string& relative, const sys::FileId& id) {
    std::vector<sys::FolderEntry> listed;
    const int error = sys::ListFolder(folder, listed);
    if (error != 0) {
      entries_.push_back({WalkEntry::Kind::kUnreadableFolder, folder, relative, error});
      return;
    }
    std::sort(listed.begin(), listed.end(),
              [](const sys::FolderEntry& a, const sys::FolderEntry& b) { return a.name < b.name; });
    const std::u16string base = AddSlash(folder, kPathSeparator);
    for (const sys::FolderEntry& entry : listed) {
      if (entry.name == u"." || entry.name == u"..") continue;
      std::u16string path = base + entry.name;
      std::u16string below = relative.empty() ? entry.name : relative + kPathSeparator + entry.name;
      if (!entry.is_folder) {
        // A broken link has no status: it is reported as the file it fails to be, unreadable.
        const FileStatus status(path);
        const bool special = !status.Failed() && !status.IsFile() && !status.IsFolder();
        entries_.push_back(
            {special ? WalkEntry::Kind::kSpecialFile : WalkEntry::Kind::kFile, std::move(path), std::move(below), 0});
        continue;
      }
      sys::FileId child;
      const bool known = sys::GetFileId(path, child) == 0;
      if (IsExcluded(path, known, child)) continue;
      // A link (a junction on Windows) is never entered. Besides, POSIX resolves ".." from where a link
      // leads, so only a real child's ".." is this folder (Windows resolves ".." by the name, hence the
      // link test); a folder seen already (a mount of a folder above) is not walked twice either. A folder
      // closed to us has no ".." to look at: it is walked, and its listing fails.
      sys::FileId parent;
      const int closed = entry.is_link ? 0 : sys::GetFileId(AddSlash(path, kPathSeparator) + u"..", parent);
      const bool real = !entry.is_link && known && (closed != 0 || parent == id) && walked_.insert(child).second;
      if (!real) {
        entries_.push_back({WalkEntry::Kind::kLinkedFolder, std::move(path), std::move(below), 0});
        continue;
      }
      Walk(path, below, child);
    }
  }

  void Start(const std::u16string& folder) {
    sys::FileId id;
    const int error = sys::GetFileId(folder, id);
    if (error != 0) {
      entries_.push_back({WalkEntry::Kind::kUnreadableFolder, folder, {}, error});
      return;
    }
    walked_.insert(id);
    Walk(folder, {}, id);
  }

  std::vector<WalkEntry> Take() { return std::move(entries_); }

 private:
  bool IsExcluded(const std::u16string& path, bool known, const sys::FileId& id) const {
    if (known && excluded_ids_.count(id) != 0) return true;
    return std::find(excluded_paths_.begin(), excluded_paths_.end(), NormalizePath(path)) != excluded_paths_.end();
  }

  std::set<sys::FileId> excluded_ids_;
  std::vector<std::u16string> excluded_paths_;
  std::set<sys::FileId> walked_;
  std::vector<WalkEntry> entries_;
};

}  // namespace

std::vector<WalkEntry> WalkFolder(std::u16string_view folder, const std::vector<std::u16string>& excluded) {
  Walker walker(excluded);
  walker.Start(std::u16string(folder));
  return walker.Take();
}

}  // namespace ocelo
