#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "platform/format.h"
#include "tests/devices/temp_registry.h"

namespace mirelo {
namespace {

using test::RegistryTest;
using test::ScopedEnv;
using test::TempDirectory;

std::string allBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// ---- file location -------------------------------------------------------

// Settings are the user's alone: new folders 0700, the file 0600.
TEST(RegistryFile, IsCreatedForItsOwnerAlone) {
  TempDirectory dir;
  std::filesystem::path file = dir.path() / "a" / "b" / "registry.db";
  {
    Registry registry(file.string());
    registry.openKey(RegistryRoot::CurrentUser, "X", true)->writeInteger("V", 1);
  }
  auto mode = [](const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
  };
  EXPECT_EQ(mode(dir.path() / "a"), 0700u);
  EXPECT_EQ(mode(dir.path() / "a" / "b"), 0700u);
  EXPECT_EQ(mode(file), 0600u);
}

struct PathCase {
  const char* registryEnv;
  const char* xdgEnv;
  const char* homeEnv;
  const char* expected;
};

class DefaultPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DefaultPathTest, FollowsEnvironment) {
  const PathCase& c = GetParam();
  ScopedEnv registry("MIRELO_REGISTRY", c.registryEnv);
  ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgEnv);
  ScopedEnv home("HOME", c.homeEnv);
  EXPECT_EQ(Registry::defaultPath(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, DefaultPathTest,
    ::testing::Values(PathCase{"/tmp/r/own.db", "/x", "/home/u", "/tmp/r/own.db"},
                      PathCase{nullptr, "/x/cfg", "/home/u", "/x/cfg/korvex/registry.db"},
                      PathCase{"", "/x/cfg", "/home/u", "/x/cfg/korvex/registry.db"},
                      PathCase{nullptr, nullptr, "/home/u", "/home/u/.config/korvex/registry.db"},
                      PathCase{nullptr, "", "/home/u", "/home/u/.config/korvex/registry.db"},
                      // XDG: a relative value is ignored.
                      PathCase{nullptr, "relative", "/home/u",
                               "/home/u/.config/korvex/registry.db"}));

TEST(RegistryFile, CreatesMissingFolders) {
  TempDirectory directory;
  std::filesystem::path file = directory.path() / "a" / "b" / "registry.db";
  {
    Registry registry(file.string());
    registry.openKey(RegistryRoot::CurrentUser, "K", true)->writeInteger("V", 7);
  }
  EXPECT_TRUE(std::filesystem::exists(file));
  Registry again(file.string());
  EXPECT_EQ(again.openKey(RegistryRoot::CurrentUser, "K", false)->readInteger("V"), 7);
}

TEST(RegistryFile, DefaultConstructorUsesMireloRegistry) {
  TempDirectory directory;
  std::string file = (directory.path() / "env.db").string();
  ScopedEnv env("MIRELO_REGISTRY", file.c_str());
  Registry registry;
  EXPECT_EQ(registry.path(), file);
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(RegistryFile, NotADatabaseRaises) {
  TempDirectory directory;
  std::filesystem::path file = directory.path() / "junk.db";
  std::ofstream(file) << std::string(4096, 'x');
  EXPECT_THROW(Registry registry(file.string()), ERegistryError);
}

// ---- values --------------------------------------------------------------

TEST_F(RegistryTest, IntegerValuesRoundTrip) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "Software\\Test", true);
  for (int32_t value : {0, 1, -1, 2004, INT32_MIN, INT32_MAX}) {
    key.writeInteger("Number", value);
    EXPECT_EQ(key.readInteger("Number"), value);
    EXPECT_EQ(key.valueType("Number"), RegistryValueType::Integer);
  }
  key.writeBool("Flag", true);
  EXPECT_TRUE(key.readBool("Flag"));
  EXPECT_EQ(key.readInteger("Flag"), 1);
  key.writeInteger("Flag", 7);
  EXPECT_TRUE(key.readBool("Flag"));
  key.writeBool("Flag", false);
  EXPECT_FALSE(key.readBool("Flag"));
}

TEST_F(RegistryTest, StringAndBinaryValuesKeepEveryByte) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "Software\\Test", true);
  const std::string texts[] = {"", "Без названия", std::string("a\0b", 3), allBytes()};
  for (const std::string& text : texts) {
    key.writeString("Text", text);
    EXPECT_EQ(key.readString("Text"), text);
    key.writeBinary("Data", text);
    EXPECT_EQ(key.readBinary("Data"), text);
  }
  EXPECT_EQ(key.valueType("Text"), RegistryValueType::String);
  EXPECT_EQ(key.valueType("Data"), RegistryValueType::Binary);
  // The values outlive the connection.
  Registry other(file());
  RegistryKey same = *other.openKey(RegistryRoot::CurrentUser, "Software\\Test", false);
  EXPECT_EQ(same.readString("Text"), allBytes());
  EXPECT_EQ(same.readBinary("Data"), allBytes());
}

