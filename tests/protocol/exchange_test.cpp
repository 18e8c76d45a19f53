#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "outcome.h"
#include "platform/format.h"
#include "test_support.h"
#include "tools/termsim/termsim.h"

namespace mirelo {
namespace {

using test::outcome;

std::vector<std::string> framesOf(const termsim::Simulator& sim, termsim::Transport transport) {
  std::vector<std::string> frames;
  for (const auto& entry : sim.journal())
    if (entry.transport == transport) frames.push_back(entry.bytes);
  return frames;
}

// A driver aimed at a running simulator on loopback.
struct Bench {
  termsim::Simulator sim;
  TCustomDriver driver;
  explicit Bench(TProtocol protocol, uint32_t timeout = 300) {
    sim.start();
    driver.SetDeviceAddress("127.0.0.1");
    driver.SetClientPort(sim.port());
    driver.SetTimeout(timeout);
    driver.SetClientProtocol(protocol);
  }
};

TEST(CheckReply, FailuresComeInTheirOrder) {
  struct Case {
    std::string reply;
    size_t minimum;
    int32_t code;
    std::string text;
  } cases[] = {
      {"", 2, -15, "Длина принятого кадра (0) меньше минимальной длины кадра (2)."},
      {"\xBB", 29, -15, "Длина принятого кадра (1) меньше минимальной длины кадра (2)."},
      {"\xBC\xD6", 29, 214, "Неверная последовательность команд."},  // error byte before code
      {std::string("\xBC\x00", 2), 29, -15,
       "Код команды принятого кадра (188) \r\nне равен коду команды посланного кадра (187)."},
      {std::string("\xBB\x00", 2) + std::string(26, '\0'), 29, -15,
       "Длина принятого кадра (28) меньше минимальной длины кадра (29)."},
      {std::string("\xBB\x00", 2) + std::string(27, '\0'), 29, 0, "Ошибок нет"},
      {"\xBB\xD4", 2, 212, "Устройство вернуло код ошибки: 212"},
  };
  for (const auto& c : cases) {
    ResultOf r = outcome([&] { TCustomDriver::CheckReply(c.reply, 0xBB, c.minimum); });
    EXPECT_EQ(r.code, c.code) << bytesToHex(c.reply);
    EXPECT_EQ(r.text, c.text) << bytesToHex(c.reply);
  }
}

TEST(CheckReply, ReadsNothingOutOfBoundsForAnyLength) {
  std::string reply;
  for (size_t length = 0; length <= 2048; ++length) {
    ResultOf r = outcome([&] { TCustomDriver::CheckReply(reply, 0xBB, 29); });
    EXPECT_EQ(r.code, length < 29 ? -15 : 0) << length;
    reply += static_cast<char>(length == 0 ? 0xBB : 0);
  }
}

TEST(Exchange, RepeatedExchangeSendsUpToTheRepeatCount) {
  test::UdpPeer silent;
  TCustomDriver driver;
  driver.SetDeviceAddress("127.0.0.1");
  driver.SetClientPort(silent.port);
  driver.SetTimeout(60);
  driver.SetRepeatCount(3);
  ResultOf r = outcome([&] { driver.ExecuteCommand(0xC9, ""); });
  EXPECT_EQ(r.code, -1);
  int requests = 0;
  while (!silent.receive(50).empty()) ++requests;
  EXPECT_EQ(requests, 3);
  driver.SetRepeatCount(0);
  std::string result = "unset";
  EXPECT_EQ(outcome([&] { result = driver.ExecuteCommand(0xC9, ""); }).code, 0);
  EXPECT_EQ(result, "");
  EXPECT_EQ(silent.receive(50), "") << "nothing sent with a repeat count of 0";
}

TEST(Exchange, ARepeatedExchangeSucceedsOnALaterAttempt) {
  Bench b(ptUDP, 100);
  b.driver.SetRepeatCount(3);
  termsim::Faults faults;
  faults.dropEvery = 2;  // the second request goes unanswered
  b.sim.setFaults(faults);
  b.driver.ExecuteCommand(0xC9, "");                 // request 1: answered
  EXPECT_EQ(b.driver.ExecuteCommand(0xC9, ""), "");  // request 2 dropped, 3 answered
  EXPECT_EQ(framesOf(b.sim, termsim::Transport::UDP).size(), 3u);
  EXPECT_EQ(b.driver.LastFrameReceived(), std::string("\xC9\x00", 2));
}

TEST(Exchange, AnErrorByteIsRepeatedAndFinallyRaised) {
  Bench b(ptUDP);
  b.driver.SetRepeatCount(2);
  termsim::Faults faults;
  faults.errorFor[0xC9] = 217;
  b.sim.setFaults(faults);
  ResultOf r = outcome([&] { b.driver.ExecuteCommand(0xC9, ""); });
  EXPECT_EQ(r.code, 217);
  EXPECT_EQ(r.text, "Невозможно выполнить операцию.");
  EXPECT_EQ(framesOf(b.sim, termsim::Transport::UDP).size(), 2u);
}

TEST(Exchange, UdpFramesAreLimitedTo512Bytes) {
  test::UdpPeer peer;
  TCustomDriver driver;
  driver.SetDeviceAddress("127.0.0.1");
  driver.SetClientPort(peer.port);
  driver.SetTimeout(100);
  ResultOf r = outcome([&] { driver.SendFrame(std::string(513, 'x')); });
  EXPECT_EQ(r.code, -6);
  EXPECT_EQ(r.text, "Недопустимое значение");
  EXPECT_EQ(peer.receive(100), "");
  driver.SendFrame(std::string(512, 'y'));
  EXPECT_EQ(peer.receive().size(), 512u);
  EXPECT_EQ(driver.LastFrameSent(), std::string(512, 'y'));
}

TEST(Exchange, ZeroTimeoutIsRefused) {
  TCustomDriver driver;
  EXPECT_EQ(outcome([&] { driver.SetTimeout(0); }).code, -6);
  EXPECT_EQ(outcome([&] { driver.SetTimeout(65536); }).code, -6);
  driver.SetTimeout(65535);
  EXPECT_EQ(driver.Timeout(), 65535);
}

TEST(Exchange, CommandTextIsSentAsBytes) {
  Bench b(ptUDP);
  b.driver.SendCommandText("BB");
  EXPECT_EQ(b.driver.LastFrameSent(), "\xBB");
  EXPECT_EQ(b.driver.LastFrameReceived().size(), 29u);
  b.driver.WriteCommandText("c9 C9");  // lower case separates: 0x09, then 0xC9
  ASSERT_TRUE(b.sim.waitForJournal(2));
  EXPECT_EQ(b.sim.journal().back().bytes, "\x09\xC9");
  b.driver.SendCommandText("zz");  // no byte: nothing happens
  EXPECT_EQ(b.sim.requests(), 2u);
}

TEST(ModeCheck, EveryNewTcpConnectionIsGuardedOverUdp) {
  Bench b(ptTCP);
  b.driver.ExchangeOnce("\xBB", 0xBB, 29);
  b.driver.ExchangeOnce("\xBB", 0xBB, 29);
  auto udp = framesOf(b.sim, termsim::Transport::UDP);
  auto tcp = framesOf(b.sim, termsim::Transport::TCP);
  ASSERT_EQ(udp.size(), 1u) << "one mode check for one connection";
  EXPECT_EQ(udp[0], "\xC3");
  EXPECT_EQ(tcp.size(), 2u);
  EXPECT_EQ(b.sim.tcpAccepted(), 1u);
  EXPECT_EQ(b.driver.Timeout(), 300) << "the timeout is restored";
}

TEST(ModeCheck, ProgrammingModeRefusesTheConnection) {
  Bench b(ptTCP);
  b.sim.setProgrammingMode(true);
  ResultOf r = outcome([&] { b.driver.Connect(); });
  EXPECT_EQ(r.code, -16);
  EXPECT_EQ(r.text, "Команда недоступна в режиме программирования");
  EXPECT_EQ(framesOf(b.sim, termsim::Transport::UDP), std::vector<std::string>(3, "\xC3"));
  EXPECT_EQ(b.sim.tcpAccepted(), 0u);
  EXPECT_FALSE(b.driver.ClientConnected());
  EXPECT_EQ(b.driver.Timeout(), 300);
}

TEST(ModeCheck, EachAttemptWaitsAThirdOfTheTimeout) {
  Bench b(ptTCP, 300);
  termsim::Faults faults;
  faults.dropEvery = 1;
  b.sim.setFaults(faults);
  uint32_t start = GetTickCount();
  ResultOf r = outcome([&] { b.driver.Connect(); });
  uint32_t elapsed = GetTickCount() - start;
  EXPECT_EQ(r.code, -1);
  EXPECT_GE(elapsed, 270u);
  EXPECT_LT(elapsed, 800u) << "three waits of 100 ms, not of 300 ms";
  EXPECT_EQ(b.driver.Timeout(), 300);
}

TEST(Settings, TransportsCloseOnlyWhenAValueChanges) {
  Bench b(ptTCP);
  b.driver.Connect();
  ASSERT_TRUE(b.driver.ClientConnected());
  b.driver.SetDeviceAddress("127.0.0.1");
  b.driver.SetClientPort(b.sim.port());
  b.driver.SetClientProtocol(ptTCP);
  EXPECT_TRUE(b.driver.ClientConnected());
  b.driver.SetClientPort(b.sim.port() == 1 ? 2 : 1);
  EXPECT_FALSE(b.driver.ClientConnected());
  b.driver.SetClientPort(b.sim.port());
  b.driver.Connect();
  b.driver.SetDeviceAddress("127.0.0.2");
  EXPECT_FALSE(b.driver.ClientConnected());
  EXPECT_EQ(b.driver.DeviceAddress(), "127.0.0.2");
  b.driver.SetDeviceAddress("127.0.0.1");
  b.driver.Connect();
  b.driver.SetClientProtocol(ptUDP);
  EXPECT_FALSE(b.driver.TCPClient().Connected());
}

TEST(Settings, EachExchangeGoesOverTheTransportOfTheCurrentProtocolAndPort) {
  Bench b(ptUDP);
  termsim::Simulator other;
  other.start();
  std::vector<std::string> lines;
  b.driver.OnLog = [&](const std::string& line) { lines.push_back(line.substr(24)); };
  b.driver.SetLogEnabled(true);
  using termsim::Transport;
  struct Step {
    TProtocol protocol;
    termsim::Simulator& sim;
    Transport transport;
    const char* sentLine;
  } steps[] = {{ptTCP, b.sim, Transport::TCP, "TCP: -> C9"},
               {ptUDP, b.sim, Transport::UDP, "UDP: -> C9"},
               {ptUDP, other, Transport::UDP, "UDP: -> C9"},
               {ptTCP, other, Transport::TCP, "TCP: -> C9"},
               {ptTCP, b.sim, Transport::TCP, "TCP: -> C9"}};
  auto exchanges = [](const termsim::Simulator& sim, Transport transport) {
    return std::ranges::count(framesOf(sim, transport), std::string("\xC9"));
  };
  for (const Step& step : steps) {
    b.driver.SetClientProtocol(step.protocol);
    b.driver.SetClientPort(step.sim.port());
    auto before = exchanges(step.sim, step.transport);
    b.driver.ExchangeOnce("\xC9", 0xC9, 2);
    EXPECT_EQ(exchanges(step.sim, step.transport), before + 1) << step.sentLine;
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], step.sentLine);
    EXPECT_TRUE(b.driver.ClientConnected());
  }
  EXPECT_EQ(b.sim.tcpAccepted() + other.tcpAccepted(), 3u)
      << "a fresh connection after each change";
}

