#pragma once
// The general exception class of the driver: a message in Windows-1251.
// Anything raised that is not an EDriverError reaches hosts as result -199.
#include <stdexcept>
#include <string>

namespace mirelo {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  const std::string message() const { return what(); }
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
