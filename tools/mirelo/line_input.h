#pragma once
// Where "shell" reads its items, one a line. A descriptor (the program's
// standard input) is polled together with the thread's message loop, so
// events print while the shell waits for input; a stream (tests) cannot be
// polled, so the loop runs once before each line is read.
#include <istream>
#include <optional>
#include <string>

#include "platform/message_loop.h"

namespace mirelo::shell {

class LineInput {
 public:
  virtual ~LineInput() = default;
  // The next line without its LF (and without a CR before it), or nothing
  // at the end of input. A last line without LF still counts.
  virtual std::optional<std::string> next(MessageLoop& loop) = 0;
};

class StreamLineInput final : public LineInput {
 public:
  explicit StreamLineInput(std::istream& in) : in_(in) {}
  std::optional<std::string> next(MessageLoop& loop) override;

 private:
  std::istream& in_;
};

class FdLineInput final : public LineInput {
 public:
  // The descriptor stays the caller's: it is not closed.
  explicit FdLineInput(int fd) : fd_(fd) {}
  std::optional<std::string> next(MessageLoop& loop) override;

 private:
  int fd_;
  std::string buffer_;
  bool ended_ = false;
};

}  // namespace mirelo::shell
