// Profile: the program's handle on one settings area (an INI file, or a key of the registry store), with the
// text forms of typed values; PathProfile adds folder paths. The text forms are shared by every tool of the
// family and persist for years: every entry-name suffix and format below is a stored format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ocelo {

/// A section, entry, value or default argument of the settings store. std::nullopt is the absent argument,
/// which has a meaning of its own (an absent entry deletes a section, an absent value deletes an entry);
/// an empty text is a valid name.
using TextArg = std::optional<std::u16string_view>;

/// A rectangle: left, top, right, bottom.
struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

/// A point: x, y.
struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

/// The text forms of typed values, shared by Profile and RegistryStore. A typed value lives in entries named
/// after the caller's entry plus one of these suffixes.
namespace value_text {

inline constexpr std::u16string_view kHighSuffix = u"_H";       ///< high 32 bits of a 64-bit integer
inline constexpr std::u16string_view kLowSuffix = u"_L";        ///< low 32 bits of a 64-bit integer
inline constexpr std::u16string_view kInt64Suffix = u"_I64_";   ///< readable copy of a 64-bit integer
inline constexpr std::u16string_view kDoubleSuffix = u"_Flt_";  ///< readable copy of a double, "%.20g"
inline constexpr std::u16string_view kRectSuffix = u"_LTRB";    ///< readable copy of a rectangle
inline constexpr std::u16string_view kPointSuffix = u"_L_XY";   ///< readable copy of a point

/// "%d".
std::u16string FormatInt(std::int32_t value);
/// Decimal, a minus sign for negatives, no leading zeros.
std::u16string FormatInt64(std::int64_t value);
/// "%g" (six significant digits), with "." as the decimal point whatever the locale.
///   0.1 => 0.1      1234567 => 1.23457e+06
std::u16string FormatDoubleShort(double value);
/// "%.20g", with "." as the decimal point whatever the locale.
///   0.1 => 0.10000000000000000555
std::u16string FormatDoubleFull(double value);
/// "%09d %09d %09d %09d" (left top right bottom).
///   (10, -5, 300, 1234567890) => 000000010 -00000005 000000300 1234567890
std::u16string FormatRectPadded(const Rect& rect);
/// "%09d %09d" (x y).
std::u16string FormatPointPadded(const Point& point);
/// "%d %d %d %d", quoted: "10 20 300 400" with the double quotes.
std::u16string FormatRectCopy(const Rect& rect);
/// "%d %d", quoted.
std::u16string FormatPointCopy(const Point& point);

/// The text between double quotes when it holds a comma, a tab or a space; otherwise unchanged.
std::u16string Quote(std::u16string_view text);
/// The text without its first and last characters when it has at least two, they are equal, and they are
/// a double quote or an apostrophe; otherwise unchanged.
std::u16string Unquote(std::u16string_view text);

/// The tokens of a text separated by single spaces (no other blank separates): consecutive spaces give
/// empty tokens, a trailing space an empty last token, and an empty text one empty token.
///   1 2 => [1, 2]      1  2 => [1, (empty), 2]      (empty) => [(empty)]
std::vector<std::u16string> SplitTokens(std::u16string_view text);

/// `_wtoi`: optional blanks, an optional sign and the leading decimal digits; 0 when there are none.
/// Values beyond the 32-bit range give the nearest limit.
std::int32_t ParseInt(std::u16string_view text);
/// `_wtoi64`: the same for 64 bits.
std::int64_t ParseInt64(std::u16string_view text);
/// `wcstod`: optional blanks and the leading floating-point number (decimal or hexadecimal, "inf", "nan");
/// 0 when there is none. Locale-independent: "." is the decimal point.
double ParseDouble(std::u16string_view text);

/// The first four tokens parsed as left, top, right, bottom; a missing token leaves 0.
Rect ParseRect(std::u16string_view text);
/// The first two tokens parsed as x, y; a missing token leaves 0.
Point ParsePoint(std::u16string_view text);

/// The high and low 32-bit halves of a 64-bit integer, each taken as signed, and the integer from them.
std::int32_t HighHalf(std::int64_t value);
std::int32_t LowHalf(std::int64_t value);
std::int64_t JoinHalves(std::int32_t high, std::int32_t low);

}  // namespace value_text

/// One settings area: a section/entry store in an INI file, or under the registry store. Every reader and
/// writer of settings goes through it. Reads fall back to their default (absent names, missing entries,
/// backend failures); writes return false. The backend operations reach the storage through
/// settings/ini_backend.h.
class Profile {
 public:
  /// Resolves `name` to the settings file (an empty name stands for the program's own file), then reads
  /// the switches "Debug"/"Write" (with write-back still off) and "Debug"/"Log".
  explicit Profile(std::u16string_view name);
  virtual ~Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // The four basic operations; everything else is built on them.

  /// The stored number, or the default; with write-back on, a read of a present section and entry writes
  /// the result back.
  virtual std::int32_t GetInt(TextArg section, TextArg entry, std::int32_t default_value);
  /// Stores the number as "%d"; false for an absent section or entry, or when the store fails.
  virtual bool WriteInt(TextArg section, TextArg entry, std::int32_t value);
  /// The stored text, or the default (empty when absent); write-back as for GetInt.
  virtual std::u16string GetString(TextArg section, TextArg entry, TextArg default_text);
  /// Stores the text. An absent entry deletes the whole section and an absent value deletes the entry;
  /// only an absent section returns false at once.
  virtual bool WriteString(TextArg section, TextArg entry, TextArg value);

