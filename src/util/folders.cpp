// Working folders: the program's temporary root, folder trees, and small questions to the system.
#include "util/folders.h"

#include "platform/fs.h"
#include "platform/system.h"
#include "util/dump.h"
#include "util/file_status.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// System texts end at their first null character.
std::u16string UpToNull(std::u16string text) {
  const std::size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

// A network entry whose server or share level cannot be created: fewer than two further `separator`
// characters after the two leading ones.
bool IsServerOrShare(std::u16string_view prefix, char16_t separator) {
  if (prefix.size() < 2 || prefix[0] != separator || prefix[1] != separator) return false;
  int further = 0;
  for (std::size_t i = 2; i < prefix.size(); ++i) {
    if (prefix[i] == separator) ++further;
  }
  return further < 2;
}

bool CreateTree(std::u16string_view path, bool private_folders) {
  if (IsExistingFolder(StripSlash(path))) return true;
  // Asked before TempFolder is, which may itself create a private folder (and so come back here).
  const bool working = !private_folders && IsInTempFolder(path);
  for (const std::u16string& prefix : FolderTreePrefixes(path)) {
    if (IsExistingFolder(prefix)) continue;
    const bool private_prefix = private_folders || (working && IsInTempFolder(prefix));
    const int error = private_prefix ? sys::MakePrivateFolder(prefix) : sys::MakeFolder(prefix);
    // Another process may create the same folder at the same moment; what counts is that it exists.
    if (error == 0 || IsExistingFolder(prefix)) continue;
    LogError(u"Can't create " + prefix);
    return false;
  }
  return true;
}

std::u16string UserPart() {
  for (const char16_t* name : {u"USER", u"USERNAME"}) {
    std::u16string value = GetEnv(name);
    if (!value.empty()) return value;
  }
  return u"___";
}

}  // namespace

std::vector<std::u16string> FolderTreePrefixes(std::u16string_view path, PathStyle style) {
  const char16_t separator = PreferredSeparator(style);
  const std::u16string normal = StripSlash(NormalizePath(path, separator, style), style);
  // A plain split: quote characters are ordinary in POSIX file names and cannot occur in Windows ones.
  std::vector<std::u16string> prefixes;
  std::u16string prefix;
  std::size_t start = 0;
  for (bool first = true; start <= normal.size(); first = false) {
    std::size_t end = normal.find(separator, start);
    if (end == std::u16string::npos) end = normal.size();
    if (!first) prefix += separator;
    prefix.append(normal, start, end - start);
    start = end + 1;
    if (prefix.empty() || prefix == u"/" || prefix == u"\\") continue;
    if (style == PathStyle::kWindows) {
      if (prefix.back() == u':') continue;
      if (IsServerOrShare(prefix, u'\\') || IsServerOrShare(prefix, u'/')) continue;
    }
    prefixes.push_back(prefix);
  }
  return prefixes;
}

std::u16string TempFolder() {
  std::u16string result = UpToNull(LongPathName(sys::TempPath()));
  // The system folder of Windows is not for a program's own files; the shared documents take its place.
  if (result.find(u"Windows") != std::u16string::npos || ToLower(result).find(u"windows") != std::u16string::npos) {
    result = AddSlash(SpecialFolder(sys::kCsidlCommonDocuments), kPathSeparator) + u"Temp";
    result = AddSlash(result, kPathSeparator) + u"Temp";
  }
  if (!result.empty()) return result;

  for (const char16_t* name : {u"TMP", u"TMPDIR", u"TEMP"}) {
    std::u16string value = GetEnv(name);
    if (!value.empty()) return value;
  }
  // /tmp is shared by all users: the user's folder there is used only when nobody else can write it.
  FileStatus tmp(u"/tmp");
  if (!tmp.Failed() && tmp.IsFolder()) {
    std::u16string folder = PrivateUserFolder(u"/tmp/");
    if (!folder.empty()) return folder;
  }
  std::u16string folder = PrivateUserFolder(CurrentFolder());
  if (!folder.empty()) return folder;
  return AddSlash(CurrentFolder(), kPathSeparator) + UserPart();
}

bool IsInTempFolder(std::u16string_view path) {
  const std::u16string root = AddSlash(NormalizePath(TempFolder()), kPathSeparator);
  const std::u16string normal = NormalizePath(path);
  if (root.size() < 2 || normal.size() <= root.size() || !normal.starts_with(root)) return false;
  // A plain split: a quote is an ordinary character of a file name here.
  const std::u16string_view rest = std::u16string_view(normal).substr(root.size());
  for (std::size_t start = 0; start <= rest.size();) {
    std::size_t end = rest.find(kPathSeparator, start);
    if (end == std::u16string_view::npos) end = rest.size();
    if (rest.substr(start, end - start) == u"..") return false;
    start = end + 1;
  }
  return true;
}

std::u16string PrivateUserFolder(std::u16string_view base) {
  const std::u16string folder = AddSlash(base, kPathSeparator) + UserPart();
  CreatePrivateFolderTree(folder);
  return sys::IsPrivateFolder(folder) ? folder : std::u16string();
}

bool CreateFolderTree(std::u16string_view path) { return CreateTree(path, false); }

bool CreatePrivateFolderTree(std::u16string_view path) { return CreateTree(path, true); }

bool LogError(std::u16string_view message) {
  DumpText(message);
  return true;
}

std::u16string SpecialFolder(int csidl) { return UpToNull(sys::SpecialFolderPath(csidl)); }

std::u16string CurrentFolder() { return UpToNull(sys::WorkingFolder()); }

std::u16string GetEnv(std::u16string_view name) { return UpToNull(sys::Environment(name)); }

std::u16string UserName() {
  std::u16string name = UpToNull(sys::LogonName());
  if (name.empty()) name = GetEnv(u"USER");
  if (name.empty()) name = GetEnv(u"USERNAME");
  return name;
}

std::u16string LongPathName(std::u16string_view path) {
  std::u16string result = UpToNull(sys::LongPath(path));
  return result.empty() ? std::u16string(path) : result;
}

}  // namespace ocelo
