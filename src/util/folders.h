// Working folders: the program's temporary root, folder trees, special folders, and small questions
// to the system (current folder, environment, user name).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/paths.h"

namespace ocelo {

/// The root of the program's own files (dump files, Rescue backups, family temporary folders): the
/// system's temporary folder with its trailing separator; never fails.
std::u16string TempFolder();

/// True when the path lies inside the program's temporary root (TempFolder), where its own working files
/// live; a path with a ".." step is never taken to lie there.
///   <temp>/Rescue/x => true      <temp> => false      <temp>/../x => false      /home/u/x => false
bool IsInTempFolder(std::u16string_view path);

/// Creates every missing folder of the path; true when the folder exists afterwards. Stops at the first
/// folder it cannot create, with the dump line "Can't create " + that prefix. Folders it creates inside
/// the temporary root (IsInTempFolder) are private to the user (0700 on POSIX), as all our working folders are.
bool CreateFolderTree(std::u16string_view path);

/// As CreateFolderTree, but every folder it creates is private to the user (0700 on POSIX): the dump
/// folders and the user's folder under a shared temporary base.
bool CreatePrivateFolderTree(std::u16string_view path);

/// The prefixes of a normalised folder path that CreateFolderTree may have to create, outermost first,
/// leaving out empty ones, a lone separator, a drive and the server and share levels of a network path.
///   C:/a//b/ => C:\a, C:\a\b      \\srv\share\x\y => \\srv\share\x, \\srv\share\x\y      /a/b => /a, /a/b
std::vector<std::u16string> FolderTreePrefixes(std::u16string_view path, PathStyle style = kNativeStyle);

/// The user's own folder <base>/<user> (user from $USER, $USERNAME, else "___"), created private to the
/// user; empty when it exists but is not private (another user's folder, writable by others, a link).
std::u16string PrivateUserFolder(std::u16string_view base);

/// Appends one error line to the dump file (the line of DumpText); returns true.
bool LogError(std::u16string_view message);

/// The folder for a shell folder identifier (sys::kCsidl...); empty when the system has none.
std::u16string SpecialFolder(int csidl);

/// The process's current folder.
std::u16string CurrentFolder();

/// An environment variable's value; empty when it is not set.
std::u16string GetEnv(std::u16string_view name);

/// The user's logon name; falls back to $USER, then $USERNAME.
std::u16string UserName();

/// The long form of a path, or the path unchanged.
std::u16string LongPathName(std::u16string_view path);

}  // namespace ocelo
