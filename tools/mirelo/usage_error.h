#pragma once
// A command line or an item that the shell cannot run: an unknown member, a
// value that does not parse, a write to a read-only property. The message is
// UTF-8 and reaches standard error as "mirelo: <message>"; the exit status is 2.
#include <stdexcept>
#include <string>

namespace mirelo::shell {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mirelo::shell
