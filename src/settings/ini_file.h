// The INI engine: sections and entries in the text of an INI file, and reading and writing one entry of
// a file that every tool of the family may read and write at the same time.
//
// The text is lines ended by LF or CR LF. "[name]" starts a section (blanks around the line and around the
// name do not count); "name=value" is an entry of the section above it (blanks around the name and the
// value do not count); a line starting with ";" is a comment. Names are matched without case (A to Z);
// the first section of a name and its first entry of a name are the ones read and written. Comments,
// blank lines, lines before the first section and lines of no known form are kept byte for byte, as is
// every line an edit does not touch. A file is written as UTF-16LE with a mark.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings/profile.h"

namespace ocelo::ini {

/// The value of an entry as the file holds it (without the blanks around it; quotes are kept), or
/// nullopt when the section or the entry is missing.
std::optional<std::u16string_view> FindValue(std::u16string_view text, std::u16string_view section,
                                             std::u16string_view entry);

/// Whether a section, entry and value can be written so that they read back as written: a section name
/// holds no "]", an entry name no "=" and does not start with "[" or ";", and no name or value holds a
/// line break. An absent entry or value is always fine.
bool CanStore(std::u16string_view section, TextArg entry, TextArg value);

/// Edits the text: sets the entry to the value (a present entry's line is rewritten as name=value with its
/// name as the file spells it, unless it holds that value already; a new entry follows the section's last
/// entry, or its header; a new section goes at the end, all new lines ended by CR LF); an absent value
/// deletes the entry's line and an absent entry deletes the section with every line up to the next
/// section. Returns false when nothing changed. Callers check CanStore first.
bool EditText(std::u16string& text, std::u16string_view section, TextArg entry, TextArg value);

/// The lock file that orders the writers of an INI file: the file's path with ".lock" appended. It is
/// created beside the INI file on the first write and left there (removing it would let two writers
/// hold locks on different files of the same name).
std::u16string LockPath(std::u16string_view ini_path);

/// Runs `work` while this process holds the exclusive lock on LockPath(ini_path), so that a
/// read-modify-write of the INI file is not interleaved with another writer's. A busy lock is waited for
/// up to the open wait time (attempts x pause); false, without running `work`, when the lock cannot be had.
bool WithWriteLock(std::u16string_view ini_path, const std::function<bool()>& work);

/// The stored value of an entry of the file (quotes kept), or nullopt when the file, the section or the
/// entry is missing or the file cannot be read.
std::optional<std::u16string> ReadValue(std::u16string_view path, std::u16string_view section,
                                        std::u16string_view entry);

/// Sets, or with an absent value deletes, one entry of the file, or with an absent entry deletes a whole
/// section: under the write lock, reads the file, edits its text and writes it back whole (not at all when
/// nothing changed, so deleting from a missing file creates none). False when the names or the value
/// cannot be stored (CanStore), the lock cannot be had, or the file cannot be written; the file is
/// then unchanged. A U+0000 that a crash left in the file ends what reads see, so the edit is made
/// before it; the zero and everything after it are written back as they were.
bool WriteValue(std::u16string_view path, std::u16string_view section, TextArg entry, TextArg value);

}  // namespace ocelo::ini
