#pragma once
// The registry stand-in: a tree of keys with named, typed values kept in one
// SQLite file. Key and value names compare case-insensitively under the
// Windows-1251 case rules and keep the case they were created with; subkeys
// list in case-insensitive name order. Several connections, in one process or
// in several, may use one file at once: SQLite locks it, and a writer waits up
// to a few seconds for another to finish. One Registry (one connection) is
// used by one thread at a time; each driver object may open its own.
//
// Two roots: the current user's settings and the class registrations. A path
// is a chain of names separated by '\'; empty parts (a leading '\' included)
// are ignored, so "\.DEFAULT\X" and ".DEFAULT\X" name the same key.
//
// Failures raise ERegistryError (a general failure, -199 at the automation
// boundary). Reading a value of another type raises
// "Invalid data type for '<name>'", a missing one "Failed to get data for '<name>'".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

struct sqlite3;

namespace mirelo {

class ERegistryError : public Exception {
 public:
  using Exception::Exception;
};

enum class RegistryRoot { CurrentUser, ClassesRoot };

// The numbers are those of the Windows value types.
enum class RegistryValueType : int32_t { None = 0, String = 1, Binary = 3, Integer = 4 };

class Registry;

// A handle to one key. It stays valid while its Registry lives; once the key
// is deleted, every use of the handle raises ERegistryError.
class RegistryKey {
 public:
  Registry& registry() const { return *registry_; }
  int64_t id() const { return id_; }

  // The name with the case it was created with (the root's name for a root).
  std::string name() const;
  // Names of the direct subkeys, in case-insensitive order.
  std::vector<std::string> subKeyNames() const;
  bool hasSubKeys() const;
  // Names of the values, in case-insensitive order.
  std::vector<std::string> valueNames() const;

  bool valueExists(std::string_view name) const;
  // None for a missing value.
  RegistryValueType valueType(std::string_view name) const;

  int32_t readInteger(std::string_view name) const;
  // An integer value, non-zero is true.
  bool readBool(std::string_view name) const;
  std::string readString(std::string_view name) const;
  std::string readBinary(std::string_view name) const;

  // Writing replaces a value of any type; an existing value keeps its name's case.
  void writeInteger(std::string_view name, int32_t value);
  void writeBool(std::string_view name, bool value);
  void writeString(std::string_view name, std::string_view value);
  void writeBinary(std::string_view name, std::string_view value);
  // True when the value existed.
  bool deleteValue(std::string_view name);

  // A key below this one; the same rules as Registry::openKey.
  std::optional<RegistryKey> openKey(std::string_view path, bool canCreate);
  bool keyExists(std::string_view path) const;
  // Deletes the key at path below this one with everything below it; true when it existed.
  bool deleteKey(std::string_view path);

 private:
  friend class Registry;
  RegistryKey(Registry* registry, int64_t id) : registry_(registry), id_(id) {}
  Registry* registry_;
  int64_t id_;
};

class Registry {
 public:
  // The store at defaultPath().
  Registry();
  // The store in the file at path; the file and its folder are created when missing.
  explicit Registry(const std::string& path);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // $MIRELO_REGISTRY, else $XDG_CONFIG_HOME/korvex/registry.db, else
  // ~/.config/korvex/registry.db.
  static std::string defaultPath();
  const std::string& path() const { return path_; }

  RegistryKey root(RegistryRoot root);
  // Without canCreate: the key, or nullopt when it does not exist. With
  // canCreate: the key, created with any missing parents; failure raises.
  std::optional<RegistryKey> openKey(RegistryRoot root, std::string_view path, bool canCreate);
  bool keyExists(RegistryRoot root, std::string_view path);
  // Deletes the key with everything below it; true when it existed. A root cannot be deleted.
  bool deleteKey(RegistryRoot root, std::string_view path);

  // All changes between construction and commit() become visible together;
  // without commit() the destructor undoes them. Transactions nest: an inner
  // one that is rolled back undoes only its own changes.
  class Transaction {
   public:
    explicit Transaction(Registry& registry);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();
    void rollback();

   private:
    Registry& registry_;
    int level_;
    bool open_ = true;
  };

  // Test seam: after `writes` further successful changes (a key created, a
  // value written or deleted, a key deleted) the next change raises
  // ERegistryError "Simulated registry write failure" without changing
  // anything. Negative disarms. The seam fires once.
  void failAfterWrites(int writes) { writesBeforeFailure_ = writes; }

 private:
  friend class RegistryKey;
  friend class Transaction;

  void execute(const char* sql);
  [[noreturn]] void raise(const std::string& what) const;
  void countWrite();
  std::optional<int64_t> findChild(int64_t parent, std::string_view name) const;
  int64_t createChild(int64_t parent, std::string_view name);
  std::optional<int64_t> walk(int64_t start, std::string_view path, bool canCreate);
  bool deleteBelow(int64_t start, std::string_view path);
  void requireKey(int64_t id) const;

  std::string path_;
  sqlite3* db_ = nullptr;
  int transactionDepth_ = 0;
  int writesBeforeFailure_ = -1;
};

}  // namespace mirelo
