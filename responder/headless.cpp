#include "responder/headless.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"
#include "platform/com/creation.h"
#include "platform/message_loop.h"
#include "responder/line_output.h"
#include "responder/settings.h"

namespace mirelo {

namespace {

const char* protocolName(int32_t protocol) { return protocol == 0 ? "UDP" : "TCP"; }

// SIGHUP, SIGINT and SIGTERM as readable records instead of handlers: they
// are taken in the loop, between two messages, never inside one.
class SignalDescriptor {
 public:
  SignalDescriptor() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGHUP);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set_, &previous_) != 0)
      throw Exception("pthread_sigmask failed");
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) {
      int error = errno;
      pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
      throw Exception(format("signalfd: %s", std::strerror(error)));
    }
  }
  ~SignalDescriptor() {
    ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  int fd() const { return fd_; }
  // The next signal taken, or 0 when none is pending.
  int take() {
    signalfd_siginfo info{};
    ssize_t n = ::read(fd_, &info, sizeof info);
    return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

}  // namespace

std::string quoteText(std::string_view text) {
  std::string out = "\"";
  std::string plain;
  auto flush = [&] {
    out += ansiToUtf8(plain);
    plain.clear();
  };
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == 0x98) {
      flush();
      out += format("\\x%.2X", byte);
    } else if (c == '"' || c == '\\') {
      flush();
      out += '\\';
      out += c;
    } else {
      plain += c;
    }
  }
  flush();
  return out + "\"";
}

std::string formatRequestLine(const TAnswerRecord& record) {
  using namespace std::chrono;
  time_t seconds = system_clock::to_time_t(record.Time);
  auto millis = duration_cast<milliseconds>(record.Time.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  // Already UTF-8: the quoted parts are converted as they are quoted.
  return format("%s.%.3d id=%d ip=%s code=%s %s line1=%s line2=%s", stamp, static_cast<int>(millis),
                record.SenderID, record.SenderIP.empty() ? "?" : record.SenderIP.c_str(),
                quoteText(record.Answer.Barcode).c_str(), record.Answer.Found ? "found" : "not-found",
                quoteText(record.Answer.Line1).c_str(), quoteText(record.Answer.Line2).c_str());
}

namespace {

// The service's two output streams. Nothing written here waits for a reader;
// every line has its control bytes escaped and is converted to UTF-8.
class TServiceOutput {
 public:
  TServiceOutput(int outFd, int errFd) : out_(outFd), err_(errFd) {}
  void notice(const std::string& ansiText) { out_.Add(ansiToUtf8(escapeControls(ansiText))); }
  void error(const std::string& ansiText) { err_.Add(ansiToUtf8(escapeControls(ansiText))); }
  // A request line, already UTF-8 and escaped.
  void request(const std::string& line) {
    bool added = out_.Add(line);
    if (added == !dropping_) return;
    dropping_ = !added;
    if (dropping_)
      err_.Add("kavrin: standard output is not being read; request lines are dropped until it is");
    else
      err_.Add(format("kavrin: standard output is read again; %llu request lines were dropped",
                      static_cast<unsigned long long>(out_.Dropped())));
  }
  void flush() {
    out_.Flush();
    err_.Flush();
  }
  // The last lines, with the count of lines lost to a reader that was gone.
  void finish() {
    if (out_.Dropped() > 0)
      err_.Add(format("kavrin: %llu request lines dropped in all: standard output was not read",
                      static_cast<unsigned long long>(out_.Dropped())));
    out_.Drain(1000);
    err_.Drain(1000);
  }

 private:
  TLineOutput out_, err_;
  bool dropping_ = false;
};

int serve(const THeadlessOptions& options, TServiceOutput& output) {
  // A reader that goes away must not end the service.
  signal(SIGPIPE, SIG_IGN);
  SignalDescriptor signals;

  std::string settingsPath = options.Settings.empty() ? settingsPathFor(programPath("kavrin")) : options.Settings;
  TPriceList list;
  try {
    list.LoadFromFile(options.Prices);
  } catch (const std::exception& e) {
    output.error(format("kavrin: %s", e.what()));
    return 1;
  }
  TSettingsRead settings = readSettings(settingsPath);
  if (!settings.Problem.empty()) output.error("kavrin: " + settingsNotice(settingsPath, settings));
  TNotFoundLines notFound = settings.Lines;
  // Paths are UTF-8 like the command line; every message is Windows-1251.
  const std::string pricesName = utf8ToAnsi(options.Prices);
  output.notice(format("kavrin: %zu rows from '%s'; not-found lines \"%s\" / \"%s\" from '%s'",
                       list.Count(), pricesName.c_str(), notFound.Line1.c_str(),
                       notFound.Line2.c_str(), utf8ToAnsi(settingsPath).c_str()));

  std::unique_ptr<TResponder> responder;
  try {
    responder = std::make_unique<TResponder>(list, notFound);
  } catch (const std::exception& e) {
    output.error(format("kavrin: %s", e.what()));
    return 1;
  }
  responder->WantSenderAddress = true;
  // Request lines are collected while requests keep coming and handed to the
  // writer as soon as the loop has nothing left to do.
  responder->OnAnswered = [&output](const TAnswerRecord& record) {
    output.request(formatRequestLine(record));
  };

  TDriverObject& driver = responder->Driver();
  std::string failure = responder->SetServerOpen(true);
  if (!failure.empty() || !driver.ServerOpened()) {
    if (failure.empty())
      failure = resultMessage(driver.ResultCode(), driver.ResultCodeDescription());
    output.error("kavrin: " + failure);
    return 1;
  }
  output.notice(format(
      "kavrin: serving on %s port %d; SIGHUP reloads the price list, SIGINT or SIGTERM stops",
      protocolName(driver.ServerProtocol()), driver.ServerPort()));

  MessageLoop& loop = MessageLoop::current();
  pollfd fds[2] = {{loop.fd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
  for (;;) {
    output.flush();
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      output.error(format("kavrin: poll: %s", std::strerror(errno)));
      responder->SetServerOpen(false);
      return 1;
    }
    if (fds[0].revents) loop.processMessages();
    if (!fds[1].revents) continue;
    while (int signal = signals.take()) {
      if (signal == SIGHUP) {
        try {
          list.LoadFromFile(options.Prices);
          output.notice(
              format("kavrin: reloaded %zu rows from '%s'", list.Count(), pricesName.c_str()));
        } catch (const std::exception& e) {
          output.error(format("kavrin: reload failed, keeping the %zu rows loaded before: %s",
                              list.Count(), e.what()));
        }
        continue;
      }
      std::string closing = responder->SetServerOpen(false);
      if (!closing.empty()) output.error("kavrin: " + closing);
      output.notice(format("kavrin: %s, server closed", signal == SIGINT ? "SIGINT" : "SIGTERM"));
      return 0;
    }
  }
}

}  // namespace

int runHeadless(const THeadlessOptions& options, int outFd, int errFd) {
  TServiceOutput output(outFd, errFd);
  int status = serve(options, output);
  output.finish();
  return status;
}

}  // namespace mirelo
