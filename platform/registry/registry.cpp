#include "platform/registry/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

namespace {

// A writer waits this long for another connection's transaction to end.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kSchemaVersion = 1;

// Roots are fixed rows so that a key handle is just a row id.
constexpr int64_t kCurrentUserId = 1;
constexpr int64_t kClassesRootId = 2;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data,"
    "  PRIMARY KEY(key, fold)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES"
    "  (1, NULL, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    "  (2, NULL, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT');";

std::string sqliteMessage(sqlite3* db, const std::string& path) {
  return format("Registry '%s': %s", path.c_str(), db ? sqlite3_errmsg(db) : "out of memory");
}

// One prepared statement; every failure raises ERegistryError.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& path, const char* sql) : db_(db), path_(path) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      throw ERegistryError(sqliteMessage(db_, path_));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, int64_t value) {
    check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Statement& bindBytes(int index, std::string_view bytes) {
    // A zero-length blob must still be a blob, not NULL.
    check(sqlite3_bind_blob(stmt_, index, bytes.empty() ? "" : bytes.data(),
                            static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& bindNull(int index) {
    check(sqlite3_bind_null(stmt_, index));
    return *this;
  }

  // True while a row is available.
  bool step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw ERegistryError(sqliteMessage(db_, path_));
  }

  int64_t integer(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string bytes(int column) {
    const void* data = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size))
                : std::string();
  }

 private:
  void check(int rc) {
    if (rc != SQLITE_OK) throw ERegistryError(sqliteMessage(db_, path_));
  }
  sqlite3* db_;
  const std::string& path_;
  sqlite3_stmt* stmt_ = nullptr;
};

std::string fold(std::string_view name) {
  return ansiUpperCase(name);
}

// Calls f for each non-empty part of a '\'-separated path.
template <typename F>
void forEachPart(std::string_view path, F f) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) f(path.substr(start, end - start));
    start = end + 1;
  }
}

// Like create_directories, but each folder made is 0700.
void createPrivateFolders(const std::filesystem::path& folder, std::error_code& error) {
  error.clear();
  if (std::filesystem::is_directory(folder, error)) return;
  error.clear();
  std::filesystem::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder) {
    createPrivateFolders(parent, error);
    if (error) return;
  }
  if (::mkdir(folder.c_str(), 0700) == 0) return;
  int failure = errno;
  if (failure == EEXIST && !std::filesystem::is_directory(folder)) failure = ENOTDIR;
  if (failure != EEXIST) error = std::error_code(failure, std::generic_category());
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return ".";
}

}  // namespace

// ---- Registry ------------------------------------------------------------

std::string Registry::defaultPath() {
  if (const char* path = std::getenv("MIRELO_REGISTRY"); path && *path) return path;
  std::string config;
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    config = xdg;
  else
    config = homeDirectory() + "/.config";
  return config + "/korvex/registry.db";
}

Registry::Registry() : Registry(defaultPath()) {}

