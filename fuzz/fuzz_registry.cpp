// The registry's stored values, whatever another program or a damaged file
// left there: the logical devices, the driver parameters and the dialog font
// load (at least one device, numbers unique and ascending), and a change
// saved on top of them reads back.
#include <set>

#include "driver/devices/devices.h"
#include "driver/devices/dialog_font.h"
#include "driver/devices/driver_params.h"
#include "driver/devices/registry_layout.h"
#include "fuzz/fuzz_support.h"
#include "platform/format.h"
#include "platform/registry/registry.h"

namespace mirelo {
namespace {

const char* const kValueNames[] = {
    "DeviceNumber", "Timeout",      "IPAddress",  "DeviceName",      "ClientPort", "ClientProtocol",
    "RepeatCount",  "SoftFileName", "ServerPort", "ServerProtocol",  "LogEnabled", "LogFileName",
    "FontName",     "FontSize",     "FontIsBold", "FontIsStriledOut"};

// Records: where (0 the Devices key, 1 Params, 2 the font key, else a device
// subkey), the value's name, its type, its length, its bytes.
void store(Registry& registry, fuzz::Input& in) {
  RegistryKey devices =
      *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, true);
  for (int records = 0; records < 32 && !in.empty(); ++records) {
    uint8_t where = in.byte();
    std::string name = kValueNames[in.byte() % std::size(kValueNames)];
    uint8_t type = in.byte() % 3;
    std::string bytes(in.bytes(in.byte() % 32));
    std::optional<RegistryKey> key;
    if (where == 0)
      key = devices;
    else if (where == 1)
      key = registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::ParamsKey, true);
    else if (where == 2)
      key = registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::FontKey, true);
    else if (where < 128)
      key = devices.openKey(format("Device%d", where % 104), true);
    else if (!bytes.empty())
      key = devices.openKey(bytes, true);
    if (!key) continue;
    if (type == 0) {
      int32_t value = 0;
      for (char c : bytes.substr(0, 4)) value = value << 8 | static_cast<uint8_t>(c);
      key->writeInteger(name, value);
    } else if (type == 1) {
      key->writeString(name, bytes);
    } else {
      key->writeBinary(name, bytes);
    }
  }
}

void checkList(const TDevices& list) {
  FUZZ_REQUIRE(list.Count() >= 1 && list.Current());
  std::set<int32_t> numbers;
  for (int i = 0; i < list.Count(); ++i) {
    int32_t number = list.Items(i)->DeviceNumber();
    if (i > 0) FUZZ_REQUIRE(list.Items(i - 1)->DeviceNumber() <= number);
    FUZZ_REQUIRE(number == 0 || numbers.insert(number).second);
  }
}

}  // namespace
}  // namespace mirelo

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  // One store in memory, emptied for each input.
  static Registry registry(":memory:");
  for (const char* key : {"Software", ".DEFAULT"})
    registry.deleteKey(RegistryRoot::CurrentUser, key);
  fuzz::Input in(data, size);
  store(registry, in);
  TDevices devices;
  devices.Load(registry);
  checkList(devices);
  TDriverParams params;
  ReadParams(registry, params);
  TDialogFont font;
  LoadDialogFont(registry, font);

  // A change saved over whatever is stored reads back.
  int before = devices.Count();
  bool added = before < TDevices::MaxCount;
  if (added) devices.Add()->SetClientPort(4242);
  devices.Current()->SetDeviceName("changed");
  devices.Save(registry);
  // (Saving may move an added device to a number another subkey holds.)
  int32_t current = devices.CurrentNumber();
  TDevices loaded;
  loaded.Load(registry);
  checkList(loaded);
  TDevice* found = loaded.ItemByNumber(current);
  FUZZ_REQUIRE(found && found->DeviceName() == "changed");
  if (added) FUZZ_REQUIRE(found->ClientPort() == 4242);
  return 0;
}
