#pragma once
// The decoded status reply of a terminal (command 0xBB) and its date value.
#include <chrono>
#include <cstdint>
#include <string>

namespace mirelo {

namespace StatusFlags {
constexpr uint32_t Locked = 0x01;
constexpr uint32_t TableError = 0x40;
}  // namespace StatusFlags

struct TStatusRec {
  uint32_t Flags = 0;  // byte 21 of the reply
  uint16_t Build = 0;
  std::string Version;  // "%d.%d"
  std::chrono::year_month_day Date{};
  bool Locked = false;
  bool TableError = false;
  std::string MAC;  // "00-1E-53-02-00-01"
  uint16_t SerialNumber = 0;
  uint32_t FirmID = 0;  // the first half of the MAC address
  uint32_t DeviceType = 0;
  std::string DeviceTypeName;
};

// The date of these numbers; raises EConvertError "'dd.mm.yyyy' is not a
// valid date" for a day, month or year out of range.
std::chrono::year_month_day encodeDate(int year, int month, int day);

// "dd.mm.yyyy", the short date form that hosts are shown.
std::string dateText(const std::chrono::year_month_day& date);

// The terminal model named by the code a terminal reports.
std::string DeviceTypeName(int32_t code);

}  // namespace mirelo
