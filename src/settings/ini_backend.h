// The storage behind every Profile: what a Profile's name resolves to, the four backend operations on its
// INI file (or, on the registry route, its key in the registry store), and the process-wide read cache.
// Profile reaches its storage only through these functions. It has already turned away absent sections and
// entries (except where StoreString gives them a meaning) and holds the ProfileLock around the four backend
// operations; the functions below need no lock of their own for that.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/profile.h"

namespace ocelo::ini_backend {

/// Whether a backend read may be answered from the read cache and fill it.
enum class CacheUse {
  kUse,     ///< the normal read path: cache, storage, cache fill, read log
  kBypass,  ///< straight from the storage, neither answered from nor added to the cache (presence tests)
};

/// The `name` a Profile constructed with `name` holds: the full path of its INI file or, on the registry
/// route, the application's profile name. An empty name stands for the program's own settings file.
std::u16string ResolveName(std::u16string_view name);

/// Called once by each Profile's constructor, after its name is resolved and before the "Debug" switches
/// are read: while the process-wide cache switch ("Debug\2009_09"/"UseProfileCache") is still pending,
/// reads it through `profile` (its GetInt); `named` (the profile was given a name) ends the pending state.
void LoadCacheSwitch(Profile& profile, bool named);

/// The stored number of the entry (the leading decimal number of its text), or the default for a missing
/// or empty entry. With the cache in use, the answer is cached, a missing entry as missing, so that a
/// later read of it gives that read's own default.
std::int32_t ReadInt(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                     std::int32_t default_value, CacheUse cache);

/// Stores the number ("%d"); fills the cache first (and drops a cached text of the entry). A write that
/// fails takes the entry out of the cache again.
bool StoreInt(const Profile& profile, std::u16string_view section, std::u16string_view entry, std::int32_t value);

/// The stored text of the entry (surrounding quotes removed), or the default; either cut to 9999
/// characters. Cached as ReadInt is.
std::u16string ReadString(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                          std::u16string_view default_text, CacheUse cache);

/// Stores the text unchanged; fills the cache first (and drops a cached number of the entry). An absent
/// entry deletes the whole section and an absent value deletes the entry; a deletion takes the deleted
/// values out of the cache, so the next read gives its default. A write that fails takes the entry out
/// of the cache again.
bool StoreString(const Profile& profile, std::u16string_view section, TextArg entry, TextArg value);

/// The read cache. Section and entry are present; the profile's Name() is part of the key.
int FindCachedInt(const Profile& profile, std::u16string_view section, std::u16string_view entry);
int FindCachedString(const Profile& profile, std::u16string_view section, std::u16string_view entry);
bool CacheInt(const Profile& profile, std::u16string_view section, std::u16string_view entry, std::int32_t value);
bool CacheString(const Profile& profile, std::u16string_view section, std::u16string_view entry,
                 std::u16string_view value);
bool AgeCache(const Profile& profile);

}  // namespace ocelo::ini_backend
