// Settings file locations: name resolution with the one-time UTF-16 conversion, the INI folder and its
// registry records, the registry base name, and the application's settings names.
#include "settings/ini_path.h"

#include "encoding/settings_text.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "settings/ini_file.h"
#include "settings/profile_lock.h"
#include "settings/registry.h"
#include "util/dump.h"
#include "util/folders.h"
#include "util/strings.h"

namespace ocelo {
namespace {

struct Names {
  std::u16string reg_key_base;
  bool reg_key_base_pending = true;
  std::u16string registry_key;
};

Names& State() {
  static Names names;
  return names;
}

std::u16string FamilyKeyPath() { return u"Software\\" + std::u16string(kFamilyKey); }

// Turns an existing file without a UTF-16 mark into UTF-16 with the header in front. Runs under the
// file's write lock, so two processes never both convert (and both prepend a header).
void ConvertLegacyFile(const std::u16string& path) {
  ini::WithWriteLock(path, [&] {
    if (HasUtf16Mark(path)) return true;
    std::u16string text;
    if (!ReadWholeSettingsText(path, text)) {
      // A file with content that cannot be read is left alone rather than replaced by a bare header.
      sys::StatRecord record;
      if (sys::Stat(path, record) == 0 && record.size > 0) return false;
    }
    if (!WriteSettingsText(path, IniHeader(FormatNow(u"%Y/%m/%d %H:%M:%S")) + text)) return false;
    return ConvertToUtf16File(path);
  });
}

}  // namespace

std::u16string IniHeader(std::u16string_view time) {
  const std::u16string rule = u";" + std::u16string(69, u'-') + u"\r\n";
  return rule + u";\t" + std::u16string(time) + u"\r\n" + rule;
}

std::u16string ResolveIniPath(std::u16string_view name) {
  std::u16string path(name);
  if (path.empty()) path = FileTitle(sys::ExecutablePath());
  if (path.find(kPathSeparator) == std::u16string::npos) path = AddSlash(IniFolder()) + path;
  if (ToLower(FileExtension(path)) != u"ini") path += u".ini";

  ProfileLockScope lock;
  const std::u16string folder = FolderPart(path);
  if (!IsExistingFolder(folder)) CreateFolderPath(folder);
  if (PathExists(path) && !HasUtf16Mark(path)) ConvertLegacyFile(path);
  return path;
}

std::u16string IniFolder() {
  std::u16string base = DefaultIniFolder();
  const std::u16string key = u"Software\\" + RegKeyBase() + u"\\" + std::u16string(kFamilyKey);
  const std::u16string chosen = RegistryStore().GetString(kHkeyCurrentUser, key, u"IniFullBase", u"");
  if (!chosen.empty()) base = chosen;
  // The record only tells which folder is in use; a record that says so already is not written again.
  constexpr std::u16string_view kRecord = u"IniFullBase は";
  if (RegistryStore().GetString(kHkeyCurrentUser, key, kRecord, std::nullopt) != base) {
    RegistryStore().WriteString(kHkeyCurrentUser, key, kRecord, base);
  }
  return base;
}

std::u16string DefaultIniFolder() {
  const std::u16string documents = AddSlash(SpecialFolder(sys::kCsidlCommonDocuments));
  const std::u16string sub = JoinPath(kFamilyKey, u"_Setting");
  std::u16string folder = documents + sub;
  if (!IsExistingFolder(folder)) folder = documents + u"Temp" + kPathSeparator + sub;
  folder = StripSlash(folder);
  if (!IsExistingFolder(folder)) CreateFolderPath(folder);
  return folder;
}

std::u16string RegKeyBase() {
  ProfileLockScope lock;
  Names& names = State();
  if (names.reg_key_base.empty() && names.reg_key_base_pending) {
    names.reg_key_base_pending = false;
    std::u16string base(kFamilyKey);
    const std::u16string stored = RegistryStore().GetString(kHkeyCurrentUser, FamilyKeyPath(), u"", u"");
    if (!stored.empty()) base = stored;
    RegistryStore().WriteString(kHkeyCurrentUser, FamilyKeyPath(), u"RegKey_Base は", base);
    names.reg_key_base = base;
  }
  return names.reg_key_base;
}

std::u16string JoinPath(std::u16string_view a, std::u16string_view b, PathStyle style) {
  auto trim = [style](std::u16string_view text) {
    for (int i = 0; i < 10000; ++i) {
      const std::size_t before = text.size();
      if (!text.empty() && IsSeparator(text.back(), style)) text.remove_suffix(1);
      if (!text.empty() && IsSeparator(text.front(), style)) text.remove_prefix(1);
      if (text.size() == before) break;
    }
    return text;
  };
  a = trim(a);
  b = trim(b);
  if (a.empty() || b.empty()) return std::u16string(a) + std::u16string(b);
  return AddSlash(a, PreferredSeparator(style), style) + std::u16string(b);
}

void SetApplicationRegistryKey(std::u16string_view key) {
  ProfileLockScope lock;
  State().registry_key = key;
}

std::u16string ApplicationRegistryKey() {
  ProfileLockScope lock;
  return State().registry_key;
}

std::u16string ApplicationProfileName() {
  std::u16string title = FileTitle(sys::ExecutablePath());
  if (ApplicationRegistryKey().empty()) title += u".ini";
  return title;
}

std::u16string ApplicationSectionKey(std::u16string_view profile_name, std::u16string_view section) {
  return u"Software\\" + ApplicationRegistryKey() + u"\\" + std::u16string(profile_name) + u"\\" +
         std::u16string(section);
}

void ResetRegKeyBase() {
  ProfileLockScope lock;
  State().reg_key_base.clear();
  State().reg_key_base_pending = true;
}

}  // namespace ocelo
