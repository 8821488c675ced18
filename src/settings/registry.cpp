// RegistryStore, the part every system shares: opening keys, the type checks, reading, writing and
// deleting around each store's own storage calls, the failure texts, and the typed values, which are kept
// as texts and numbers of the store under the suffixed names of Profile.
#include "settings/registry.h"

#include "base/paths.h"
#include "platform/system.h"
#include "util/strings.h"

namespace ocelo {
namespace {

using namespace value_text;

static_assert(kCannotOpenKey.size() == 13 && kNoSuchValue.size() == 13 && kNotDword.size() == 13 &&
                  kNotText.size() == 13 && kWriteFailed.size() == 13 && kDeleteValueFailed.size() == 13 &&
                  kDeleteKeyFailed.size() == 13,
              "every failure prefix is 13 characters long");

std::u16string Suffixed(TextArg name, std::u16string_view suffix) {
  std::u16string suffixed(*name);
  suffixed.append(suffix);
  return suffixed;
}

// A typed value kept in its text form under its suffixed name: read with the default's text as the
// default, so that a missing or unreadable entry gives the default back.
template <typename Value, typename Format, typename Parse>
Value GetAsText(RegistryStore& store, RegistryRoot root, TextArg path, TextArg name, std::u16string_view suffix,
                const Value& default_value, Format format, Parse parse) {
  if (!name) return default_value;
  return parse(store.GetString(root, path, Suffixed(name, suffix), format(default_value)));
}

template <typename Value, typename Format>
bool WriteAsText(RegistryStore& store, RegistryRoot root, TextArg path, TextArg name, std::u16string_view suffix,
                 const Value& value, Format format) {
  if (!name) return false;
  return store.WriteString(root, path, Suffixed(name, suffix), format(value));
}

// A rectangle's or a point's text may stand in quotes.
template <auto parse>
auto ParseQuoted(std::u16string_view text) {
  return parse(Unquote(text));
}

}  // namespace

std::u16string RegistryDatabasePath() {
  std::u16string config = sys::SpecialFolderPath(sys::kCsidlAppData);
  if (config.empty()) return {};
  return AddSlash(config) + u"vexo" + kPathSeparator + u"registry.sqlite3";
}

void RegistryStore::SetFailure(std::u16string_view prefix, std::u16string_view path, std::u16string_view name) {
  last_error_.assign(prefix).append(path).append(u"\\[").append(name).append(u"]");
}

std::u16string RegistryStore::GetLastError() const { return last_error_; }

// --- keys and values ---------------------------------------------------------------------------------------

RegistryKey RegistryStore::Open(RegistryRoot root, TextArg path, std::uint32_t access, bool create) {
  root_ = root;
  sub_key_ = std::u16string(path.value_or(u""));
  last_error_.clear();
  if (key_ != kNoKey) Close();
  if (root == kHkeyCurrentUser && Connect()) {
    const bool writing = create || (access & (kKeySetValue | kKeyCreateSubKey | 0x10000)) != 0;
    key_ = OpenStoredKey(writing, create);
  }
  if (key_ == kNoKey) last_error_ = std::u16string(kCannotOpenKey) + sub_key_;
  return key_;
}

std::uint32_t RegistryStore::QueryType(TextArg name, std::uint32_t expected) {
  value_name_ = std::u16string(name.value_or(u""));
  type_ = kRegNone;
  size_ = 0;
  std::uint32_t type = kRegNone, size = 0;
  if (key_ == kNoKey || !StoredType(type, size)) {
    SetFailure(kNoSuchValue, sub_key_, value_name_);
    Close();
    return type_;
  }
  type_ = type;
  size_ = size;
  if (expected == kRegDword && type_ != kRegDword) {
    SetFailure(kNotDword, sub_key_, value_name_);
    Close();
  } else if (expected == kRegSz && type_ != kRegSz) {
    SetFailure(kNotText, sub_key_, value_name_);
    Close();
  }
  return type_;
}

bool RegistryStore::Close() {
  CloseKey(true);
  return true;
}

bool RegistryStore::EndChange(bool done, std::u16string_view prefix, std::u16string_view name) {
  done = CloseKey(done) && done;
  if (!done) SetFailure(prefix, sub_key_, name);
  return done;
}

std::u16string RegistryStore::GetString(RegistryRoot root, TextArg path, TextArg name, TextArg default_text) {
  std::u16string fallback(default_text.value_or(u""));
  if (Open(root, path, kKeyQueryValue, false) == kNoKey) return fallback;
  if (QueryType(name, kRegSz) != kRegSz) return fallback;
  std::u16string text;
  const bool read = ReadStoredText(text);
  Close();
  if (!read) return fallback;
  // A stored text ends at its first U+0000, as a registry text does.
  const std::size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

std::int32_t RegistryStore::GetInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t default_value) {
  if (Open(root, path, kKeyQueryValue, false) == kNoKey) return default_value;
  if (QueryType(name, kRegDword) != kRegDword) return default_value;
  std::int32_t number = 0;
  const bool read = ReadStoredNumber(number);
  Close();
  return read ? number : default_value;
}

bool RegistryStore::WriteString(RegistryRoot root, TextArg path, TextArg name, TextArg value) {
  if (Open(root, path, kKeySetValue, true) == kNoKey) return false;
  if (!name) {
    // The meaning of an absent INI entry: the whole key goes.
    std::u16string_view full = path.value_or(u"");
    std::size_t last = full.rfind(u'\\');
    std::u16string_view parent = last == std::u16string_view::npos ? std::u16string_view(u"") : full.substr(0, last);
    std::u16string_view child = last == std::u16string_view::npos ? full : full.substr(last + 1);
    return DeleteKey(root, parent, child);
  }
  if (!value) return DeleteValue(root, path, name);
  value_name_ = std::u16string(*name);
  return EndChange(StoreText(*value), kWriteFailed, value_name_);
}

bool RegistryStore::WriteInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t value) {
  if (Open(root, path, kKeySetValue, true) == kNoKey) return false;
  value_name_ = std::u16string(name.value_or(u""));
  return EndChange(StoreNumber(value), kWriteFailed, value_name_);
}

