#include "tools/mirelo/progress_meter.h"

#include "platform/format.h"
#include "tools/mirelo/safe_output.h"

namespace mirelo::shell {
namespace {

constexpr int kBarWidth = 20;
// A terminal is redrawn at most this often, and at the end.
constexpr std::chrono::milliseconds kRedrawInterval{100};

}  // namespace

ProgressMeter::ProgressMeter(std::ostream& out, bool terminal, std::string units, int unknownStep,
                             std::function<Clock::time_point()> now)
    : out_(out),
      terminal_(terminal),
      units_(std::move(units)),
      unknownStep_(unknownStep > 0 ? unknownStep : 1),
      now_(std::move(now)),
      start_(now_()) {}

std::string ProgressMeter::clockText(Clock::duration duration) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  if (seconds < 0) seconds = 0;
  if (seconds >= 3600)
    return format("%d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return format("%d:%.2d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
}

void ProgressMeter::update(int done) {
  if (firstDone_ < 0) {
    firstDone_ = done;
    firstTime_ = now_();
  }
  if (terminal_) {
    Clock::time_point now = now_();
    bool last = total_ > 0 && done >= total_;
    if (drawn_ && !last && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    drawBar(done);
    return;
  }
  if (total_ <= 0) {
    if (done - lastLine_ < unknownStep_) return;
    lastLine_ = done;
    out_ << format("%d %s", done, units_.c_str()) << '\n';
    out_.flush();
    return;
  }
  int tenth = static_cast<int>(static_cast<long long>(done) * 10 / total_);
  if (tenth <= lastTenth_) return;
  lastTenth_ = tenth;
  lastLine_ = done;
  out_ << format("%d/%d %s (%d%%)", done, total_, units_.c_str(),
                 static_cast<int>(static_cast<long long>(done) * 100 / total_))
       << '\n';
  out_.flush();
}

void ProgressMeter::drawBar(int done) {
  std::string line;
  if (total_ > 0) {
    int filled = static_cast<int>(static_cast<long long>(done) * kBarWidth / total_);
    if (filled > kBarWidth) filled = kBarWidth;
    line += '[' + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBarWidth - filled), '.') + ']';
    line += format("  %d/%d %s  %3d%%", done, total_, units_.c_str(),
                   static_cast<int>(static_cast<long long>(done) * 100 / total_));
    Clock::time_point now = now_();
    if (done > firstDone_ && done < total_)
      line +=
          "  " + clockText((now - firstTime_) * (total_ - done) / (done - firstDone_)) + " left";
    else if (done > 0 && done < total_)
      line += "  " + clockText((now - start_) * (total_ - done) / done) + " left";
    else
      line += "  " + clockText(now - start_);
  } else {
    line += format("%d %s", done, units_.c_str());
  }
  // Back to the line's start, the line, blanks over what a longer previous
  // line left.
  writeControls(out_, "\r");
  out_ << line;
  writeControls(out_, "\x1B[K");
  out_.flush();
  drawn_ = true;
}

void ProgressMeter::finish() {
  if (terminal_ && drawn_) {
    out_ << '\n';
    out_.flush();
    drawn_ = false;
  }
}

}  // namespace mirelo::shell
