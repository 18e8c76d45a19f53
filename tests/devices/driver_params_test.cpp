#include "driver/devices/driver_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "driver/devices/registry_layout.h"
#include "tests/devices/temp_registry.h"

namespace mirelo {
namespace {

using test::RegistryTest;
namespace Value = RegistryLayout::ParamValue;

class ParamsStore : public RegistryTest {
 protected:
  RegistryKey paramsKey() {
    return *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey, true);
  }
  // What the automation object holds before reading: its defaults.
  static TDriverParams defaults() {
    TDriverParams params;
    params.LogFileName = "/opt/korvex/libmirelo.log";
    return params;
  }
};

void expectSame(const TDriverParams& a, const TDriverParams& b) {
  EXPECT_EQ(a.SoftFileName, b.SoftFileName);
  EXPECT_EQ(a.ServerPort, b.ServerPort);
  EXPECT_EQ(a.ServerProtocol, b.ServerProtocol);
  EXPECT_EQ(a.LogEnabled, b.LogEnabled);
  EXPECT_EQ(a.LogFileName, b.LogFileName);
}

TEST(DriverParams, Defaults) {
  TDriverParams params;
  EXPECT_EQ(params.ServerPort, 2004);
  EXPECT_EQ(params.ServerProtocol, ptTCP);
  EXPECT_FALSE(params.LogEnabled);
  EXPECT_EQ(params.SoftFileName, "");
}

TEST(DriverParams, DefaultLogFileNameIsThisBinaryWithLog) {
  std::string name = defaultLogFileName();
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::filesystem::path path(name);
  EXPECT_TRUE(path.is_absolute()) << name;
  EXPECT_EQ(path.extension(), ".log");
  EXPECT_EQ(path.stem(), self.stem());
}

TEST_F(ParamsStore, MissingKeyKeepsEveryDefault) {
  TDriverParams params = defaults();
  EXPECT_TRUE(ReadParams(registry, params).empty());
  expectSame(params, defaults());
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey));
}

TEST_F(ParamsStore, EmptyKeyKeepsEveryDefault) {
  paramsKey();
  TDriverParams params = defaults();
  EXPECT_TRUE(ReadParams(registry, params).empty());
  expectSame(params, defaults());
}

TEST_F(ParamsStore, WriteStoresAllFiveAndReadReturnsThem) {
  TDriverParams written;
  written.SoftFileName = "C:\\Прошивка\\v2.bin";
  written.ServerPort = 2100;
  written.ServerProtocol = ptUDP;
  written.LogEnabled = true;
  written.LogFileName = "/var/log/журнал.log";
  WriteParams(registry, written);

  RegistryKey key = paramsKey();
  EXPECT_EQ(key.valueNames(), (std::vector<std::string>{"LogEnabled", "LogFileName", "ServerPort",
                                                        "ServerProtocol", "SoftFileName"}));
  EXPECT_EQ(key.valueType(Value::SoftFileName), RegistryValueType::String);
  EXPECT_EQ(key.valueType(Value::LogFileName), RegistryValueType::String);
  EXPECT_EQ(key.readInteger(Value::ServerPort), 2100);
  EXPECT_EQ(key.readInteger(Value::ServerProtocol), 0);
  EXPECT_EQ(key.readInteger(Value::LogEnabled), 1);

  TDriverParams read = defaults();
  EXPECT_TRUE(ReadParams(registry, read).empty());
  expectSame(read, written);
}

TEST_F(ParamsStore, WriteStoresUnchangedDefaultsToo) {
  WriteParams(registry, defaults());
  RegistryKey key = paramsKey();
  EXPECT_EQ(key.readString(Value::SoftFileName), "");
  EXPECT_EQ(key.readInteger(Value::ServerPort), 2004);
  EXPECT_EQ(key.readInteger(Value::ServerProtocol), 1);
  EXPECT_EQ(key.readInteger(Value::LogEnabled), 0);
  EXPECT_EQ(key.readString(Value::LogFileName), "/opt/korvex/libmirelo.log");
}

TEST_F(ParamsStore, ChangesWriteOnlyWhatDiffers) {
  TDriverParams before = defaults();
  registry.failAfterWrites(0);
  WriteParamChanges(registry, before, before);  // nothing to write, so nothing fails
  registry.failAfterWrites(-1);
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey));
  TDriverParams after = before;
  after.ServerPort = 2100;
  after.LogEnabled = true;
  WriteParamChanges(registry, after, before);
  EXPECT_EQ(paramsKey().valueNames(), (std::vector<std::string>{"LogEnabled", "ServerPort"}));
  EXPECT_EQ(paramsKey().readInteger(Value::ServerPort), 2100);
}

