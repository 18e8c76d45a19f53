#pragma once
// Progress of a long transfer (firmware blocks, memory blocks). On a
// terminal one line is redrawn in place:
//   [#########...........]  216/480 blocks  45%  0:07 left
// Otherwise (a pipe, a file, a log) a plain line at every tenth of the way:
//   48/480 blocks (10%)
// and, while the total is not known, one every `unknownStep` units.
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace mirelo::shell {

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressMeter(std::ostream& out, bool terminal, std::string units, int unknownStep = 100,
                std::function<Clock::time_point()> now = Clock::now);

  // 0: not known (yet).
  void setTotal(int total) { total_ = total; }
  // done units of total so far (done only grows).
  void update(int done);
  // Ends the bar's line on a terminal; nothing otherwise.
  void finish();
  // Since the meter was made.
  Clock::duration elapsed() const { return now_() - start_; }

  // "m:ss" (hours too from one hour on: "h:mm:ss").
  static std::string clockText(Clock::duration duration);

 private:
  void drawBar(int done);

  std::ostream& out_;
  bool terminal_;
  std::string units_;
  int unknownStep_;
  std::function<Clock::time_point()> now_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_{};
  // The first update: the time before it (connecting, a terminal's pause
  // before programming) says nothing of the rate of the units after it.
  Clock::time_point firstTime_{};
  int firstDone_ = -1;
  int total_ = 0;
  int lastTenth_ = 0;
  int lastLine_ = 0;
  bool drawn_ = false;
};

}  // namespace mirelo::shell
