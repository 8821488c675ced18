// Path texts: the pure path functions in both path styles.
#include "base/paths.h"

namespace ocelo {
namespace {

// Position of the last separator, looking for backslashes first (Windows style), then slashes.
std::size_t LastSeparator(std::u16string_view path, PathStyle style) {
  if (style == PathStyle::kWindows) {
    std::size_t pos = path.rfind(u'\\');
    if (pos != std::u16string_view::npos) return pos;
  }
  return path.rfind(u'/');
}

}  // namespace

bool IsNetworkPath(std::u16string_view path, PathStyle style) {
  return style == PathStyle::kWindows && path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

std::u16string AddSlash(std::u16string_view path, char16_t separator, PathStyle style) {
  std::u16string result(path);
  if (!result.empty() && !IsSeparator(result.back(), style)) result += separator;
  return result;
}

std::u16string StripSlash(std::u16string_view path, PathStyle style) {
  if (!path.empty() && IsSeparator(path.back(), style)) path.remove_suffix(1);
  return std::u16string(path);
}

std::u16string FolderPart(std::u16string_view path, PathStyle style) {
  std::size_t pos = LastSeparator(path, style);
  if (pos == std::u16string_view::npos) return std::u16string(1, PreferredSeparator(style));
  return std::u16string(path.substr(0, pos));
}

std::u16string FileName(std::u16string_view path, PathStyle style) {
  std::size_t pos = LastSeparator(path, style);
  if (pos == std::u16string_view::npos) return std::u16string(path);
  return std::u16string(path.substr(pos + 1));
}

std::u16string FileTitle(std::u16string_view path, PathStyle style) {
  std::u16string name = FileName(path, style);
  if (name.empty() || name == u" " || name.find(u'?') != std::u16string::npos) return {};
  std::size_t dot = name.rfind(u'.');
  return dot == std::u16string::npos ? name : name.substr(0, dot);
}

std::u16string FileExtension(std::u16string_view path, PathStyle style) {
  std::u16string name = FileName(path, style);
  if (name.empty() || name == u" " || name.find(u'?') != std::u16string::npos) return {};
  std::size_t dot = name.rfind(u'.');
  return dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1);
}

std::vector<std::u16string> SplitText(std::u16string_view text, std::u16string_view delimiters,
                                      bool whole) {
  std::vector<std::u16string> pieces;
  if (delimiters.empty()) {
    if (!text.empty()) pieces.emplace_back(text);
    return pieces;
  }
  const std::size_t step = whole ? delimiters.size() : 1;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t search_from = pos;
    const char16_t first = text[pos];
    if (first == u'"' || first == u'\'') {
      std::size_t close = text.find(first, pos + 1);
      if (close == std::u16string_view::npos) break;
      search_from = close + 1;
    }
    std::size_t end = whole ? text.find(delimiters, search_from)
                            : text.find_first_of(delimiters, search_from);
    if (end == std::u16string_view::npos) break;
    pieces.emplace_back(text.substr(pos, end - pos));
    pos = end + step;
  }
  if (pos < text.size()) pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::u16string JoinText(const std::vector<std::u16string>& pieces, std::u16string_view separator) {
  // One pass with the size known up front: each accumulated text is built once, so very long
  // lists need no chunking.
  std::size_t total = 0;
  for (const auto& piece : pieces) total += piece.size() + separator.size();
  std::u16string result;
  result.reserve(total);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i != 0) result += separator;
    result += pieces[i];
  }
  return result;
}

std::u16string NormalizePath(std::u16string_view path, char16_t separator, PathStyle style) {
  std::vector<std::u16string> pieces;
  if (style == PathStyle::kWindows) {
    // Backslashes first, then slashes; each split drops one trailing separator.
    std::u16string once = JoinText(SplitText(path, u"\\"), u"\\");
    std::u16string twice = JoinText(SplitText(once, u"/"), u"\\");
    pieces = SplitText(twice, u"\\");
  } else {
    pieces = SplitText(path, u"/");
  }
  std::vector<std::u16string> kept;
  kept.reserve(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i < 2 || !pieces[i].empty()) kept.push_back(std::move(pieces[i]));
  }
  return JoinText(kept, std::u16string_view(&separator, 1));
}

}  // namespace ocelo