TEST_F(ParamsStore, ServerProtocolOutsideZeroAndOneIsIgnored) {
  struct {
    int32_t stored;
    TProtocol before;
    TProtocol expected;
  } cases[] = {{0, ptTCP, ptUDP},  {1, ptUDP, ptTCP},   {5, ptTCP, ptTCP},        {2, ptUDP, ptUDP},
               {-1, ptUDP, ptUDP}, {256, ptUDP, ptUDP}, {INT32_MIN, ptTCP, ptTCP}};
  for (const auto& c : cases) {
    paramsKey().writeInteger(Value::ServerProtocol, c.stored);
    TDriverParams params = defaults();
    params.ServerProtocol = c.before;
    EXPECT_TRUE(ReadParams(registry, params).empty());
    EXPECT_EQ(params.ServerProtocol, c.expected) << c.stored;
  }
}

TEST_F(ParamsStore, ProtocolWithoutPortAndPortWithoutProtocol) {
  paramsKey().writeInteger(Value::ServerProtocol, 0);
  TDriverParams params = defaults();
  ReadParams(registry, params);
  EXPECT_EQ(params.ServerProtocol, ptUDP);
  EXPECT_EQ(params.ServerPort, 2004);

  registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey);
  paramsKey().writeInteger(Value::ServerPort, 3000);
  params = defaults();
  ReadParams(registry, params);
  EXPECT_EQ(params.ServerPort, 3000);
  EXPECT_EQ(params.ServerProtocol, ptTCP);
}

TEST_F(ParamsStore, LogEnabledIsAnyNonZeroInteger) {
  for (int32_t stored : {1, 7, -1}) {
    paramsKey().writeInteger(Value::LogEnabled, stored);
    TDriverParams params = defaults();
    ReadParams(registry, params);
    EXPECT_TRUE(params.LogEnabled) << stored;
  }
  paramsKey().writeInteger(Value::LogEnabled, 0);
  TDriverParams params = defaults();
  params.LogEnabled = true;
  ReadParams(registry, params);
  EXPECT_FALSE(params.LogEnabled);
}

// Each value stored with the wrong type is skipped, keeps its default, and
// does not stop the values after it from being read.
TEST_F(ParamsStore, WrongTypesAreSkippedOneByOne) {
  struct {
    const char* name;
    bool storeAsInteger;  // else as a string
  } cases[] = {{Value::SoftFileName, true},
               {Value::ServerPort, false},
               {Value::ServerProtocol, false},
               {Value::LogEnabled, false},
               {Value::LogFileName, true}};
  for (const auto& c : cases) {
    registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey);
    TDriverParams stored;
    stored.SoftFileName = "soft.bin";
    stored.ServerPort = 2222;
    stored.ServerProtocol = ptUDP;
    stored.LogEnabled = true;
    stored.LogFileName = "stored.log";
    WriteParams(registry, stored);
    if (c.storeAsInteger)
      paramsKey().writeInteger(c.name, 1);
    else
      paramsKey().writeString(c.name, "1");

    TDriverParams params = defaults();
    EXPECT_EQ(ReadParams(registry, params), std::vector<std::string>{c.name});
    const std::string name = c.name;
    EXPECT_EQ(params.SoftFileName, name == Value::SoftFileName ? "" : "soft.bin");
    EXPECT_EQ(params.ServerPort, name == Value::ServerPort ? 2004 : 2222);
    EXPECT_EQ(params.ServerProtocol, name == Value::ServerProtocol ? ptTCP : ptUDP);
    EXPECT_EQ(params.LogEnabled, name != Value::LogEnabled);
    EXPECT_EQ(params.LogFileName,
              name == Value::LogFileName ? "/opt/korvex/libmirelo.log" : "stored.log");
  }
}

TEST_F(ParamsStore, FailedWriteLeavesTheOldValues) {
  TDriverParams old;
  old.SoftFileName = "old.bin";
  old.ServerPort = 1111;
  old.LogFileName = "old.log";
  WriteParams(registry, old);

  TDriverParams changed;
  changed.SoftFileName = "new.bin";
  changed.ServerPort = 2222;
  changed.ServerProtocol = ptUDP;
  changed.LogEnabled = true;
  changed.LogFileName = "new.log";
  for (int failAt = 0; failAt < 5; ++failAt) {
    registry.failAfterWrites(failAt);
    EXPECT_THROW(WriteParams(registry, changed), ERegistryError) << failAt;
    TDriverParams read;
    ReadParams(registry, read);
    expectSame(read, old);
  }
  registry.failAfterWrites(-1);
  WriteParams(registry, changed);
  TDriverParams read;
  ReadParams(registry, read);
  expectSame(read, changed);
}

TEST_F(ParamsStore, KeyThatCannotBeCreatedIsReported) {
  // A fresh store: the first write the save makes is creating the key.
  registry.failAfterWrites(0);
  EXPECT_THROW(WriteParams(registry, defaults()), ERegistryError);
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, "Software"));
}

}  // namespace
}  // namespace mirelo