TEST(Settings, ATcpReplyInTwoSegmentsIsReadAsOne) {
  Bench b(ptTCP);
  termsim::Faults faults;
  faults.splitReply = true;
  faults.onlyCommand = 0xBB;
  b.sim.setFaults(faults);
  EXPECT_EQ(b.driver.ExchangeOnce("\xBB", 0xBB, 29).size(), 29u);
  // One that never reaches its minimum is checked when its timeout ends.
  faults.splitReply = false;
  faults.truncateTo = 14;
  b.sim.setFaults(faults);
  ResultOf r = outcome([&] { b.driver.ExchangeOnce("\xBB", 0xBB, 29); });
  EXPECT_EQ(r.code, -15);
  EXPECT_EQ(r.text, "Длина принятого кадра (14) меньше минимальной длины кадра (29).");
  // An error reply is whole at two bytes.
  b.sim.clearFaults();
  faults = {};
  faults.errorFor[0xBB] = 217;
  b.sim.setFaults(faults);
  EXPECT_EQ(outcome([&] { b.driver.ExchangeOnce("\xBB", 0xBB, 29); }).code, 217);
  EXPECT_EQ(b.driver.LastFrameReceived(), "\xBB\xD9");
}

// Replies do not name their request: one that comes after its timeout is
// dropped when the next request goes out, whatever the command and transport.
TEST(LateReply, IsNeverTakenForTheNextRequest) {
  using Read = std::function<std::string(TCustomDriver&, termsim::Simulator&, int)>;
  const struct {
    const char* name;
    uint8_t command;
    Read read;  // the k-th of two different answers
  } cases[] = {
      {"status", 0xBB,
       [](TCustomDriver& d, termsim::Simulator& sim, int k) {
         termsim::StatusInfo status = sim.status();
         status.setSerialNumber(static_cast<uint16_t>(k + 1));
         sim.setStatus(status);
         return std::to_string(d.ReadStatus().SerialNumber);
       }},
      {"table", 0xBD, [](TCustomDriver& d, termsim::Simulator&, int k) { return d.ReadTable(k); }},
      {"memory block", 0x83,
       [](TCustomDriver& d, termsim::Simulator&, int k) { return d.ReadDataBlock(0, k).Data; }},
  };
  for (TProtocol protocol : {ptUDP, ptTCP}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (protocol == ptTCP ? " over TCP" : " over UDP"));
      Bench b(protocol, 200);
      b.driver.SetRepeatCount(1);
      std::vector<std::string> lines;
      b.driver.OnLog = [&](const std::string& line) { lines.push_back(line.substr(24)); };
      b.driver.SetLogEnabled(true);
      std::string first = c.read(b.driver, b.sim, 0);
      size_t lateBytes = b.driver.LastFrameReceived().size();
      std::string second = c.read(b.driver, b.sim, 1);
      ASSERT_NE(first, second);

      termsim::Faults faults;
      faults.delayMs = 400;
      faults.onlyCommand = c.command;
      faults.once = true;
      b.sim.setFaults(faults);
      EXPECT_EQ(outcome([&] { c.read(b.driver, b.sim, 0); }).code, -1);
      ws::SOCKET socket =
          protocol == ptTCP ? b.driver.TCPClient().Handle() : b.driver.UDPClient().Handle();
      ASSERT_EQ(ws::waitReady(socket, false, 5000), 1) << "the late reply has come";
      lines.clear();
      EXPECT_EQ(c.read(b.driver, b.sim, 1), second);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines[0],
                format("discarded %d bytes of a late reply", static_cast<int>(lateBytes)));
    }
  }
}