TEST_F(RegistryTest, WritingAnotherTypeReplacesTheValue) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  key.writeString("V", "12");
  key.writeInteger("V", 12);
  EXPECT_EQ(key.valueType("V"), RegistryValueType::Integer);
  EXPECT_EQ(key.valueNames().size(), 1u);
}

struct WrongTypeCase {
  RegistryValueType stored;
  RegistryValueType read;
};

class WrongTypeTest : public RegistryTest, public ::testing::WithParamInterface<WrongTypeCase> {};

TEST_P(WrongTypeTest, RaisesInvalidDataType) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  switch (GetParam().stored) {
    case RegistryValueType::Integer:
      key.writeInteger("Timeout", 5);
      break;
    case RegistryValueType::String:
      key.writeString("Timeout", "5");
      break;
    default:
      key.writeBinary("Timeout", "\x05");
      break;
  }
  try {
    switch (GetParam().read) {
      case RegistryValueType::Integer:
        key.readInteger("TIMEOUT");
        break;
      case RegistryValueType::String:
        key.readString("TIMEOUT");
        break;
      default:
        key.readBinary("TIMEOUT");
        break;
    }
    FAIL() << "no exception";
  } catch (const ERegistryError& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'TIMEOUT'");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registry, WrongTypeTest,
    ::testing::Values(WrongTypeCase{RegistryValueType::Integer, RegistryValueType::String},
                      WrongTypeCase{RegistryValueType::Integer, RegistryValueType::Binary},
                      WrongTypeCase{RegistryValueType::String, RegistryValueType::Integer},
                      WrongTypeCase{RegistryValueType::String, RegistryValueType::Binary},
                      WrongTypeCase{RegistryValueType::Binary, RegistryValueType::Integer},
                      WrongTypeCase{RegistryValueType::Binary, RegistryValueType::String}));

TEST_F(RegistryTest, ReadingAMissingValueRaises) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  EXPECT_FALSE(key.valueExists("Port"));
  EXPECT_EQ(key.valueType("Port"), RegistryValueType::None);
  try {
    key.readInteger("Port");
    FAIL() << "no exception";
  } catch (const ERegistryError& error) {
    EXPECT_STREQ(error.what(), "Failed to get data for 'Port'");
  }
  EXPECT_THROW(key.readBool("Port"), ERegistryError);
  EXPECT_THROW(key.readString("Port"), ERegistryError);
}

TEST_F(RegistryTest, DeleteValue) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  key.writeInteger("A", 1);
  key.writeInteger("B", 2);
  EXPECT_TRUE(key.deleteValue("a"));
  EXPECT_FALSE(key.deleteValue("a"));
  EXPECT_EQ(key.valueNames(), std::vector<std::string>{"B"});
}

// ---- names ---------------------------------------------------------------

