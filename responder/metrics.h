#pragma once
// kavrin --metrics ADDR:PORT: how the service is doing, for Prometheus, at
// http://ADDR:PORT/metrics in the text exposition format. The server is the
// message loop's own: a listening socket and its clients notified through
// WSAAsyncSelect, answered between two scans on the service's thread, so the
// figures need no lock. One request a connection; a client that says nothing
// for 10 s is dropped, and at most 32 are served at once.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/message_loop.h"
#include "platform/sockets.h"
#include "responder/price_source.h"
#include "responder/responder.h"

namespace mirelo {

// The figures, updated on the service's thread.
class TServiceMetrics {
 public:
  static constexpr double kLatencyBuckets[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005,
                                               0.01,   0.025,   0.05,   0.1,   0.25,   1.0};
  // A terminal counts as active for this long after its last scan.
  static constexpr std::chrono::minutes kActiveFor{5};

  // The list the service started with.
  TServiceMetrics(size_t rows, bool database);
  void RecordAnswer(const TAnswerRecord& record, double seconds);
  void RecordSource(const TPriceSourceEvent& event);
  // Connected terminals: TCP connections to the server, or none for UDP.
  std::string Format(std::optional<size_t> connectedTerminals);

 private:
  uint64_t scans_ = 0, notFound_ = 0, errors_ = 0;
  uint64_t buckets_[std::size(kLatencyBuckets)] = {};
  double latencySum_ = 0;
  size_t rows_;
  uint64_t reloadsOk_ = 1, reloadsFailed_ = 0;
  double lastReload_;
  bool lastReloadOk_ = true;
  std::optional<bool> databaseUp_;
  std::map<std::string, std::chrono::steady_clock::time_point> heard_;  // by address
};

// The established TCP connections of this process whose local port is port.
size_t countTcpConnections(uint16_t port);

// "ADDR:PORT", ":PORT" or "PORT" (address 127.0.0.1; port 0: any free one);
// raises Exception.
sockaddr_in parseEndpoint(const std::string& text);

class TMetricsServer {
 public:
  using Body = std::function<std::string()>;
  // Listens; raises Exception with the socket's error ("cannot listen on ...").
  TMetricsServer(const sockaddr_in& address, Body body);
  ~TMetricsServer();
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  uint16_t Port() const { return port_; }
  // http://ADDR:PORT/metrics as bound.
  std::string Url() const { return url_; }

 private:
  struct Client {
    std::string request;
    std::string reply;
    size_t sent = 0;
    bool answered = false;
    std::chrono::steady_clock::time_point since;
  };
  void onMessage(const Message& message);
  void accept();
  void onRead(ws::SOCKET s, Client& client);
  void answer(ws::SOCKET s, Client& client);
  void flush(ws::SOCKET s, Client& client);
  void drop(ws::SOCKET s);

  Body body_;
  ws::SOCKET listener_ = ws::INVALID_SOCKET;
  uint16_t port_ = 0;
  std::string url_;
  std::unique_ptr<MessageWindow> window_;
  std::map<ws::SOCKET, Client> clients_;
};

}  // namespace mirelo
