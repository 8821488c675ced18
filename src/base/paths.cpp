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

// How a path is anchored: at a root of its own, at the root of the folder it is read in (Windows "\x"),
// at a drive without a folder (Windows "C:x", the drive's current folder), or not at all.
enum class Anchor { kRelative, kRooted, kBaseRoot, kDriveRelative };

struct Anchored {
  Anchor anchor = Anchor::kRelative;
  std::u16string root;       // "/", C:\ or \\srv\share (a drive-relative path: its drive's root)
  std::u16string_view rest;  // the pieces after the root
};

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

std::u16string_view SkipSeparators(std::u16string_view text, PathStyle style) {
  while (!text.empty() && IsSeparator(text.front(), style)) text.remove_prefix(1);
  return text;
}

// The text up to the next separator, taken off the front of `text`.
std::u16string_view TakePiece(std::u16string_view& text, PathStyle style) {
  std::size_t end = 0;
  while (end < text.size() && !IsSeparator(text[end], style)) ++end;
  std::u16string_view piece = text.substr(0, end);
  text.remove_prefix(end);
  return piece;
}

Anchored AnchorOf(std::u16string_view path, PathStyle style) {
  if (style == PathStyle::kPosix) {
    if (!path.empty() && path[0] == u'/') return {Anchor::kRooted, u"/", SkipSeparators(path, style)};
    return {Anchor::kRelative, {}, path};
  }
  if (path.size() >= 2 && IsSeparator(path[0], style) && IsSeparator(path[1], style)) {
    std::u16string_view rest = SkipSeparators(path, style);
    std::u16string root = u"\\\\";
    root += TakePiece(rest, style);
    rest = SkipSeparators(rest, style);
    const std::u16string_view share = TakePiece(rest, style);
    if (!share.empty()) (root += u'\\') += share;
    return {Anchor::kRooted, root, rest};
  }
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') {
    const std::u16string root{path[0], u':', u'\\'};
    if (path.size() > 2 && IsSeparator(path[2], style)) return {Anchor::kRooted, root, path.substr(3)};
    return {Anchor::kDriveRelative, root, path.substr(2)};
  }
  if (!path.empty() && IsSeparator(path[0], style)) return {Anchor::kBaseRoot, u"\\", path.substr(1)};
  return {Anchor::kRelative, {}, path};
}

// Adds the pieces of `text` to `pieces`: empty and "." pieces go, ".." takes the piece before it; at a root
// it goes too, on a relative path it stays when there is nothing before it to take.
void AddPieces(std::u16string_view text, bool rooted, PathStyle style, std::vector<std::u16string>& pieces) {
  while (!text.empty()) {
    text = SkipSeparators(text, style);
    const std::u16string_view piece = TakePiece(text, style);
    if (piece.empty() || piece == u".") continue;
    if (piece == u"..") {
      if (!pieces.empty() && pieces.back() != u"..") {
        pieces.pop_back();
      } else if (!rooted) {
        pieces.emplace_back(piece);
      }
      continue;
    }
    pieces.emplace_back(piece);
  }
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

std::vector<std::u16string> SplitText(std::u16string_view text, std::u16string_view delimiters, bool whole) {
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
    std::size_t end = whole ? text.find(delimiters, search_from) : text.find_first_of(delimiters, search_from);
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

std::u16string AbsolutePath(std::u16string_view path, std::u16string_view base, PathStyle style) {
  const Anchored own = AnchorOf(path, style);
  std::u16string root;
  bool rooted = true;
  std::vector<std::u16string> pieces;
  const Anchored outer = AnchorOf(base, style);
  switch (own.anchor) {
    case Anchor::kRooted: root = own.root; break;
    case Anchor::kBaseRoot: root = outer.anchor == Anchor::kRooted ? outer.root : own.root; break;
    case Anchor::kDriveRelative:
      // Read inside `base` when that lies on the same drive, else at the drive's root.
      if (outer.anchor == Anchor::kRooted && UpperAscii(outer.root[0]) == UpperAscii(own.root[0]) &&
          outer.root.size() == 3) {
        root = outer.root;
        AddPieces(outer.rest, true, style, pieces);
      } else {
        root = own.root;
      }
      break;
    case Anchor::kRelative:
      root = outer.root;
      rooted = outer.anchor == Anchor::kRooted || outer.anchor == Anchor::kDriveRelative;
      AddPieces(outer.rest, rooted, style, pieces);
      break;
  }
  AddPieces(own.rest, rooted, style, pieces);
  const char16_t separator = PreferredSeparator(style);
  std::u16string result = root;
  if (!pieces.empty() && !result.empty() && !IsSeparator(result.back(), style)) result += separator;
  result += JoinText(pieces, std::u16string_view(&separator, 1));
  if (result.empty() && !path.empty()) return std::u16string(1, u'.');  // a relative path that cancels out
  return result;
}

}  // namespace ocelo
