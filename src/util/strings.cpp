// Small text helpers: lower-casing, extensions, UTF-8 conversions, and the settings store's folder paths.
#include "util/strings.h"

#include "base/ascii.h"
#include "base/paths.h"
#include "base/utf.h"
#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_status.h"

namespace ocelo {
namespace {

bool EndsWithDriveColon(std::u16string_view path, PathStyle style) {
  return style == PathStyle::kWindows && !path.empty() && path.back() == u':';
}

// A network entry ("\\server", "\\server\share") whose server or share level cannot be created: fewer
// than two further `separator` characters after the two leading ones. Windows style only.
bool IsServerOrShare(std::u16string_view path, char16_t separator, PathStyle style) {
  if (style != PathStyle::kWindows || path.size() < 2 || path[0] != separator || path[1] != separator) {
    return false;
  }
  int further = 0;
  for (std::size_t i = 2; i < path.size(); ++i) {
    if (path[i] == separator) ++further;
  }
  return further < 2;
}

}  // namespace

std::u16string ToLower(std::u16string_view text) { return ToLowerAscii(text); }

std::u16string LowerExtension(std::u16string_view path) { return ToLower(FileExtension(path)); }

bool IsExistingFolder(std::u16string_view path) {
  if (IsNetworkPath(path)) return sys::Access(path, 0) == 0;
  FileStatus status(path);
  return !status.Failed() && status.IsFolder();
}

std::u16string AppendIfNoSeparator(std::u16string_view path, std::u16string_view suffix, PathStyle style) {
  std::u16string result(path);
  if (!result.empty() && !IsSeparator(result.back(), style)) result += suffix;
  return result;
}

std::u16string FileNameOrWildcard(std::u16string_view path, PathStyle style) {
  for (char16_t c : path) {
    if (IsSeparator(c, style)) return FileName(path, style);
  }
  return u"????????.???";
}

int AddToList(std::vector<std::u16string>& list, std::u16string_view text) {
  list.emplace_back(text);
  return static_cast<int>(list.size() - 1);
}

std::vector<std::u16string> FolderPathChain(std::u16string_view path, PathStyle style) {
  const std::u16string lone_separator(1, PreferredSeparator(style));
  std::vector<std::u16string> chain;
  std::u16string entry(path);
  for (std::size_t steps = 0; steps < path.size(); ++steps) {
    chain.push_back(entry);
    std::u16string parent = FolderPart(entry, style);
    if (parent == lone_separator) break;
    entry = std::move(parent);
  }
  std::vector<std::u16string> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const std::u16string& e = *it;
    if (e.empty() || e == u"/") continue;
    if (EndsWithDriveColon(e, style)) continue;
    if (IsServerOrShare(e, u'\\', style) || IsServerOrShare(e, u'/', style)) continue;
    result.push_back(e);
  }
  return result;
}

int CreateFolderPath(std::u16string_view path) {
  if (IsExistingFolder(path)) return 1;
  for (const std::u16string& entry : FolderPathChain(path)) {
    if (IsExistingFolder(entry)) continue;
    // Another process may create the same folder at the same moment; what counts is that it exists.
    if (sys::MakeFolder(entry) == 0 || IsExistingFolder(entry)) continue;
    const std::u16string message = u"フォルダが作成できません" + entry;
    if (LowerExtension(ModulePath()) != u"dll") DumpText(message);
    return 0;
  }
  return 1;
}

std::u16string Widen(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const char* const end = utf8.data() + utf8.size();
  for (const char* p = utf8.data(); p < end;) {
    // Each maximal ill-formed subsequence reads as one U+FFFD.
    const DecodedChar c = DecodeUtf8Char(p, end);
    AppendUtf16(out, c.code_point);
    p += c.length;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  const char16_t* const end = text.data() + text.size();
  for (const char16_t* p = text.data(); p < end;) {
    const DecodedChar c = DecodeUtf16Char(p, end);
    AppendUtf8(out, c.valid ? c.code_point : kReplacementCharacter);
    p += c.length;
  }
  return out;
}

}  // namespace ocelo
