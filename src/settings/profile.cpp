// Profile and PathProfile: the four basic operations over the backend and the typed value texts.
#include "settings/profile.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <system_error>

#include "base/paths.h"
#include "settings/ini_backend.h"
#include "settings/profile_lock.h"

namespace ocelo {

// --- text forms --------------------------------------------------------------------------------------------

namespace value_text {
namespace {

std::u16string Widen(const char* first, const char* last) {
  return std::u16string(first, last);  // the formats below only ever produce ASCII
}

// "%09d": at least nine characters, zero-filled after the sign.
std::u16string Padded(std::int32_t value) {
  char digits[16];
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  std::size_t count = static_cast<std::size_t>(end - digits);
  std::size_t width = value < 0 ? 8 : 9;
  std::u16string text;
  if (value < 0) text.push_back(u'-');
  if (count < width) text.append(width - count, u'0');
  text.append(Widen(digits, end));
  return text;
}

std::u16string FormatDouble(double value, int precision) {
  // to_chars in general form with a precision is printf's "%.*g" in the "C" locale, whatever locale the
  // process runs in (a comma as decimal point would corrupt the stored text).
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
  if (result.ec != std::errc()) return u"0";
  return Widen(buffer, result.ptr);
}

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Optional blanks and one sign: the position after them, and whether the sign was a minus.
std::size_t SkipBlanksAndSign(std::u16string_view text, bool& negative) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  return i;
}

template <typename Int>
Int ParseSaturating(std::u16string_view text) {
  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, negative);
  using Unsigned = std::make_unsigned_t<Int>;
  const Unsigned limit = negative ? Unsigned(std::numeric_limits<Int>::max()) + 1u
                                  : Unsigned(std::numeric_limits<Int>::max());
  Unsigned magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    Unsigned digit = text[i] - u'0';
    if (magnitude > (limit - digit) / 10u) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10u + digit;
  }
  if (!negative) return static_cast<Int>(magnitude);
  return magnitude == Unsigned(std::numeric_limits<Int>::max()) + 1u ? std::numeric_limits<Int>::min()
                                                                     : -static_cast<Int>(magnitude);
}

// Whether an out-of-range number text (digits, point, exponent) is too large rather than too small: the
// position of its first significant digit plus its exponent.
bool TooLarge(std::string_view number, bool hex) {
  const char exponent_mark = hex ? 'p' : 'e';
  long position = 0;  // digits of the integer part after leading zeros, or minus the zeros after the point
  bool seen_point = false, seen_digit = false;
  std::size_t i = 0;
  for (; i < number.size(); ++i) {
    char c = number[i];
    if (c == '.') {
      seen_point = true;
    } else if ((c | 0x20) == exponent_mark) {
      break;
    } else if (!seen_digit && c == '0') {
      if (seen_point) --position;
    } else {
      seen_digit = true;
      if (!seen_point) ++position;
    }
  }
  long exponent = 0;
  if (i < number.size()) {
    bool negative = false;
    ++i;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
    for (; i < number.size() && exponent < 100000; ++i) exponent = exponent * 10 + (number[i] - '0');
    if (negative) exponent = -exponent;
  }
  return (hex ? position * 4 : position) + exponent > 0;
}

}  // namespace

std::u16string FormatInt(std::int32_t value) {
  char buffer[16];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return Widen(buffer, end);
}

std::u16string FormatInt64(std::int64_t value) {
  char buffer[24];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return Widen(buffer, end);
}

std::u16string FormatDoubleShort(double value) { return FormatDouble(value, 6); }
std::u16string FormatDoubleFull(double value) { return FormatDouble(value, 20); }

std::u16string FormatRectPadded(const Rect& rect) {
  return Padded(rect.left) + u' ' + Padded(rect.top) + u' ' + Padded(rect.right) + u' ' + Padded(rect.bottom);
}

std::u16string FormatPointPadded(const Point& point) { return Padded(point.x) + u' ' + Padded(point.y); }

std::u16string FormatRectCopy(const Rect& rect) {
  return Quote(FormatInt(rect.left) + u' ' + FormatInt(rect.top) + u' ' + FormatInt(rect.right) + u' ' +
               FormatInt(rect.bottom));
}

std::u16string FormatPointCopy(const Point& point) { return Quote(FormatInt(point.x) + u' ' + FormatInt(point.y)); }

