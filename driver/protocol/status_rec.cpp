#include "driver/protocol/status_rec.h"

#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {
namespace {
struct DeviceTypeRow {
  int32_t code;
  const char* name;
};
constexpr DeviceTypeRow kDeviceTypes[] = {
    {1, "TessarEthernet"},
    {2, "Vistel"},
    {3, "TessarMicroEthernet"},
};
}  // namespace

std::string DeviceTypeName(int32_t code) {
  for (const auto& row : kDeviceTypes)
    if (row.code == code) return row.name;
  return format("Неизвестный тип устройства (%d)", code);
}

std::chrono::year_month_day encodeDate(int year, int month, int day) {
  std::chrono::year_month_day date{std::chrono::year(year),
                                   std::chrono::month(static_cast<unsigned>(month)),
                                   std::chrono::day(static_cast<unsigned>(day))};
  // month() and day() keep only what fits their storage; compare back so that
  // a wrapped value is refused too.
  if (month < 1 || month > 12 || day < 1 || day > 31 || !date.ok())
    throw EConvertError(format("'%.2d.%.2d.%.4d' is not a valid date", day, month, year));
  return date;
}

std::string dateText(const std::chrono::year_month_day& date) {
  return format("%.2u.%.2u.%.4d", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()));
}

}  // namespace mirelo
