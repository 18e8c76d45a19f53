#include "driver/devices/devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "driver/devices/registry_layout.h"
#include "driver/errors/driver_error.h"
#include "platform/format.h"
#include "tests/devices/temp_registry.h"

namespace mirelo {
namespace {

using test::RegistryTest;
namespace Value = RegistryLayout::DeviceValue;

// Runs f and returns the code and text of the EDriverError it raises.
ResultOf raisedBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const EDriverError& error) {
    return resultOf(error);
  }
  ADD_FAILURE() << "no EDriverError raised";
  return resultOk();
}

void expectCode(const std::function<void()>& f, int32_t code, const char* text) {
  ResultOf result = raisedBy(f);
  EXPECT_EQ(result.code, code);
  EXPECT_EQ(result.text, text);
}

std::vector<int32_t> numbersOf(const TDevices& devices) {
  std::vector<int32_t> numbers;
  for (int i = 0; i < devices.Count(); ++i) numbers.push_back(devices.Items(i)->DeviceNumber());
  return numbers;
}

// Devices with the given numbers joined in that order; 0 leaves a device unnumbered.
void fill(TDevices& devices, std::initializer_list<int32_t> numbers) {
  for (int32_t number : numbers) {
    auto* device = new TDevice(&devices);
    if (number != 0) device->SetDeviceNumber(number);
  }
}

void expectDefaults(const TDevice& device) {
  EXPECT_EQ(device.Timeout(), 3000);
  EXPECT_EQ(device.IPAddress(), "192.168.0.166");
  EXPECT_EQ(device.DeviceName(), "Без названия");
  EXPECT_EQ(device.ClientPort(), 1002);
  EXPECT_EQ(device.RepeatCount(), 3);
  EXPECT_EQ(device.ClientProtocol(), ptTCP);
}

// ---- TDevice -------------------------------------------------------------

TEST(Device, Defaults) {
  TDevice device;
  expectDefaults(device);
  EXPECT_EQ(device.DeviceNumber(), 0);
  EXPECT_EQ(device.Owner(), nullptr);
}

TEST(Device, SetDeviceName) {
  TDevice device;
  const std::string twenty(20, 'x');
  device.SetDeviceName(twenty);
  EXPECT_EQ(device.DeviceName(), twenty);
  // Cyrillic letters are one byte each.
  device.SetDeviceName("Весы в отделе №20 ..");
  EXPECT_EQ(device.DeviceName().size(), 20u);
  expectCode([&] { device.SetDeviceName(std::string(21, 'y')); }, ResultCode::InvalidValue,
             ResultText::InvalidValue);
  EXPECT_EQ(device.DeviceName(), "Весы в отделе №20 ..");
  device.SetDeviceName("Весы в отделе №20 ..");  // the same name: always accepted
  device.SetDeviceName("");
  EXPECT_EQ(device.DeviceName(), "");
}

class DeviceNumberTest : public ::testing::TestWithParam<std::pair<int32_t, bool>> {};

TEST_P(DeviceNumberTest, AcceptsOnly1To99) {
  auto [number, valid] = GetParam();
  TDevice device;
  device.SetDeviceNumber(50);
  if (valid) {
    device.SetDeviceNumber(number);
    EXPECT_EQ(device.DeviceNumber(), number);
  } else {
    expectCode([&] { device.SetDeviceNumber(number); }, ResultCode::InvalidValue,
               ResultText::InvalidValue);
    EXPECT_EQ(device.DeviceNumber(), 50);
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceNumberTest,
                         ::testing::Values(std::pair{1, true}, std::pair{99, true},
                                           std::pair{0, false}, std::pair{100, false},
                                           std::pair{-1, false}, std::pair{INT32_MIN, false}));

TEST(Device, OwnerJoinsAndLeaves) {
  TDevices first, second;
  auto* a = new TDevice(&first);
  auto* b = new TDevice(&first);
  EXPECT_EQ(first.Count(), 2);
  EXPECT_EQ(a->Owner(), &first);
  b->SetOwner(&second);
  EXPECT_EQ(first.Count(), 1);
  EXPECT_EQ(second.Items(0), b);
  b->SetOwner(&second);  // the same owner: nothing happens
  EXPECT_EQ(second.Count(), 1);
  delete a;
  EXPECT_EQ(first.Count(), 0);
  b->SetOwner(nullptr);
  EXPECT_EQ(second.Count(), 0);
  delete b;
}

TEST(Devices, ItemsOutOfRangeRaises) {
  TDevices devices;
  fill(devices, {1});
  EXPECT_THROW(devices.Items(1), Exception);
  EXPECT_THROW(devices.Items(-1), Exception);
}

// ---- TDevices operations -------------------------------------------------

TEST(Devices, AddTakesTheSmallestFreeNumberAndBecomesCurrent) {
  TDevices devices;
  fill(devices, {5, 1, 2});
  TDevice* added = devices.Add();
  EXPECT_EQ(added->DeviceNumber(), 3);
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{1, 2, 3, 5}));
  EXPECT_EQ(devices.Index(), 2);
  EXPECT_EQ(devices.Current(), added);
  expectDefaults(*added);
}

