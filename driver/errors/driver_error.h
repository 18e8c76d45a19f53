#pragma once
// Result codes and the driver's exception. Inside the driver every failure is
// an exception; the automation object turns it into ResultCode and its text.
#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace mirelo {

namespace ResultCode {
constexpr int32_t Ok = 0;
constexpr int32_t NoConnection = -1;
constexpr int32_t InvalidValue = -6;
constexpr int32_t CannotAddDevice = -7;
constexpr int32_t CannotDeleteDevice = -8;
constexpr int32_t DeviceNotFound = -9;
constexpr int32_t InvalidData = -15;
constexpr int32_t ProgrammingMode = -16;
constexpr int32_t General = -199;
// Error byte by which a terminal ends the enumeration of tables, fields,
// messages and memory blocks.
constexpr int32_t InvalidParameters = 211;
}  // namespace ResultCode

// Texts in Windows-1251, as hosts show and compare them.
namespace ResultText {
extern const char* const Ok;            // "Ошибок нет"
extern const char* const NoConnection;  // "Нет связи"
extern const char* const InvalidValue;  // "Недопустимое значение"
extern const char* const CannotAddDevice;
extern const char* const CannotDeleteDevice;
extern const char* const DeviceNotFound;
extern const char* const InvalidData;  // "Устройство вернуло неверные данные"
extern const char* const FrameTooShort;    // template: received length, minimum
extern const char* const CommandMismatch;  // template: received code, code sent
extern const char* const ProgrammingMode;
extern const char* const ValueRange;    // template: minimum, maximum
extern const char* const ValueMinimum;  // template: minimum
}  // namespace ResultText

class EDriverError : public Exception {
 public:
  // The code travels as the help context, so a host reads it from the
  // error information of a call that fails at the platform level.
  EDriverError(int32_t code, const std::string& message) : Exception(message, code) {}
  int32_t Code() const { return HelpContext(); }
};

[[noreturn]] void raiseError(int32_t code, const std::string& message);
[[noreturn]] void raiseInvalidValue();
// -6 "Недопустимое значение" followed by the range a value must lie in.
[[noreturn]] void raiseOutOfRange(int64_t minimum, int64_t maximum);
[[noreturn]] void raiseBelowMinimum(int64_t minimum);
[[noreturn]] void raiseNoConnection();
[[noreturn]] void raiseInvalidData();
// The text of an error byte a terminal returned.
std::string deviceErrorText(int code);
// 0 returns; any other error byte raises it with its text.
void checkDeviceError(int errorByte);

// The code and text a host sees for an exception (0 for none).
struct ResultOf {
  int32_t code;
  std::string text;
};
ResultOf resultOf(const std::exception& error);
ResultOf resultOk();

}  // namespace mirelo