  /// Writes the value only when the entry is not there yet; false when it is (nothing written).
  virtual bool WriteStringIfAbsent(TextArg section, TextArg entry, TextArg value);
  virtual bool WriteIntIfAbsent(TextArg section, TextArg entry, std::int32_t value);

  // Typed values. Each Write also stores a readable copy (entry + "_I64_", "_Flt_", "_LTRB", "_L_XY") and
  // each Get reads that copy too, but the value returned always comes from the authoritative entries.

  /// Entries "_H" and "_L" (authoritative) and "_I64_" (readable copy).
  virtual std::int64_t GetInt64(TextArg section, TextArg entry, std::int64_t default_value);
  virtual bool WriteInt64(TextArg section, TextArg entry, std::int64_t value);
  /// The entry itself in "%g" (authoritative, so a value reads back with six significant digits) and
  /// "_Flt_" in "%.20g" (readable copy).
  virtual double GetDouble(TextArg section, TextArg entry, double default_value);
  virtual bool WriteDouble(TextArg section, TextArg entry, double value);
  /// The entry itself, padded "%09d %09d %09d %09d" (authoritative), and "_LTRB", quoted "%d %d %d %d".
  virtual Rect GetRect(TextArg section, TextArg entry, const Rect& default_value);
  virtual bool WriteRect(TextArg section, TextArg entry, const Rect& value);
  /// The entry itself, padded "%09d %09d" (authoritative), and "_L_XY", quoted "%d %d".
  virtual Point GetPoint(TextArg section, TextArg entry, const Point& default_value);
  virtual bool WritePoint(TextArg section, TextArg entry, const Point& value);

  /// The authoritative forms alone.
  virtual std::int64_t GetInt64Split(TextArg section, TextArg entry, std::int64_t default_value);
  virtual bool WriteInt64Split(TextArg section, TextArg entry, std::int64_t value);
  virtual double GetDoubleShort(TextArg section, TextArg entry, double default_value);
  virtual bool WriteDoubleShort(TextArg section, TextArg entry, double value);
  /// A missing number in the stored text reads as 0, not as the default's.
  virtual Rect GetRectPadded(TextArg section, TextArg entry, const Rect& default_value);
  virtual bool WriteRectPadded(TextArg section, TextArg entry, const Rect& value);
  virtual Point GetPointPadded(TextArg section, TextArg entry, const Point& default_value);
  virtual bool WritePointPadded(TextArg section, TextArg entry, const Point& value);

  // The backend operations, called by the store itself (the basic operations hold the ProfileLock around
  // them); they go through the read cache.

  virtual std::int32_t ReadInt(TextArg section, TextArg entry, std::int32_t default_value);
  virtual bool StoreInt(TextArg section, TextArg entry, std::int32_t value);
  virtual std::u16string ReadString(TextArg section, TextArg entry, TextArg default_text);
  virtual bool StoreString(TextArg section, TextArg entry, TextArg value);

  /// The full path of the INI file or, on the registry route, the application's profile name.
  virtual std::u16string GetName() const;

  // The read cache (process-wide, shared by all profiles, keyed by profile name, section and entry).

  /// The index of the cached entry (counting a hit), or -1.
  virtual int FindCachedInt(TextArg section, TextArg entry);
  virtual int FindCachedString(TextArg section, TextArg entry);
  virtual bool CacheInt(TextArg section, TextArg entry, std::int32_t value);
  virtual bool CacheString(TextArg section, TextArg entry, TextArg value);
  /// Flushes the cache when the last flush is more than ten seconds ago.
  virtual bool AgeCache();

  /// The name without a copy, and the switches, for the backend.
  const std::u16string& Name() const { return name_; }
  bool WritesBack() const { return write_back_ != 0; }
  bool LogsReads() const { return log_reads_ != 0; }

 protected:
  /// Backend reads for the presence tests of WriteStringIfAbsent and WriteIntIfAbsent: straight from the
  /// storage, neither answered from nor added to the read cache. Section and entry are present.
  virtual std::int32_t ReadIntUncached(std::u16string_view section, std::u16string_view entry,
                                       std::int32_t default_value);
  virtual std::u16string ReadStringUncached(std::u16string_view section, std::u16string_view entry,
                                            std::u16string_view default_text);

 private:
  std::u16string name_;
  std::int32_t write_back_ = 0;
  std::int32_t log_reads_ = 0;
};

/// A Profile that also keeps folder paths, one entry per key in the section "FilePath".
class PathProfile : public Profile {
 public:
  explicit PathProfile(std::u16string_view name) : Profile(name) {}

  /// The stored folder with a trailing separator; "." and a separator when the entry is missing or empty.
  virtual std::u16string GetFolderPath(TextArg key, TextArg default_text);
  /// Stores the folder with a trailing separator (an empty path stays empty).
  virtual bool WriteFolderPath(TextArg key, std::u16string_view path);
};

}  // namespace ocelo
