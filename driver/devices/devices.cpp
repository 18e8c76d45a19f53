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

TDevice::TDevice(TDevices* owner) : OwnedItem(this) {
  SetOwner(owner);
}

TDevice::~TDevice() {
  SetOwner(nullptr);
}

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

TDevices::~TDevices() {
  Clear();
}

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
  sortItems(
      [](const TDevice* a, const TDevice* b) { return a->DeviceNumber() < b->DeviceNumber(); });
}

// ---- Persistence ---------------------------------------------------------

namespace {

namespace Value = RegistryLayout::DeviceValue;

// Reads whichever values exist into a default device; a value of the wrong
// type, a name over 20 characters or a number outside 1..99 raises.
void readDevice(const RegistryKey& key, TDevice& device) {
  if (key.valueExists(Value::RepeatCount))
    device.SetRepeatCount(key.readInteger(Value::RepeatCount));
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
  std::string keyName;
};

}  // namespace

void TDevices::Load(Registry& registry) {
  Clear();
  index_ = 0;
  stored_ = false;
  std::vector<std::pair<int32_t, std::string>> keyNames;
  try {
    loadFrom(registry, keyNames);
  } catch (...) {
    // Whatever the store did, the driver needs a device to work on.
    if (Count() == 0) Add();
    Sort();
    throw;
  }
  remember(keyNames);
}

void TDevices::loadFrom(Registry& registry,
                        std::vector<std::pair<int32_t, std::string>>& keyNames) {
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
      bool canonical = ansiSameText(name, format(RegistryLayout::DeviceSubKeyFormat, number));
      auto same = std::find_if(loaded.begin(), loaded.end(), [number](const LoadedDevice& d) {
        return number != 0 && d.device->DeviceNumber() == number;
      });
      if (same == loaded.end())
        loaded.push_back({std::move(device), canonical, name});
      else if (canonical && !same->canonicalKey)
        *same = {std::move(device), canonical, name};
    }
    for (LoadedDevice& entry : loaded) {
      keyNames.emplace_back(entry.device->DeviceNumber(), entry.keyName);
      entry.device.release()->SetOwner(this);
    }
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

namespace {

TDevices::TStoredDevice storedOf(const TDevice& device, std::string keyName, bool inStore = false) {
  return {std::move(keyName),   inStore,
          device.Timeout(),     device.IPAddress(),
          device.DeviceName(),  device.ClientPort(),
          device.RepeatCount(), device.ClientProtocol()};
}

bool sameValues(const TDevices::TStoredDevice& a, const TDevices::TStoredDevice& b) {
  return a.Timeout == b.Timeout && a.IPAddress == b.IPAddress && a.DeviceName == b.DeviceName &&
         a.ClientPort == b.ClientPort && a.RepeatCount == b.RepeatCount &&
         a.ClientProtocol == b.ClientProtocol;
}

std::string subKeyOf(int32_t number) {
  return format(RegistryLayout::DeviceSubKeyFormat, number);
}

// Every value of the device, or (with `before`) those that differ from it.
void writeDevice(RegistryKey& key, const TDevice& device, const TDevices::TStoredDevice* before) {
  if (!before || before->Timeout != device.Timeout())
    key.writeInteger(Value::Timeout, device.Timeout());
  if (!before || before->IPAddress != device.IPAddress())
    key.writeString(Value::IPAddress, device.IPAddress());
  if (!before || before->DeviceName != device.DeviceName())
    key.writeString(Value::DeviceName, device.DeviceName());
  if (!before || before->ClientPort != device.ClientPort())
    key.writeInteger(Value::ClientPort, device.ClientPort());
  if (!before) key.writeInteger(Value::DeviceNumber, device.DeviceNumber());
  if (!before || before->ClientProtocol != device.ClientProtocol())
    key.writeInteger(Value::ClientProtocol, device.ClientProtocol());
  if (!before || before->RepeatCount != device.RepeatCount())
    key.writeInteger(Value::RepeatCount, device.RepeatCount());
}

}  // namespace

void TDevices::remember(const std::vector<std::pair<int32_t, std::string>>& keyNames) {
  storedDevices_.clear();
  for (const TDevice* device : *this) {
    int32_t number = device->DeviceNumber();
    std::string keyName = subKeyOf(number);
    bool inStore = false;
    for (const auto& [n, name] : keyNames)
      if (n == number) {
        keyName = name;
        inStore = true;
      }
    storedDevices_.emplace_back(number, storedOf(*device, keyName, inStore));
  }
  storedCurrent_ = Current() ? Current()->DeviceNumber() : 0;
  stored_ = true;
}

