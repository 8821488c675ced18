// The backend of every Profile: names resolved to INI files (or registry keys), the four backend operations
// through the read cache, and the read log.
#include "settings/ini_backend.h"

#include "settings/ini_file.h"
#include "settings/ini_path.h"
#include "settings/profile_cache.h"
#include "settings/registry.h"

namespace ocelo::ini_backend {
namespace {

// The longest value a read returns, as the INI reader's buffer of 10000 characters with its terminator.
constexpr std::size_t kMaxValueLength = 9999;

// The system's INI functions take C strings: a name or value ends at its first U+0000.
std::u16string_view UpToNull(std::u16string_view text) {
  const std::size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

TextArg UpToNull(TextArg text) {
  if (!text) return text;
  return UpToNull(*text);
}

bool OnRegistryRoute() { return !ApplicationRegistryKey().empty(); }

std::u16string SectionKey(const Profile& profile, std::u16string_view section) {
  return ApplicationSectionKey(profile.Name(), section);
}

// The stored text of an entry with its quotes removed, or nullopt when it is missing.
std::optional<std::u16string> ReadIniText(const Profile& profile, std::u16string_view section,
                                          std::u16string_view entry) {
  std::optional<std::u16string> value = ini::ReadValue(profile.Name(), UpToNull(section), UpToNull(entry));
  if (value) *value = value_text::Unquote(*value);
  return value;
}

// The number or text of a registry value, or nullopt when none is stored: the store answers a missing
// value with the default, so a value equal to the first default is asked for again with another.
std::optional<std::int32_t> RegistryInt(std::u16string_view key, std::u16string_view name) {
  const std::int32_t first = RegistryStore().GetInt(kHkeyCurrentUser, key, name, 0);
  if (first != 0) return first;
  const std::int32_t second = RegistryStore().GetInt(kHkeyCurrentUser, key, name, 1);
  if (second == 1) return std::nullopt;
  return second;
}

std::optional<std::u16string> RegistryText(std::u16string_view key, std::u16string_view name) {
  std::u16string first = RegistryStore().GetString(kHkeyCurrentUser, key, name, u"");
  if (!first.empty()) return first;
  constexpr std::u16string_view kSentinel = u"\uFFFF(none)";
  std::u16string second = RegistryStore().GetString(kHkeyCurrentUser, key, name, kSentinel);
  if (second == kSentinel) return std::nullopt;
  return second;
}

void LogRead(const Profile& profile, std::u16string_view tag, std::u16string_view section, std::u16string_view entry,
             std::u16string_view default_text, std::u16string_view result) {
  if (!profile.LogsReads()) return;
  profile_cache::LogLine(std::u16string(tag) + u"\t " + profile.Name() + u"\t " + std::u16string(section) + u"\t " +
                         std::u16string(entry) + u"\t " + std::u16string(default_text) + u"\t " +
                         std::u16string(result));
}

}  // namespace

std::u16string ResolveName(std::u16string_view name) {
  if (!name.empty()) return OnRegistryRoute() ? std::u16string(name) : ResolveIniPath(std::u16string(name) + u".ini");
  return OnRegistryRoute() ? ApplicationProfileName() : ResolveIniPath(ApplicationProfileName());
}

void LoadCacheSwitch(Profile& profile, bool named) {
  if (!profile_cache::SwitchPending()) return;
  const std::int32_t value = profile.GetInt(u"Debug\\2009_09", u"UseProfileCache", profile_cache::Switch());
  profile_cache::SetSwitch(value, named);
}

std::int32_t ReadInt(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                     std::int32_t default_value, CacheUse cache) {
  const bool cached = cache == CacheUse::kUse;
  if (cached) {
    if (auto hit = profile_cache::LookupInt(profile.Name(), section, entry, default_value)) return *hit;
  }
  std::optional<std::int32_t> stored;
  if (OnRegistryRoute()) {
    stored = RegistryInt(SectionKey(profile, section), entry);
  } else if (std::optional<std::u16string> text = ReadIniText(profile, section, entry); text && !text->empty()) {
    // An empty value reads as the default, as a missing one does.
    stored = value_text::ParseInt(*text);
  }
  const std::int32_t result = stored.value_or(default_value);
  if (!cached) return result;
  // A missing entry is cached as missing, so that a later read gets its own default.
  profile_cache::StoreInt(profile.Name(), section, entry, result, profile.LogsReads(), stored.has_value());
  LogRead(profile, u"GetInt", section, entry, value_text::FormatInt(default_value), value_text::FormatInt(result));
  return result;
}

bool StoreInt(const Profile& profile, std::u16string_view section, std::u16string_view entry, std::int32_t value) {
  CacheInt(profile, section, entry, value);
  // A text read of the same entry must not find the text cached before this write.
  profile_cache::Forget(profile.Name(), section, entry, profile_cache::Kind::kText);
  const bool stored = OnRegistryRoute()
                          ? RegistryStore().WriteInt(kHkeyCurrentUser, SectionKey(profile, section), entry, value)
                          : ini::WriteValue(profile.Name(), UpToNull(section), UpToNull(entry),
                                            value_text::FormatInt(value));
  // The cache never answers with a value that the storage refused.
  if (!stored) profile_cache::Forget(profile.Name(), section, entry);
  return stored;
}

std::u16string ReadString(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                          std::u16string_view default_text, CacheUse cache) {
  const bool cached = cache == CacheUse::kUse;
  if (cached) {
    if (auto hit = profile_cache::LookupText(profile.Name(), section, entry, default_text)) return *hit;
  }
  std::optional<std::u16string> stored;
  if (OnRegistryRoute()) {
    stored = RegistryText(SectionKey(profile, section), entry);
  } else {
    stored = ReadIniText(profile, section, entry);
    if (stored && stored->size() > kMaxValueLength) stored->resize(kMaxValueLength);
  }
  std::u16string result = stored ? *stored : std::u16string(UpToNull(default_text).substr(0, kMaxValueLength));
  if (!cached) return result;
  profile_cache::StoreText(profile.Name(), section, entry, result, profile.LogsReads(), stored.has_value());
  LogRead(profile, u"GetStr", section, entry, default_text, result);
  return result;
}

bool StoreString(const Profile& profile, std::u16string_view section, TextArg entry, TextArg value) {
  // A deletion takes the deleted values out of the cache: caching an absent value as an empty text would
  // make the next read return that text instead of its default.
  if (!entry) {
    profile_cache::Forget(profile.Name(), section, std::nullopt);
  } else if (!value) {
    profile_cache::Forget(profile.Name(), section, *entry);
  } else {
    CacheString(profile, section, *entry, *value);
    profile_cache::Forget(profile.Name(), section, *entry, profile_cache::Kind::kInt);
  }
  bool stored;
  if (OnRegistryRoute()) {
    stored = RegistryStore().WriteString(kHkeyCurrentUser, SectionKey(profile, section), entry, value);
  } else {
    stored = ini::WriteValue(profile.Name(), UpToNull(section), UpToNull(entry), UpToNull(value));
  }
  if (!stored && entry && value) profile_cache::Forget(profile.Name(), section, *entry);
  return stored;
}

int FindCachedInt(const Profile& profile, std::u16string_view section, std::u16string_view entry) {
  return profile_cache::Find(profile_cache::Kind::kInt, profile.Name(), section, entry);
}

int FindCachedString(const Profile& profile, std::u16string_view section, std::u16string_view entry) {
  return profile_cache::Find(profile_cache::Kind::kText, profile.Name(), section, entry);
}

bool CacheInt(const Profile& profile, std::u16string_view section, std::u16string_view entry, std::int32_t value) {
  return profile_cache::StoreInt(profile.Name(), section, entry, value, profile.LogsReads());
}

bool CacheString(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                 std::u16string_view value) {
  return profile_cache::StoreText(profile.Name(), section, entry, value, profile.LogsReads());
}

bool AgeCache(const Profile& profile) { return profile_cache::Age(profile.LogsReads()); }

}  // namespace ocelo::ini_backend
