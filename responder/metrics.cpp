#include "responder/metrics.h"

#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/exception.h"
#include "platform/format.h"

namespace mirelo {

namespace {

constexpr uint32_t WM_METRICS_SOCKET = WM_USER + 1;
constexpr uintptr_t kSweepTimer = 1;
constexpr auto kIdleLimit = std::chrono::seconds(10);
constexpr size_t kMaxClients = 32;
constexpr size_t kMaxRequest = 8192;

double secondsSinceEpoch(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

void family(std::string& out, const char* name, const char* type, const char* help) {
  out += format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

std::string number(double value) {
  return format("%.15g", value);
}

std::string httpReply(const char* status, const std::string& type, const std::string& body,
                      bool head, const char* extra = "") {
  std::string reply = format(
      "HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n%s\r\n",
      status, type.c_str(), body.size(), extra);
  if (!head) reply += body;
  return reply;
}

}  // namespace

// ---- figures ----

TServiceMetrics::TServiceMetrics(size_t rows, bool database)
    : rows_(rows), lastReload_(secondsSinceEpoch(std::chrono::system_clock::now())) {
  if (database) databaseUp_ = true;
}

void TServiceMetrics::RecordAnswer(const TAnswerRecord& record, double seconds) {
  ++scans_;
  if (!record.Answer.Found) ++notFound_;
  if (record.SendResult != 0) ++errors_;
  latencySum_ += seconds;
  for (size_t i = 0; i < std::size(kLatencyBuckets); ++i)
    if (seconds <= kLatencyBuckets[i]) ++buckets_[i];
  if (!record.SenderIP.empty()) heard_[record.SenderIP] = std::chrono::steady_clock::now();
}

void TServiceMetrics::RecordSource(const TPriceSourceEvent& event) {
  rows_ = event.Rows;
  switch (event.Kind) {
    case TPriceSourceEvent::Loaded:
    case TPriceSourceEvent::LoadFailed:
      lastReloadOk_ = event.Kind == TPriceSourceEvent::Loaded;
      ++(lastReloadOk_ ? reloadsOk_ : reloadsFailed_);
      lastReload_ = secondsSinceEpoch(event.Time);
      break;
    case TPriceSourceEvent::Disconnected:
    case TPriceSourceEvent::Reconnected:
      databaseUp_ = event.Kind == TPriceSourceEvent::Reconnected;
      break;
  }
}

std::string TServiceMetrics::Format(std::optional<size_t> connectedTerminals) {
  auto now = std::chrono::steady_clock::now();
  std::erase_if(heard_, [&](const auto& item) { return now - item.second > kActiveFor; });
  std::string out;
  family(out, "kavrin_scans_total", "counter", "Barcodes answered, found or not.");
  out += format("kavrin_scans_total %llu\n", static_cast<unsigned long long>(scans_));
  family(out, "kavrin_scans_not_found_total", "counter",
         "Barcodes answered with the not-found lines.");
  out += format("kavrin_scans_not_found_total %llu\n", static_cast<unsigned long long>(notFound_));
  family(out, "kavrin_answer_errors_total", "counter", "Answers the driver could not send.");
  out += format("kavrin_answer_errors_total %llu\n", static_cast<unsigned long long>(errors_));

  family(out, "kavrin_answer_duration_seconds", "histogram",
         "From a barcode's arrival at the service to its answer handed to the driver.");
  // Each bucket already counts every answer at or below its bound.
  for (size_t i = 0; i < std::size(kLatencyBuckets); ++i)
    out += format("kavrin_answer_duration_seconds_bucket{le=\"%s\"} %llu\n",
                  number(kLatencyBuckets[i]).c_str(), static_cast<unsigned long long>(buckets_[i]));
  out += format("kavrin_answer_duration_seconds_bucket{le=\"+Inf\"} %llu\n",
                static_cast<unsigned long long>(scans_));
  out += format("kavrin_answer_duration_seconds_sum %s\n", number(latencySum_).c_str());
  out += format("kavrin_answer_duration_seconds_count %llu\n",
                static_cast<unsigned long long>(scans_));

  family(out, "kavrin_price_rows", "gauge", "Rows of the price list in use.");
  out += format("kavrin_price_rows %zu\n", rows_);
  family(out, "kavrin_reloads_total", "counter",
         "Price list loads (the first one included) by outcome.");
  out += format("kavrin_reloads_total{outcome=\"ok\"} %llu\n",
                static_cast<unsigned long long>(reloadsOk_));
  out += format("kavrin_reloads_total{outcome=\"failed\"} %llu\n",
                static_cast<unsigned long long>(reloadsFailed_));
  family(out, "kavrin_last_reload_timestamp_seconds", "gauge",
         "When the last load ended, Unix time.");
  out += format("kavrin_last_reload_timestamp_seconds %s\n", number(lastReload_).c_str());
  family(out, "kavrin_last_reload_success", "gauge",
         "1 when the last load gave the list in use, else 0.");
  out += format("kavrin_last_reload_success %d\n", lastReloadOk_ ? 1 : 0);
  if (databaseUp_) {
    family(out, "kavrin_database_up", "gauge",
           "1 while the connection to the price database stands.");
    out += format("kavrin_database_up %d\n", *databaseUp_ ? 1 : 0);
  }
  if (connectedTerminals) {
    family(out, "kavrin_terminals_connected", "gauge",
           "TCP connections of terminals to the server.");
    out += format("kavrin_terminals_connected %zu\n", *connectedTerminals);
  }
  family(out, "kavrin_terminals_active", "gauge",
         "Terminal addresses that scanned within the last 5 minutes.");
  out += format("kavrin_terminals_active %zu\n", heard_.size());
  return out;
}

size_t countTcpConnections(uint16_t port) {
  // This process's sockets, by inode...
  std::set<unsigned long> inodes;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      char target[64];
      std::string path = std::string("/proc/self/fd/") + entry->d_name;
      ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = 0;
      unsigned long inode;
      if (std::sscanf(target, "socket:[%lu]", &inode) == 1) inodes.insert(inode);
    }
    closedir(dir);
  }
  // ...among the established TCP connections on the port.
  size_t count = 0;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream file(table);
    std::string line;
    std::getline(file, line);  // the header
    while (std::getline(file, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long inode = 0;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      size_t colon = local.rfind(':');
      if (!fields || colon == std::string::npos || state != "01") continue;
      if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port && inodes.count(inode))
        ++count;
    }
  }
  return count;
}

