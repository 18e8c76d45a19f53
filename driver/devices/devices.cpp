#include "driver/devices/devices.h"

#include <algorithm>
#include <memory>

#include "driver/devices/registry_layout.h"
#include "driver/errors/driver_error.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/registry/registry.h"

namespace mirelo {

namespace {

[[noreturn]] void raiseDeviceNotFound() {
  raiseError(ResultCode::DeviceNotFound, ResultText::DeviceNotFound);
}

bool isDeviceNumber(int64_t number) {
  return number >= TDevice::MinNumber && number <= TDevice::MaxNumber;
}

}  // namespace

// ---- TDevice -------------------------------------------------------------

TDevice::TDevice(TDevices* owner) : OwnedItem(this) { SetOwner(owner); }

TDevice::~TDevice() { SetOwner(nullptr); }

void TDevice::SetDeviceName(std::string_view name) {
  if (name == deviceName_) return;
  if (name.size() > MaxNameLength) raiseInvalidValue();
  deviceName_ = name;
}

void TDevice::SetDeviceNumber(int32_t number) {
  if (!isDeviceNumber(number)) raiseInvalidValue();
  deviceNumber_ = number;
}

// ---- TDevices ------------------------------------------------------------

TDevices::~TDevices() { Clear(); }

void TDevices::SetIndex(int index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(MaxCount)) raiseInvalidValue();
  if (index >= Count()) raiseDeviceNotFound();
  index_ = index;
}

TDevice* TDevices::Current() const {
  if (index_ < 0 || index_ >= Count()) return nullptr;
  return Items(index_);
}

int32_t TDevices::CurrentNumber() const {
  TDevice* current = Current();
  if (!current) raiseDeviceNotFound();
  return current->DeviceNumber();
}

const std::string& TDevices::CurrentName() const {
  TDevice* current = Current();
  if (!current) raiseDeviceNotFound();
  return current->DeviceName();
}

void TDevices::SetCurrentName(std::string_view name) {
  TDevice* current = Current();
  if (!current) raiseDeviceNotFound();
  current->SetDeviceName(name);
}

TDevice* TDevices::Add() {
  if (Count() >= MaxCount) raiseError(ResultCode::CannotAddDevice, ResultText::CannotAddDevice);
  int32_t number = FreeNumber();
  // Only reachable when numbers were set twice by hand; a device must not join unnumbered.
  if (!isDeviceNumber(number)) raiseError(ResultCode::CannotAddDevice, ResultText::CannotAddDevice);
  auto* device = new TDevice(this);
  device->SetDeviceNumber(number);
  Sort();
  index_ = IndexOf(device);
  return device;
}

void TDevices::DeleteCurrent() {
  if (Count() <= 1) raiseError(ResultCode::CannotDeleteDevice, ResultText::CannotDeleteDevice);
  TDevice* current = Current();
  if (!current) raiseDeviceNotFound();
  delete current;
  // The successor moved into the deleted item's place; past the end, the new last item.
  if (index_ >= Count()) SetIndex(Count() - 1);
}

void TDevices::SelectByNumber(int32_t number) {
  if (!isDeviceNumber(number)) raiseInvalidValue();
  TDevice* found = ItemByNumber(number);
  if (!found) raiseDeviceNotFound();
  SetIndex(IndexOf(found));
}

TDevice* TDevices::ItemByNumber(int32_t number) const {
  for (TDevice* device : *this)
    if (device->DeviceNumber() == number) return device;
  return nullptr;
}

TDevice* TDevices::ItemByIPAddress(std::string_view address) const {
  for (TDevice* device : *this)
    if (device->IPAddress() == address) return device;
  return nullptr;
}

int32_t TDevices::FreeNumber() const {
  int32_t number = 1;
  while (ItemByNumber(number)) ++number;
  return number;
}

void TDevices::Sort() {
  sortItems([](const TDevice* a, const TDevice* b) { return a->DeviceNumber() < b->DeviceNumber(); });
}

// ---- Persistence ---------------------------------------------------------

