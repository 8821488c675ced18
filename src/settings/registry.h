// RegistryStore: values under the current user's registry root, kept in the system's registry on Windows and
// elsewhere in the family's SQLite database in the per-user config folder. Keys nest by backslash; key and
// value names are compared without case (A to Z); values are texts or 32-bit numbers; a failed operation
// leaves a readable failure text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile.h"

namespace ocelo {

/// A registry root. The store holds the current user's root only; the others fail to open.
using RegistryRoot = std::uint32_t;
inline constexpr RegistryRoot kHkeyClassesRoot = 0x80000000;
inline constexpr RegistryRoot kHkeyCurrentUser = 0x80000001;
inline constexpr RegistryRoot kHkeyLocalMachine = 0x80000002;
inline constexpr RegistryRoot kHkeyUsers = 0x80000003;

/// Access wanted when opening a key. Any right that changes something opens the key for writing.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;

/// Value types: none (no such value), text, 32-bit number.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

/// An open key of the store; kNoKey when none is open.
using RegistryKey = std::int64_t;
inline constexpr RegistryKey kNoKey = 0;

/// The failure texts: a 13-character prefix (filled with U+3000) and the key path, then for a value or a
/// subkey "\[" + its name + "]".
inline constexpr std::u16string_view kCannotOpenKey = u"指定セクションを開けない　";
inline constexpr std::u16string_view kNoSuchValue = u"エントリが存在しない　　　";
inline constexpr std::u16string_view kNotDword = u"ＲＥＧ＿ＤＷＯＲＤでない　";
inline constexpr std::u16string_view kNotText = u"ＲＥＧ＿ＳＺでない　　　　";
inline constexpr std::u16string_view kWriteFailed = u"登録に失敗　　　　　　　　";
inline constexpr std::u16string_view kDeleteValueFailed = u"削除に失敗　　値　　　　　";
inline constexpr std::u16string_view kDeleteKeyFailed = u"削除に失敗　　キー　　　　";

/// The database that stands for the registry, shared by every tool of the family and created private to
/// the user: ${XDG_CONFIG_HOME:-$HOME/.config}/vexo/registry.sqlite3. Empty when there is no config folder.
std::u16string RegistryDatabasePath();

/// An accessor for values under one root. Objects are short-lived locals; each operation opens what it
/// needs and closes it before it returns, so only the last call's names, type, size and failure text
/// remain. Each write is one transaction; several processes may use the database at once.
class RegistryStore {
 public:
  RegistryStore();
  virtual ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  /// The text value (up to its first U+0000), or the default (empty when absent) for a missing key, a
  /// missing value or a value that is not text. An empty or absent name reads the key's unnamed value.
  virtual std::u16string GetString(RegistryRoot root, TextArg path, TextArg name, TextArg default_text);
  /// The number value, or the default for a missing key or value or one that is not a number.
  virtual std::int32_t GetInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t default_value);
  /// Stores a text value, creating the key and its missing parents. An absent name deletes the key (the
  /// last component of the path) from its parent; an absent value deletes the value.
  virtual bool WriteString(RegistryRoot root, TextArg path, TextArg name, TextArg value);
  /// Stores a 32-bit number value, creating the key and its missing parents.
  virtual bool WriteInt(RegistryRoot root, TextArg path, TextArg name, std::int32_t value);

  // Typed values, with the entry-name suffixes and texts of Profile; doubles, rectangles and points are
  // kept in their readable forms only ("_Flt_" at full "%.20g" precision, "_LTRB", "_L_XY").

  virtual std::int64_t GetInt64(RegistryRoot root, TextArg path, TextArg name, std::int64_t default_value);
  virtual bool WriteInt64(RegistryRoot root, TextArg path, TextArg name, std::int64_t value);
  virtual double GetDouble(RegistryRoot root, TextArg path, TextArg name, double default_value);
  virtual bool WriteDouble(RegistryRoot root, TextArg path, TextArg name, double value);
  /// A stored text with fewer than four numbers gives 0 for the missing ones.
  virtual Rect GetRect(RegistryRoot root, TextArg path, TextArg name, const Rect& default_value);
  virtual bool WriteRect(RegistryRoot root, TextArg path, TextArg name, const Rect& value);
  virtual Point GetPoint(RegistryRoot root, TextArg path, TextArg name, const Point& default_value);
  virtual bool WritePoint(RegistryRoot root, TextArg path, TextArg name, const Point& value);
  virtual std::int64_t GetInt64Split(RegistryRoot root, TextArg path, TextArg name, std::int64_t default_value);
  virtual bool WriteInt64Split(RegistryRoot root, TextArg path, TextArg name, std::int64_t value);