sockaddr_in parseEndpoint(const std::string& text) {
  size_t colon = text.rfind(':');
  std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
  if (host.empty()) host = "127.0.0.1";
  int32_t port = 0;
  if (!tryStrToInt(portText, port) || port < 0 || port > 65535 ||
      portText.find_first_not_of("0123456789") != std::string::npos)
    throw Exception(
        format("'%s': the port must be a number from 0 (any free one) to 65535", text.c_str()));
  uint32_t address = ws::inetAddr(host);
  if (address == 0xFFFFFFFFu && host != "255.255.255.255")
    throw Exception(
        format("'%s': the address must be an IPv4 address such as 127.0.0.1", text.c_str()));
  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_port = htons(static_cast<uint16_t>(port));
  endpoint.sin_addr.s_addr = address;
  return endpoint;
}

// ---- the HTTP server ----

TMetricsServer::TMetricsServer(const sockaddr_in& address, Body body) : body_(std::move(body)) {
  std::string where =
      format("%s:%d", ws::inetNtoa(address.sin_addr.s_addr).c_str(), ntohs(address.sin_port));
  window_ = std::make_unique<MessageWindow>([this](const Message& message) { onMessage(message); });
  listener_ = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  auto failed = [&](const char* call) {
    int error = ws::WSAGetLastError();
    const ws::SocketErrorRow* row = ws::findSocketError(error);
    if (listener_ != ws::INVALID_SOCKET) ws::closesocket(listener_);
    throw Exception(format("metrics: cannot listen on %s: %s: %d%s%s", where.c_str(), call, error,
                           row ? ", " : "", row ? row->text : ""));
  };
  if (listener_ == ws::INVALID_SOCKET) failed("socket");
  ws::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, 1);
  if (ws::bind(listener_, address) != 0) failed("bind");
  if (ws::WSAAsyncSelect(listener_, window_.get(), WM_METRICS_SOCKET, FD_ACCEPT) != 0)
    failed("WSAAsyncSelect");
  if (ws::listen(listener_, 16) != 0) failed("listen");
  sockaddr_in bound{};
  ws::getsockname(listener_, &bound);
  port_ = ntohs(bound.sin_port);
  url_ = format("http://%s:%d/metrics", ws::inetNtoa(address.sin_addr.s_addr).c_str(), port_);
  window_->setTimer(kSweepTimer, 1000);
}

