#include "tools/termsim/scanner.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/bytes.h"
#include "platform/exception.h"
#include "platform/format.h"
#include "platform/sockets.h"

namespace mirelo::termsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kTerminalMessage = 0xAB;
constexpr size_t kLineWidth = 30;
constexpr size_t kMaxErrors = 8;
constexpr size_t kReadSize = 4096;

// One connection (TCP) or socket (UDP) of the scanning terminal, carrying one
// scan at a time.
class Channel {
 public:
  Channel(const sockaddr_in& to, bool udp) : to_(to), udp_(udp) {}
  ~Channel() { close(); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  Channel(Channel&& other) noexcept : to_(other.to_), udp_(other.udp_), fd_(other.fd_) {
    other.fd_ = -1;
  }

  int fd() const { return fd_; }
  bool waiting() const { return waiting_; }
  size_t partial() const { return received_.size(); }
  Clock::time_point deadline() const { return deadline_; }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    waiting_ = false;
    received_.clear();
  }

  // Opens if needed and sends; false with error text on failure.
  bool send(const std::string& frame, int timeoutMs, std::string& error) {
    if (fd_ < 0 && !open(timeoutMs, error)) return false;
    received_.clear();
    sentAt_ = Clock::now();
    deadline_ = sentAt_ + std::chrono::milliseconds(timeoutMs);
    ssize_t n = ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(frame.size())) {
      error = format("send failed: %s", n < 0 ? std::strerror(errno) : "short write");
      close();
      return false;
    }
    waiting_ = true;
    return true;
  }

  // Reads what arrived. Complete: lines filled, latency set. Malformed or a
  // failure: error set and the channel closed.
  AnswerStatus receive(ScanResult& result, double& latencyMs) {
    char buffer[kReadSize];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
      return AnswerStatus::Incomplete;
    if (n < 0 || (n == 0 && !udp_)) {
      result.error = n < 0 ? format("receive failed: %s", std::strerror(errno))
                           : "the host closed the connection";
      close();
      return AnswerStatus::Malformed;
    }
    // A datagram is a whole frame; TCP may deliver a frame in pieces.
    if (udp_) received_.clear();
    received_.append(buffer, static_cast<size_t>(n));
    AnswerStatus status = parseAnswer(received_, result.line1, result.line2, result.error);
    if (status == AnswerStatus::Incomplete && udp_ && n > 0) {
      result.error = "short answer: " + bytesToHex(received_);
      status = AnswerStatus::Malformed;
    }
    if (status == AnswerStatus::Incomplete) return status;
    result.answer = received_;
    waiting_ = false;
    if (status == AnswerStatus::Complete) {
      result.ok = true;
      latencyMs = std::chrono::duration<double, std::milli>(Clock::now() - sentAt_).count();
      received_.clear();
    } else {
      close();
    }
    return status;
  }

 private:
  bool open(int timeoutMs, std::string& error) {
    fd_ = ::socket(AF_INET, (udp_ ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
      error = format("socket: %s", std::strerror(errno));
      return false;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) < 0) {
      if (errno != EINPROGRESS) {
        error = format("connect: %s", std::strerror(errno));
        close();
        return false;
      }
      pollfd p{fd_, POLLOUT, 0};
      int ready = ::poll(&p, 1, timeoutMs);
      int soError = 0;
      socklen_t length = sizeof soError;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length);
      if (ready <= 0 || soError) {
        error = ready == 0 ? "connect: timed out"
                           : format("connect: %s", std::strerror(soError ? soError : errno));
        close();
        return false;
      }
    }
    return true;
  }

  sockaddr_in to_;
  bool udp_;
  int fd_ = -1;
  bool waiting_ = false;
  std::string received_;
  Clock::time_point sentAt_, deadline_;
};

double percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[rank == 0 ? 0 : rank - 1];
}

void noteError(LoadReport& report, const std::string& error) {
  if (report.errors.size() < kMaxErrors &&
      std::find(report.errors.begin(), report.errors.end(), error) == report.errors.end())
    report.errors.push_back(error);
}

}  // namespace

std::string terminalMessage(std::string_view barcode) {
  return ByteWriter(barcode.size() + 2).u8(kTerminalMessage).u8(0).bytes(barcode).take();
}