std::u16string Quote(std::u16string_view text) {
  if (text.find_first_of(u", \t") == std::u16string_view::npos) return std::u16string(text);
  std::u16string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back(u'"');
  quoted.append(text);
  quoted.push_back(u'"');
  return quoted;
}

std::u16string Unquote(std::u16string_view text) {
  if (text.size() >= 2 && text.front() == text.back() && (text.front() == u'"' || text.front() == u'\'')) {
    text = text.substr(1, text.size() - 2);
  }
  return std::u16string(text);
}

std::vector<std::u16string> SplitTokens(std::u16string_view text) {
  // The text with one space appended, cut before every space.
  std::vector<std::u16string> tokens;
  std::size_t start = 0;
  for (;;) {
    std::size_t space = text.find(u' ', start);
    if (space == std::u16string_view::npos) break;
    tokens.emplace_back(text.substr(start, space - start));
    start = space + 1;
  }
  tokens.emplace_back(text.substr(start));
  return tokens;
}

std::int32_t ParseInt(std::u16string_view text) { return ParseSaturating<std::int32_t>(text); }
std::int64_t ParseInt64(std::u16string_view text) { return ParseSaturating<std::int64_t>(text); }

double ParseDouble(std::u16string_view text) {
  bool negative = false;
  std::size_t i = SkipBlanksAndSign(text, negative);
  // The number's characters are ASCII; the first other character ends it.
  std::string number;
  for (; i < text.size() && text[i] > 0x20 && text[i] < 0x7F; ++i) number.push_back(static_cast<char>(text[i]));
  bool hex = number.size() >= 2 && number[0] == '0' && (number[1] | 0x20) == 'x';
  const char* first = number.data() + (hex ? 2 : 0);
  const char* last = number.data() + number.size();
  double value = 0;
  if (first != last && *first == '-') return 0;  // a second sign: no number
  auto result = std::from_chars(first, last, value, hex ? std::chars_format::hex : std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    value = TooLarge(std::string_view(first, static_cast<std::size_t>(result.ptr - first)), hex)
                ? std::numeric_limits<double>::infinity()
                : 0.0;
  } else if (result.ec != std::errc()) {
    value = 0;  // no number at all (a lone "0x" is the number 0 followed by text)
  }
  return negative ? -value : value;
}

Rect ParseRect(std::u16string_view text) {
  std::vector<std::u16string> tokens = SplitTokens(text);
  std::int32_t fields[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4 && i < tokens.size(); ++i) fields[i] = ParseInt(tokens[i]);
  return Rect{fields[0], fields[1], fields[2], fields[3]};
}

Point ParsePoint(std::u16string_view text) {
  std::vector<std::u16string> tokens = SplitTokens(text);
  Point point;
  if (tokens.size() > 0) point.x = ParseInt(tokens[0]);
  if (tokens.size() > 1) point.y = ParseInt(tokens[1]);
  return point;
}

std::int32_t HighHalf(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> 32));
}

std::int32_t LowHalf(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

std::int64_t JoinHalves(std::int32_t high, std::int32_t low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
                                   static_cast<std::uint32_t>(low));
}

}  // namespace value_text

// --- Profile -----------------------------------------------------------------------------------------------

namespace {

using namespace value_text;

std::u16string Suffixed(std::u16string_view entry, std::u16string_view suffix) {
  std::u16string name(entry);
  name.append(suffix);
  return name;
}

}  // namespace

Profile::Profile(std::u16string_view name) {
  // The name first, then the cache switch, then "Write" while write-back is still off, then "Log".
  name_ = ini_backend::ResolveName(name);
  ini_backend::LoadCacheSwitch(*this, !name.empty());
  write_back_ = GetInt(u"Debug", u"Write", write_back_);
  log_reads_ = GetInt(u"Debug", u"Log", log_reads_);
}

Profile::~Profile() = default;

std::int32_t Profile::GetInt(TextArg section, TextArg entry, std::int32_t default_value) {
  if (!section || !entry) return default_value;
  std::int32_t result;
  {
    ProfileLockScope lock;
    result = ReadInt(section, entry, default_value);
  }
  if (write_back_) WriteInt(section, entry, result);
  return result;
}

bool Profile::WriteInt(TextArg section, TextArg entry, std::int32_t value) {
  if (!section || !entry) return false;
  ProfileLockScope lock;
  return StoreInt(section, entry, value);
}