void TDevices::WriteChanges(Registry& registry) {
  if (!stored_) {
    saveWhole(registry);
    return;
  }
  pendingKeyNames_.clear();
  for (const auto& [number, stored] : storedDevices_)
    if (stored.InStore) pendingKeyNames_.emplace_back(number, stored.KeyName);
  if (changedSinceStored()) saveChanges(registry);
}

void TDevices::saveWhole(Registry& registry) {
  Registry::Transaction transaction(registry);
  registry.deleteKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey);
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, true);
  if (TDevice* current = Current()) key.writeInteger(Value::DeviceNumber, current->DeviceNumber());
  for (const TDevice* device : *this) {
    RegistryKey item = *key.openKey(subKeyOf(device->DeviceNumber()), true);
    writeDevice(item, *device, nullptr);
  }
  transaction.commit();
  pendingKeyNames_.clear();
  for (const TDevice* device : *this)
    pendingKeyNames_.emplace_back(device->DeviceNumber(), subKeyOf(device->DeviceNumber()));
}

bool TDevices::changedSinceStored() const {
  if (static_cast<size_t>(Count()) != storedDevices_.size()) return true;
  if ((Current() ? Current()->DeviceNumber() : 0) != storedCurrent_) return true;
  for (size_t i = 0; i < storedDevices_.size(); ++i) {
    const TDevice* device = Items(static_cast<int>(i));
    const auto& [number, stored] = storedDevices_[i];
    if (device->DeviceNumber() != number || !sameValues(stored, storedOf(*device, {}))) return true;
  }
  return false;
}

void TDevices::saveChanges(Registry& registry) {
  auto storedOfNumber = [this](int32_t number) -> const TStoredDevice* {
    for (const auto& [n, stored] : storedDevices_)
      if (n == number) return &stored;
    return nullptr;
  };
  Registry::Transaction transaction(registry);
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, RegistryLayout::DevicesKey, true);
  for (const auto& [number, stored] : storedDevices_) {
    if (ItemByNumber(number)) continue;
    key.deleteKey(stored.KeyName);
    key.deleteKey(subKeyOf(number));
  }
  // A number another process has stored a device under since this list was
  // read is theirs: a device added here moves to one free in both.
  TDevice* current = Current();
  bool moved = false;
  for (TDevice* device : *this) {
    if (storedOfNumber(device->DeviceNumber()) || !key.keyExists(subKeyOf(device->DeviceNumber())))
      continue;
    int32_t number = 1;
    while (number <= TDevice::MaxNumber &&
           (ItemByNumber(number) || storedOfNumber(number) || key.keyExists(subKeyOf(number))))
      ++number;
    if (number > TDevice::MaxNumber)
      raiseError(ResultCode::CannotAddDevice, ResultText::CannotAddDevice);
    device->SetDeviceNumber(number);
    moved = true;
  }
  if (moved) {
    Sort();
    index_ = IndexOf(current);
  }
  std::vector<std::pair<int32_t, std::string>> keyNames;
  for (const TDevice* device : *this) {
    const TStoredDevice* before = storedOfNumber(device->DeviceNumber());
    std::string name = before ? before->KeyName : subKeyOf(device->DeviceNumber());
    bool unchanged = before && sameValues(*before, storedOf(*device, {}));
    // Where the device is not stored (the default device of an empty store,
    // or one another process deleted) it is written whole, under its
    // number; unless this object left alone a device another one deleted.
    if (!key.keyExists(name) && !(unchanged && before->InStore)) {
      before = nullptr;
      unchanged = false;
      name = subKeyOf(device->DeviceNumber());
    }
    keyNames.emplace_back(device->DeviceNumber(), name);
    if (unchanged) continue;
    RegistryKey item = *key.openKey(name, true);
    writeDevice(item, *device, before);
  }
  if (current && current->DeviceNumber() != storedCurrent_)
    key.writeInteger(Value::DeviceNumber, current->DeviceNumber());
  transaction.commit();
  pendingKeyNames_ = keyNames;
}

// ---- Texts ---------------------------------------------------------------

std::string DeviceCaption(std::string_view name, int32_t number) {
  // Appended rather than formatted so that the name is taken byte for byte.
  return format(number <= 9 ? "№ %d " : "№%d ", number) + std::string(name);
}

}  // namespace mirelo
