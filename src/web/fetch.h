// Web pages into the page cache: one GET of a page saved to a file, the cache file a URL maps to in the
// family folder "Pramo", and the numbered names under which earlier copies are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/paths.h"

namespace ocelo {

/// The largest body a download keeps; a longer one fails the transfer and nothing is saved.
inline constexpr std::int64_t kMaxPageBytes = 8 * 1024 * 1024;

/// The most header bytes a download accepts, over all its responses (redirects included).
inline constexpr std::int64_t kMaxHeaderBytes = 256 * 1024;

/// The most redirects a download follows.
inline constexpr int kMaxRedirects = 5;

/// The drive or server part of a path; empty when it has none. Both "\" and "/" separate.
///   C:\dir\a => C:      \\srv\share\a => \\srv      //host/x => //host      //host => (empty)      /a/b => (empty)
std::u16string path_root(std::u16string_view path);

/// The path shortened to at most `limit` characters by putting "..." in place of its leading folders
/// after the root and first folder; the file name alone when even that does not fit. `separator` goes
/// where one is missing around the "...".
///   C:\aaa\bbb\ccc\ddd\notes.txt, 24 => C:\aaa\...\ddd\notes.txt      C:\aaa\notes.txt, 5 => notes.txt
std::u16string compact_path(std::u16string_view path, std::size_t limit, char16_t separator = kPathSeparator);

/// The cache name of a URL relative to the cache folder, its first folder "_": host and path become
/// folders, dots in folder names "_", and a page without a known file extension "_.htm" (a URL ending in
/// a separator) or "_.html" (any other) inside a folder of its own name.
///   //download.vexo.invalid/Vexo/download/ => _//download_vexo_invalid/Vexo/download/_.htm
///   https://h/a/page.asp => _//h/a/page_asp/_.html      http://h/a/file.zip => _//h/a/file.zip
std::u16string url_to_relative_path(std::u16string_view url);

/// The URL's cache file: family_temp_folder("Pramo") + url_to_relative_path(url), normalised; its folder
/// is created.
std::u16string page_cache_path(std::u16string_view url);

/// The first free numbered name of a file: folder and title, "." and three digits 000..999, then "." and
/// the extension when it has one. With `always` false, a missing file keeps its own name; when all 1000
/// numbers are taken, the path itself.
///   b.txt (b.000.txt exists) => b.001.txt      b => b.000
std::u16string numbered_backup_name(std::u16string_view path, bool always);

/// Moves a file to `to`, creating the target's folder; when the rename fails, copies (overwriting) and
/// deletes the source. False when `from` is missing, is `to` itself, or cannot be moved.
bool move_file_aside(std::u16string_view from, std::u16string_view to);

/// Whether this build downloads at all. A build without the update check (OCELO_UPDATE_CHECK=OFF) does
/// not: there http_get_to_file writes one line to the standard error stream and fails, and check_update
/// does nothing.
bool http_available();

/// One GET of scheme + address ("https:" + "//host/path"), following up to kMaxRedirects redirects (a
/// secure request only to "https:"), certificates verified, within the connect and transfer times of
/// WaitPolicy. A file already at `file` is first moved aside to its numbered name. Whatever body the
/// server sends, an error page too, replaces `file` whole once the transfer has ended; a failed transfer
/// saves nothing. Diagnostics go to the standard error stream. True when the body was saved.
bool http_get_to_file(std::u16string_view scheme, std::u16string_view address, std::u16string_view file);

/// Downloads a page into its cache file: the cached copy is first moved aside to its numbered name, then
/// the page is fetched over "https:" and, when that leaves the file missing or empty, over "http:".
/// Returns the cache file's path; callers judge the download by that file's size.
std::u16string fetch_page(std::u16string_view url);

/// fetch_page for a caller that compares the page with its earlier copy: when the download leaves the
/// cache file missing or empty, the earlier copy is moved back in its place (with its times), so it stays
/// what the next download is compared with. True when a page was downloaded.
bool refresh_page(std::u16string_view url);

}  // namespace ocelo