bool RegistryStore::DeleteValue(RegistryRoot root, TextArg path, TextArg name) {
  if (!path || !name) return false;
  if (Open(root, path, kKeySetValue, false) == kNoKey) return false;
  value_name_ = std::u16string(*name);
  return EndChange(EraseValue(), kDeleteValueFailed, value_name_);
}

bool RegistryStore::DeleteKey(RegistryRoot root, TextArg parent, TextArg key_name) {
  if (!parent || !key_name) return false;
  if (Open(root, parent, kKeySetValue, false) == kNoKey) return false;
  value_name_.clear();
  return EndChange(EraseSubkey(*key_name), kDeleteKeyFailed, *key_name);
}

bool RegistryStore::EnumKeys(RegistryRoot root, TextArg path, std::vector<std::u16string>& list) {
  return EnumNames(root, path, Names::kSubkeys, list);
}

bool RegistryStore::EnumValues(RegistryRoot root, TextArg path, std::vector<std::u16string>& list) {
  return EnumNames(root, path, Names::kValues, list);
}

bool RegistryStore::EnumNames(RegistryRoot root, TextArg path, Names which, std::vector<std::u16string>& list) {
  list.clear();
  if (!path) return false;
  if (Open(root, path, kKeyRead, false) == kNoKey) return false;
  std::vector<std::u16string> names;
  ListStoredNames(which, names);
  Close();
  // The first name that would not fit the enumeration buffer ends the list, as it ends the registry's.
  for (std::u16string& name : names) {
    if (name.size() >= kEnumNameBuffer) break;
    list.push_back(std::move(name));
  }
  return true;
}

// --- typed values ------------------------------------------------------------------------------------------

std::int64_t RegistryStore::GetInt64Split(RegistryRoot root, TextArg path, TextArg name, std::int64_t default_value) {
  if (!path || !name) return default_value;
  std::int32_t high = GetInt(root, path, Suffixed(name, kHighSuffix), HighHalf(default_value));
  std::int32_t low = GetInt(root, path, Suffixed(name, kLowSuffix), LowHalf(default_value));
  return JoinHalves(high, low);
}

bool RegistryStore::WriteInt64Split(RegistryRoot root, TextArg path, TextArg name, std::int64_t value) {
  if (!path || !name) return false;
  // Both halves carry the value: a failed high half is a failed write too.
  bool high = WriteInt(root, path, Suffixed(name, kHighSuffix), HighHalf(value));
  bool low = WriteInt(root, path, Suffixed(name, kLowSuffix), LowHalf(value));
  return high && low;
}

std::int64_t RegistryStore::GetInt64(RegistryRoot root, TextArg path, TextArg name, std::int64_t default_value) {
  if (!name) return default_value;
  (void)ParseInt64(GetString(root, path, Suffixed(name, kInt64Suffix), FormatInt64(default_value)));
  return GetInt64Split(root, path, name, default_value);
}

bool RegistryStore::WriteInt64(RegistryRoot root, TextArg path, TextArg name, std::int64_t value) {
  if (!name) return false;
  WriteString(root, path, Suffixed(name, kInt64Suffix), FormatInt64(value));
  return WriteInt64Split(root, path, name, value);
}

double RegistryStore::GetDouble(RegistryRoot root, TextArg path, TextArg name, double default_value) {
  return GetAsText(*this, root, path, name, kDoubleSuffix, default_value, FormatDoubleFull, ParseDouble);
}

bool RegistryStore::WriteDouble(RegistryRoot root, TextArg path, TextArg name, double value) {
  return WriteAsText(*this, root, path, name, kDoubleSuffix, value, FormatDoubleFull);
}

Rect RegistryStore::GetRect(RegistryRoot root, TextArg path, TextArg name, const Rect& default_value) {
  return GetAsText(*this, root, path, name, kRectSuffix, default_value, FormatRectCopy, ParseQuoted<ParseRect>);
}

bool RegistryStore::WriteRect(RegistryRoot root, TextArg path, TextArg name, const Rect& value) {
  return WriteAsText(*this, root, path, name, kRectSuffix, value, FormatRectCopy);
}

Point RegistryStore::GetPoint(RegistryRoot root, TextArg path, TextArg name, const Point& default_value) {
  return GetAsText(*this, root, path, name, kPointSuffix, default_value, FormatPointCopy, ParseQuoted<ParsePoint>);
}

bool RegistryStore::WritePoint(RegistryRoot root, TextArg path, TextArg name, const Point& value) {
  return WriteAsText(*this, root, path, name, kPointSuffix, value, FormatPointCopy);
}

}  // namespace ocelo