TEST_F(RegistryTest, KeyNamesIgnoreCaseAndKeepIt) {
  RegistryKey created =
      *registry.openKey(RegistryRoot::CurrentUser, "Software\\Korvex\\Ключ", true);
  struct {
    const char* path;
  } spellings[] = {
      {"SOFTWARE\\KORVEX\\КЛЮЧ"}, {"software\\korvex\\ключ"}, {"SoFtWaRe\\kOrVeX\\кЛюЧ"}};
  for (const auto& s : spellings) {
    std::optional<RegistryKey> found = registry.openKey(RegistryRoot::CurrentUser, s.path, false);
    ASSERT_TRUE(found) << s.path;
    EXPECT_EQ(found->id(), created.id());
    EXPECT_EQ(found->name(), "Ключ");
  }
  // Creating under another spelling finds the key instead of adding a second one.
  registry.openKey(RegistryRoot::CurrentUser, "software\\KORVEX\\ключ", true);
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, "Software", false)->subKeyNames(),
            std::vector<std::string>{"Korvex"});
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, "Software\\Korvex", false)->subKeyNames(),
            std::vector<std::string>{"Ключ"});
}

TEST_F(RegistryTest, YoAndIoFoldLikeOtherLetters) {
  registry.openKey(RegistryRoot::CurrentUser, "Ёлка", true);
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "ёЛКА"));
  // Е and Ё are different letters.
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "Елка"));
}

TEST_F(RegistryTest, ValueNamesIgnoreCaseAndKeepIt) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  key.writeString("DeviceName", "first");
  key.writeString("DEVICENAME", "second");
  key.writeInteger("Порт", 1);
  EXPECT_EQ(key.readString("devicename"), "second");
  EXPECT_EQ(key.readInteger("ПОРТ"), 1);
  EXPECT_EQ(key.valueNames(), (std::vector<std::string>{"DeviceName", "Порт"}));
}

TEST_F(RegistryTest, SubKeysListInCaseInsensitiveOrder) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "Devices", true);
  for (const char* name : {"Device2", "device10", "b", "Device1", "A", "DEVICE11", "Я", "а", "Б"})
    key.openKey(name, true);
  // Case-sensitive byte order would put "A", "DEVICE11", "Device1", ... first.
  EXPECT_EQ(key.subKeyNames(), (std::vector<std::string>{"A", "b", "Device1", "device10",
                                                         "DEVICE11", "Device2", "а", "Б", "Я"}));
}

TEST_F(RegistryTest, PathsIgnoreEmptyParts) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "\\.DEFAULT\\SOFTWARE\\X", true);
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, ".DEFAULT\\SOFTWARE\\X\\", false)->id(),
            key.id());
  EXPECT_EQ(registry.root(RegistryRoot::CurrentUser).subKeyNames(),
            std::vector<std::string>{".DEFAULT"});
}

// ---- keys ----------------------------------------------------------------

TEST_F(RegistryTest, OpenWithoutCreateCreatesNothing) {
  EXPECT_FALSE(registry.openKey(RegistryRoot::CurrentUser, "A\\B\\C", false));
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "A"));
  RegistryKey c = *registry.openKey(RegistryRoot::CurrentUser, "A\\B\\C", true);
  EXPECT_EQ(c.name(), "C");
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "A\\B"));
  RegistryKey a = *registry.openKey(RegistryRoot::CurrentUser, "A", false);
  EXPECT_TRUE(a.keyExists("b\\c"));
  EXPECT_TRUE(a.hasSubKeys());
  EXPECT_FALSE(c.hasSubKeys());
}

