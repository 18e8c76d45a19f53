#pragma once
// The general exception class of the driver: a message in Windows-1251 and
// a help context, which the error information of a failed call carries to
// the host (the driver keeps its result code there; 0 for none).
// Anything raised that is not an EDriverError reaches hosts as result -199.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace mirelo {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message, int32_t helpContext = 0)
      : std::runtime_error(message), helpContext_(helpContext) {}
  const std::string message() const { return what(); }
  int32_t HelpContext() const { return helpContext_; }

 private:
  int32_t helpContext_;
};

// A text that does not convert to a number or a date.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file that cannot be opened, read or written.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace mirelo