TEST(Devices, AddToAnEmptyListGivesNumberOne) {
  TDevices devices;
  devices.Add();
  EXPECT_EQ(devices.CurrentNumber(), 1);
  EXPECT_EQ(devices.Index(), 0);
}

TEST(Devices, AddWith99DevicesFails) {
  TDevices devices;
  for (int i = 0; i < 99; ++i) devices.Add();
  EXPECT_EQ(devices.Count(), 99);
  EXPECT_EQ(devices.Items(98)->DeviceNumber(), 99);
  devices.SetIndex(10);
  expectCode([&] { devices.Add(); }, ResultCode::CannotAddDevice, ResultText::CannotAddDevice);
  EXPECT_EQ(devices.Count(), 99);
  EXPECT_EQ(devices.Index(), 10);
}

TEST(Devices, FreeNumber) {
  struct {
    std::initializer_list<int32_t> numbers;
    int32_t expected;
  } cases[] = {{{}, 1}, {{1}, 2}, {{2, 3}, 1}, {{1, 2, 4}, 3}, {{3, 1, 2}, 4}, {{0, 1}, 2}};
  for (const auto& c : cases) {
    TDevices devices;
    fill(devices, c.numbers);
    EXPECT_EQ(devices.FreeNumber(), c.expected);
  }
}

TEST(Devices, SortIsAscendingAndKeepsEqualNumbersInOrder) {
  TDevices devices;
  fill(devices, {7, 3, 0, 3, 99, 1});
  devices.Items(1)->SetDeviceName("first 3");
  devices.Items(3)->SetDeviceName("second 3");
  devices.Sort();
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{0, 1, 3, 3, 7, 99}));
  EXPECT_EQ(devices.Items(2)->DeviceName(), "first 3");
  EXPECT_EQ(devices.Items(3)->DeviceName(), "second 3");
}

TEST(Devices, DeleteCurrentSelectsTheSuccessorOrTheNewLast) {
  TDevices devices;
  fill(devices, {1, 2, 3, 4});
  devices.SetIndex(1);
  devices.DeleteCurrent();
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{1, 3, 4}));
  EXPECT_EQ(devices.CurrentNumber(), 3);  // the successor moved up
  devices.SetIndex(2);
  devices.DeleteCurrent();
  EXPECT_EQ(devices.Index(), 1);
  EXPECT_EQ(devices.CurrentNumber(), 3);  // the new last one
  devices.SetIndex(0);
  devices.DeleteCurrent();
  EXPECT_EQ(devices.CurrentNumber(), 3);
  expectCode([&] { devices.DeleteCurrent(); }, ResultCode::CannotDeleteDevice,
             ResultText::CannotDeleteDevice);
  EXPECT_EQ(devices.Count(), 1);
}

