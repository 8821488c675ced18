// Where the settings files live: the family's INI folder and its override, a Profile's name resolved to
// its INI file (turning an older Shift_JIS or UTF-8 file into UTF-16 once), the family's registry base
// name, and the application's own settings names.
//
// On this system the family's INI folder is, unless overridden, <documents>/Vexo/_Setting when that folder
// exists and <documents>/Temp/Vexo/_Setting otherwise, where <documents> is the shared documents folder
// ${XDG_DATA_HOME:-$HOME/.local/share}. The text value "IniFullBase" of the registry key
// Software\<base>\Vexo overrides it; the folder in use is recorded in the value "IniFullBase は".
#pragma once

#include <string>
#include <string_view>

#include "base/paths.h"

namespace ocelo {

/// The family's word: the registry key under Software, the INI folder, the shared settings file "Vexo".
inline constexpr std::u16string_view kFamilyKey = u"Vexo";

/// The full path of a settings file. An empty name stands for the program's own title; a name without a
/// separator lives in IniFolder(); ".ini" is appended unless the extension is "ini" (in any case). The
/// file's folder is created when missing, and an existing file that does not start with a UTF-16 mark is
/// converted once: its text, with the three header lines (IniHeader) in front, is written back as UTF-16LE
/// with a mark.
///   Vexo => <IniFolder>/Vexo.ini      /etc/x/Tool => /etc/x/Tool.ini      a.INI => <IniFolder>/a.INI
std::u16string ResolveIniPath(std::u16string_view name);

/// The three lines put in front of a settings file's text when it is converted to UTF-16: a semicolon and
/// 69 hyphens, a semicolon, a tab and the time, and the first line again, each ended by CR LF.
std::u16string IniHeader(std::u16string_view time);

/// The folder of the family's INI files: "IniFullBase" from the registry when set, else DefaultIniFolder().
/// Records the folder in use as "IniFullBase は". Evaluated afresh on every call.
std::u16string IniFolder();

/// The default INI folder (created when missing), without a trailing separator: <documents>/Vexo/_Setting
/// when it exists, else <documents>/Temp/Vexo/_Setting.
std::u16string DefaultIniFolder();

/// The family's registry base name: the unnamed value of Software\Vexo when set, else "Vexo". Resolved
/// once per process, which records it as "RegKey_Base は" under that key.
std::u16string RegKeyBase();

/// The two paths joined by one separator, after separators at both ends of each were trimmed; either one
/// alone when the other is empty.
///   Vexo + _Setting => Vexo/_Setting      /a/ + /b/ => a/b      (empty) + /b => b
/// In Windows style both separators are trimmed and a backslash joins:  \Vexo\ + /_Setting => Vexo\_Setting
std::u16string JoinPath(std::u16string_view a, std::u16string_view b, PathStyle style = kNativeStyle);

/// The application's registry key. Empty (the default): settings live in INI files. Set: each Profile
/// keeps its values in the registry store under Software\<key>\<profile name>\<section>.
void SetApplicationRegistryKey(std::u16string_view key);
std::u16string ApplicationRegistryKey();

/// The application's profile name: the program's file title, with ".ini" appended on the INI route.
std::u16string ApplicationProfileName();

/// The registry-store path of a section on the registry route: Software\<key>\<profile name>\<section>.
std::u16string ApplicationSectionKey(std::u16string_view profile_name, std::u16string_view section);

/// Tests: makes RegKeyBase resolve again on its next call.
void ResetRegKeyBase();

}  // namespace ocelo
