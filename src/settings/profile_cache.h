// The settings store's process-wide read cache: numbers and texts read or written recently, keyed by the
// profile's name, the section and the entry (compared without case), answered without a file access
// and emptied by the first store more than ten seconds after the previous flush.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// One cached value: a number or a text, or the knowledge that the storage holds none for the entry (a
/// read then gives its own default). A number entry has an empty text, a text entry the number 0.
class CacheEntry {
 public:
  CacheEntry(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry,
             std::int32_t int_value, std::u16string_view text_value, bool stored = true)
      : profile_name_(profile_name),
        section_(section),
        entry_(entry),
        int_value_(int_value),
        text_value_(text_value),
        stored_(stored) {}

  void SetIntValue(std::int32_t value) {
    int_value_ = value;
    stored_ = true;
  }
  void SetTextValue(std::u16string_view value) {
    text_value_ = value;
    stored_ = true;
  }
  /// Records that the storage holds no value; the values stay (the defaults read), for the flush report.
  void SetMissing() { stored_ = false; }
  void AddHit() { ++hits_; }
  const std::u16string& ProfileName() const { return profile_name_; }
  const std::u16string& Section() const { return section_; }
  const std::u16string& Entry() const { return entry_; }
  std::int32_t IntValue() const { return int_value_; }
  const std::u16string& TextValue() const { return text_value_; }
  std::int32_t Hits() const { return hits_; }
  /// False when the entry records that the storage holds no value.
  bool Stored() const { return stored_; }

  /// Whether the entry belongs to this profile name, section and entry, all compared without case.
  bool Matches(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry) const;

 private:
  std::u16string profile_name_;
  std::u16string section_;
  std::u16string entry_;
  std::int32_t int_value_ = 0;
  std::u16string text_value_;
  std::int32_t hits_ = 0;
  bool stored_ = true;
};

namespace profile_cache {

/// The two arrays: cached numbers and cached texts.
enum class Kind { kInt, kText };

/// The cache switch ("Debug\2009_09"/"UseProfileCache", on until read otherwise) and whether it is still
/// to be read: profiles read it while it is pending, and the first profile given a name settles it.
std::int32_t Switch();
bool SwitchPending();
void SetSwitch(std::int32_t value, bool settle);

/// The index of the cached entry, counting a hit; -1 when the cache is off or holds no such entry.
int Find(Kind kind, std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry);

/// The answer of the cache, counting a hit: the cached value, or the given default when the cache knows
/// the storage holds none; nullopt when the cache is off or knows nothing of the entry.
std::optional<std::int32_t> LookupInt(std::u16string_view profile_name, std::u16string_view section,
                                      std::u16string_view entry, std::int32_t default_value);
std::optional<std::u16string> LookupText(std::u16string_view profile_name, std::u16string_view section,
                                         std::u16string_view entry, std::u16string_view default_text);

/// Ages the cache (Age), then sets the value of the entry or appends a new one; with `stored` false it
/// records instead that the storage holds no value. False when the cache is off. `report` is the storing
/// profile's read-log switch, used when the aging flushes.
bool StoreInt(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry,
              std::int32_t value, bool report, bool stored = true);
bool StoreText(std::u16string_view profile_name, std::u16string_view section, std::u16string_view entry,
               std::u16string_view value, bool report, bool stored = true);

/// Removes cached values of the profile: of one entry from one array or from both (`kind` nullopt), or
/// of every entry of a section (`entry` nullopt) from both.
void Forget(std::u16string_view profile_name, std::u16string_view section, std::optional<std::u16string_view> entry,
            std::optional<Kind> kind = std::nullopt);

/// Flushes both arrays when more than ten seconds (of the program's clock) have passed since the last
/// flush: with `report` on, the flush first signals once per array (see SetFlushSignal) and writes one
/// dump line per entry, "Cache " TAB SP profile TAB SP section TAB SP entry TAB SP number TAB SP text TAB
/// SP hits. Always true.
bool Age(bool report);

/// Called once for each reported flush of an array; the dialog sets it to sound the system's notice.
void SetFlushSignal(void (*signal)());
/// The flush signal set last; null when none is set.
void (*FlushSignal())();

/// Writes one line to the dump log, unless the running module is a library (extension "dll").
void LogLine(std::u16string_view line);

/// Tests: the entries of one array, in order; emptying both arrays and starting a new flush period;
/// putting the switch back to on and pending.
std::vector<CacheEntry> Entries(Kind kind);
void Clear();
void ResetSwitch();

}  // namespace profile_cache
}  // namespace ocelo