TEST(Devices, SetIndexChecksRangeThenCount) {
  TDevices devices;
  fill(devices, {1, 2, 3});
  devices.SetIndex(1);
  struct {
    int index;
    int32_t code;
    const char* text;
  } cases[] = {{-1, ResultCode::InvalidValue, ResultText::InvalidValue},
               {INT32_MIN, ResultCode::InvalidValue, ResultText::InvalidValue},
               {99, ResultCode::InvalidValue, ResultText::InvalidValue},
               {3, ResultCode::DeviceNotFound, ResultText::DeviceNotFound},
               {98, ResultCode::DeviceNotFound, ResultText::DeviceNotFound}};
  for (const auto& c : cases) {
    expectCode([&] { devices.SetIndex(c.index); }, c.code, c.text);
    EXPECT_EQ(devices.Index(), 1) << c.index;
  }
  devices.SetIndex(2);
  EXPECT_EQ(devices.CurrentNumber(), 3);
}

TEST(Devices, SelectByNumber) {
  TDevices devices;
  fill(devices, {1, 4, 9});
  devices.SelectByNumber(9);
  EXPECT_EQ(devices.Index(), 2);
  struct {
    int32_t number;
    int32_t code;
    const char* text;
  } cases[] = {{0, ResultCode::InvalidValue, ResultText::InvalidValue},
               {100, ResultCode::InvalidValue, ResultText::InvalidValue},
               {-4, ResultCode::InvalidValue, ResultText::InvalidValue},
               {2, ResultCode::DeviceNotFound, ResultText::DeviceNotFound}};
  for (const auto& c : cases) {
    expectCode([&] { devices.SelectByNumber(c.number); }, c.code, c.text);
    EXPECT_EQ(devices.Index(), 2) << c.number;
  }
  devices.SelectByNumber(4);
  EXPECT_EQ(devices.CurrentNumber(), 4);
}

TEST(Devices, CurrentNameGoesThroughSetDeviceName) {
  TDevices devices;
  fill(devices, {1, 2});
  devices.SetIndex(1);
  devices.SetCurrentName("Касса 2");
  EXPECT_EQ(devices.Items(1)->DeviceName(), "Касса 2");
  EXPECT_EQ(devices.CurrentName(), "Касса 2");
  expectCode([&] { devices.SetCurrentName(std::string(21, 'a')); }, ResultCode::InvalidValue,
             ResultText::InvalidValue);
}

TEST(Devices, EmptyListHasNoCurrentDevice) {
  TDevices devices;
  EXPECT_EQ(devices.Current(), nullptr);
  expectCode([&] { devices.CurrentNumber(); }, ResultCode::DeviceNotFound,
             ResultText::DeviceNotFound);
  expectCode([&] { devices.CurrentName(); }, ResultCode::DeviceNotFound,
             ResultText::DeviceNotFound);
}

TEST(Devices, ItemByNumberAndByAddress) {
  TDevices devices;
  fill(devices, {1, 2});
  devices.Items(0)->SetIPAddress("192.168.000.005");
  devices.Items(1)->SetIPAddress("192.168.0.5");
  EXPECT_EQ(devices.ItemByNumber(2), devices.Items(1));
  EXPECT_EQ(devices.ItemByNumber(3), nullptr);
  // Text, not addresses: 192.168.0.5 does not match 192.168.000.005.
  EXPECT_EQ(devices.ItemByIPAddress("192.168.0.5"), devices.Items(1));
  devices.Items(1)->SetIPAddress("10.0.0.1");
  EXPECT_EQ(devices.ItemByIPAddress("192.168.0.5"), nullptr);
  EXPECT_EQ(devices.ItemByIPAddress("192.168.000.005"), devices.Items(0));
}

TEST(Devices, ClearDeletesEveryItem) {
  TDevices devices;
  fill(devices, {1, 2, 3});
  devices.Clear();
  EXPECT_EQ(devices.Count(), 0);
  devices.Add();
  EXPECT_EQ(devices.CurrentNumber(), 1);
}

// ---- texts ---------------------------------------------------------------

