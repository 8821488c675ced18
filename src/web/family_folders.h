// The family's folders under the temporary folder ("Vexo.tmp"): a sub-folder per purpose, the program's
// work folder and its dated work folder; the program name they are named after; and two text helpers
// of the web-access units, `replace_all` and `trim`.
#pragma once

#include <string>
#include <string_view>

namespace ocelo {

/// The family's shared folder for a purpose, created: temp/Vexo.tmp/<sub>, no trailing separator.
///   "Pramo" => /home/u/.cache/Vexo.tmp/Pramo
std::u16string family_temp_folder(std::u16string_view sub);

/// The program's own work folder temp/Vexo.tmp/<program title>/, created. When it cannot be created:
/// <shared documents>/Temp/Temp/Vexo.tmp/<title of the program file>/, not created, written to the dump log.
std::u16string program_work_folder();

/// Today's work folder: program_work_folder() + the local date "%Y%m%d" + separator, created; the
/// program work folder itself when the dated one cannot be created.
std::u16string TodayFolder();

/// Removes a dated work folder that TodayFolder gave when nothing is left in it; the program work folder
/// and any folder outside it stay. True when it was removed.
bool RemoveEmptyDayFolder(std::u16string_view folder);

/// The program's name, worked out once per run: "OriginalFilename" of its version block, else the
/// program file's name (with extension).
std::u16string program_name();

/// The name `program_name` gives for a program file: its "OriginalFilename", else its file name.
std::u16string program_name_of(std::u16string_view program_path);

/// Replaces every occurrence of `from`, looking for an exact match first and, when there is none after
/// the current place, for one without letter case (A-Z). A replacement is never searched again, so
/// replacing ".." by "." collapses a run of dots and "</div>" by "</div>\r\n" ends. An empty `from`
/// leaves the text unchanged.
///   "a....b", "..", "." => "a.b"      "HTTPS://x", "https:", "" => "//x"
std::u16string replace_all(std::u16string_view text, std::u16string_view from, std::u16string_view to);

/// The text without leading and trailing white space (the C library's wide white-space test).
std::u16string trim(std::u16string_view text);

}  // namespace ocelo