namespace {

namespace Value = RegistryLayout::DeviceValue;

// Reads whichever values exist into a default device; a value of the wrong
// type, a name over 20 characters or a number outside 1..99 raises.
void readDevice(const RegistryKey& key, TDevice& device) {
  if (key.valueExists(Value::RepeatCount)) device.SetRepeatCount(key.readInteger(Value::RepeatCount));
  if (key.valueExists(Value::Timeout)) device.SetTimeout(key.readInteger(Value::Timeout));
  if (key.valueExists(Value::IPAddress)) device.SetIPAddress(key.readString(Value::IPAddress));
  if (key.valueExists(Value::DeviceName)) device.SetDeviceName(key.readString(Value::DeviceName));
  if (key.valueExists(Value::ClientPort)) device.SetClientPort(key.readInteger(Value::ClientPort));
  if (key.valueExists(Value::DeviceNumber))
    device.SetDeviceNumber(key.readInteger(Value::DeviceNumber));
  if (key.valueExists(Value::ClientProtocol)) {
    // Only the two transports become a TProtocol; anything else leaves TCP.
    int32_t protocol = key.readInteger(Value::ClientProtocol);
    if (isProtocol(protocol)) device.SetClientProtocol(static_cast<TProtocol>(protocol));
  }
}

struct LoadedDevice {
  std::unique_ptr<TDevice> device;
  bool canonicalKey;  // the subkey is named after the device's number
};

}  // namespace

void TDevices::Load(Registry& registry) {
  Clear();
  index_ = 0;
  try {
    loadFrom(registry);
  } catch (...) {
    // Whatever the store did, the driver needs a device to work on.
    if (Count() == 0) Add();
    Sort();
    throw;
  }
}

void TDevices::loadFrom(Registry& registry) {
  std::optional<RegistryKey> key =
      registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, false);
  int32_t selected = -1;
  if (key) {
    // Keep one device per number: two subkeys that carry the same number
    // (hand-edited, or "Device3" beside "device03") would otherwise make the
    // number select whichever sorted first. The subkey named after the number
    // wins, else the first listed. Number 0 (no stored number) is not a real
    // number and is kept as it is.
    std::vector<LoadedDevice> loaded;
    for (const std::string& name : key->subKeyNames()) {
      auto device = std::make_unique<TDevice>();
      try {
        std::optional<RegistryKey> subKey = key->openKey(name, false);
        if (!subKey) continue;
        readDevice(*subKey, *device);
      } catch (const Exception&) {
        continue;  // a damaged subkey costs only its own device
      }
      int32_t number = device->DeviceNumber();
      bool canonical =
          ansiSameText(name, format(RegistryLayout::DeviceSubKeyFormat, number));
      auto same = std::find_if(loaded.begin(), loaded.end(), [number](const LoadedDevice& d) {
        return number != 0 && d.device->DeviceNumber() == number;
      });
      if (same == loaded.end())
        loaded.push_back({std::move(device), canonical});
      else if (canonical && !same->canonicalKey)
        *same = {std::move(device), canonical};
    }
    for (LoadedDevice& entry : loaded) entry.device.release()->SetOwner(this);
    try {
      if (key->valueExists(Value::DeviceNumber)) selected = key->readInteger(Value::DeviceNumber);
    } catch (const Exception&) {
      selected = -1;
    }
  }
  if (Count() == 0) Add();
  Sort();
  if (key) {
    try {
      SelectByNumber(selected);
    } catch (const EDriverError&) {
      // A stored number that names no device leaves the first one current.
    }
  }
}

void TDevices::Save(Registry& registry) const {
  Registry::Transaction transaction(registry);
  registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, true);
  if (TDevice* current = Current()) key.writeInteger(Value::DeviceNumber, current->DeviceNumber());
  for (const TDevice* device : *this) {
    RegistryKey item =
        *key.openKey(format(RegistryLayout::DeviceSubKeyFormat, device->DeviceNumber()), true);
    item.writeInteger(Value::Timeout, device->Timeout());
    item.writeString(Value::IPAddress, device->IPAddress());
    item.writeString(Value::DeviceName, device->DeviceName());
    item.writeInteger(Value::ClientPort, device->ClientPort());
    item.writeInteger(Value::DeviceNumber, device->DeviceNumber());
    item.writeInteger(Value::ClientProtocol, device->ClientProtocol());
    item.writeInteger(Value::RepeatCount, device->RepeatCount());
  }
  transaction.commit();
}

// ---- Texts ---------------------------------------------------------------

std::string DeviceCaption(std::string_view name, int32_t number) {
  // Appended rather than formatted so that the name is taken byte for byte.
  return format(number <= 9 ? "№ %d " : "№%d ", number) + std::string(name);
}

}  // namespace mirelo
