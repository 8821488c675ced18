// RegistryStore on SQLite, the stand-in for the registry on systems without one: keys and values without
// letter case, one transaction per write.
#include "settings/registry.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/paths.h"
#include "platform/fs.h"
#include "platform/private_access.h"
#include "platform/system.h"
#include "util/strings.h"

namespace ocelo {
namespace {

// How long a write waits for another process's write to end. Writes take milliseconds; the wait only
// bounds a stuck writer.
constexpr int kBusyTimeoutMs = 5000;

// Names longer than the registry allows are refused on creation, so that what one tool stores, every
// tool of the family (on any system) can store too.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// The current user's root is the row that every path starts from.
constexpr RegistryKey kCurrentUserRow = 1;

constexpr int kSchemaVersion = 1;

// The database holds UTF-16 text, so that every name and value round-trips code unit for code unit.
// Names are compared in their folded form (A to Z lowered) and kept as first written.
constexpr const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data,
  UNIQUE(key, folded));
INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES(1, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user');
PRAGMA user_version = 1;
)sql";

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// One prepared statement; binding failures make Step fail.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) ok_ = false;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value) {
    if (ok_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) ok_ = false;
    return *this;
  }
  Statement& Bind(int index, std::u16string_view text) {
    static const char16_t kEmpty[1] = {0};  // an empty text is text, not NULL
    if (text.size() > INT_MAX / 2) ok_ = false;
    const void* data = text.empty() ? kEmpty : text.data();
    if (ok_ &&
        sqlite3_bind_text16(stmt_, index, data, static_cast<int>(text.size() * 2), SQLITE_TRANSIENT) != SQLITE_OK) {
      ok_ = false;
    }
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  bool Run() { return Step() == SQLITE_DONE; }

  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  int Type(int column) { return sqlite3_column_type(stmt_, column); }
  std::u16string Text(int column) {
    const void* data = sqlite3_column_text16(stmt_, column);
    std::size_t units = static_cast<std::size_t>(sqlite3_column_bytes16(stmt_, column)) / 2;
    std::u16string text(units, u'\0');
    if (data && units) std::memcpy(text.data(), data, units * 2);
    return text;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool ok_ = true;
};

std::vector<std::u16string_view> PathComponents(std::u16string_view path) {
  std::vector<std::u16string_view> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

RegistryKey FindChild(sqlite3* db, RegistryKey parent, std::u16string_view name) {
  Statement find(db, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
  find.Bind(1, parent).Bind(2, ToLower(name));
  return find.Step() == SQLITE_ROW ? find.Int(0) : kNoKey;
}

// The key at `path` below `from`; with `create`, missing keys are made on the way. kNoKey when missing or
// when a name cannot be stored.
RegistryKey WalkPath(sqlite3* db, RegistryKey from, std::u16string_view path, bool create) {
  RegistryKey key = from;
  for (std::u16string_view name : PathComponents(path)) {
    RegistryKey child = FindChild(db, key, name);
    if (child == kNoKey) {
      if (!create || name.size() > kMaxKeyNameLength) return kNoKey;
      Statement insert(db, "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)");
      if (!insert.Bind(1, key).Bind(2, name).Bind(3, ToLower(name)).Run()) return kNoKey;
      child = sqlite3_last_insert_rowid(db);
    }
    key = child;
  }
  return key;
}

struct StoredValue {
  std::uint32_t type = kRegNone;
  std::int32_t number = 0;
  std::u16string text;
};

bool LookupValue(sqlite3* db, RegistryKey key, std::u16string_view name, StoredValue& value) {
  Statement find(db, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
  find.Bind(1, key).Bind(2, ToLower(name));
  if (find.Step() != SQLITE_ROW) return false;
  value.type = static_cast<std::uint32_t>(find.Int(0));
  if (value.type == kRegDword) {
    value.number = static_cast<std::int32_t>(find.Int(1));
  } else if (find.Type(1) == SQLITE_TEXT) {
    value.text = find.Text(1);
  }
  return true;
}

bool StoreValue(sqlite3* db, RegistryKey key, std::u16string_view name, std::uint32_t type, std::int32_t number,
                std::u16string_view text) {
  if (name.size() > kMaxValueNameLength) return false;
  // A value written again keeps its place in the enumeration and the case of its first name.
  Statement upsert(db,
                   "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                   "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert.Bind(1, key).Bind(2, name).Bind(3, ToLower(name)).Bind(4, static_cast<std::int64_t>(type));
  if (type == kRegDword) {
    upsert.Bind(5, static_cast<std::int64_t>(number));
  } else {
    upsert.Bind(5, text);
  }
  return upsert.Run();
}

bool EnsureSchema(sqlite3* db) {
  {
    Statement version(db, "PRAGMA user_version");
    if (version.Step() == SQLITE_ROW && version.Int(0) >= kSchemaVersion) return true;
  }
  if (!Exec(db, "BEGIN IMMEDIATE")) return false;
  if (Exec(db, kSchema) && Exec(db, "COMMIT")) return true;
  Exec(db, "ROLLBACK");
  return false;
}

}  // namespace

struct RegistryStore::Database {
  explicit Database(sqlite3* handle) : db(handle) {}
  ~Database() { sqlite3_close_v2(db); }  // an unfinished transaction is rolled back
  sqlite3* db;
};

RegistryStore::RegistryStore() = default;

RegistryStore::~RegistryStore() {
  // A key left open by a caller of Open keeps what was done through it, as a registry key would.
  CloseKey(true);
}

bool RegistryStore::Connect() {
  if (db_) return true;
  std::u16string path = RegistryDatabasePath();
  if (path.empty()) return false;
  std::u16string folder = FolderPart(path);
  if (!IsExistingFolder(folder)) {
    // The config folder is made private when it is made; so is ours.
    if (sys::SpecialFolderPath(sys::kCsidlAppData | sys::kCsidlFlagCreate).empty()) return false;
    if (sys::MakePrivateFolder(folder) != 0 && !IsExistingFolder(folder)) return false;
  }
  bool fresh = sys::Access(path, 0) != 0;
  sqlite3* handle = nullptr;
  int opened = sqlite3_open_v2(sys::ToNativePath(path).c_str(), &handle,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  auto database = std::make_unique<Database>(handle);
  if (opened != SQLITE_OK) return false;
  // SQLite creates the file with the umask's mode; the journal files it adds take the file's mode.
  // A file that stays as open as the umask made it still works; the folder around it is private.
  if (fresh) (void)sys::MakeOwnerOnly(path);
  sqlite3_busy_timeout(handle, kBusyTimeoutMs);
  // Only a new, empty database takes the encoding. In write-ahead-log mode readers never wait for a
  // writer; should the mode not take, the busy wait still serialises writers.
  Exec(handle, "PRAGMA encoding = 'UTF-16le'");
  Exec(handle, "PRAGMA journal_mode = WAL");
  if (!EnsureSchema(handle)) return false;
  db_ = std::move(database);
  return true;
}

RegistryKey RegistryStore::OpenStoredKey(bool writing, bool create) {
  sqlite3* db = db_->db;
  if (!sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
  // A key opened for a change holds the write lock from the start, so two writers never both read and
  // then collide; one opened for reading sees one consistent state.
  if (!Exec(db, writing ? "BEGIN IMMEDIATE" : "BEGIN")) return kNoKey;
  const RegistryKey key = WalkPath(db, kCurrentUserRow, sub_key_, create);
  if (key == kNoKey) Exec(db, "ROLLBACK");
  return key;
}

bool RegistryStore::CloseKey(bool keep_changes) {
  if (key_ == kNoKey) return true;
  key_ = kNoKey;
  sqlite3* db = db_->db;
  if (sqlite3_get_autocommit(db)) return true;
  if (keep_changes && Exec(db, "COMMIT")) return true;
  Exec(db, "ROLLBACK");
  return !keep_changes;
}

bool RegistryStore::StoredType(std::uint32_t& type, std::uint32_t& size) {
  StoredValue value;
  if (!LookupValue(db_->db, key_, value_name_, value)) return false;
  type = value.type;
  size = type == kRegDword ? 4 : static_cast<std::uint32_t>((value.text.size() + 1) * 2);
  return true;
}

bool RegistryStore::ReadStoredText(std::u16string& text) {
  StoredValue value;
  if (!LookupValue(db_->db, key_, value_name_, value) || value.type != kRegSz) return false;
  text = std::move(value.text);
  return true;
}

bool RegistryStore::ReadStoredNumber(std::int32_t& number) {
  StoredValue value;
  if (!LookupValue(db_->db, key_, value_name_, value) || value.type != kRegDword) return false;
  number = value.number;
  return true;
}

bool RegistryStore::StoreText(std::u16string_view text) {
  return StoreValue(db_->db, key_, value_name_, kRegSz, 0, text);
}

bool RegistryStore::StoreNumber(std::int32_t number) {
  return StoreValue(db_->db, key_, value_name_, kRegDword, number, {});
}

bool RegistryStore::EraseValue() {
  Statement erase(db_->db, "DELETE FROM vals WHERE key = ?1 AND folded = ?2");
  return erase.Bind(1, key_).Bind(2, ToLower(value_name_)).Run() && sqlite3_changes(db_->db) == 1;
}

bool RegistryStore::EraseSubkey(std::u16string_view name) {
  sqlite3* db = db_->db;
  const RegistryKey child = PathComponents(name).empty() ? kNoKey : WalkPath(db, key_, name, false);
  if (child == kNoKey) return false;
  Statement subkeys(db, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  if (subkeys.Bind(1, child).Step() != SQLITE_DONE) return false;  // an error counts as "has subkeys"
  Statement values(db, "DELETE FROM vals WHERE key = ?1");
  Statement key(db, "DELETE FROM keys WHERE id = ?1");
  return values.Bind(1, child).Run() && key.Bind(1, child).Run();
}

void RegistryStore::ListStoredNames(Names which, std::vector<std::u16string>& names) {
  Statement rows(db_->db, which == Names::kSubkeys ? "SELECT name FROM keys WHERE parent = ?1 ORDER BY id"
                                                   : "SELECT name FROM vals WHERE key = ?1 ORDER BY id");
  rows.Bind(1, key_);
  while (rows.Step() == SQLITE_ROW) names.push_back(rows.Text(0));
  if (which == Names::kSubkeys) {
    // In name order without case, code unit by code unit, as a registry lists subkeys.
    std::stable_sort(names.begin(), names.end(),
                     [](const std::u16string& a, const std::u16string& b) { return ToLower(a) < ToLower(b); });
  }
}

}  // namespace ocelo
