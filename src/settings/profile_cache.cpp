// The read cache: two arrays scanned from the front, their flush period, and the flush report.
#include "settings/profile_cache.h"

#include <algorithm>

#include "base/ascii.h"
#include "platform/system.h"
#include "settings/profile.h"
#include "settings/profile_lock.h"
#include "util/dump.h"
#include "util/policy.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// The cache's process-wide state; every access holds the ProfileLock (a recursive lock).
struct State {
  std::int32_t use_cache = 1;
  bool setting_pending = true;
  std::vector<CacheEntry> ints;
  std::vector<CacheEntry> texts;
  std::uint32_t last_age = 0;
  void (*flush_signal)() = nullptr;
};

State& Cache() {
  static State state;
  return state;
}

std::vector<CacheEntry>& Array(profile_cache::Kind kind) {
  return kind == profile_cache::Kind::kInt ? Cache().ints : Cache().texts;
}

int IndexOf(std::vector<CacheEntry>& array, std::u16string_view profile_name, std::u16string_view section,
            std::u16string_view entry) {
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (array[i].Matches(profile_name, section, entry)) {
      array[i].AddHit();
      return static_cast<int>(i);
    }
  }
  return -1;
}

void ReportAndFlush(std::vector<CacheEntry>& array, bool report) {
  if (report) {
    if (Cache().flush_signal) Cache().flush_signal();
    for (const CacheEntry& entry : array) {
      profile_cache::LogLine(u"Cache \t " + entry.ProfileName() + u"\t " + entry.Section() + u"\t " + entry.Entry() +
                             u"\t " + value_text::FormatInt(entry.IntValue()) + u"\t " + entry.TextValue() + u"\t " +
                             value_text::FormatInt(entry.Hits()));
    }
  }
  array.clear();
}

}  // namespace

bool CacheEntry::Matches(std::u16string_view profile_name, std::u16string_view section,
                         std::u16string_view entry) const {
  return EqualsIgnoringAsciiCase(entry_, entry) && EqualsIgnoringAsciiCase(section_, section) &&
         EqualsIgnoringAsciiCase(profile_name_, profile_name);
}

namespace profile_cache {

std::int32_t Switch() {
  ProfileLockScope lock;
  return Cache().use_cache;
}

bool SwitchPending() {
  ProfileLockScope lock;
  return Cache().setting_pending;
}

void SetSwitch(std::int32_t value, bool settle) {
  ProfileLockScope lock;
  Cache().use_cache = value;
  if (settle) Cache().setting_pending = false;
}

int Find(Kind kind, std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry) {
  ProfileLockScope lock;
  if (Cache().use_cache == 0) return -1;
  return IndexOf(Array(kind), profile_name, section, entry);
}

std::optional<std::int32_t> LookupInt(std::u16string_view profile_name, std::u16string_view section,
                                      std::u16string_view entry, std::int32_t default_value) {
  ProfileLockScope lock;
  const int i = Find(Kind::kInt, profile_name, section, entry);
  if (i < 0) return std::nullopt;
  const CacheEntry& cached = Cache().ints[static_cast<std::size_t>(i)];
  return cached.Stored() ? cached.IntValue() : default_value;
}

std::optional<std::u16string> LookupText(std::u16string_view profile_name, std::u16string_view section,
                                         std::u16string_view entry, std::u16string_view default_text) {
  ProfileLockScope lock;
  const int i = Find(Kind::kText, profile_name, section, entry);
  if (i < 0) return std::nullopt;
  const CacheEntry& cached = Cache().texts[static_cast<std::size_t>(i)];
  return cached.Stored() ? cached.TextValue() : std::u16string(default_text);
}

bool StoreInt(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry,
              std::int32_t value, bool report, bool stored) {
  ProfileLockScope lock;
  if (Cache().use_cache == 0) return false;
  Age(report);
  const int i = Find(Kind::kInt, profile_name, section, entry);
  if (i < 0) {
    Cache().ints.emplace_back(profile_name, section, entry, 0, u"", stored);
  }
  CacheEntry& cached = i < 0 ? Cache().ints.back() : Cache().ints[static_cast<std::size_t>(i)];
  cached.SetIntValue(value);
  if (!stored) cached.SetMissing();
  return true;
}

bool StoreText(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry,
               std::u16string_view value, bool report, bool stored) {
  ProfileLockScope lock;
  if (Cache().use_cache == 0) return false;
  Age(report);
  const int i = Find(Kind::kText, profile_name, section, entry);
  if (i < 0) {
    Cache().texts.emplace_back(profile_name, section, entry, 0, u"", stored);
  }
  CacheEntry& cached = i < 0 ? Cache().texts.back() : Cache().texts[static_cast<std::size_t>(i)];
  cached.SetTextValue(value);
  if (!stored) cached.SetMissing();
  return true;
}

void Forget(std::u16string_view profile_name, std::u16string_view section, std::optional<std::u16string_view> entry,
            std::optional<Kind> kind) {
  ProfileLockScope lock;
  for (Kind k : {Kind::kInt, Kind::kText}) {
    if (kind && *kind != k) continue;
    std::erase_if(Array(k), [&](const CacheEntry& cached) {
      return entry ? cached.Matches(profile_name, section, *entry)
                   : EqualsIgnoringAsciiCase(cached.Section(), section) &&
                         EqualsIgnoringAsciiCase(cached.ProfileName(), profile_name);
    });
  }
}

bool Age(bool report) {
  ProfileLockScope lock;
  const std::uint32_t now = static_cast<std::uint32_t>(Now());
  if (now - Cache().last_age > 10) {
    Cache().last_age = now;
    ReportAndFlush(Cache().ints, report);
    ReportAndFlush(Cache().texts, report);
  }
  return true;
}

void SetFlushSignal(void (*signal)()) {
  ProfileLockScope lock;
  Cache().flush_signal = signal;
}

void (*FlushSignal())() {
  ProfileLockScope lock;
  return Cache().flush_signal;
}

void LogLine(std::u16string_view line) {
  if (LowerExtension(sys::ExecutablePath()) == u"dll") return;
  DumpText(line);
}

std::vector<CacheEntry> Entries(Kind kind) {
  ProfileLockScope lock;
  return Array(kind);
}

void Clear() {
  ProfileLockScope lock;
  Cache().ints.clear();
  Cache().texts.clear();
  Cache().last_age = static_cast<std::uint32_t>(Now());
}

void ResetSwitch() {
  ProfileLockScope lock;
  Cache().use_cache = 1;
  Cache().setting_pending = true;
}

}  // namespace profile_cache
}  // namespace ocelo