TMetricsServer::~TMetricsServer() {
  for (auto& [s, client] : clients_) ws::closesocket(s);
  ws::closesocket(listener_);
}

void TMetricsServer::onMessage(const Message& message) {
  if (message.msg == WM_TIMER) {
    auto now = std::chrono::steady_clock::now();
    std::vector<ws::SOCKET> idle;
    for (auto& [s, client] : clients_)
      if (now - client.since > kIdleLimit) idle.push_back(s);
    for (ws::SOCKET s : idle) drop(s);
    return;
  }
  if (message.msg != WM_METRICS_SOCKET) return;
  auto s = static_cast<ws::SOCKET>(message.wParam);
  int event = selectEvent(message.lParam);
  if (s == listener_) {
    if (event == FD_ACCEPT) accept();
    return;
  }
  auto found = clients_.find(s);
  if (found == clients_.end()) return;
  if (event == FD_READ)
    onRead(s, found->second);
  else if (event == FD_WRITE)
    flush(s, found->second);
  else if (event == FD_CLOSE)
    drop(s);
}

void TMetricsServer::accept() {
  ws::SOCKET s = ws::accept(listener_, nullptr);
  if (s == ws::INVALID_SOCKET) return;
  if (clients_.size() >= kMaxClients ||
      ws::WSAAsyncSelect(s, window_.get(), WM_METRICS_SOCKET, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    ws::closesocket(s);
    return;
  }
  clients_[s].since = std::chrono::steady_clock::now();
}

void TMetricsServer::onRead(ws::SOCKET s, Client& client) {
  char buffer[4096];
  int n = ws::recv(s, buffer, sizeof buffer, 0);
  if (n <= 0) {
    int error = ws::WSAGetLastError();
    if (n == 0 || error != ws::WSAEWOULDBLOCK) drop(s);
    return;
  }
  // After the answer the client's bytes are read and dropped until it closes.
  if (client.answered) return;
  client.request.append(buffer, static_cast<size_t>(n));
  if (client.request.find("\r\n\r\n") != std::string::npos ||
      client.request.find("\n\n") != std::string::npos || client.request.size() > kMaxRequest)
    answer(s, client);
}

void TMetricsServer::answer(ws::SOCKET s, Client& client) {
  client.answered = true;
  const std::string text = "text/plain; charset=utf-8";
  std::string line = client.request.substr(0, client.request.find_first_of("\r\n"));
  std::istringstream words(line);
  std::string method, target, version;
  words >> method >> target >> version;
  bool head = method == "HEAD";
  if (client.request.size() > kMaxRequest && client.request.find("\r\n\r\n") == std::string::npos) {
    client.reply =
        httpReply("431 Request Header Fields Too Large", text, "request too large\n", false);
  } else if (version.rfind("HTTP/1.", 0) != 0) {
    client.reply = httpReply("400 Bad Request", text, "not an HTTP/1 request\n", false);
  } else if (method != "GET" && !head) {
    client.reply = httpReply("405 Method Not Allowed", text, "only GET and HEAD\n", false,
                             "Allow: GET, HEAD\r\n");
  } else if (target != "/metrics" && target.rfind("/metrics?", 0) != 0) {
    client.reply = httpReply("404 Not Found", text, "the figures are at /metrics\n", head);
  } else {
    client.reply = httpReply("200 OK", "text/plain; version=0.0.4; charset=utf-8", body_(), head);
  }
  flush(s, client);
}

void TMetricsServer::flush(ws::SOCKET s, Client& client) {
  while (client.sent < client.reply.size()) {
    int n = ws::send(s, client.reply.data() + client.sent,
                     static_cast<int>(client.reply.size() - client.sent), 0);
    if (n < 0) {
      // Full: FD_WRITE comes when there is room again.
      if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) drop(s);
      return;
    }
    client.sent += static_cast<size_t>(n);
  }
  // All sent: the client closes (FD_CLOSE), or the sweep drops it.
  if (client.answered && !client.reply.empty()) ws::shutdown(s, 1);
}

void TMetricsServer::drop(ws::SOCKET s) {
  ws::closesocket(s);
  clients_.erase(s);
}

}  // namespace mirelo