TEST_F(RegistryTest, RootsAreSeparate) {
  registry.openKey(RegistryRoot::CurrentUser, "CLSID\\X", true)->writeString("", "user");
  registry.openKey(RegistryRoot::ClassesRoot, "CLSID\\X", true)->writeString("", "classes");
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, "CLSID\\X", false)->readString(""), "user");
  EXPECT_EQ(registry.openKey(RegistryRoot::ClassesRoot, "CLSID\\X", false)->readString(""),
            "classes");
  registry.deleteKey(RegistryRoot::ClassesRoot, "CLSID");
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "CLSID\\X"));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeTree) {
  auto make = [&](const char* path) {
    registry.openKey(RegistryRoot::CurrentUser, path, true)->writeInteger("V", 1);
  };
  make("Root\\Devices\\Device1");
  make("Root\\Devices\\Device2\\Deeper\\Deepest");
  make("Root\\Params");
  std::optional<RegistryKey> deep =
      registry.openKey(RegistryRoot::CurrentUser, "Root\\Devices\\Device2\\Deeper", false);
  EXPECT_TRUE(registry.deleteKey(RegistryRoot::CurrentUser, "ROOT\\devices"));
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "Root\\Devices"));
  EXPECT_FALSE(registry.deleteKey(RegistryRoot::CurrentUser, "Root\\Devices"));
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, "Root\\Params", false)->readInteger("V"),
            1);
  // A handle to a deleted key fails instead of writing into nowhere.
  EXPECT_THROW(deep->writeInteger("V", 2), ERegistryError);
  EXPECT_THROW(deep->readInteger("V"), ERegistryError);
  EXPECT_THROW(deep->openKey("New", true), ERegistryError);
  // Nothing is left behind in the file.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(
                db, "SELECT (SELECT count(*) FROM keys), (SELECT count(*) FROM reg_values)", -1,
                &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 4);  // two roots, Root, Params
  EXPECT_EQ(sqlite3_column_int(stmt, 1), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(RegistryTest, RootCannotBeDeleted) {
  EXPECT_THROW(registry.deleteKey(RegistryRoot::CurrentUser, ""), ERegistryError);
  EXPECT_THROW(registry.deleteKey(RegistryRoot::CurrentUser, "\\"), ERegistryError);
  registry.openKey(RegistryRoot::CurrentUser, "Still", true);
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "Still"));
}

// ---- transactions --------------------------------------------------------

TEST_F(RegistryTest, TransactionWithoutCommitLeavesNothing) {
  registry.openKey(RegistryRoot::CurrentUser, "Keep", true)->writeInteger("V", 1);
  {
    Registry::Transaction transaction(registry);
    registry.openKey(RegistryRoot::CurrentUser, "Keep", false)->writeInteger("V", 2);
    registry.openKey(RegistryRoot::CurrentUser, "New\\Key", true)->writeString("S", "x");
    registry.deleteKey(RegistryRoot::CurrentUser, "Keep");
  }
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "New"));
  EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, "Keep", false)->readInteger("V"), 1);
}

TEST_F(RegistryTest, CommittedTransactionIsSeenByAnotherConnection) {
  Registry other(file());
  Registry::Transaction transaction(registry);
  registry.openKey(RegistryRoot::CurrentUser, "T", true)->writeInteger("V", 5);
  // Not yet committed: the other connection sees the old state.
  EXPECT_FALSE(other.keyExists(RegistryRoot::CurrentUser, "T"));
  transaction.commit();
  EXPECT_EQ(other.openKey(RegistryRoot::CurrentUser, "T", false)->readInteger("V"), 5);
  EXPECT_THROW(transaction.commit(), ERegistryError);
}

TEST_F(RegistryTest, InnerRollbackUndoesOnlyItsOwnChanges) {
  {
    Registry::Transaction outer(registry);
    registry.openKey(RegistryRoot::CurrentUser, "Outer", true);
    {
      Registry::Transaction inner(registry);
      registry.openKey(RegistryRoot::CurrentUser, "Inner", true);
    }
    {
      Registry::Transaction inner(registry);
      registry.openKey(RegistryRoot::CurrentUser, "Committed", true);
      inner.commit();
    }
    outer.commit();
  }
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "Outer"));
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "Inner"));
  EXPECT_TRUE(registry.keyExists(RegistryRoot::CurrentUser, "Committed"));
  // The connection is usable outside a transaction again.
  registry.openKey(RegistryRoot::CurrentUser, "After", true);
  Registry other(file());
  EXPECT_TRUE(other.keyExists(RegistryRoot::CurrentUser, "After"));
}

