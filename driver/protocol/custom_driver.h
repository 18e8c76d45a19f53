#pragma once
// The driver core: the selected terminal's connection settings, the frame
// exchange with it (once, or repeated up to the repeat count), the
// programming-mode check that guards every new TCP connection, and the
// server side on which terminals send their own messages.
//
// Frames carry no header, length or checksum: a frame is one datagram or one
// read of at most 2048 bytes. A reply repeats the command byte, adds an error
// byte, then its data. Since a reply does not name its request, whatever is
// waiting on the socket when a request goes out (a reply that came after its
// timeout) is dropped first; only the repeats of one request take each
// other's replies. Over TCP a reply shorter than its command's minimum is
// read on until it is long enough or its one timeout ends.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "driver/net/wsockets.h"
#include "driver/protocol/clients.h"
#include "driver/protocol/log_file.h"
#include "driver/protocol/status_rec.h"
#include "driver/tables/table_records.h"
#include "mirelo/vistel_protocol.h"
#include "platform/message_loop.h"

namespace mirelo {

// Delivery of queued terminal messages to the core's own window.
constexpr uint32_t WM_DRIVER_MESSAGE = WM_USER + 256;

constexpr uint8_t kTerminalMessage = 0xAB;
constexpr uint8_t kReadMode = 0xC3;
constexpr size_t kMaxUdpFrame = 512;

class TCustomDriver {
 public:
  using TMessageHandler = std::function<void(const std::string& payload, int32_t clientId)>;
  using TLogHandler = std::function<void(const std::string& line)>;

  TCustomDriver();
  virtual ~TCustomDriver();
  TCustomDriver(const TCustomDriver&) = delete;
  TCustomDriver& operator=(const TCustomDriver&) = delete;

  // ---- selected terminal ----
  uint16_t Timeout() const { return timeout_; }
  void SetTimeout(uint32_t ms);  // 0 raises -6
  const std::string& DeviceAddress() const { return deviceAddress_; }
  void SetDeviceAddress(const std::string& address);
  int32_t ClientPort() const { return clientPort_; }
  void SetClientPort(int32_t port);
  uint8_t ClientProtocol() const { return clientProtocol_; }
  void SetClientProtocol(uint8_t protocol);
  int32_t RepeatCount() const { return repeatCount_; }
  void SetRepeatCount(int32_t count) { repeatCount_ = count; }

  // The transport of the client protocol is chosen when the protocol is set;
  // these and the exchange act on it alone.
  void Connect();      // TCP: mode check, then connect; UDP: open
  void OpenClient();   // the same without the mode check
  void CloseClient();  // the UDP client is closed in either protocol
  bool ClientConnected() const;

  // ---- exchange ----
  // Drops what is waiting unread on the socket first (logged as a late reply).
  void SendFrame(std::string_view frame);
  // One block, as it comes.
  std::string ReceiveFrame();
  // The reply to `command`: over TCP, blocks are joined until the reply has
  // its minimum length, carries an error byte or another command code, or
  // its one timeout ends (what came then goes to the check).
  std::string ReceiveReply(uint8_t command, size_t minimumLength);
  // Length, error byte, command code, minimum length: the first failure raises.
  static void CheckReply(std::string_view reply, uint8_t command, size_t minimumLength);
  std::string ExchangeOnce(std::string_view request, uint8_t command, size_t minimumLength);
  // Up to the repeat count; returns the reply data after command and error
  // bytes. A repeat count of 0 or less sends nothing and returns "".
  std::string ExecuteCommand(uint8_t command, std::string_view data);
  void SendCommandText(std::string_view hexText);
  void WriteCommandText(std::string_view hexText);
  const std::string& LastFrameSent() const { return lastSent_; }
  const std::string& LastFrameReceived() const { return lastReceived_; }
  // Raises -16 when the terminal reports programming mode.
  void CheckMode();

  // ---- server side ----
  int32_t ServerPort() const { return serverPort_; }
  void SetServerPort(int32_t port);
  uint8_t ServerProtocol() const { return serverProtocol_; }
  void SetServerProtocol(uint8_t protocol);
  void OpenServer();
  void CloseServer();
  bool ServerOpened() const;
  void WriteToClient(int32_t clientId, std::string_view bytes);
  void SendAnswer(int32_t clientId, std::string_view line1, std::string_view line2);
  // The server, created when absent.
  TCustomServer& Server();
  // The payload of a terminal message (0xAB, one byte, the payload), or
  // nothing for any other data.
  static std::optional<std::string> TerminalMessagePayload(std::string_view block);
  // The answer frame: 0xAB, 0x00, 60, the two lines cut and padded to 30.
  using TAnswerFrame = std::array<char, 63>;
  static TAnswerFrame AnswerFrame(std::string_view line1, std::string_view line2);
  size_t QueuedMessages() const { return queue_.size(); }

  // ---- log ----
  TLogFile& Log() { return *log_; }
  bool LogEnabled() const { return log_->Enabled(); }
  void SetLogEnabled(bool enabled) { log_->SetEnabled(enabled); }
  const std::string& LogFileName() const { return log_->FileName(); }
  void SetLogFileName(const std::string& name) { log_->SetFileName(name); }
  const std::string& LastLogLine() const { return lastLogLine_; }

  // ---- terminal commands ----
  // Each raises on failure; "once" commands make one exchange, the others are
  // tried up to the repeat count.
  struct TMessageLines {
    std::string Line1;
    std::string Line2;
  };
  struct TDataBlock {
    uint16_t BlockCount = 0;
    std::string Data;  // 1024 bytes
  };