TEST(DeviceTexts, DeviceCaption) {
  struct {
    const char* name;
    int32_t number;
    const char* expected;
  } cases[] = {{"Без названия", 1, "№ 1 Без названия"},
               {"Касса", 9, "№ 9 Касса"},
               {"Касса", 10, "№10 Касса"},
               {"Склад", 99, "№99 Склад"},
               {"", 5, "№ 5 "},
               {"100% sale", 12, "№12 100% sale"}};
  for (const auto& c : cases) EXPECT_EQ(DeviceCaption(c.name, c.number), c.expected);
  // One-digit captions sort before two-digit ones as text.
  EXPECT_LT(DeviceCaption("z", 9), DeviceCaption("a", 10));
}

// ---- persistence ---------------------------------------------------------

class DevicesStore : public RegistryTest {
 protected:
  RegistryKey devicesKey() {
    return *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, true);
  }
  // A stored device subkey with the values every device needs.
  RegistryKey storeDevice(const std::string& subKey, int32_t number) {
    RegistryKey key = *devicesKey().openKey(subKey, true);
    key.writeInteger(Value::DeviceNumber, number);
    return key;
  }
};

TEST_F(DevicesStore, MissingKeyLoadsOneDefaultDevice) {
  TDevices devices;
  devices.Load(registry);
  ASSERT_EQ(devices.Count(), 1);
  EXPECT_EQ(devices.Index(), 0);
  EXPECT_EQ(devices.CurrentNumber(), 1);
  expectDefaults(*devices.Current());
  EXPECT_FALSE(registry.keyExists(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey));
}

TEST_F(DevicesStore, EmptyKeyLoadsOneDefaultDevice) {
  devicesKey();
  TDevices devices;
  devices.Load(registry);
  ASSERT_EQ(devices.Count(), 1);
  EXPECT_EQ(devices.CurrentNumber(), 1);
  expectDefaults(*devices.Current());
}

TEST_F(DevicesStore, SaveWritesTheLayoutAndLoadReadsItBack) {
  TDevices saved;
  fill(saved, {1, 7, 12});
  TDevice* d = saved.Items(1);
  d->SetDeviceName("Касса №7");
  d->SetIPAddress("127.0.0.7");
  d->SetClientPort(1234);
  d->SetTimeout(500);
  d->SetRepeatCount(5);
  d->SetClientProtocol(ptUDP);
  saved.SetIndex(1);
  saved.Save(registry);

  RegistryKey key = devicesKey();
  EXPECT_EQ(key.readInteger(Value::DeviceNumber), 7);
  EXPECT_EQ(key.subKeyNames(), (std::vector<std::string>{"Device1", "Device12", "Device7"}));
  RegistryKey stored = *key.openKey("Device7", false);
  EXPECT_EQ(stored.valueNames().size(), 7u);
  EXPECT_EQ(stored.readInteger(Value::Timeout), 500);
  EXPECT_EQ(stored.readString(Value::IPAddress), "127.0.0.7");
  EXPECT_EQ(stored.readString(Value::DeviceName), "Касса №7");
  EXPECT_EQ(stored.readInteger(Value::ClientPort), 1234);
  EXPECT_EQ(stored.readInteger(Value::DeviceNumber), 7);
  EXPECT_EQ(stored.readInteger(Value::ClientProtocol), 0);
  EXPECT_EQ(stored.readInteger(Value::RepeatCount), 5);

  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1, 7, 12}));
  EXPECT_EQ(loaded.Index(), 1);
  const TDevice* l = loaded.Current();
  EXPECT_EQ(l->DeviceName(), "Касса №7");
  EXPECT_EQ(l->IPAddress(), "127.0.0.7");
  EXPECT_EQ(l->ClientPort(), 1234);
  EXPECT_EQ(l->Timeout(), 500);
  EXPECT_EQ(l->RepeatCount(), 5);
  EXPECT_EQ(l->ClientProtocol(), ptUDP);
  expectDefaults(*loaded.Items(2));
}

TEST_F(DevicesStore, SaveDropsDevicesNoLongerInTheList) {
  TDevices devices;
  fill(devices, {1, 2, 3});
  devices.Save(registry);
  devices.SetIndex(1);
  devices.DeleteCurrent();
  devices.Save(registry);
  EXPECT_EQ(devicesKey().subKeyNames(), (std::vector<std::string>{"Device1", "Device3"}));
  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(loaded.CurrentNumber(), 3);
}

