// RegistryStore, the part every system shares: failure texts and the typed values, which are kept as
// texts and numbers of the store under the suffixed names of Profile.
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
  if (!name) return default_value;
  return ParseDouble(GetString(root, path, Suffixed(name, kDoubleSuffix), FormatDoubleFull(default_value)));
}

bool RegistryStore::WriteDouble(RegistryRoot root, TextArg path, TextArg name, double value) {
  if (!name) return false;
  return WriteString(root, path, Suffixed(name, kDoubleSuffix), FormatDoubleFull(value));
}

Rect RegistryStore::GetRect(RegistryRoot root, TextArg path, TextArg name, const Rect& default_value) {
  if (!name) return default_value;
  return ParseRect(Unquote(GetString(root, path, Suffixed(name, kRectSuffix), FormatRectCopy(default_value))));
}

bool RegistryStore::WriteRect(RegistryRoot root, TextArg path, TextArg name, const Rect& value) {
  if (!name) return false;
  return WriteString(root, path, Suffixed(name, kRectSuffix), FormatRectCopy(value));
}

Point RegistryStore::GetPoint(RegistryRoot root, TextArg path, TextArg name, const Point& default_value) {
  if (!name) return default_value;
  return ParsePoint(Unquote(GetString(root, path, Suffixed(name, kPointSuffix), FormatPointCopy(default_value))));
}

bool RegistryStore::WritePoint(RegistryRoot root, TextArg path, TextArg name, const Point& value) {
  if (!name) return false;
  return WriteString(root, path, Suffixed(name, kPointSuffix), FormatPointCopy(value));
}

}  // namespace ocelo
