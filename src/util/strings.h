// Small text helpers: lower-casing, extensions, UTF-8 for terminals, and the settings store's
// folder-path helpers (creating a folder with all its parents).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/paths.h"

namespace ocelo {

/// Lower-cases A to Z only, as the C runtime does in its default locale.
std::u16string ToLower(std::u16string_view text);

/// ToLower of FileExtension.
///   C:\dir\Report.TXT => txt      C:\dir\file?.txt => (empty)
std::u16string LowerExtension(std::u16string_view path);

/// True when the path is an existing folder (network paths: when they can be reached).
bool IsExistingFolder(std::u16string_view path);

/// The path with the suffix appended when it is not empty and does not end in a separator.
///   C:\data + \x.ini => C:\data\x.ini      C:\data\ + \x.ini => C:\data\      (empty) => (empty)
std::u16string AppendIfNoSeparator(std::u16string_view path, std::u16string_view suffix,
                                   PathStyle style = kNativeStyle);

/// The text after the last separator; "????????.???" when the path holds no separator at all.
///   C:\data\settings.ini => settings.ini      settings.ini => ????????.???
std::u16string FileNameOrWildcard(std::u16string_view path, PathStyle style = kNativeStyle);

/// Appends a text to the list and returns its index.
int AddToList(std::vector<std::u16string>& list, std::u16string_view text);

/// The folders CreateFolderPath tries to create, outermost first: the path and each of its parents,
/// leaving out empty entries, "/", a drive ("C:") and the server and share levels of a network path.
///   C:\a\b => C:\a, C:\a\b      \\srv\share\x => \\srv\share\x      /a/b => /a, /a/b
std::vector<std::u16string> FolderPathChain(std::u16string_view path, PathStyle style = kNativeStyle);

/// 1 when the folder exists or was created with all missing parents, 0 when a creation failed (with the
/// dump line "フォルダが作成できません" + the folder).
int CreateFolderPath(std::u16string_view path);

/// A text from UTF-8 (literals, terminal arguments, system messages); invalid bytes become U+FFFD.
std::u16string Widen(std::string_view utf8);

/// A text as UTF-8 for a terminal; lone surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

}  // namespace ocelo
