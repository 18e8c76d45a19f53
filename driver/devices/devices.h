#pragma once
// The logical devices: the numbered list of terminals the driver reaches as a
// client, one of them current, kept in the registry (see registry_layout.h).
//
// TDevices owns its TDevice items: `new TDevice(&list)` joins the list,
// `delete device` leaves it, and clearing or destroying the list deletes the
// items from the first one on. Failures raise EDriverError with the driver's
// codes: -6 (value out of range), -7 (list full), -8 (last device), -9 (not found).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mirelo/vistel_protocol.h"
#include "platform/owned_list.h"

namespace mirelo {

class Registry;
class TDevices;

class TDevice : public OwnedItem<TDevices, TDevice> {
 public:
  static constexpr size_t MaxNameLength = 20;
  static constexpr int32_t MinNumber = 1;
  static constexpr int32_t MaxNumber = 99;

  // A device with the defaults; joins owner when one is given.
  explicit TDevice(TDevices* owner = nullptr);
  ~TDevice() override;

  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t value) { timeout_ = value; }
  const std::string& IPAddress() const { return ipAddress_; }
  void SetIPAddress(std::string_view value) { ipAddress_ = value; }
  int32_t ClientPort() const { return clientPort_; }
  void SetClientPort(int32_t value) { clientPort_ = value; }
  int32_t RepeatCount() const { return repeatCount_; }
  void SetRepeatCount(int32_t value) { repeatCount_ = value; }
  TProtocol ClientProtocol() const { return clientProtocol_; }
  void SetClientProtocol(TProtocol value) { clientProtocol_ = value; }

  const std::string& DeviceName() const { return deviceName_; }
  // The name it already has is always accepted; another one over 20
  // characters raises -6 and keeps the old name.
  void SetDeviceName(std::string_view name);
  // 0 until a list assigns one.
  int32_t DeviceNumber() const { return deviceNumber_; }
  // Outside 1..99 raises -6. No uniqueness check: the list's own operations keep that.
  void SetDeviceNumber(int32_t number);

 private:
  int32_t timeout_ = 3000;
  std::string ipAddress_ = "192.168.0.166";
  std::string deviceName_ = "Без названия";
  int32_t clientPort_ = 1002;
  int32_t repeatCount_ = 3;
  int32_t deviceNumber_ = 0;
  TProtocol clientProtocol_ = ptTCP;
};

class TDevices : public OwnedList<TDevice> {
 public:
  static constexpr int MaxCount = 99;

  TDevices() = default;
  ~TDevices() override;

  // The current index; it need not name an item (an empty list has none).
  int Index() const { return index_; }
  // Negative or 99 and above raises -6; not below Count raises -9.
  void SetIndex(int index);
  // The item at the current index, or nullptr.
  TDevice* Current() const;
  // Of the current item; with none, -9.
  int32_t CurrentNumber() const;
  const std::string& CurrentName() const;
  void SetCurrentName(std::string_view name);

  // A default device with the smallest free number, placed in number order
  // and made current. With 99 devices raises -7.
  TDevice* Add();
  // Deletes the current device; its successor, or the new last one, becomes
  // current. The last remaining device raises -8.
  void DeleteCurrent();
  // Outside 1..99 raises -6; no such device raises -9.
  void SelectByNumber(int32_t number);

  TDevice* ItemByNumber(int32_t number) const;
  // Byte-for-byte comparison of the address text.
  TDevice* ItemByIPAddress(std::string_view address) const;
  // The smallest number from 1 on that no item carries.
  int32_t FreeNumber() const;
  // Ascending device number; equal numbers keep their order.
  void Sort();

  // Replaces the list with the stored one. A device subkey that cannot be
  // read (a value of the wrong type, a name over 20 characters, a number
  // outside 1..99) is skipped. The list ends sorted, with at least one device,
  // and the stored current device selected when it exists, also when a
  // failure of the store itself is raised.
  void Load(Registry& registry);
  // Writes in one registry transaction (either all of it is stored or
  // nothing) what changed since Load or the last Save, against the store as
  // it is now, so that other processes' changes to other devices survive:
  // devices deleted, added and changed (by number, only the values that
  // changed), and the current device. Nothing changed: nothing is written.
  // A device added here whose number another process has taken meanwhile
  // takes the smallest number free in both. A list that was never loaded
  // replaces the stored list whole.
  void Save(Registry& registry) {
    WriteChanges(registry);
    ChangesSaved();
  }
  // Save in two steps, for a save inside a larger transaction: the changes
  // written, and (once that transaction has committed) taken as stored.
  void WriteChanges(Registry& registry);
  void ChangesSaved() { remember(pendingKeyNames_); }

  // A device as it was loaded or last saved.
  struct TStoredDevice {
    std::string KeyName;  // its subkey
    bool InStore;         // false for the default device of an empty store
    int32_t Timeout;
    std::string IPAddress;
    std::string DeviceName;
    int32_t ClientPort;
    int32_t RepeatCount;
    TProtocol ClientProtocol;
  };

 private:
  void loadFrom(Registry& registry, std::vector<std::pair<int32_t, std::string>>& keyNames);
  void saveWhole(Registry& registry);
  void saveChanges(Registry& registry);
  bool changedSinceStored() const;
  void remember(const std::vector<std::pair<int32_t, std::string>>& keyNames);

  int index_ = 0;
  // Since Load or Save: what the store holds of this list, by number.
  bool stored_ = false;
  std::vector<std::pair<int32_t, TStoredDevice>> storedDevices_;
  int32_t storedCurrent_ = 0;
  std::vector<std::pair<int32_t, std::string>> pendingKeyNames_;
};

// "№ %d %s" for numbers up to 9, "№%d %s" from 10 on, so that the captions
// sort as text in number order.
std::string DeviceCaption(std::string_view name, int32_t number);

}  // namespace mirelo