  TStatusRec ReadStatus();
  void Lock(bool locked);
  void Reset();
  void InitTables();
  void TestExchange();
  // Raises -6 "'%s' не является корректным IP адресом." and sends nothing
  // for an invalid text. Once the terminal has accepted the address, the
  // system's address cache entries for the old and the new address are
  // dropped and the driver follows the terminal to the new address.
  void SetIPAddress(const std::string& newAddress);
  void ShowMessage(std::string_view line1, std::string_view line2);
  // parameters1 and parameters2 are bytes, cut or padded with 0x00 to 5.
  void ShowMessage2(std::string_view line1, std::string_view line2, std::string_view parameters1,
                    std::string_view parameters2, uint8_t outputTime);
  void ShowLine(uint8_t lineNumber, uint8_t lineType, uint8_t lineSpeed, std::string_view text);
  TMessageLines ReadMessage(uint8_t number);
  void WriteMessage(uint8_t number, std::string_view line1, std::string_view line2);
  TMessageLines SetDefaultMessage(uint8_t number);
  void SendBarcode(std::string_view barcode);
  // Empty when the terminal answers 211: the number is past the last table
  // (or field), which ends an enumeration.
  std::optional<TTableRec> ReadTableStruct(uint8_t tableNumber);
  std::optional<TFieldRec> ReadFieldStruct(uint8_t tableNumber, uint8_t fieldNumber);
  // The row data of all rows.
  std::string ReadTable(uint8_t tableNumber);
  void WriteTable(uint8_t tableNumber, std::string_view rowData);
  TDataBlock ReadDataBlock(uint8_t deviceCode, uint16_t blockNumber);

  // ---- firmware ----
  static constexpr size_t FirmwareMaxSize = 122880;
  static constexpr size_t FirmwareBlockSize = 256;
  // The terminal needs this long to enter programming mode after 0xC0.
  static constexpr std::chrono::milliseconds ProgrammingModePause{1000};
  // Called after every block sent: blocks sent so far, blocks in all.
  using TFirmwareProgress = std::function<void(int blocksSent, int blockCount)>;
  // Loads the file into the terminal over UDP, whatever the client protocol.
  // A file that cannot be read or is over FirmwareMaxSize raises (-199)
  // before any frame is sent. Leaves no client connection open.
  void UpdateFirmware(const std::string& fileName, const TFirmwareProgress& progress = {});
  // ---- end of terminal commands and firmware ----

  TMessageHandler OnMessage;
  TLogHandler OnLog;

  TUDPClient& UDPClient() { return *udpClient_; }
  TTCPClient& TCPClient() { return *tcpClient_; }

 protected:
  // A client protocol as the frame exchange sees it.
  struct TClientRoute {
    IClientTransport* transport;
    const char* sentPrefix;  // of the log lines
    const char* receivedPrefix;
    size_t maxFrame;  // longer frames raise -6 and are not sent
    bool modeCheck;   // a new connection is first guarded by CheckMode
    bool stream;      // a reply may take more than one read
  };
  // Drops a late reply (unless this is a repeat of the request just sent),
  // opens the route's transport (with the mode check where it asks for
  // one), then sends the frame; an empty frame only opens.
  void SendOn(const TClientRoute& route, std::string_view frame, bool repeat = false);
  std::string ReceiveOn(const TClientRoute& route);
  std::string ReceiveReplyOn(const TClientRoute& route, uint8_t command, size_t minimumLength);
  // The UDP route, whatever the client protocol (mode check, firmware).
  void SendUDP(std::string_view frame) { SendOn(udpRoute_, frame); }
  std::string ReceiveUDP() { return ReceiveOn(udpRoute_); }
  // Firmware frames check the command code before the error byte.
  static void CheckFirmwareReply(std::string_view reply, uint8_t command);
  // Test seam: the routes carry frames through these transports instead of
  // the sockets (nullptr keeps the socket transport).
  void RouteThrough(IClientTransport* udp, IClientTransport* tcp);

 private:
  void changeConnection(const std::function<void()>& apply);
  void openRoute(const TClientRoute& route);
  std::string exchange(std::string_view request, uint8_t command, size_t minimumLength,
                       bool repeat);
  void logReceived(const TClientRoute& route, const std::string& reply);
  void onServerData(TCustomServer* server, ws::SOCKET socket);
  void deliverMessages(const Message& message);
  void onLogLine(TLogFile& log);

  uint16_t timeout_ = 0;
  std::string deviceAddress_;
  int32_t clientPort_ = 0;
  uint8_t clientProtocol_ = ptUDP;
  int32_t repeatCount_ = 3;
  std::string lastSent_;
  std::string lastReceived_;
  int32_t serverPort_ = 0;
  uint8_t serverProtocol_ = ptTCP;
  std::string lastLogLine_;

  std::unique_ptr<TLogFile> log_;
  std::deque<std::pair<std::string, int32_t>> queue_;
  std::unique_ptr<MessageWindow> window_;
  std::unique_ptr<TUDPClient> udpClient_;
  std::unique_ptr<TTCPClient> tcpClient_;
  TClientRoute udpRoute_{};
  TClientRoute tcpRoute_{};
  const TClientRoute* clientRoute_ = &udpRoute_;
  std::unique_ptr<TCustomServer> server_;
};

}  // namespace mirelo