TEST(Settings, TheTerminalClosingItsConnectionIsSurvived) {
  Bench b(ptTCP);
  termsim::Faults faults;
  faults.closeAfterRequest = true;
  b.sim.setFaults(faults);
  b.driver.ExchangeOnce("\xBB", 0xBB, 29);
  ASSERT_TRUE(MessageLoop::current().runUntil([&] { return !b.driver.ClientConnected(); }, 5000));
  b.sim.clearFaults();
  b.driver.ExchangeOnce("\xBB", 0xBB, 29);
  EXPECT_EQ(b.sim.tcpAccepted(), 2u);
}

TEST(Exchange, FramesAreLoggedWithASeparatorAfterEachReply) {
  Bench b(ptUDP);
  std::vector<std::string> lines;
  b.driver.OnLog = [&](const std::string& line) { lines.push_back(line.substr(24)); };
  b.driver.SetLogEnabled(true);
  b.driver.ExchangeOnce("\xC9", 0xC9, 2);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "UDP: -> C9");
  EXPECT_EQ(lines[1], "UDP: <- C9 00");
  EXPECT_EQ(lines[2], std::string(60, '-'));
  EXPECT_EQ(b.driver.LastLogLine().substr(24), lines[2]);
  b.driver.SetLogEnabled(false);
  b.driver.ExchangeOnce("\xC9", 0xC9, 2);
  EXPECT_EQ(lines.size(), 3u);
}

}  // namespace
}  // namespace mirelo
