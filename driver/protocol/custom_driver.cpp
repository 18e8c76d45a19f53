#include "driver/protocol/custom_driver.h"

#include "driver/errors/driver_error.h"
#include "platform/bytes.h"
#include "platform/format.h"

namespace mirelo {

TCustomDriver::TCustomDriver() {
  log_ = std::make_unique<TLogFile>();
  log_->OnLine = [this](TLogFile& log) { onLogLine(log); };
  window_ = std::make_unique<MessageWindow>([this](const Message& m) { deliverMessages(m); });
  udpClient_ = std::make_unique<TUDPClient>();
  tcpClient_ = std::make_unique<TTCPClient>();
  udpRoute_ = {udpClient_.get(), "UDP: -> ", "UDP: <- ", kMaxUdpFrame, false, false};
  tcpRoute_ = {tcpClient_.get(), "TCP: -> ", "TCP: <- ", SIZE_MAX, true, true};
  serverProtocol_ = ptTCP;
  SetServerPort(2004);
}

TCustomDriver::~TCustomDriver() {
  server_.reset();
  udpClient_.reset();
  tcpClient_.reset();
  window_.reset();
  queue_.clear();
  log_.reset();
}

// ---- settings ----

void TCustomDriver::SetTimeout(uint32_t ms) {
  // The timeout is held in 16 bits; a larger value would silently wrap.
  if (ms == 0 || ms > 0xFFFF) raiseInvalidValue();
  timeout_ = static_cast<uint16_t>(ms);
  udpClient_->SetTimeout(ms);
  tcpClient_->SetTimeout(ms);
}

void TCustomDriver::changeConnection(const std::function<void()>& apply) {
  // The new setting takes effect even when closing raised (a terminal that
  // did not acknowledge the shutdown): the next exchange must not go to the
  // old terminal.
  std::exception_ptr failure;
  try {
    CloseClient();
  } catch (...) {
    failure = std::current_exception();
  }
  apply();
  if (failure) std::rethrow_exception(failure);
}

void TCustomDriver::SetDeviceAddress(const std::string& address) {
  auto apply = [&] {
    deviceAddress_ = address;
    udpClient_->SetAddress(address);
    tcpClient_->SetAddress(address);
  };
  if (address != deviceAddress_)
    changeConnection(apply);
  else
    apply();
}

void TCustomDriver::SetClientPort(int32_t port) {
  auto apply = [&] {
    clientPort_ = port;
    std::string text = format("%d", port);
    udpClient_->SetPort(text);
    tcpClient_->SetPort(text);
  };
  if (port != clientPort_)
    changeConnection(apply);
  else
    apply();
}

void TCustomDriver::SetClientProtocol(uint8_t protocol) {
  if (protocol == clientProtocol_) return;
  changeConnection([&] {
    clientProtocol_ = protocol;
    clientRoute_ = protocol == ptTCP ? &tcpRoute_ : &udpRoute_;
  });
}

// ---- connection ----

void TCustomDriver::openRoute(const TClientRoute& route) {
  if (route.transport->Connected()) return;
  if (route.modeCheck) CheckMode();
  route.transport->Open();
}

void TCustomDriver::Connect() {
  openRoute(*clientRoute_);
}

void TCustomDriver::OpenClient() {
  clientRoute_->transport->Open();
}

void TCustomDriver::CloseClient() {
  // The UDP client goes in both protocols, even when the TCP close raises
  // (an unacknowledged shutdown).
  struct CloseUdp {
    TUDPClient& client;
    ~CloseUdp() { client.Close(); }
  } closeUdp{*udpClient_};
  clientRoute_->transport->Close();
}

bool TCustomDriver::ClientConnected() const {
  return clientRoute_->transport->Connected();
}

// ---- exchange ----

void TCustomDriver::RouteThrough(IClientTransport* udp, IClientTransport* tcp) {
  udpRoute_.transport = udp ? udp : udpClient_.get();
  tcpRoute_.transport = tcp ? tcp : tcpClient_.get();
}

void TCustomDriver::SendOn(const TClientRoute& route, std::string_view frame, bool repeat) {
  // A reply does not say which request it answers: one that came after its
  // timeout would be taken for the reply to this request. A repeat of the
  // same request may take it.
  if (!repeat) {
    if (size_t dropped = route.transport->DiscardPending())
      log_->WriteLine(format("discarded %d bytes of a late reply", static_cast<int>(dropped)));
  }
  openRoute(route);
  if (frame.empty()) return;
  if (frame.size() > route.maxFrame) raiseInvalidValue();
  lastSent_.assign(frame);
  log_->WriteData(route.sentPrefix, frame);
  route.transport->Send(frame);
}

void TCustomDriver::logReceived(const TClientRoute& route, const std::string& reply) {
  log_->WriteData(route.receivedPrefix, reply);
  log_->WriteSeparator();
  lastReceived_ = reply;
}

std::string TCustomDriver::ReceiveOn(const TClientRoute& route) {
  std::string reply = route.transport->Receive();
  logReceived(route, reply);
  return reply;
}

namespace {
// A reply that may still grow: too short to check, or a success reply to
// this command below its minimum. An error byte or a foreign command code
// ends it (the check reports them).
bool replyIncomplete(std::string_view reply, uint8_t command, size_t minimumLength) {
  if (reply.size() < 2) return true;
  if (reply[1] != 0 || static_cast<uint8_t>(reply[0]) != command) return false;
  return reply.size() < minimumLength;
}
}  // namespace

std::string TCustomDriver::ReceiveReplyOn(const TClientRoute& route, uint8_t command,
                                          size_t minimumLength) {
  std::string reply = route.transport->Receive();
  while (route.stream && replyIncomplete(reply, command, minimumLength) && reply.size() < 2048) {
    try {
      reply += route.transport->ReceiveMore();
    } catch (const EDriverError& e) {
      // The timeout ran out (or the terminal closed): the check says what
      // is missing.
      if (e.Code() != ResultCode::NoConnection) throw;
      break;
    }
  }
  logReceived(route, reply);
  return reply;
}

void TCustomDriver::SendFrame(std::string_view frame) {
  SendOn(*clientRoute_, frame);
}

std::string TCustomDriver::ReceiveFrame() {
  return ReceiveOn(*clientRoute_);
}

std::string TCustomDriver::ReceiveReply(uint8_t command, size_t minimumLength) {
  return ReceiveReplyOn(*clientRoute_, command, minimumLength);
}

namespace {
[[noreturn]] void raiseTooShort(size_t length, size_t minimum) {
  raiseError(ResultCode::InvalidData, format(ResultText::FrameTooShort, static_cast<int>(length),
                                             static_cast<int>(minimum)));
}
[[noreturn]] void raiseMismatch(uint8_t received, uint8_t sent) {
  raiseError(ResultCode::InvalidData, format(ResultText::CommandMismatch, received, sent));
}
}  // namespace

void TCustomDriver::CheckReply(std::string_view reply, uint8_t command, size_t minimumLength) {
  if (reply.size() < 2) raiseTooShort(reply.size(), 2);
  ByteReader reader(reply);
  uint8_t code = reader.u8();
  checkDeviceError(reader.u8());
  if (code != command) raiseMismatch(code, command);
  if (reply.size() < minimumLength) raiseTooShort(reply.size(), minimumLength);
}

void TCustomDriver::CheckFirmwareReply(std::string_view reply, uint8_t command) {
  if (reply.size() < 2) raiseTooShort(reply.size(), 2);
  ByteReader reader(reply);
  uint8_t code = reader.u8();
  if (code != command) raiseMismatch(code, command);
  checkDeviceError(reader.u8());
}

std::string TCustomDriver::exchange(std::string_view request, uint8_t command, size_t minimumLength,
                                    bool repeat) {
  SendOn(*clientRoute_, request, repeat);
  std::string reply = ReceiveReply(command, minimumLength);
  CheckReply(reply, command, minimumLength);
  return reply;
}

std::string TCustomDriver::ExchangeOnce(std::string_view request, uint8_t command,
                                        size_t minimumLength) {
  return exchange(request, command, minimumLength, false);
}

std::string TCustomDriver::ExecuteCommand(uint8_t command, std::string_view data) {
  if (repeatCount_ <= 0) return {};
  std::string request = ByteWriter(1 + data.size()).u8(command).bytes(data).take();
  for (int32_t attempt = 1;; ++attempt) {
    try {
      std::string reply = exchange(request, command, 2, attempt > 1);
      return reply.substr(2);
    } catch (const std::exception&) {
      if (attempt >= repeatCount_) throw;
    }
  }
}

void TCustomDriver::SendCommandText(std::string_view hexText) {
  std::string bytes = hexTextToBytes(hexText);
  if (bytes.empty()) return;
  ExecuteCommand(static_cast<uint8_t>(bytes[0]), std::string_view(bytes).substr(1));
}

void TCustomDriver::WriteCommandText(std::string_view hexText) {
  SendFrame(hexTextToBytes(hexText));
}

void TCustomDriver::CheckMode() {
  uint16_t saved = timeout_;
  struct Restore {
    TCustomDriver& driver;
    uint16_t timeout;
    ~Restore() {
      driver.timeout_ = timeout;
      driver.udpClient_->SetTimeout(timeout);
      driver.tcpClient_->SetTimeout(timeout);
    }
  } restore{*this, saved};
  SetTimeout(saved / 3);
  const std::string request(1, static_cast<char>(kReadMode));
  for (int attempt = 1;; ++attempt) {
    try {
      SendOn(udpRoute_, request, attempt > 1);
      std::string reply = ReceiveUDP();
      CheckReply(reply, kReadMode, 4);
      if (static_cast<uint8_t>(reply[2]) == 0)
        raiseError(ResultCode::ProgrammingMode, ResultText::ProgrammingMode);
      return;
    } catch (const std::exception&) {
      if (attempt >= 3) throw;
    }
  }
}

// ---- server side ----

TCustomServer& TCustomDriver::Server() {
  if (!server_) {
    if (serverProtocol_ == ptUDP)
      server_ = std::make_unique<TUDPServer>();
    else
      server_ = std::make_unique<TTCPServer>();
    server_->SetPort(format("%d", serverPort_));
    server_->OnData = [this](TCustomServer* server, ws::SOCKET socket) {
      onServerData(server, socket);
    };
    server_->OnNotice = [this](const std::string& text) { log_->WriteLine(text); };
  }
  return *server_;
}

void TCustomDriver::SetServerPort(int32_t port) {
  if (port == serverPort_ && server_) return;
  serverPort_ = port;
  TCustomServer& server = Server();
  server.Close();
  server.SetPort(format("%d", port));
}

void TCustomDriver::SetServerProtocol(uint8_t protocol) {
  if (protocol == serverProtocol_) return;
  server_.reset();
  serverProtocol_ = protocol;
}

void TCustomDriver::OpenServer() {
  lastSent_.clear();
  lastReceived_.clear();
  Server().Open();
}

void TCustomDriver::CloseServer() {
  lastSent_.clear();
  lastReceived_.clear();
  Server().Close();
}

bool TCustomDriver::ServerOpened() const {
  return server_ && server_->State() == TSocketState::Open;
}

void TCustomDriver::WriteToClient(int32_t clientId, std::string_view bytes) {
  TCustomServer& server = Server();
  log_->WriteData(server.IsTCP() ? "TCP: -> " : "UDP: -> ", bytes);
  server.WriteToClient(clientId, bytes);
}

TCustomDriver::TAnswerFrame TCustomDriver::AnswerFrame(std::string_view line1,
                                                       std::string_view line2) {
  // Each line cut to 30 bytes, ended at a NUL byte, padded with blanks: what
  // "%-30.*s" makes of it, without formatting on every answer.
  constexpr size_t kWidth = 30;
  TAnswerFrame frame;
  frame.fill(' ');
  frame[0] = static_cast<char>(kTerminalMessage);
  frame[1] = '\0';
  frame[2] = static_cast<char>(2 * kWidth);
  char* to = frame.data() + 3;
  for (std::string_view line : {line1, line2}) {
    line = line.substr(0, kWidth);
    line = line.substr(0, line.find('\0'));
    line.copy(to, line.size());
    to += kWidth;
  }
  return frame;
}

void TCustomDriver::SendAnswer(int32_t clientId, std::string_view line1, std::string_view line2) {
  // On the stack, and kept in memory lastSent_ already has: no allocation per
  // answer, and a host that answers again from a log event sends its own.
  TAnswerFrame frame = AnswerFrame(line1, line2);
  lastSent_.assign(frame.data(), frame.size());
  WriteToClient(clientId, std::string_view(frame.data(), frame.size()));
}

std::optional<std::string> TCustomDriver::TerminalMessagePayload(std::string_view block) {
  if (block.size() < 2 || static_cast<uint8_t>(block[0]) != kTerminalMessage) return std::nullopt;
  return std::string(block.substr(2));
}

void TCustomDriver::onServerData(TCustomServer* server, ws::SOCKET socket) {
  TServerBlock block = server->Read(socket);
  if (block.data.empty()) return;
  log_->WriteData(server->IsTCP() ? "TCP: <- " : "UDP: <- ", block.data);
  if (!block.client) return;
  lastReceived_ = block.data;
  std::optional<std::string> payload = TerminalMessagePayload(block.data);
  if (!payload || !OnMessage) return;
  // Delivered later from the core's own window, never inside the socket
  // notification, in arrival order.
  queue_.emplace_back(std::move(*payload), block.client->ID());
  window_->post(WM_DRIVER_MESSAGE);
}

void TCustomDriver::deliverMessages(const Message& message) {
  if (message.msg != WM_DRIVER_MESSAGE) return;
  while (!queue_.empty()) {
    auto item = std::move(queue_.front());
    queue_.pop_front();
    if (!OnMessage) continue;
    // A failing handler costs only its own message: the rest are still
    // delivered, and nothing escapes into the message loop.
    try {
      OnMessage(item.first, item.second);
    } catch (const std::exception& e) {
      log_->WriteLine(std::string("DataEvent: ") + e.what());
    } catch (...) {
      log_->WriteLine("DataEvent: unknown failure");
    }
  }
}

void TCustomDriver::onLogLine(TLogFile& log) {
  lastLogLine_ = log.LastLine();
  if (OnLog) OnLog(lastLogLine_);
}

}  // namespace mirelo
