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
#include "responder/metrics.h"
#include "responder/price_source.h"
#include "responder/settings.h"

namespace mirelo {

namespace {

const char* protocolName(int32_t protocol) { return protocol == 0 ? "UDP" : "TCP"; }

void printLine(FILE* stream, const std::string& ansiText) {
  std::string text = ansiToUtf8(ansiText) + "\n";
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
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

int runHeadless(const THeadlessOptions& options, FILE* out, FILE* err) {
  // A reader that goes away must not end the service.
  signal(SIGPIPE, SIG_IGN);
  SignalDescriptor signals;

  std::string settingsPath = options.Settings.empty() ? settingsPathFor(programPath("kavrin")) : options.Settings;
  TPriceList list;
  std::unique_ptr<TPriceSource> source;
  try {
    source = openPriceSource({options.Prices, options.PricesDb, options.PricesQuery}, list);
  } catch (const std::exception& e) {
    printLine(err, format("kavrin: %s", e.what()));
    return 1;
  }
  TNotFoundLines notFound = readNotFoundLines(settingsPath);
  // Paths are UTF-8 like the command line; every message is Windows-1251.
  printLine(out, format("kavrin: %zu rows from %s%s; not-found lines \"%s\" / \"%s\" from '%s'",
                        list.Count(), source->Name().c_str(), source->FirstLoadNote().c_str(),
                        notFound.Line1.c_str(), notFound.Line2.c_str(),
                        utf8ToAnsi(settingsPath).c_str()));
  TServiceMetrics figures(list.Count(), !options.PricesDb.empty());
  source->OnEvent = [&](const TPriceSourceEvent& event) {
    figures.RecordSource(event);
    bool trouble = event.Kind == TPriceSourceEvent::LoadFailed ||
                   event.Kind == TPriceSourceEvent::Disconnected;
    printLine(trouble ? err : out, "kavrin: " + event.Text);
  };

  std::unique_ptr<TResponder> responder;
  try {
    responder = std::make_unique<TResponder>(list, notFound);
  } catch (const std::exception& e) {
    printLine(err, format("kavrin: %s", e.what()));
    return 1;
  }
  responder->WantSenderAddress = true;
  // Request lines are buffered while requests keep coming and flushed as soon
  // as the loop has nothing left to do: one write for a burst, none later.
  responder->OnAnswered = [out, &figures](const TAnswerRecord& record) {
    std::string line = formatRequestLine(record) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
    figures.RecordAnswer(
        record,
        std::chrono::duration<double>(std::chrono::system_clock::now() - record.Time).count());
  };

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
      printLine(err, format("kavrin: %s", e.what()));
      return 1;
    }
  }
  std::string failure = responder->SetServerOpen(true);
  if (!failure.empty() || !driver.ServerOpened()) {
    if (failure.empty()) failure = resultMessage(driver.ResultCode(), driver.ResultCodeDescription());
    printLine(err, "kavrin: " + failure);
    return 1;
  }
  printLine(out, format("kavrin: serving on %s port %d; SIGHUP reloads the price list, SIGINT or SIGTERM stops",
                        protocolName(driver.ServerProtocol()), driver.ServerPort()));
  if (metrics) printLine(out, "kavrin: metrics at " + metrics->Url());

  MessageLoop& loop = MessageLoop::current();
  pollfd fds[2] = {{loop.fd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
  for (;;) {
    std::fflush(out);
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      printLine(err, format("kavrin: poll: %s", std::strerror(errno)));
      responder->SetServerOpen(false);
      return 1;
    }
    if (fds[0].revents) loop.processMessages();
    if (!fds[1].revents) continue;
    while (int signal = signals.take()) {
      if (signal == SIGHUP) {
        source->Reload();
        continue;
      }
      std::string closing = responder->SetServerOpen(false);
      if (!closing.empty()) printLine(err, "kavrin: " + closing);
      printLine(out, format("kavrin: %s, server closed", signal == SIGINT ? "SIGINT" : "SIGTERM"));
      return 0;
    }
  }
}

}  // namespace mirelo
