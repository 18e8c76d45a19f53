#pragma once
// Counts the firmware blocks a terminal has confirmed, from the driver's log
// lines (LogEvent): a frame sent is one or more "UDP: -> " lines of ten bytes
// each, its reply "UDP: <- " lines, then a line of 60 hyphens. Only the first
// line of a frame shows its command; later lines of the same frame hold image
// bytes that may look like anything, so a frame starts only after a
// separator (or at the beginning). A block counts once its reply has come
// complete and without an error byte.
#include <functional>
#include <string_view>

namespace mirelo::shell {

class FirmwareProgress {
 public:
  // onBlock: the number of a program block whose reply has arrived.
  explicit FirmwareProgress(std::function<void(int block)> onBlock) : onBlock_(std::move(onBlock)) {}

  // One log line, time stamp included, Windows-1251.
  void onLogLine(std::string_view line);
  int blocksConfirmed() const { return confirmed_; }

 private:
  std::function<void(int)> onBlock_;
  bool frameStarts_ = true;
  bool replyStarts_ = false;
  int pending_ = 0;  // block sent, reply not yet complete
  int confirmed_ = 0;
};

}  // namespace mirelo::shell
