// RegistryStore on the system's registry: HKEY_CURRENT_USER's keys and values, shared with every other
// program of the family that reads them there.
#include <windows.h>

#include <string>

#include "settings/registry.h"

namespace ocelo {
namespace {

// The registry's bound on a key name; Wine stores longer ones, which Windows would refuse. Refused here
// on every system alike, so that what one tool stores every tool of the family can store too.
constexpr std::size_t kMaxKeyNameLength = 255;

bool KeyNamesFit(std::u16string_view path) {
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end - start > kMaxKeyNameLength) return false;
    start = end + 1;
  }
  return true;
}

std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

HKEY AsHandle(RegistryKey key) { return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(key)); }

// The key that stands for the current user's root: HKEY_CURRENT_USER itself, or, for the test suite, whose
// processes run side by side in one registry, the key under it that OCELO_TEST_REGISTRY names (only the test
// sandbox sets it; each test process, and each test that wants one, gets a registry of its own).
class UserRoot {
 public:
  UserRoot() {
    wchar_t name[512];
    const DWORD length = ::GetEnvironmentVariableW(L"OCELO_TEST_REGISTRY", name, 512);
    if (length == 0 || length >= 512) return;
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                          &key, nullptr) == ERROR_SUCCESS) {
      key_ = key;
    } else {
      key_ = nullptr;  // a named root that cannot be had opens nothing, rather than the user's real settings
    }
  }
  ~UserRoot() {
    if (key_ && key_ != HKEY_CURRENT_USER) ::RegCloseKey(key_);
  }
  UserRoot(const UserRoot&) = delete;
  UserRoot& operator=(const UserRoot&) = delete;

  HKEY get() const { return key_; }

 private:
  HKEY key_ = HKEY_CURRENT_USER;
};

}  // namespace

// The registry keeps its own state; the store needs no connection.
struct RegistryStore::Database {};

RegistryStore::RegistryStore() = default;

RegistryStore::~RegistryStore() { CloseKey(true); }

bool RegistryStore::Connect() { return true; }

RegistryKey RegistryStore::OpenStoredKey(bool writing, bool create) {
  const REGSAM rights = writing ? KEY_READ | KEY_WRITE : KEY_READ;
  const std::wstring wide = Wide(sub_key_);
  const UserRoot user;
  HKEY key = nullptr;
  const LONG opened = !user.get() || (create && !KeyNamesFit(sub_key_)) ? ERROR_ACCESS_DENIED
                      : create ? ::RegCreateKeyExW(user.get(), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                   rights, nullptr, &key, nullptr)
                               : ::RegOpenKeyExW(user.get(), wide.c_str(), 0, rights, &key);
  return opened == ERROR_SUCCESS ? static_cast<RegistryKey>(reinterpret_cast<std::intptr_t>(key)) : kNoKey;
}

// Every change is in the registry as soon as it is made; closing the key only lets it go.
bool RegistryStore::CloseKey(bool keep_changes) {
  if (key_ == kNoKey) return true;
  ::RegCloseKey(AsHandle(key_));
  key_ = kNoKey;
  return true;
}

bool RegistryStore::StoredType(std::uint32_t& type, std::uint32_t& size) {
  const std::wstring wide = Wide(value_name_);
  DWORD stored_type = REG_NONE, stored_size = 0;
  if (::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &stored_type, nullptr, &stored_size) != ERROR_SUCCESS) {
    return false;
  }
  type = stored_type;
  size = stored_size;
  return true;
}

bool RegistryStore::ReadStoredText(std::u16string& text) {
  const std::wstring wide = Wide(value_name_);
  std::wstring stored(size_ / sizeof(wchar_t) + 1, L'\0');
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(stored.size() * sizeof(wchar_t));
  if (::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(stored.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  text = FromWide(stored.data(), size / sizeof(wchar_t));
  return true;
}

bool RegistryStore::ReadStoredNumber(std::int32_t& number) {
  const std::wstring wide = Wide(value_name_);
  DWORD value = 0, type = REG_NONE, size = sizeof value;
  if (::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return false;
  }
  number = static_cast<std::int32_t>(value);
  return true;
}

bool RegistryStore::StoreText(std::u16string_view text) {
  const std::wstring wide_name = Wide(value_name_);
  const std::wstring wide_text = Wide(text);
  return ::RegSetValueExW(AsHandle(key_), wide_name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wide_text.c_str()),
                          static_cast<DWORD>((wide_text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistryStore::StoreNumber(std::int32_t number) {
  const std::wstring wide_name = Wide(value_name_);
  const DWORD value = static_cast<DWORD>(number);
  return ::RegSetValueExW(AsHandle(key_), wide_name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool RegistryStore::EraseValue() {
  const std::wstring wide = Wide(value_name_);
  return ::RegDeleteValueW(AsHandle(key_), wide.c_str()) == ERROR_SUCCESS;
}

bool RegistryStore::EraseSubkey(std::u16string_view name) {
  const std::wstring wide = Wide(name);
  HKEY child = nullptr;
  if (wide.empty() || ::RegOpenKeyExW(AsHandle(key_), wide.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) return false;
  DWORD subkeys = 1;  // a failed question counts as "has subkeys"
  ::RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
  ::RegCloseKey(child);
  return subkeys == 0 && ::RegDeleteKeyW(AsHandle(key_), wide.c_str()) == ERROR_SUCCESS;
}

void RegistryStore::ListStoredNames(Names which, std::vector<std::u16string>& names) {
  // The registry lists subkeys in name order without case; a name longer than the buffer ends the list.
  wchar_t name[kEnumNameBuffer];
  for (DWORD index = 0;; ++index) {
    DWORD length = kEnumNameBuffer;
    const LONG listed = which == Names::kSubkeys
                            ? ::RegEnumKeyExW(AsHandle(key_), index, name, &length, nullptr, nullptr, nullptr, nullptr)
                            : ::RegEnumValueW(AsHandle(key_), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (listed != ERROR_SUCCESS) break;
    names.push_back(FromWide(name, length));
  }
}

}  // namespace ocelo