TEST_F(RegistryTest, OuterRollbackUndoesCommittedInnerTransactions) {
  {
    Registry::Transaction outer(registry);
    Registry::Transaction inner(registry);
    registry.openKey(RegistryRoot::CurrentUser, "Inner", true);
    inner.commit();
    outer.rollback();
  }
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "Inner"));
}

TEST_F(RegistryTest, InjectedFailureHitsTheChosenWriteOnce) {
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "K", true);
  registry.failAfterWrites(2);
  key.writeInteger("A", 1);
  key.writeInteger("B", 2);
  try {
    key.writeInteger("C", 3);
    FAIL() << "no exception";
  } catch (const ERegistryError& error) {
    EXPECT_STREQ(error.what(), "Simulated registry write failure");
  }
  EXPECT_FALSE(key.valueExists("C"));
  key.writeInteger("C", 3);
  EXPECT_EQ(key.readInteger("C"), 3);
}

TEST_F(RegistryTest, FailedKeyChainCreationLeavesNoPartOfIt) {
  registry.failAfterWrites(2);
  EXPECT_THROW(registry.openKey(RegistryRoot::CurrentUser, "A\\B\\C\\D", true), ERegistryError);
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "A"));
}

// ---- several connections -------------------------------------------------

TEST_F(RegistryTest, TwoConnectionsInOneProcessShareTheFile) {
  Registry second(file());
  RegistryKey a = *registry.openKey(RegistryRoot::CurrentUser, "Shared", true);
  RegistryKey b = *second.openKey(RegistryRoot::CurrentUser, "shared", true);
  EXPECT_EQ(a.id(), b.id());
  for (int i = 0; i < 20; ++i) {
    a.writeInteger(format("A%d", i), i);
    b.writeInteger(format("B%d", i), -i);
  }
  EXPECT_EQ(a.valueNames().size(), 40u);
  EXPECT_EQ(b.readInteger("A19"), 19);
  EXPECT_EQ(a.readInteger("B19"), -19);
}

// Each process adds one to a shared counter many times, each time in a
// transaction: lost updates or a damaged file would show in the total.
void incrementCounter(const std::string& file, const char* tag, int times) {
  Registry registry(file);
  for (int i = 0; i < times; ++i) {
    Registry::Transaction transaction(registry);
    RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "Counter", true);
    int32_t value = key.valueExists("Value") ? key.readInteger("Value") : 0;
    key.writeInteger("Value", value + 1);
    registry.openKey(RegistryRoot::CurrentUser, format("%s\\Item%d", tag, i), true)
        ->writeString("Tag", tag);
    transaction.commit();
  }
}

TEST_F(RegistryTest, TwoProcessesOnOneFile) {
  constexpr int kTimes = 150;
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    int code = 0;
    try {
      incrementCounter(file(), "Child", kTimes);
    } catch (...) {
      code = 1;
    }
    _exit(code);
  }
  incrementCounter(file(), "Parent", kTimes);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  Registry check(file());
  EXPECT_EQ(check.openKey(RegistryRoot::CurrentUser, "Counter", false)->readInteger("Value"),
            2 * kTimes);
  EXPECT_EQ(check.openKey(RegistryRoot::CurrentUser, "Child", false)->subKeyNames().size(),
            static_cast<size_t>(kTimes));
  EXPECT_EQ(check.openKey(RegistryRoot::CurrentUser, "Parent", false)->subKeyNames().size(),
            static_cast<size_t>(kTimes));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace mirelo