std::u16string Profile::GetString(TextArg section, TextArg entry, TextArg default_text) {
  if (!section || !entry) return std::u16string(default_text.value_or(u""));
  std::u16string result;
  {
    ProfileLockScope lock;
    result = ReadString(section, entry, default_text);
  }
  if (write_back_) WriteString(section, entry, result);
  return result;
}

bool Profile::WriteString(TextArg section, TextArg entry, TextArg value) {
  if (!section) return false;
  ProfileLockScope lock;
  return StoreString(section, entry, value);
}

// An entry is present when a read with the default "0" or one with "1" gives something else. These two
// reads go straight to the storage: answered from the read cache, they would find the value that the first
// read has just cached (its own default) and take every missing entry for a present one.
bool Profile::WriteStringIfAbsent(TextArg section, TextArg entry, TextArg value) {
  // An absent entry would make the write delete the whole section.
  if (!section || !entry) return false;
  GetString(section, entry, value);  // for write-back, the read log and the cache only
  {
    ProfileLockScope lock;
    if (ReadStringUncached(*section, *entry, u"0") != u"0") return false;
    if (ReadStringUncached(*section, *entry, u"1") != u"1") return false;
  }
  return WriteString(section, entry, value);
}

bool Profile::WriteIntIfAbsent(TextArg section, TextArg entry, std::int32_t value) {
  if (!section || !entry) return false;
  GetInt(section, entry, value);
  {
    ProfileLockScope lock;
    if (ReadIntUncached(*section, *entry, 0) != 0) return false;
    if (ReadIntUncached(*section, *entry, 1) != 1) return false;
  }
  return WriteInt(section, entry, value);
}

std::int64_t Profile::GetInt64(TextArg section, TextArg entry, std::int64_t default_value) {
  if (!section || !entry) return default_value;
  (void)ParseInt64(GetString(section, Suffixed(*entry, kInt64Suffix), FormatInt64(default_value)));
  return GetInt64Split(section, entry, default_value);
}

bool Profile::WriteInt64(TextArg section, TextArg entry, std::int64_t value) {
  if (!section || !entry) return false;
  WriteString(section, Suffixed(*entry, kInt64Suffix), FormatInt64(value));
  return WriteInt64Split(section, entry, value);
}

double Profile::GetDouble(TextArg section, TextArg entry, double default_value) {
  if (!section || !entry) return default_value;
  (void)ParseDouble(GetString(section, Suffixed(*entry, kDoubleSuffix), FormatDoubleFull(default_value)));
  return GetDoubleShort(section, entry, default_value);
}

bool Profile::WriteDouble(TextArg section, TextArg entry, double value) {
  if (!section || !entry) return false;
  WriteString(section, Suffixed(*entry, kDoubleSuffix), FormatDoubleFull(value));
  return WriteDoubleShort(section, entry, value);
}

Rect Profile::GetRect(TextArg section, TextArg entry, const Rect& default_value) {
  if (!section || !entry) return default_value;
  (void)ParseRect(Unquote(GetString(section, Suffixed(*entry, kRectSuffix), FormatRectCopy(default_value))));
  return GetRectPadded(section, entry, default_value);
}

bool Profile::WriteRect(TextArg section, TextArg entry, const Rect& value) {
  if (!section || !entry) return false;
  WriteString(section, Suffixed(*entry, kRectSuffix), FormatRectCopy(value));
  return WriteRectPadded(section, entry, value);
}

Point Profile::GetPoint(TextArg section, TextArg entry, const Point& default_value) {
  if (!section || !entry) return default_value;
  (void)ParsePoint(Unquote(GetString(section, Suffixed(*entry, kPointSuffix), FormatPointCopy(default_value))));
  return GetPointPadded(section, entry, default_value);
}

bool Profile::WritePoint(TextArg section, TextArg entry, const Point& value) {
  if (!section || !entry) return false;
  WriteString(section, Suffixed(*entry, kPointSuffix), FormatPointCopy(value));
  return WritePointPadded(section, entry, value);
}

std::int64_t Profile::GetInt64Split(TextArg section, TextArg entry, std::int64_t default_value) {
  if (!section || !entry) return default_value;
  std::int32_t high = GetInt(section, Suffixed(*entry, kHighSuffix), HighHalf(default_value));
  std::int32_t low = GetInt(section, Suffixed(*entry, kLowSuffix), LowHalf(default_value));
  return JoinHalves(high, low);
}