AnswerStatus parseAnswer(std::string_view frame, std::string& line1, std::string& line2,
                         std::string& error) {
  ByteReader in(frame);
  if (in.remaining() >= 1 && in.u8() != kTerminalMessage) {
    error = "unexpected answer: " + bytesToHex(frame);
    return AnswerStatus::Malformed;
  }
  if (in.remaining() < 1) return AnswerStatus::Incomplete;
  if (uint8_t errorByte = in.u8(); errorByte != 0) {
    error = format("answer with error byte %u: %s", errorByte, bytesToHex(frame).c_str());
    return AnswerStatus::Malformed;
  }
  if (in.remaining() < 1) return AnswerStatus::Incomplete;
  size_t length = in.u8();
  if (in.remaining() < length) return AnswerStatus::Incomplete;
  std::string_view text = in.bytes(length);
  line1 = std::string(text.substr(0, kLineWidth));
  line2 =
      text.size() > kLineWidth ? std::string(text.substr(kLineWidth, kLineWidth)) : std::string();
  return AnswerStatus::Complete;
}

sockaddr_in resolveDestination(const std::string& host, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
      throw Exception(format("Unknown host '%s'", host.c_str()));
    address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
  }
  if (!ws::destinationAllowed(address)) {
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    throw Exception(format(
        "MIRELO_LOOPBACK_ONLY is set: %s is outside 127.0.0.0/8 and is not contacted", text));
  }
  return address;
}

LoadReport runLoad(const LoadOptions& options) {
  sockaddr_in to = resolveDestination(options.host, options.port);
  const std::string frame = terminalMessage(options.barcode);
  LoadReport report;
  std::vector<double> latencies;
  latencies.reserve(options.count);

  size_t channelCount =
      std::max<size_t>(1, std::min(options.concurrency, std::max<size_t>(1, options.count)));
  std::vector<Channel> channels;
  channels.reserve(channelCount);
  for (size_t i = 0; i < channelCount; ++i) channels.emplace_back(to, options.udp);

  size_t launched = 0;
  auto done = [&] { return report.answered + report.missing + report.failed; };
  std::vector<pollfd> fds;
  std::vector<size_t> index;
  Clock::time_point start = Clock::now();
  while (done() < options.count) {
    for (Channel& channel : channels) {
      while (!channel.waiting() && launched < options.count) {
        ++launched;
        std::string error;
        if (channel.send(frame, options.timeoutMs, error)) break;
        ++report.failed;
        noteError(report, error);
      }
    }
    fds.clear();
    index.clear();
    Clock::time_point nearest = Clock::time_point::max();
    for (size_t i = 0; i < channels.size(); ++i) {
      if (!channels[i].waiting()) continue;
      fds.push_back({channels[i].fd(), POLLIN, 0});
      index.push_back(i);
      nearest = std::min(nearest, channels[i].deadline());
    }
    if (fds.empty()) continue;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(nearest - Clock::now()).count();
    ::poll(fds.data(), fds.size(), wait < 0 ? 0 : static_cast<int>(wait));
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      ScanResult result;
      double latency = 0;
      switch (channels[index[k]].receive(result, latency)) {
        case AnswerStatus::Complete:
          ++report.answered;
          latencies.push_back(latency);
          report.last = std::move(result);
          break;
        case AnswerStatus::Malformed:
          ++report.failed;
          noteError(report, result.error);
          report.last = std::move(result);
          break;
        case AnswerStatus::Incomplete:
          break;
      }
    }
    Clock::time_point now = Clock::now();
    for (Channel& channel : channels) {
      if (channel.waiting() && now >= channel.deadline()) {
        ++report.missing;
        noteError(report, channel.partial() ? format("incomplete answer (%zu bytes) within %d ms",
                                                     channel.partial(), options.timeoutMs)
                                            : format("no answer within %d ms", options.timeoutMs));
        channel.close();
      }
    }
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  report.answersPerSecond =
      report.seconds > 0 ? static_cast<double>(report.answered) / report.seconds : 0;
  std::sort(latencies.begin(), latencies.end());
  report.p50Ms = percentile(latencies, 0.50);
  report.p90Ms = percentile(latencies, 0.90);
  report.p99Ms = percentile(latencies, 0.99);
  report.maxMs = latencies.empty() ? 0 : latencies.back();
  return report;
}

ScanResult scan(const std::string& host, uint16_t port, std::string_view barcode, bool udp,
                int timeoutMs) {
  ScanResult result;
  try {
    LoadReport report = runLoad({host, port, std::string(barcode), udp, timeoutMs, 1, 1});
    result = std::move(report.last);
    if (report.missing) {
      result.timedOut = true;
      result.error = report.errors.front();
    } else if (!result.ok && result.error.empty() && !report.errors.empty()) {
      result.error = report.errors.front();
    }
  } catch (const Exception& e) {
    result.error = e.what();
  }
  return result;
}

}  // namespace mirelo::termsim
