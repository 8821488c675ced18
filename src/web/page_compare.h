// Whether two downloads of a web page differ: a quick comparison of their non-empty lines, then both
// written as line-normalised UTF-16 files into today's work folder and compared, with a difference
// listing beside them when the system's comparison program is present.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// The pages' non-empty lines (at CR LF) are the same once every "https:" is read as "http:".
bool same_page_lines(std::u16string_view old_page, std::u16string_view new_page);

/// True when the pages are the same ("no update" on the standard error stream), false when they differ
/// ("changed" when a difference listing was made). Leaves in TodayFolder(), named by the stamp
/// "%H%M_" + a run-wide counter of two or more digits (first 01): <stamp>o.txt and <stamp>n.txt (the
/// pages after html_line_breaks and normalise_lines, UTF-16 with mark), their raw copies
/// (save_page_text) and, when they differ, the listing <stamp>_.txt.
bool compare_pages(std::u16string_view old_page, std::u16string_view new_page);

/// The non-empty lines of the text (split at CR LF), each ending in CR LF; "\r\n" for a text without one.
///   "a\r\n\r\nb" => "a\r\nb\r\n"      "" => "\r\n"
std::u16string normalise_lines(std::u16string_view text);

/// The text with a line break after each closing div, script, span, li and a tag and after each ");",
/// and before each div, script, span, style, img, li, ul and ol tag that directly follows another tag
/// (and between "/>" and "<"). Tags in capitals are found too and written in lower case.
///   <div><span>x</span></div>  =>  <div>\r\n<span>x</span>\r\n</div>\r\n
std::u16string html_line_breaks(std::u16string_view text);

/// Writes the text beside `path`'s name in TodayFolder() as <title>.utf_8.<ext> (UTF-8, no mark) and
/// <title>.utf16.<ext> (UTF-16 with mark), then its normalise_lines form to `path` (UTF-16 with mark).
/// The result is that last write's.
bool save_page_text(std::u16string_view path, std::u16string_view text);

/// Both files exist, can be read, and hold the same text (read as ReadTextFile reads them).
bool same_text_files(std::u16string_view a, std::u16string_view b);

}  // namespace ocelo
