#include "responder/headless.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <optional>

#include "platform/com/creation.h"
#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"
#include "platform/message_loop.h"
#include "responder/line_output.h"
#include "responder/metrics.h"
#include "responder/price_source.h"
#include "responder/settings.h"

namespace mirelo {

namespace {

const char* protocolName(int32_t protocol) {
  return protocol == 0 ? "UDP" : "TCP";
}

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

namespace {

// Appends text (Windows-1251) quoted, as UTF-8, with '"', '\' and control
// bytes escaped.
void appendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == 0x98) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x80) {
      out += c;
    } else {
      char16_t wide = ansiToWide(byte);
      if (wide < 0x800) {
        out += static_cast<char>(0xC0 | (wide >> 6));
      } else {
        out += static_cast<char>(0xE0 | (wide >> 12));
        out += static_cast<char>(0x80 | ((wide >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (wide & 0x3F));
    }
  }
  out += '"';
}

// "YYYY-MM-DD HH:MM:SS" of local time, worked out once a second.
const char* localStamp(time_t seconds) {
  thread_local time_t cachedSecond = -1;
  thread_local char stamp[32];
  if (seconds != cachedSecond) {
    tm local{};
    localtime_r(&seconds, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    cachedSecond = seconds;
  }
  return stamp;
}

}  // namespace

std::string quoteText(std::string_view text) {
  std::string out;
  appendQuoted(out, text);
  return out;
}

std::string formatRequestLine(const TAnswerRecord& record) {
  using namespace std::chrono;
  auto sinceEpoch = duration_cast<milliseconds>(record.Time.time_since_epoch()).count();
  // Built by appending: one line per request is the service's busiest text.
  std::string line;
  line.reserve(160);
  line += localStamp(static_cast<time_t>(sinceEpoch / 1000));
  char number[32];
  int millis = static_cast<int>(sinceEpoch % 1000);
  line += '.';
  line += static_cast<char>('0' + millis / 100);
  line += static_cast<char>('0' + millis / 10 % 10);
  line += static_cast<char>('0' + millis % 10);
  line += " id=";
  line.append(number, std::to_chars(number, number + sizeof number, record.SenderID).ptr);
  line += " ip=";
  line += record.SenderIP.empty() ? "?" : record.SenderIP;
  line += " code=";
  appendQuoted(line, record.Answer.Barcode);
  line += record.Answer.Found ? " found line1=" : " not-found line1=";
  appendQuoted(line, record.Answer.Line1);
  line += " line2=";
  appendQuoted(line, record.Answer.Line2);
  return line;
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

  std::string settingsPath =
      options.Settings.empty() ? settingsPathFor(programPath("kavrin")) : options.Settings;
  TPriceList list;
  std::unique_ptr<TPriceSource> source;
  try {
    source = openPriceSource({options.Prices, options.PricesDb, options.PricesQuery}, list);
  } catch (const std::exception& e) {
    output.error(format("kavrin: %s", e.what()));
    return 1;
  }
  TSettingsRead settings = readSettings(settingsPath);
  if (!settings.Problem.empty()) output.error("kavrin: " + settingsNotice(settingsPath, settings));
  TNotFoundLines notFound = settings.Lines;
  // Paths are UTF-8 like the command line; every message is Windows-1251.
  output.notice(format("kavrin: %zu rows from %s%s; not-found lines \"%s\" / \"%s\" from '%s'",
                       list.Count(), source->Name().c_str(), source->FirstLoadNote().c_str(),
                       notFound.Line1.c_str(), notFound.Line2.c_str(),
                       utf8ToAnsi(settingsPath).c_str()));
  TServiceMetrics figures(list.Count(), !options.PricesDb.empty());
  source->OnEvent = [&](const TPriceSourceEvent& event) {
    figures.RecordSource(event);
    bool trouble = event.Kind == TPriceSourceEvent::LoadFailed ||
                   event.Kind == TPriceSourceEvent::Disconnected;
    if (trouble)
      output.error("kavrin: " + event.Text);
    else
      output.notice("kavrin: " + event.Text);
  };

  std::unique_ptr<TResponder> responder;
  try {
    responder = std::make_unique<TResponder>(list, notFound);
  } catch (const std::exception& e) {
    output.error(format("kavrin: %s", e.what()));
    return 1;
  }
  // Request lines are collected while requests keep coming and handed to the
  // writer as soon as the loop has nothing left to do. The metrics count the
  // answers (and their senders) even when no line is printed.
  const bool lines = !options.Quiet;
  if (lines || !options.Metrics.empty()) {
    responder->WantSenderAddress = true;
    responder->OnAnswered = [&output, &figures, lines](const TAnswerRecord& record) {
      if (lines) output.request(formatRequestLine(record));
      figures.RecordAnswer(
          record,
          std::chrono::duration<double>(std::chrono::system_clock::now() - record.Time).count());
    };
  }

  TDriverObject& driver = responder->Driver();
  std::unique_ptr<TMetricsServer> metrics;
  if (!options.Metrics.empty()) {
    try {
      metrics = std::make_unique<TMetricsServer>(parseEndpoint(options.Metrics), [&] {
        bool tcp = driver.ServerProtocol() != 0;
        return figures.Format(
            tcp ? std::optional(countTcpConnections(static_cast<uint16_t>(driver.ServerPort())))
                : std::nullopt);
      });
    } catch (const std::exception& e) {
      output.error(format("kavrin: %s", e.what()));
      return 1;
    }
  }
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
  if (metrics) output.notice("kavrin: metrics at " + metrics->Url());

  // Signals come as a message of the loop, between two others, and the loop's
  // own wait is the only one: a wake-up costs one system call, as in a
  // plain server.
  MessageLoop& loop = MessageLoop::current();
  std::optional<int> stopped;
  MessageWindow signalWindow([&](const Message&) {
    while (int signal = signals.take()) {
      if (signal == SIGHUP) {
        source->Reload();
        continue;
      }
      stopped = signal;
      return;
    }
    loop.reenable(signals.fd(), FD_READ);
  });
  loop.watchReadable(signals.fd(), &signalWindow, WM_USER);
  while (!stopped) {
    output.flush();
    loop.waitAndProcess(-1);
  }
  loop.forgetSocket(signals.fd());
  std::string closing = responder->SetServerOpen(false);
  if (!closing.empty()) output.error("kavrin: " + closing);
  output.notice(format("kavrin: %s, server closed", *stopped == SIGINT ? "SIGINT" : "SIGTERM"));
  return 0;
}

}  // namespace

int runHeadless(const THeadlessOptions& options, int outFd, int errFd) {
  TServiceOutput output(outFd, errFd);
  int status = serve(options, output);
  output.finish();
  return status;
}

}  // namespace mirelo