TEST_F(DevicesStore, LoadGivesTheSameResultInAnySubkeyOrder) {
  // Three namings of twelve devices, so that the registry lists them as
  // Device1, Device10, Device11, Device12, Device2, ...; in descending number
  // order; and shuffled.
  const std::function<std::string(int32_t)> namings[] = {
      [](int32_t n) { return format("Device%d", n); },
      [](int32_t n) { return format("K%.2d", 13 - n); },
      [](int32_t n) { return format("%c", "GCJALEBKDIFH"[n - 1]); }};
  std::vector<int32_t> expected;
  for (int32_t n = 1; n <= 12; ++n) expected.push_back(n);
  for (const auto& naming : namings) {
    registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
    for (int32_t n = 1; n <= 12; ++n)
      storeDevice(naming(n), n).writeString(Value::DeviceName, format("D%d", n));
    devicesKey().writeInteger(Value::DeviceNumber, 2);
    TDevices devices;
    devices.Load(registry);
    EXPECT_EQ(numbersOf(devices), expected) << naming(1);
    EXPECT_EQ(devices.CurrentNumber(), 2);
    EXPECT_EQ(devices.Index(), 1);
    for (int i = 0; i < devices.Count(); ++i)
      EXPECT_EQ(devices.Items(i)->DeviceName(), format("D%d", devices.Items(i)->DeviceNumber()));
  }
}

TEST_F(DevicesStore, SubkeyNamesDoNotDecideTheNumber) {
  storeDevice("Zeta", 4);
  storeDevice("Alpha", 9);
  storeDevice("Device1", 2);
  TDevices devices;
  devices.Load(registry);
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{2, 4, 9}));
}

TEST_F(DevicesStore, StoredNumberNamingNoDeviceLeavesTheFirstCurrent) {
  for (int32_t stored : {5, 0, -1, 100}) {
    registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
    storeDevice("Device1", 1);
    storeDevice("Device3", 3);
    devicesKey().writeInteger(Value::DeviceNumber, stored);
    TDevices devices;
    devices.Load(registry);
    EXPECT_EQ(devices.Index(), 0) << stored;
    EXPECT_EQ(devices.CurrentNumber(), 1);
  }
  // A current number of the wrong type counts as none.
  devicesKey().writeString(Value::DeviceNumber, "3");
  TDevices devices;
  devices.Load(registry);
  EXPECT_EQ(devices.Index(), 0);
  EXPECT_EQ(devices.Count(), 2);
}

struct Damage {
  const char* what;
  std::function<void(RegistryKey&)> apply;
};

class DamagedSubkeyTest : public DevicesStore, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedSubkeyTest, CostsOnlyThatDevice) {
  storeDevice("Device1", 1);
  RegistryKey damaged = storeDevice("Device2", 2);
  storeDevice("Device3", 3).writeString(Value::DeviceName, "Третий");
  GetParam().apply(damaged);
  devicesKey().writeInteger(Value::DeviceNumber, 3);
  TDevices devices;
  devices.Load(registry);
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(devices.CurrentName(), "Третий");
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DamagedSubkeyTest,
    ::testing::Values(
        Damage{"TimeoutAsString", [](RegistryKey& k) { k.writeString(Value::Timeout, "3000"); }},
        Damage{"RepeatCountAsBinary",
               [](RegistryKey& k) { k.writeBinary(Value::RepeatCount, "\3"); }},
        Damage{"PortAsString", [](RegistryKey& k) { k.writeString(Value::ClientPort, "1002"); }},
        Damage{"AddressAsInteger", [](RegistryKey& k) { k.writeInteger(Value::IPAddress, 1); }},
        Damage{"NameAsInteger", [](RegistryKey& k) { k.writeInteger(Value::DeviceName, 1); }},
        Damage{"NameOf21",
               [](RegistryKey& k) { k.writeString(Value::DeviceName, std::string(21, 'n')); }},
        Damage{"Number100", [](RegistryKey& k) { k.writeInteger(Value::DeviceNumber, 100); }},
        Damage{"NumberNegative", [](RegistryKey& k) { k.writeInteger(Value::DeviceNumber, -2); }},
        Damage{"NumberAsString", [](RegistryKey& k) { k.writeString(Value::DeviceNumber, "2"); }},
        Damage{"ProtocolAsString",
               [](RegistryKey& k) { k.writeString(Value::ClientProtocol, "1"); }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.what); });

