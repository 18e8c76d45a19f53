#include <gtest/gtest.h>
#include <unistd.h>

#include "driver/errors/driver_error.h"
#include "driver/protocol/custom_driver.h"
#include "test_support.h"

namespace mirelo {
namespace {

MessageLoop& loop() {
  return MessageLoop::current();
}

struct Delivered {
  std::string payload;
  int32_t id;
};

// A driver whose server listens on an ephemeral port and records deliveries.
struct Host {
  TCustomDriver driver;
  std::vector<Delivered> delivered;
  bool deliveredInsideNotification = false;
  explicit Host(TProtocol protocol) {
    driver.SetServerProtocol(protocol);
    driver.SetServerPort(0);
    driver.OnMessage = [this](const std::string& payload, int32_t id) {
      // Inside a socket notification the server's raise flag is cleared.
      if (!driver.Server().RaiseOnError()) deliveredInsideNotification = true;
      delivered.push_back({payload, id});
    };
    driver.OpenServer();
  }
  uint16_t port() { return static_cast<uint16_t>(driver.Server().BoundPort()); }
  bool waitFor(size_t count) {
    return loop().runUntil([&] { return delivered.size() >= count; }, 5000);
  }
};

std::string answerFrame(const std::string& line1, const std::string& line2) {
  std::string text =
      line1.substr(0, 30) + std::string(30 - std::min<size_t>(line1.size(), 30), ' ') +
      line2.substr(0, 30) + std::string(30 - std::min<size_t>(line2.size(), 30), ' ');
  return std::string("\xAB\x00\x3C", 3) + text;
}

TEST(DriverServer, TcpTerminalMessagesArriveInOrderFromTheLoop) {
  Host host(ptTCP);
  ASSERT_TRUE(host.driver.ServerOpened());
  int a = test::connectTo(host.port()), b = test::connectTo(host.port());
  test::writeAll(a, std::string("\xAB\x00", 2) + "4600000000001");
  ASSERT_TRUE(host.waitFor(1));
  test::writeAll(b, std::string("\xAB\x01", 2) + "2");
  ASSERT_TRUE(host.waitFor(2));
  test::writeAll(a, std::string("\xAB\x00", 2) + "3");
  ASSERT_TRUE(host.waitFor(3));
  EXPECT_EQ(host.delivered[0].payload, "4600000000001");
  EXPECT_EQ(host.delivered[1].payload, "2");
  EXPECT_EQ(host.delivered[2].payload, "3");
  EXPECT_EQ(host.delivered[0].id, host.delivered[2].id);
  EXPECT_NE(host.delivered[0].id, host.delivered[1].id);
  EXPECT_FALSE(host.deliveredInsideNotification);
  EXPECT_EQ(host.driver.LastFrameReceived(), std::string("\xAB\x00"
                                                         "3",
                                                         3));
  ::close(a);
  ::close(b);
}

TEST(DriverServer, AQueueOfMessagesIsDeliveredInArrivalOrder) {
  Host host(ptUDP);
  std::vector<std::unique_ptr<test::UdpPeer>> peers;
  for (int i = 0; i < 5; ++i) peers.push_back(std::make_unique<test::UdpPeer>());
  for (int i = 0; i < 5; ++i)
    peers[i]->sendTo(host.port(), std::string("\xAB\x00", 2) + char('a' + i));
  ::usleep(30000);
  ASSERT_TRUE(host.waitFor(5));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(host.delivered[i].payload, std::string(1, char('a' + i)));
  EXPECT_FALSE(host.deliveredInsideNotification);
}

TEST(DriverServer, SendAnswerWritesSixtyThreeBytes) {
  Host host(ptTCP);
  int terminal = test::connectTo(host.port());
  test::writeAll(terminal, std::string("\xAB\x00", 2) + "123");
  ASSERT_TRUE(host.waitFor(1));
  host.driver.SendAnswer(host.delivered[0].id, "Молоко", "");
  std::string answer = test::readSome(terminal);
  ASSERT_EQ(answer.size(), 63u);
  EXPECT_EQ(answer, answerFrame("Молоко", ""));
  EXPECT_EQ(answer.substr(0, 9), std::string("\xAB\x00\x3C", 3) + "Молоко");
  EXPECT_EQ(answer.substr(9), std::string(54, ' '));
  EXPECT_EQ(host.driver.LastFrameSent(), answer);
  // Longer lines are cut to 30 characters each.
  host.driver.SendAnswer(host.delivered[0].id, std::string(45, 'x'), std::string(31, 'y'));
  EXPECT_EQ(test::readSome(terminal), answerFrame(std::string(30, 'x'), std::string(30, 'y')));
  // A NUL byte ends a line; the rest of it is blanks.
  host.driver.SendAnswer(host.delivered[0].id, std::string("ab\0cd", 5), std::string("\0z", 2));
  EXPECT_EQ(test::readSome(terminal), answerFrame("ab", ""));
  ::close(terminal);
}

TEST(DriverServer, UnknownClientGetsNothingAndNothingFails) {
  Host host(ptTCP);
  int terminal = test::connectTo(host.port());
  test::writeAll(terminal, std::string("\xAB\x00", 2) + "1");
  ASSERT_TRUE(host.waitFor(1));
  EXPECT_NO_THROW(host.driver.SendAnswer(host.delivered[0].id + 1000, "a", "b"));
  EXPECT_EQ(test::readSome(terminal, 100), "");
  ::close(terminal);
}

TEST(DriverServer, OnlyTerminalMessagesRaiseEvents) {
  Host host(ptUDP);
  test::UdpPeer terminal;
  terminal.sendTo(host.port(), std::string("\xAC\x00"
                                           "5",
                                           3));
  terminal.sendTo(host.port(), std::string("\xAB", 1));
  terminal.sendTo(host.port(), std::string("\xAB\x07", 2));
  ASSERT_TRUE(host.waitFor(1));
  ASSERT_EQ(host.delivered.size(), 1u);
  EXPECT_EQ(host.delivered[0].payload, "") << "two bytes: an empty payload";
  EXPECT_EQ(host.driver.LastFrameReceived(), std::string("\xAB\x07", 2));
}

TEST(DriverServer, EachUdpTerminalGetsItsOwnAnswer) {
  Host host(ptUDP);
  test::UdpPeer first, second;
  first.sendTo(host.port(), std::string("\xAB\x00", 2) + "111");
  second.sendTo(host.port(), std::string("\xAB\x00", 2) + "222");
  ASSERT_TRUE(host.waitFor(2));
  for (const auto& d : host.delivered) host.driver.SendAnswer(d.id, "line for " + d.payload, "");
  EXPECT_EQ(first.receive(), answerFrame("line for 111", ""));
  EXPECT_EQ(second.receive(), answerFrame("line for 222", ""));
}

TEST(DriverServer, AFailingHandlerCostsOnlyItsOwnMessage) {
  Host host(ptUDP);
  std::vector<std::string> logLines;
  host.driver.OnLog = [&](const std::string& line) { logLines.push_back(line.substr(24)); };
  host.driver.SetLogEnabled(true);
  int calls = 0;
  host.driver.OnMessage = [&](const std::string& payload, int32_t) {
    ++calls;
    if (payload == "bad") throw std::runtime_error("host failed");
  };
  test::UdpPeer terminal;
  terminal.sendTo(host.port(), std::string("\xAB\x00", 2) + "bad");
  terminal.sendTo(host.port(), std::string("\xAB\x00", 2) + "good");
  ::usleep(30000);
  EXPECT_NO_THROW(loop().runUntil([&] { return calls == 2; }, 5000));
  EXPECT_EQ(calls, 2);
  EXPECT_NE(std::find(logLines.begin(), logLines.end(), "DataEvent: host failed"), logLines.end());
}

TEST(DriverServer, LogsReceivedBlocksAndAnswers) {
  Host host(ptTCP);
  std::vector<std::string> lines;
  host.driver.OnLog = [&](const std::string& line) { lines.push_back(line.substr(24)); };
  host.driver.SetLogEnabled(true);
  int terminal = test::connectTo(host.port());
  test::writeAll(terminal, std::string("\xAB\x00"
                                       "12",
                                       4));
  ASSERT_TRUE(host.waitFor(1));
  host.driver.SendAnswer(host.delivered[0].id, "", "");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "TCP: <- AB 00 31 32");
  EXPECT_EQ(lines[1], "TCP: -> AB 00 3C 20 20 20 20 20 20 20");
  EXPECT_EQ(lines.size(), 1u + 7u) << "63 bytes: seven lines, and no separator on the server side";
  ::close(terminal);
}

TEST(DriverServer, ChangingProtocolOrPortClosesTheServer) {
  Host host(ptTCP);
  ASSERT_TRUE(host.driver.ServerOpened());
  host.driver.SetServerPort(1);
  EXPECT_FALSE(host.driver.ServerOpened());
  EXPECT_EQ(host.driver.Server().Port(), "1");
  host.driver.SetServerPort(0);
  host.driver.OpenServer();
  EXPECT_TRUE(host.driver.ServerOpened());
  host.driver.SetServerProtocol(ptUDP);
  EXPECT_FALSE(host.driver.ServerOpened());
  EXPECT_FALSE(host.driver.Server().IsTCP());
  host.driver.OpenServer();
  EXPECT_TRUE(host.driver.ServerOpened());
  host.driver.CloseServer();
  EXPECT_FALSE(host.driver.ServerOpened());
  EXPECT_EQ(host.driver.LastFrameSent(), "");
}

TEST(DriverServer, DestroyingTheDriverLeaksNoDescriptor) {
  loop();
  int before = test::openDescriptors();
  {
    Host host(ptTCP);
    int terminal = test::connectTo(host.port());
    test::writeAll(terminal, std::string("\xAB\x00"
                                         "1",
                                         3));
    ASSERT_TRUE(host.waitFor(1));
    ::close(terminal);
  }
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(DriverServer, AnyBlockFromATerminalIsCheckedWithinItsBounds) {
  Host host(ptUDP);
  test::UdpPeer terminal;
  for (size_t length = 0; length <= 2048; length += 97) {
    std::string block(length, '\xAB');
    terminal.sendTo(host.port(), block);
  }
  terminal.sendTo(host.port(), std::string("\xAB\x00"
                                           "end",
                                           5));
  ASSERT_TRUE(loop().runUntil(
      [&] { return !host.delivered.empty() && host.delivered.back().payload == "end"; }, 5000));
  for (const auto& d : host.delivered) {
    if (d.payload != "end") {
      EXPECT_EQ(d.payload, std::string(d.payload.size(), '\xAB'));
    }
  }
}

}  // namespace
}  // namespace mirelo