bool Profile::WriteInt64Split(TextArg section, TextArg entry, std::int64_t value) {
  if (!section || !entry) return false;
  // Both halves carry the value: a failed high half is a failed write too.
  bool high = WriteInt(section, Suffixed(*entry, kHighSuffix), HighHalf(value));
  bool low = WriteInt(section, Suffixed(*entry, kLowSuffix), LowHalf(value));
  return high && low;
}

double Profile::GetDoubleShort(TextArg section, TextArg entry, double default_value) {
  if (!section || !entry) return default_value;
  return ParseDouble(GetString(section, entry, FormatDoubleShort(default_value)));
}

bool Profile::WriteDoubleShort(TextArg section, TextArg entry, double value) {
  if (!section || !entry) return false;
  return WriteString(section, entry, FormatDoubleShort(value));
}

Rect Profile::GetRectPadded(TextArg section, TextArg entry, const Rect& default_value) {
  if (!section || !entry) return default_value;
  return ParseRect(GetString(section, entry, FormatRectPadded(default_value)));
}

bool Profile::WriteRectPadded(TextArg section, TextArg entry, const Rect& value) {
  if (!section || !entry) return false;
  return WriteString(section, entry, FormatRectPadded(value));
}

Point Profile::GetPointPadded(TextArg section, TextArg entry, const Point& default_value) {
  if (!section || !entry) return default_value;
  return ParsePoint(GetString(section, entry, FormatPointPadded(default_value)));
}

bool Profile::WritePointPadded(TextArg section, TextArg entry, const Point& value) {
  if (!section || !entry) return false;
  return WriteString(section, entry, FormatPointPadded(value));
}

std::int32_t Profile::ReadInt(TextArg section, TextArg entry, std::int32_t default_value) {
  if (!section || !entry) return default_value;
  return ini_backend::ReadInt(*this, *section, *entry, default_value, ini_backend::CacheUse::kUse);
}

bool Profile::StoreInt(TextArg section, TextArg entry, std::int32_t value) {
  if (!section || !entry) return false;
  return ini_backend::StoreInt(*this, *section, *entry, value);
}

std::u16string Profile::ReadString(TextArg section, TextArg entry, TextArg default_text) {
  if (!section || !entry) return std::u16string(default_text.value_or(u""));
  return ini_backend::ReadString(*this, *section, *entry, default_text.value_or(u""), ini_backend::CacheUse::kUse);
}

bool Profile::StoreString(TextArg section, TextArg entry, TextArg value) {
  if (!section) return false;
  return ini_backend::StoreString(*this, *section, entry, value);
}

std::int32_t Profile::ReadIntUncached(std::u16string_view section, std::u16string_view entry,
                                      std::int32_t default_value) {
  return ini_backend::ReadInt(*this, section, entry, default_value, ini_backend::CacheUse::kBypass);
}

std::u16string Profile::ReadStringUncached(std::u16string_view section, std::u16string_view entry,
                                           std::u16string_view default_text) {
  return ini_backend::ReadString(*this, section, entry, default_text, ini_backend::CacheUse::kBypass);
}

std::u16string Profile::GetName() const { return name_; }

int Profile::FindCachedInt(TextArg section, TextArg entry) {
  if (!section || !entry) return -1;
  return ini_backend::FindCachedInt(*this, *section, *entry);
}

int Profile::FindCachedString(TextArg section, TextArg entry) {
  if (!section || !entry) return -1;
  return ini_backend::FindCachedString(*this, *section, *entry);
}

bool Profile::CacheInt(TextArg section, TextArg entry, std::int32_t value) {
  if (!section || !entry) return false;
  return ini_backend::CacheInt(*this, *section, *entry, value);
}

bool Profile::CacheString(TextArg section, TextArg entry, TextArg value) {
  if (!section || !entry) return false;
  return ini_backend::CacheString(*this, *section, *entry, value.value_or(u""));
}

bool Profile::AgeCache() { return ini_backend::AgeCache(*this); }

// --- PathProfile -------------------------------------------------------------------------------------------

std::u16string PathProfile::GetFolderPath(TextArg key, TextArg default_text) {
  std::u16string folder = GetString(u"FilePath", key, default_text);
  if (folder.empty()) folder = AddSlash(u".");
  return AddSlash(folder);
}

bool PathProfile::WriteFolderPath(TextArg key, std::u16string_view path) {
  std::u16string folder(path);
  if (!folder.empty()) folder = AddSlash(folder);
  return WriteString(u"FilePath", key, folder);
}

}  // namespace ocelo