Registry::Registry(const std::string& path) : path_(path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) {
    std::error_code error;
    createPrivateFolders(parent, error);
    if (error)
      throw ERegistryError(format("Registry '%s': cannot create folder '%s': %s", path.c_str(),
                                  parent.c_str(), error.message().c_str()));
  }
  // The settings are the user's alone: a new file is made 0600 before SQLite
  // opens it (its journal files take the same mode). An existing file or
  // link is left as it is.
  if (path != ":memory:") {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    std::string message = sqliteMessage(db_, path_);
    sqlite3_close_v2(db_);
    throw ERegistryError(message);
  }
  try {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    execute("PRAGMA foreign_keys = ON");
    // WAL lets readers go on while another process writes. Switching needs a
    // moment of exclusive access; when another connection holds the file the
    // mode it already has is kept, which is just as safe.
    sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    Transaction transaction(*this);
    int version = 0;
    {
      Statement statement(db_, path_, "PRAGMA user_version");
      if (statement.step()) version = static_cast<int>(statement.integer(0));
    }
    if (version > kSchemaVersion) raise(format("unknown format version %d", version));
    if (version < kSchemaVersion) {
      execute(kSchema);
      execute(format("PRAGMA user_version = %d", kSchemaVersion).c_str());
    }
    transaction.commit();
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

Registry::~Registry() {
  sqlite3_close_v2(db_);
}

void Registry::execute(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw ERegistryError(sqliteMessage(db_, path_));
}

void Registry::raise(const std::string& what) const {
  throw ERegistryError(format("Registry '%s': %s", path_.c_str(), what.c_str()));
}

void Registry::countWrite() {
  if (writesBeforeFailure_ < 0) return;
  if (writesBeforeFailure_ == 0) {
    writesBeforeFailure_ = -1;
    throw ERegistryError("Simulated registry write failure");
  }
  --writesBeforeFailure_;
}

void Registry::requireKey(int64_t id) const {
  Statement statement(db_, path_, "SELECT 1 FROM keys WHERE id = ?");
  statement.bind(1, id);
  if (!statement.step()) raise("the key has been deleted");
}

std::optional<int64_t> Registry::findChild(int64_t parent, std::string_view name) const {
  Statement statement(db_, path_, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
  statement.bind(1, parent).bindBytes(2, fold(name));
  if (statement.step()) return statement.integer(0);
  return std::nullopt;
}

int64_t Registry::createChild(int64_t parent, std::string_view name) {
  countWrite();
  Statement statement(db_, path_, "INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
  statement.bind(1, parent).bindBytes(2, name).bindBytes(3, fold(name));
  statement.step();
  return sqlite3_last_insert_rowid(db_);
}

std::optional<int64_t> Registry::walk(int64_t start, std::string_view path, bool canCreate) {
  requireKey(start);
  if (!canCreate) {
    std::optional<int64_t> id = start;
    forEachPart(path, [&](std::string_view part) {
      if (id) id = findChild(*id, part);
    });
    return id;
  }
  // A chain of new keys appears whole or not at all.
  Transaction transaction(*this);
  int64_t id = start;
  forEachPart(path, [&](std::string_view part) {
    std::optional<int64_t> child = findChild(id, part);
    id = child ? *child : createChild(id, part);
  });
  transaction.commit();
  return id;
}

bool Registry::deleteBelow(int64_t start, std::string_view path) {
  bool named = false;
  forEachPart(path, [&](std::string_view) { named = true; });
  if (!named) raise("a key cannot delete itself or a root");
  std::optional<int64_t> id = walk(start, path, false);
  if (!id) return false;
  countWrite();
  // The foreign keys delete the subkeys and values with it, in one statement.
  Statement statement(db_, path_, "DELETE FROM keys WHERE id = ?");
  statement.bind(1, *id);
  statement.step();
  return true;
}

RegistryKey Registry::root(RegistryRoot root) {
  return RegistryKey(this, root == RegistryRoot::CurrentUser ? kCurrentUserId : kClassesRootId);
}

std::optional<RegistryKey> Registry::openKey(RegistryRoot root, std::string_view path,
                                             bool canCreate) {
  return this->root(root).openKey(path, canCreate);
}

bool Registry::keyExists(RegistryRoot root, std::string_view path) {
  return this->root(root).keyExists(path);
}

bool Registry::deleteKey(RegistryRoot root, std::string_view path) {
  return this->root(root).deleteKey(path);
}

// ---- Transaction ---------------------------------------------------------

Registry::Transaction::Transaction(Registry& registry)
    : registry_(registry), level_(registry.transactionDepth_) {
  // IMMEDIATE takes the write lock at once (waiting for it if need be), so
  // two writers never deadlock upgrading from a read.
  if (level_ == 0)
    registry_.execute("BEGIN IMMEDIATE");
  else
    registry_.execute(format("SAVEPOINT level%d", level_).c_str());
  ++registry_.transactionDepth_;
}

Registry::Transaction::~Transaction() {
  if (open_) {
    try {
      rollback();
    } catch (...) {
      // A destructor must not throw; the connection's own rollback follows.
    }
  }
}

void Registry::Transaction::commit() {
  if (!open_) registry_.raise("the transaction has already ended");
  if (registry_.transactionDepth_ != level_ + 1) registry_.raise("an inner transaction is open");
  if (sqlite3_get_autocommit(registry_.db_))
    registry_.raise("the transaction was cancelled by an earlier failure");
  // A commit that fails leaves the transaction open for the destructor to undo.
  if (level_ == 0)
    registry_.execute("COMMIT");
  else
    registry_.execute(format("RELEASE level%d", level_).c_str());
  open_ = false;
  --registry_.transactionDepth_;
}

void Registry::Transaction::rollback() {
  if (!open_) return;
  open_ = false;
  registry_.transactionDepth_ = level_;
  // Some failures (a full disk, an I/O error) end SQLite's transaction by
  // themselves; there is then nothing left to undo.
  if (sqlite3_get_autocommit(registry_.db_)) return;
  if (level_ == 0) {
    registry_.execute("ROLLBACK");
  } else {
    registry_.execute(format("ROLLBACK TO level%d", level_).c_str());
    registry_.execute(format("RELEASE level%d", level_).c_str());
  }
}

// ---- RegistryKey ---------------------------------------------------------

std::string RegistryKey::name() const {
  Statement statement(registry_->db_, registry_->path_, "SELECT name FROM keys WHERE id = ?");
  statement.bind(1, id_);
  if (!statement.step()) registry_->raise("the key has been deleted");
  return statement.bytes(0);
}

std::vector<std::string> RegistryKey::subKeyNames() const {
  registry_->requireKey(id_);
  Statement statement(registry_->db_, registry_->path_,
                      "SELECT name FROM keys WHERE parent = ? ORDER BY fold");
  statement.bind(1, id_);
  std::vector<std::string> names;
  while (statement.step()) names.push_back(statement.bytes(0));
  return names;
}

bool RegistryKey::hasSubKeys() const {
  registry_->requireKey(id_);
  Statement statement(registry_->db_, registry_->path_,
                      "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
  statement.bind(1, id_);
  return statement.step();
}

std::vector<std::string> RegistryKey::valueNames() const {
  registry_->requireKey(id_);
  Statement statement(registry_->db_, registry_->path_,
                      "SELECT name FROM reg_values WHERE key = ? ORDER BY fold");
  statement.bind(1, id_);
  std::vector<std::string> names;
  while (statement.step()) names.push_back(statement.bytes(0));
  return names;
}

RegistryValueType RegistryKey::valueType(std::string_view name) const {
  registry_->requireKey(id_);
  Statement statement(registry_->db_, registry_->path_,
                      "SELECT type FROM reg_values WHERE key = ? AND fold = ?");
  statement.bind(1, id_).bindBytes(2, fold(name));
  if (!statement.step()) return RegistryValueType::None;
  return static_cast<RegistryValueType>(statement.integer(0));
}

bool RegistryKey::valueExists(std::string_view name) const {
  return valueType(name) != RegistryValueType::None;
}

namespace {

// The stored data of a value that must have the given type.
template <typename Read>
auto readTyped(sqlite3* db, const std::string& path, int64_t key, std::string_view name,
               RegistryValueType type, Read read) {
  Statement statement(db, path, "SELECT type, data FROM reg_values WHERE key = ? AND fold = ?");
  statement.bind(1, key).bindBytes(2, fold(name));
  std::string quoted(name);
  if (!statement.step())
    throw ERegistryError(format("Failed to get data for '%s'", quoted.c_str()));
  if (statement.integer(0) != static_cast<int64_t>(type))
    throw ERegistryError(format("Invalid data type for '%s'", quoted.c_str()));
  return read(statement);
}

}  // namespace

int32_t RegistryKey::readInteger(std::string_view name) const {
  registry_->requireKey(id_);
  return readTyped(
      registry_->db_, registry_->path_, id_, name, RegistryValueType::Integer,
      [](Statement& s) { return static_cast<int32_t>(static_cast<uint32_t>(s.integer(1))); });
}

bool RegistryKey::readBool(std::string_view name) const {
  return readInteger(name) != 0;
}

std::string RegistryKey::readString(std::string_view name) const {
  registry_->requireKey(id_);
  return readTyped(registry_->db_, registry_->path_, id_, name, RegistryValueType::String,
                   [](Statement& s) { return s.bytes(1); });
}

std::string RegistryKey::readBinary(std::string_view name) const {
  registry_->requireKey(id_);
  return readTyped(registry_->db_, registry_->path_, id_, name, RegistryValueType::Binary,
                   [](Statement& s) { return s.bytes(1); });
}

namespace {
const char* const kUpsertValue =
    "INSERT INTO reg_values(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
}  // namespace

void RegistryKey::writeInteger(std::string_view name, int32_t value) {
  registry_->requireKey(id_);
  registry_->countWrite();
  Statement statement(registry_->db_, registry_->path_, kUpsertValue);
  statement.bind(1, id_).bindBytes(2, name).bindBytes(3, fold(name));
  statement.bind(4, static_cast<int64_t>(RegistryValueType::Integer)).bind(5, value);
  statement.step();
}

void RegistryKey::writeBool(std::string_view name, bool value) {
  writeInteger(name, value ? 1 : 0);
}

void RegistryKey::writeString(std::string_view name, std::string_view value) {
  registry_->requireKey(id_);
  registry_->countWrite();
  Statement statement(registry_->db_, registry_->path_, kUpsertValue);
  statement.bind(1, id_).bindBytes(2, name).bindBytes(3, fold(name));
  statement.bind(4, static_cast<int64_t>(RegistryValueType::String)).bindBytes(5, value);
  statement.step();
}

void RegistryKey::writeBinary(std::string_view name, std::string_view value) {
  registry_->requireKey(id_);
  registry_->countWrite();
  Statement statement(registry_->db_, registry_->path_, kUpsertValue);
  statement.bind(1, id_).bindBytes(2, name).bindBytes(3, fold(name));
  statement.bind(4, static_cast<int64_t>(RegistryValueType::Binary)).bindBytes(5, value);
  statement.step();
}

bool RegistryKey::deleteValue(std::string_view name) {
  if (!valueExists(name)) return false;
  registry_->countWrite();
  Statement statement(registry_->db_, registry_->path_,
                      "DELETE FROM reg_values WHERE key = ? AND fold = ?");
  statement.bind(1, id_).bindBytes(2, fold(name));
  statement.step();
  return true;
}

std::optional<RegistryKey> RegistryKey::openKey(std::string_view path, bool canCreate) {
  std::optional<int64_t> id = registry_->walk(id_, path, canCreate);
  if (!id) return std::nullopt;
  return RegistryKey(registry_, *id);
}

bool RegistryKey::keyExists(std::string_view path) const {
  return registry_->walk(id_, path, false).has_value();
}

bool RegistryKey::deleteKey(std::string_view path) {
  return registry_->deleteBelow(id_, path);
}

}  // namespace mirelo