TEST_F(DevicesStore, AllSubkeysDamagedLoadsOneDefaultDevice) {
  storeDevice("Device4", 4).writeInteger(Value::DeviceName, 7);
  devicesKey().writeInteger(Value::DeviceNumber, 4);
  TDevices devices;
  devices.Load(registry);
  ASSERT_EQ(devices.Count(), 1);
  EXPECT_EQ(devices.CurrentNumber(), 1);
}

TEST_F(DevicesStore, MissingValuesKeepTheirDefaults) {
  storeDevice("Device6", 6).writeInteger(Value::ClientPort, 4000);
  TDevices devices;
  devices.Load(registry);
  ASSERT_EQ(devices.Count(), 1);
  EXPECT_EQ(devices.Current()->ClientPort(), 4000);
  EXPECT_EQ(devices.Current()->DeviceName(), "Без названия");
  EXPECT_EQ(devices.Current()->Timeout(), 3000);
}

TEST_F(DevicesStore, ClientProtocolOutOfRangeLeavesTcp) {
  struct {
    int32_t stored;
    TProtocol expected;
  } cases[] = {{0, ptUDP}, {1, ptTCP}, {2, ptTCP}, {5, ptTCP}, {256, ptTCP}, {-1, ptTCP}};
  for (const auto& c : cases) {
    registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
    storeDevice("Device1", 1).writeInteger(Value::ClientProtocol, c.stored);
    TDevices devices;
    devices.Load(registry);
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_EQ(devices.Current()->ClientProtocol(), c.expected) << c.stored;
  }
}

TEST_F(DevicesStore, DeviceWithoutNumberIsDroppedOnTheNextLoad) {
  storeDevice("Device1", 1);
  RegistryKey unnumbered = *devicesKey().openKey("Device5", true);
  unnumbered.writeString(Value::DeviceName, "Без номера");
  storeDevice("Device2", 2);
  TDevices devices;
  devices.Load(registry);
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(devices.Items(0)->DeviceName(), "Без номера");
  expectCode([&] { devices.SelectByNumber(0); }, ResultCode::InvalidValue,
             ResultText::InvalidValue);
  // A whole list written over the store (never loaded) drops it.
  TDevices whole;
  fill(whole, {0, 1, 2});
  whole.Save(registry);
  EXPECT_TRUE(devicesKey().keyExists("Device0"));
  TDevices next;
  next.Load(registry);
  EXPECT_EQ(numbersOf(next), (std::vector<int32_t>{1, 2}));
}

TEST_F(DevicesStore, DuplicateNumbersKeepTheSubkeyNamedAfterTheNumber) {
  // Whichever the registry lists first, "Device3" wins over "Other" and "device03".
  for (const char* other : {"A_Other", "Z_Other", "device03"}) {
    registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
    storeDevice("Device3", 3).writeString(Value::DeviceName, "canonical");
    storeDevice(other, 3).writeString(Value::DeviceName, "stray");
    TDevices devices;
    devices.Load(registry);
    ASSERT_EQ(devices.Count(), 1) << other;
    EXPECT_EQ(devices.Current()->DeviceName(), "canonical") << other;
  }
  // Without a canonical subkey the first listed wins.
  registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
  storeDevice("B", 8).writeString(Value::DeviceName, "b");
  storeDevice("a", 8).writeString(Value::DeviceName, "a");
  TDevices devices;
  devices.Load(registry);
  ASSERT_EQ(devices.Count(), 1);
  EXPECT_EQ(devices.Current()->DeviceName(), "a");
}

TEST_F(DevicesStore, LoadReplacesTheList) {
  TDevices devices;
  fill(devices, {1, 2, 3, 4});
  devices.SetIndex(3);
  storeDevice("Device9", 9);
  devices.Load(registry);
  EXPECT_EQ(numbersOf(devices), (std::vector<int32_t>{9}));
  EXPECT_EQ(devices.Index(), 0);
}

