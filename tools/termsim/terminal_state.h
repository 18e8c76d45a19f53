#pragma once
// What a simulated terminal remembers: its status record, settings tables,
// stored messages, memories, programming mode, the firmware it received, the
// address it was told to take and what its display shows. Plain data: the
// protocol handler reads and changes it, the Simulator guards it with a lock.
// Texts are Windows-1251 bytes, as on the wire.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirelo::termsim {

// Terminal error bytes the simulator answers with.
namespace DeviceError {
constexpr uint8_t InvalidParameters = 211;  // also the end marker of every enumeration
constexpr uint8_t NotSupported = 213;
constexpr uint8_t WrongSequence = 214;
constexpr uint8_t TableParameter = 220;
}  // namespace DeviceError

namespace StatusFlag {
constexpr uint8_t Locked = 0x01;
constexpr uint8_t TableError = 0x40;
}  // namespace StatusFlag

// The status reply's fields. The MAC address's last three bytes are also the
// device type (byte 3) and the serial number (bytes 4-5, big-endian), so the
// two accessors below read and write the MAC itself: they can never disagree.
struct StatusInfo {
  uint8_t versionMajor = 2;
  uint8_t versionMinor = 5;
  uint16_t build = 312;
  uint8_t day = 15;
  uint8_t month = 3;
  uint16_t year = 2010;  // sent as year - 2000
  uint8_t flags = 0;     // bit 0 locked, bit 6 settings-table error
  std::array<uint8_t, 6> mac{0x00, 0x1E, 0x53, 0x02, 0x00, 0x01};

  uint8_t deviceType() const { return mac[3]; }
  void setDeviceType(uint8_t type) { mac[3] = type; }
  uint16_t serialNumber() const { return static_cast<uint16_t>(mac[4] << 8 | mac[5]); }
  void setSerialNumber(uint16_t serial) {
    mac[4] = static_cast<uint8_t>(serial >> 8);
    mac[5] = static_cast<uint8_t>(serial);
  }
  // The first half of the MAC address, byte 0 most significant.
  uint32_t firmId() const { return static_cast<uint32_t>(mac[0] << 16 | mac[1] << 8 | mac[2]); }
  bool locked() const { return flags & StatusFlag::Locked; }
  // "00-1E-53-02-00-01"
  std::string macText() const;
  // Parses "AA-BB-CC-DD-EE-FF" (also ':' separated); false leaves mac unchanged.
  bool setMacText(std::string_view text);
};

enum class FieldType : uint8_t { Number = 0, String = 1, IPAddress = 2 };

struct FieldDef {
  std::string name;  // at most 40 bytes are sent
  FieldType type = FieldType::Number;
  uint8_t size = 1;       // bytes in the row data, 1 to 255
  uint64_t minValue = 0;  // number and IP fields; sent as 6 bytes little-endian
  uint64_t maxValue = 0;
};

struct TableDef {
  std::string name;
  uint8_t rows = 1;
  std::vector<FieldDef> fields;
  std::string data;  // row data of all rows: row 0's fields in order, then row 1, ...

  size_t rowSize() const;
  size_t dataSize() const { return rowSize() * rows; }
  // Offset of a field's bytes in data.
  size_t offsetOf(size_t row, size_t field) const;
  // Number and IP values are little-endian in the row data.
  uint64_t number(size_t row, size_t field) const;
  void setNumber(size_t row, size_t field, uint64_t value);
  // Raw bytes of a field (string fields); setText cuts or pads with 0x00.
  std::string text(size_t row, size_t field) const;
  void setText(size_t row, size_t field, std::string_view value);
  // IP fields hold the four address bytes in written order.
  std::string ipText(size_t row, size_t field) const;
  bool setIpText(size_t row, size_t field, std::string_view dotted);
};

struct DisplayState {
  // What each display line shows, as the host sent it (blanks included).
  std::string line1, line2;
  uint8_t lineType[2] = {0, 0};          // 0xAF line type of lines 1 and 2
  uint8_t lineSpeed[2] = {0, 0};         // 0xAF line speed of lines 1 and 2
  uint8_t outputTime = 0;                // 0xAE output time
  std::string parameters1, parameters2;  // 0xAE, 5 bytes each
  unsigned updates = 0;                  // 0xAA, 0xAE and 0xAF accepted so far
};

constexpr size_t kMemoryCount = 4;  // device codes 0..3 of 0x83
constexpr size_t kBlockSize = 1024;
constexpr size_t kFirmwareBlockSize = 256;
constexpr size_t kFirmwareMaxSize = 122880;

struct TerminalState {
  StatusInfo status;
  std::vector<TableDef> tables;
  std::vector<TableDef> defaultTables;  // what 0xA8 restores
  std::vector<std::string> messages;
  std::vector<std::string> defaultMessages;        // what 0xAD operation 2 restores
  std::array<std::string, kMemoryCount> memories;  // whole 1024-byte blocks each

  bool programmingMode = false;
  std::string firmware;          // image being received / last received
  unsigned firmwareBlocks = 0;   // 0xC1 blocks accepted since the last 0xC0
  unsigned firmwareUpdates = 0;  // completed by 0xC2

  std::string newAddress;  // dotted text of the last 0xB7, empty before
  DisplayState display;
  std::string lastBarcode;     // data of the last 0xAC
  unsigned resets = 0;         // 0xC8
  unsigned tableInits = 0;     // 0xA8
  unsigned testExchanges = 0;  // 0xC9

  // Default terminal: four tables, eight messages, small memories.
  TerminalState();

  // More messages get default texts; fewer drops the last ones.
  void setMessageCount(size_t count);
  // Existing bytes are kept; new blocks get a pattern that differs per
  // device code and block, so a mixed-up block shows.
  void setMemoryBlocks(size_t code, size_t blocks);
  // The memory becomes these bytes, padded with 0xFF to whole blocks.
  void setMemory(size_t code, std::string_view bytes);
  size_t memoryBlocks(size_t code) const { return memories.at(code).size() / kBlockSize; }
  void restoreTables() { tables = defaultTables; }
};

// The default message text number n: "%-30s%-30s" of two lines.
std::string defaultMessageText(size_t number);
// Four tables with number, string and IP fields of 1 to 30 bytes.
std::vector<TableDef> defaultTables();

}  // namespace mirelo::termsim

namespace termsim = mirelo::termsim;
