#include "driver/errors/driver_error.h"

#include "platform/format.h"

namespace mirelo {

namespace ResultText {
const char* const Ok = "Ошибок нет";
const char* const NoConnection = "Нет связи";
const char* const InvalidValue = "Недопустимое значение";
const char* const CannotAddDevice = "Невозможно добавить логическое устройство";
const char* const CannotDeleteDevice = "Невозможно удалить логическое устройство";
const char* const DeviceNotFound = "Логическое устройство не найдено";
const char* const InvalidData = "Устройство вернуло неверные данные";
const char* const FrameTooShort = "Длина принятого кадра (%d) меньше минимальной длины кадра (%d).";
const char* const CommandMismatch =
    "Код команды принятого кадра (%d) \r\nне равен коду команды посланного кадра (%d).";
const char* const ProgrammingMode = "Команда недоступна в режиме программирования";
const char* const ValueRange = "Значение должно лежать в диапазоне %d..%d.";
const char* const ValueMinimum = "Значение должно быть не меньше %d.";
}  // namespace ResultText

namespace {
struct DeviceErrorRow {
  int code;
  const char* text;
};
constexpr DeviceErrorRow kDeviceErrors[] = {
    {211, "Неверное значение параметров команды."},
    {213, "Команда не поддерживается в устройстве."},
    {214, "Неверная последовательность команд."},
    {217, "Невозможно выполнить операцию."},
    {219, "Заблокировано. Ошибка CRC таблицы настроек."},
    {220, "Ошибка параметра таблицы настроек."},
};
}  // namespace

void raiseError(int32_t code, const std::string& message) {
  throw EDriverError(code, message);
}
void raiseInvalidValue() {
  raiseError(ResultCode::InvalidValue, ResultText::InvalidValue);
}
void raiseOutOfRange(int64_t minimum, int64_t maximum) {
  raiseError(ResultCode::InvalidValue, std::string(ResultText::InvalidValue) + "\r\n" +
                                           format(ResultText::ValueRange, static_cast<int>(minimum),
                                                  static_cast<int>(maximum)));
}
void raiseBelowMinimum(int64_t minimum) {
  raiseError(ResultCode::InvalidValue,
             std::string(ResultText::InvalidValue) + "\r\n" +
                 format(ResultText::ValueMinimum, static_cast<int>(minimum)));
}
void raiseNoConnection() {
  raiseError(ResultCode::NoConnection, ResultText::NoConnection);
}
void raiseInvalidData() {
  raiseError(ResultCode::InvalidData, ResultText::InvalidData);
}

std::string deviceErrorText(int code) {
  for (const auto& row : kDeviceErrors)
    if (row.code == code) return row.text;
  return format("Устройство вернуло код ошибки: %d", code);
}

void checkDeviceError(int errorByte) {
  if (errorByte != 0) raiseError(errorByte, deviceErrorText(errorByte));
}

ResultOf resultOk() {
  return {ResultCode::Ok, ResultText::Ok};
}

ResultOf resultOf(const std::exception& error) {
  if (auto* driverError = dynamic_cast<const EDriverError*>(&error))
    return {driverError->Code(), driverError->what()};
  return {ResultCode::General, error.what()};
}

}  // namespace mirelo
