// RegistryStore on the system's registry: HKEY_CURRENT_USER's keys and values, shared with every other
// program of the family that reads them there.
#include <windows.h>

#include <string>

#include "settings/registry.h"

namespace ocelo {
namespace {

// Enumeration hands names over in a buffer of 1024 characters, its terminator included.
constexpr DWORD kEnumNameBuffer = 1024;

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

RegistryKey RegistryStore::Open(RegistryRoot root, TextArg path, std::uint32_t access, bool create) {
  root_ = root;
  sub_key_ = std::u16string(path.value_or(u""));
  last_error_.clear();
  if (key_ != kNoKey) Close();
  if (root == kHkeyCurrentUser) {
    const bool writing = create || (access & (kKeySetValue | kKeyCreateSubKey | 0x10000)) != 0;
    const REGSAM rights = writing ? KEY_READ | KEY_WRITE : KEY_READ;
    const std::wstring wide = Wide(sub_key_);
    const UserRoot user;
    HKEY key = nullptr;
    const LONG opened = !user.get() || (create && !KeyNamesFit(sub_key_)) ? ERROR_ACCESS_DENIED
                        : create ? ::RegCreateKeyExW(user.get(), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                     rights, nullptr, &key, nullptr)
                                 : ::RegOpenKeyExW(user.get(), wide.c_str(), 0, rights, &key);
    if (opened == ERROR_SUCCESS) key_ = static_cast<RegistryKey>(reinterpret_cast<std::intptr_t>(key));
  }
  if (key_ == kNoKey) last_error_ = std::u16string(kCannotOpenKey) + sub_key_;
  return key_;
}

std::uint32_t RegistryStore::QueryType(TextArg name, std::uint32_t expected) {
  value_name_ = std::u16string(name.value_or(u""));
  type_ = kRegNone;
  size_ = 0;
  const std::wstring wide = Wide(value_name_);
  DWORD type = REG_NONE, size = 0;
  if (key_ == kNoKey ||
      ::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
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

// Every change is in the registry as soon as it is made; closing the key only lets it go.
bool RegistryStore::CloseKey(bool keep_changes) {
  if (key_ == kNoKey) return true;
  ::RegCloseKey(AsHandle(key_));
  key_ = kNoKey;
  return true;
}

std::u16string RegistryStore::GetString(RegistryRoot root, TextArg path, TextArg name, TextArg default_text) {
  std::u16string fallback(default_text.value_or(u""));
  if (Open(root, path, kKeyQueryValue, false) == kNoKey) return fallback;
  if (QueryType(name, kRegSz) != kRegSz) return fallback;
  const std::wstring wide = Wide(value_name_);
  std::wstring text(size_ / sizeof(wchar_t) + 1, L'\0');
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const bool read = ::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  Close();
  if (!read) return fallback;
  // A stored text ends at its first U+0000.
  text.resize(size / sizeof(wchar_t));
  const std::size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return FromWide(text.data(), text.size());
}

std::int32_t RegistryStore::GetInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t default_value) {
  if (Open(root, path, kKeyQueryValue, false) == kNoKey) return default_value;
  if (QueryType(name, kRegDword) != kRegDword) return default_value;
  const std::wstring wide = Wide(value_name_);
  DWORD value = 0, type = REG_NONE, size = sizeof value;
  const bool read = ::RegQueryValueExW(AsHandle(key_), wide.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                       &size) == ERROR_SUCCESS &&
                    type == REG_DWORD && size == sizeof value;
  Close();
  return read ? static_cast<std::int32_t>(value) : default_value;
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
  const std::wstring wide_name = Wide(value_name_);
  const std::wstring text = Wide(*value);
  const bool stored = ::RegSetValueExW(AsHandle(key_), wide_name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  Close();
  if (!stored) SetFailure(kWriteFailed, sub_key_, value_name_);
  return stored;
}

bool RegistryStore::WriteInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t value) {
  if (Open(root, path, kKeySetValue, true) == kNoKey) return false;
  value_name_ = std::u16string(name.value_or(u""));
  const std::wstring wide_name = Wide(value_name_);
  const DWORD number = static_cast<DWORD>(value);
  const bool stored = ::RegSetValueExW(AsHandle(key_), wide_name.c_str(), 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&number), sizeof number) == ERROR_SUCCESS;
  Close();
  if (!stored) SetFailure(kWriteFailed, sub_key_, value_name_);
  return stored;
}

bool RegistryStore::DeleteValue(RegistryRoot root, TextArg path, TextArg name) {
  if (!path || !name) return false;
  if (Open(root, path, kKeySetValue, false) == kNoKey) return false;
  value_name_ = std::u16string(*name);
  const std::wstring wide = Wide(value_name_);
  const bool deleted = ::RegDeleteValueW(AsHandle(key_), wide.c_str()) == ERROR_SUCCESS;
  Close();
  if (!deleted) SetFailure(kDeleteValueFailed, sub_key_, value_name_);
  return deleted;
}

bool RegistryStore::DeleteKey(RegistryRoot root, TextArg parent, TextArg key_name) {
  if (!parent || !key_name) return false;
  if (Open(root, parent, kKeySetValue, false) == kNoKey) return false;
  value_name_.clear();
  bool deleted = false;
  const std::wstring wide = Wide(*key_name);
  HKEY child = nullptr;
  if (!wide.empty() && ::RegOpenKeyExW(AsHandle(key_), wide.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
    DWORD subkeys = 1;  // a failed question counts as "has subkeys"
    ::RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    ::RegCloseKey(child);
    deleted = subkeys == 0 && ::RegDeleteKeyW(AsHandle(key_), wide.c_str()) == ERROR_SUCCESS;
  }
  Close();
  if (!deleted) SetFailure(kDeleteKeyFailed, sub_key_, *key_name);
  return deleted;
}

bool RegistryStore::EnumKeys(RegistryRoot root, TextArg path, std::vector<std::u16string>& list) {
  list.clear();
  if (!path) return false;
  if (Open(root, path, kKeyRead, false) == kNoKey) return false;
  // The registry lists subkeys in name order without case.
  wchar_t name[kEnumNameBuffer];
  for (DWORD index = 0;; ++index) {
    DWORD length = kEnumNameBuffer;
    if (::RegEnumKeyExW(AsHandle(key_), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    list.push_back(FromWide(name, length));
  }
  Close();
  return true;
}

bool RegistryStore::EnumValues(RegistryRoot root, TextArg path, std::vector<std::u16string>& list) {
  list.clear();
  if (!path) return false;
  if (Open(root, path, kKeyRead, false) == kNoKey) return false;
  wchar_t name[kEnumNameBuffer];
  for (DWORD index = 0;; ++index) {
    DWORD length = kEnumNameBuffer;
    if (::RegEnumValueW(AsHandle(key_), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    list.push_back(FromWide(name, length));
  }
  Close();
  return true;
}

}  // namespace ocelo
