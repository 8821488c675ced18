// PLACEHOLDER: an in-memory store that stands in for the INI engine and read cache so that Profile links and
// its tests run. The INI engine replaces this whole file: names resolve to INI paths, entries live in
// UTF-16 INI files, and the read cache is real. Nothing here persists beyond the process.
#include "settings/ini_backend.h"

#include <map>
#include <mutex>
#include <utility>

namespace ocelo::ini_backend {
namespace {

std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

// (profile name, section) => entry => text, all names without case.
using Entries = std::map<std::u16string, std::u16string>;
using Sections = std::map<std::pair<std::u16string, std::u16string>, Entries>;

Sections& Store() {
  static Sections store;
  return store;
}

std::mutex& StoreGuard() {
  static std::mutex guard;
  return guard;
}

const std::u16string* Find(const Profile& profile, std::u16string_view section, std::u16string_view entry) {
  auto s = Store().find({Fold(profile.Name()), Fold(section)});
  if (s == Store().end()) return nullptr;
  auto e = s->second.find(Fold(entry));
  return e == s->second.end() ? nullptr : &e->second;
}

}  // namespace

std::u16string ResolveName(std::u16string_view name) { return std::u16string(name); }

void LoadCacheSwitch(Profile&, bool) {}

std::int32_t ReadInt(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                     std::int32_t default_value, CacheUse) {
  std::lock_guard lock(StoreGuard());
  const std::u16string* text = Find(profile, section, entry);
  return text ? value_text::ParseInt(*text) : default_value;
}

bool StoreInt(const Profile& profile, std::u16string_view section, std::u16string_view entry,
              std::int32_t value) {
  return StoreString(profile, section, entry, value_text::FormatInt(value));
}

std::u16string ReadString(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                          std::u16string_view default_text, CacheUse) {
  std::lock_guard lock(StoreGuard());
  const std::u16string* text = Find(profile, section, entry);
  return text ? value_text::Unquote(*text) : std::u16string(default_text);
}

bool StoreString(const Profile& profile, std::u16string_view section, TextArg entry, TextArg value) {
  std::lock_guard lock(StoreGuard());
  auto key = std::make_pair(Fold(profile.Name()), Fold(section));
  if (!entry) {
    Store().erase(key);
  } else if (!value) {
    auto s = Store().find(key);
    if (s != Store().end()) s->second.erase(Fold(*entry));
  } else {
    Store()[key][Fold(*entry)] = std::u16string(*value);
  }
  return true;
}

int FindCachedInt(const Profile&, std::u16string_view, std::u16string_view) { return -1; }
int FindCachedString(const Profile&, std::u16string_view, std::u16string_view) { return -1; }
bool CacheInt(const Profile&, std::u16string_view, std::u16string_view, std::int32_t) { return false; }
bool CacheString(const Profile&, std::u16string_view, std::u16string_view, std::u16string_view) {
  return false;
}
bool AgeCache(const Profile&) { return true; }

}  // namespace ocelo::ini_backend