// A save that fails at any write leaves the list stored before it, whole.
TEST_F(DevicesStore, FailedSaveLeavesTheOldList) {
  TDevices old;
  fill(old, {1, 2, 3});
  old.Items(1)->SetDeviceName("Старый");
  old.SetIndex(1);
  old.Save(registry);

  TDevices changed;
  fill(changed, {2, 4, 5, 6});
  changed.Items(0)->SetDeviceName("Новый");
  changed.SetIndex(3);
  // Deleting, creating the key, the current number, then a key and seven values a device.
  const int writes = 1 + 1 + 1 + 4 * 8;
  for (int failAt = 0; failAt < writes; ++failAt) {
    registry.failAfterWrites(failAt);
    EXPECT_THROW(changed.Save(registry), ERegistryError) << failAt;
    TDevices loaded;
    loaded.Load(registry);
    EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1, 2, 3})) << failAt;
    EXPECT_EQ(loaded.CurrentName(), "Старый") << failAt;
  }
  registry.failAfterWrites(writes);  // one more than a save needs: it completes
  changed.Save(registry);
  registry.failAfterWrites(-1);
  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{2, 4, 5, 6}));
  EXPECT_EQ(loaded.CurrentNumber(), 6);
  EXPECT_EQ(loaded.Items(0)->DeviceName(), "Новый");
}

// A loaded list writes only its own changes, against the store as it is
// then: what another list (another process) changed meanwhile survives.
TEST_F(DevicesStore, SaveWritesOnlyChangesAndKeepsOtherListsChanges) {
  TDevices seed;
  fill(seed, {1, 2, 3});
  seed.Save(registry);
  TDevices a, b;
  a.Load(registry);
  b.Load(registry);
  registry.failAfterWrites(0);
  a.Save(registry);  // nothing changed: nothing written, so nothing fails
  registry.failAfterWrites(-1);

  a.Items(0)->SetClientPort(1111);
  a.SetIndex(2);
  a.DeleteCurrent();  // device 3
  a.Add();            // takes number 3 again: a new device
  a.Items(2)->SetDeviceName("A3");
  b.Items(1)->SetDeviceName("B2");
  b.Add();  // number 4
  b.Items(3)->SetDeviceName("B4");
  b.Save(registry);
  a.Save(registry);

  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(loaded.Items(0)->ClientPort(), 1111);
  EXPECT_EQ(loaded.Items(1)->DeviceName(), "B2");
  EXPECT_EQ(loaded.Items(2)->DeviceName(), "A3");
  EXPECT_EQ(loaded.Items(3)->DeviceName(), "B4");
  EXPECT_EQ(loaded.CurrentNumber(), 3) << "a's selection, the last saved";
}

// Two lists that add a device at once: the second to save moves its own to
// a number free in both, so neither is lost.
TEST_F(DevicesStore, DevicesAddedAtOnceKeepBoth) {
  TDevices seed;
  fill(seed, {1});
  seed.Save(registry);
  TDevices a, b;
  a.Load(registry);
  b.Load(registry);
  a.Add()->SetDeviceName("A");
  b.Add()->SetDeviceName("B");
  a.Save(registry);
  b.Save(registry);
  EXPECT_EQ(b.CurrentNumber(), 3);
  EXPECT_EQ(b.CurrentName(), "B");
  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(loaded.Items(1)->DeviceName(), "A");
  EXPECT_EQ(loaded.Items(2)->DeviceName(), "B");
  EXPECT_EQ(loaded.CurrentNumber(), 3);
}

TEST_F(DevicesStore, SaveInsideAnOuterTransactionIsUndoneWithIt) {
  TDevices old;
  fill(old, {1});
  old.Save(registry);
  {
    Registry::Transaction transaction(registry);
    TDevices changed;
    fill(changed, {7});
    changed.Save(registry);
  }
  TDevices loaded;
  loaded.Load(registry);
  EXPECT_EQ(numbersOf(loaded), (std::vector<int32_t>{1}));
}

}  // namespace
}  // namespace mirelo