  /// Deletes one value; false (with a failure text) when it is not there.
  virtual bool DeleteValue(RegistryRoot root, TextArg path, TextArg name);
  /// Deletes the key `key_name` under `parent` with its values; a key that still has subkeys is refused.
  virtual bool DeleteKey(RegistryRoot root, TextArg parent, TextArg key_name);
  /// The names of the subkeys (in name order, without case) or of the values (in the order they were
  /// created); false with an empty list when the key is missing. A name of 1024 or more characters ends
  /// the list.
  virtual bool EnumKeys(RegistryRoot root, TextArg path, std::vector<std::u16string>& list);
  virtual bool EnumValues(RegistryRoot root, TextArg path, std::vector<std::u16string>& list);

  /// The failure text of the last failed operation (emptied when an open starts).
  virtual std::u16string GetLastError() const;

  /// Opens the key (an empty or absent path is the root itself), creating it and its missing parents when
  /// `create` is set; kNoKey on failure. An open key is one transaction, ended by Close.
  virtual RegistryKey Open(RegistryRoot root, TextArg path, std::uint32_t access, bool create);
  /// The type of a value of the open key, noting its size; closes the key when the value is missing or its
  /// type is not the expected text (kRegSz) or number (kRegDword).
  virtual std::uint32_t QueryType(TextArg name, std::uint32_t expected);
  /// Closes the open key; always true.
  virtual bool Close();

 private:
  struct Database;
  enum class Names { kSubkeys, kValues };

  /// Enumeration hands names over in a buffer of this many characters, its terminator included.
  static constexpr std::size_t kEnumNameBuffer = 1024;

  bool EnumNames(RegistryRoot root, TextArg path, Names which, std::vector<std::u16string>& list);
  /// Ends a change of the open key: kept when `done`, else undone and its failure text set. Returns
  /// whether the change stands.
  bool EndChange(bool done, std::u16string_view prefix, std::u16string_view name);
  void SetFailure(std::u16string_view prefix, std::u16string_view path, std::u16string_view name);

  // The storage calls: one set for the registry (registry_win32.cpp), one for the database
  // (registry_sqlite.cpp). They act on the key open in `key_`, whose path is `sub_key_`, and on its value
  // `value_name_`. The database keeps their changes in the key's transaction until CloseKey; the registry
  // takes each change at once.
  bool Connect();
  /// The key `sub_key_` under the current user's root, made with its parents when `create` is set, opened
  /// for changes when `writing`; kNoKey when it cannot be had.
  RegistryKey OpenStoredKey(bool writing, bool create);
  bool CloseKey(bool keep_changes);
  /// The type and byte size of the value; false when there is no such value.
  bool StoredType(std::uint32_t& type, std::uint32_t& size);
  /// The whole stored text (U+0000s and what follows them included), or the number; false when the value
  /// is missing or of the other type.
  bool ReadStoredText(std::u16string& text);
  bool ReadStoredNumber(std::int32_t& number);
  bool StoreText(std::u16string_view text);
  bool StoreNumber(std::int32_t number);
  bool EraseValue();
  /// Deletes the subkey `name` of the open key with its values; false when it is missing or has subkeys.
  bool EraseSubkey(std::u16string_view name);
  /// The names of the subkeys (in name order without case) or of the values (in the order they were
  /// created), as the store lists them; a name too long for the enumeration buffer may end the list.
  void ListStoredNames(Names which, std::vector<std::u16string>& names);

  RegistryRoot root_ = 0;
  std::u16string sub_key_;
  std::u16string value_name_;
  RegistryKey key_ = kNoKey;
  std::uint32_t type_ = 0;
  std::uint32_t size_ = 0;
  std::u16string last_error_;
  std::unique_ptr<Database> db_;
};

}  // namespace ocelo
