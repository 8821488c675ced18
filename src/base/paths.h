// Path texts: split, join, normalise and take apart paths in either path style, without the file system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// Which characters separate path pieces. Windows: both '\' and '/', and "\\server\share" is a network
/// path. POSIX: only '/' (a backslash is an ordinary file-name character) and no network paths.
enum class PathStyle { kWindows, kPosix };

#ifdef _WIN32
inline constexpr PathStyle kNativeStyle = PathStyle::kWindows;
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr PathStyle kNativeStyle = PathStyle::kPosix;
inline constexpr char16_t kPathSeparator = u'/';
#endif

/// The separator a style writes between pieces.
constexpr char16_t PreferredSeparator(PathStyle style) { return style == PathStyle::kWindows ? u'\\' : u'/'; }

/// True when the character separates path pieces in the style.
constexpr bool IsSeparator(char16_t c, PathStyle style = kNativeStyle) {
  return c == u'/' || (style == PathStyle::kWindows && c == u'\\');
}

/// True for a network path (two leading backslashes; Windows style only).
///   \\server\share\x => true      C:\x => false
bool IsNetworkPath(std::u16string_view path, PathStyle style = kNativeStyle);

/// The path with `separator` appended when its last character is not a separator; empty stays empty.
///   C:\x => C:\x\      C:\x\ => C:\x\      C:\x/ => C:\x/      (empty) => (empty)
std::u16string AddSlash(std::u16string_view path, char16_t separator = kPathSeparator, PathStyle style = kNativeStyle);

/// The path with one trailing separator removed (only one).
///   C:\x\\ => C:\x\      C:\x/ => C:\x      C:\x => C:\x
std::u16string StripSlash(std::u16string_view path, PathStyle style = kNativeStyle);

/// The text before the last backslash, else before the last slash, else one backslash character
/// (Windows style); in POSIX style the text before the last slash, else one slash.
///   C:\dir\notes.txt => C:\dir      a/b => a      notes.txt => \ (Windows) or / (POSIX)
std::u16string FolderPart(std::u16string_view path, PathStyle style = kNativeStyle);

/// The text after the last backslash, else after the last slash, else the whole path.
///   C:\dir\notes.txt => notes.txt      a/b => b      notes.txt => notes.txt
std::u16string FileName(std::u16string_view path, PathStyle style = kNativeStyle);

/// The file name without its extension; empty when the name is empty, a single blank, or holds "?".
///   C:\dir\file.tar.gz => file.tar      C:\dir\ => (empty)      C:\a?.txt => (empty)      README => README
std::u16string FileTitle(std::u16string_view path, PathStyle style = kNativeStyle);

/// The text after the last "." of the file name; empty when there is none or the title is empty.
///   C:\dir\file.tar.gz => gz      C:\dir.d\README => (empty)      C:\a?.txt => (empty)
std::u16string FileExtension(std::u16string_view path, PathStyle style = kNativeStyle);

/// Splits a text at a delimiter. With `whole` false, `delimiters` is a set of characters; with `whole`
/// true it is one multi-character delimiter. A piece opening with a double or single quote runs to the
/// closing quote (quotes kept); a leading delimiter gives an empty first piece, a trailing one no last piece.
///   a\b\ at \ => [a, b]      \a at \ => [, a]      "x\y"\z at \ => ["x\y", z]
std::vector<std::u16string> SplitText(std::u16string_view text, std::u16string_view delimiters, bool whole = false);

/// The pieces with `separator` between each two; an empty list gives an empty text.
std::u16string JoinText(const std::vector<std::u16string>& pieces, std::u16string_view separator);

/// The path with uniform separators: separators become `separator`, a trailing one is dropped, and empty
/// pieces after the second are dropped (so a network path keeps its two leading backslashes).
///   C:/a//b/ => C:\a\b      \\srv\share\x => \\srv\share\x      C:\\a => C:\\a
/// In POSIX style only slashes separate:   /a//b/ => /a/b      a\b/c => a\b/c
std::u16string NormalizePath(std::u16string_view path, char16_t separator = kPathSeparator,
                             PathStyle style = kNativeStyle);

/// The path made absolute against `base` and cleaned of its spelling, from the text alone: a relative path
/// is read inside `base` (itself absolute), separators become the style's own, empty and "." pieces go, ".."
/// takes away the piece before it but never the root, and no trailing separator stays except on a root.
/// Links are not looked at, so "link/.." is the folder that holds the link. With `base` empty a relative
/// path stays relative, its leading ".." pieces kept.
///   POSIX, base /w:    notes.txt => /w/notes.txt      ./dir//a.txt => /w/dir/a.txt      . => /w
///                      dir/../dir/a.txt => /w/dir/a.txt      /a/../../b => /b      //x/ => /x      .. => /
///   Windows, base C:\w: a\..\b.txt => C:\w\b.txt      D:/x//y/ => D:\x\y      \x => C:\x      C:x => C:\w\x
///                      \\srv\share\..\x => \\srv\share\x      E:x => E:\x
std::u16string AbsolutePath(std::u16string_view path, std::u16string_view base, PathStyle style = kNativeStyle);

}  // namespace ocelo
