// The files of a source folder for a recursive conversion: a walk in name order that follows no link to a
// folder and never enters the output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// One entry that a walk found.
struct WalkEntry {
  enum class Kind {
    kFile,              ///< anything that is not a folder and not a special file: a file, a link to one, a broken link
    kLinkedFolder,      ///< a folder reached through a link (or walked already): not entered
    kSpecialFile,       ///< a pipe, a device or a socket: not read
    kUnreadableFolder,  ///< a folder whose entries could not be listed
  };
  Kind kind = Kind::kFile;
  std::u16string path;      ///< the folder's path and the names below it
  std::u16string relative;  ///< the names below the folder, joined by the separator: sub/notes.txt
  int error = 0;            ///< for kUnreadableFolder, the C error number
};

/// Every entry below a folder, depth first, each folder's entries in the order of their names. A sub-folder
/// is entered only when it is no link (nor junction) and the real child of its folder (its ".." leads back
/// there), so a link to a folder, inside the tree or out of it, is reported rather than followed and no loop
/// is walked; a folder named by `excluded` (the output folder, however spelt) is left out without a report.
/// A link to a file is taken as the file. The folder itself, when it cannot be listed, is one kUnreadableFolder
/// entry.
std::vector<WalkEntry> WalkFolder(std::u16string_view folder, const std::vector<std::u16string>& excluded);

}  // namespace ocelo
