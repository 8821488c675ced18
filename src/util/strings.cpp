// Small text helpers: lower-casing, extensions, UTF-8 conversions, and the settings store's folder paths.
#include "util/strings.h"

#include "platform/fs.h"
#include "util/dump.h"
#include "util/file_status.h"
#include "base/paths.h"

namespace ocelo {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

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

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string ToLower(std::u16string_view text) {
  std::u16string result(text);
  for (char16_t& c : result) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
  }
  return result;
}

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
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte, which excludes overlong forms, surrogates
    // and code points above U+10FFFF.
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    // Consume the longest valid prefix; an incomplete sequence becomes one replacement character.
    std::size_t j = i + 1;
    int taken = 1;
    for (; taken < length && j < n; ++taken, ++j) {
      const unsigned char c = static_cast<unsigned char>(utf8[j]);
      const unsigned char lo = taken == 1 ? low : 0x80;
      const unsigned char hi = taken == 1 ? high : 0xBF;
      if (c < lo || c > hi) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (taken < length) {
      out += kReplacement;
      i = j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i = j;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace ocelo
