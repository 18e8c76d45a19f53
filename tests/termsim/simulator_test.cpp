// The server side of the simulator: ports, faults, journal, discovery,
// start and stop.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/exception.h"
#include "platform/format.h"
#include "tests/termsim/loopback.h"
#include "tools/termsim/termsim.h"

using namespace termsim_test;
using mirelo::bytesToHex;
using termsim::Transport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kStatusSize = 29;

size_t openDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

long elapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "termsim_" + std::to_string(getpid()) + "_" + name;
}

TEST(SimulatorPorts, OnePortServesUdpAndTcp) {
  termsim::Simulator sim;
  sim.start();
  ASSERT_NE(sim.port(), 0);
  UdpPeer udp;
  udp.sendTo(sim.port(), bytes("C9"));
  EXPECT_EQ(udp.receive(), bytes("C9 00"));
  TcpPeer tcp = TcpPeer::connectTo(sim.port());
  tcp.sendAll(bytes("C9"));
  EXPECT_EQ(tcp.receive(), bytes("C9 00"));
  EXPECT_EQ(sim.tcpAccepted(), 1u);
}

TEST(SimulatorPorts, ATakenPortIsReported) {
  termsim::Simulator first;
  first.start();
  termsim::Options options;
  options.port = first.port();
  termsim::Simulator second(options);
  EXPECT_THROW(second.start(), mirelo::Exception);
  EXPECT_FALSE(second.running());
}

TEST(SimulatorPorts, BindAddressMustBeDotted) {
  termsim::Options options;
  options.bindAddress = "localhost:1";
  termsim::Simulator sim(options);
  EXPECT_THROW(sim.start(), mirelo::Exception);
}

TEST(SimulatorPorts, StopClosesEverySocketAndRestartServesAgain) {
  size_t before = openDescriptors();
  {
    termsim::Simulator sim;
    sim.start();
    TcpPeer tcp = TcpPeer::connectTo(sim.port());
    tcp.sendAll(bytes("BB"));
    ASSERT_TRUE(tcp.receive().has_value());
    sim.stop();
    EXPECT_FALSE(sim.running());
    EXPECT_EQ(tcp.receive(), std::string());  // closed by the simulator
    sim.start();
    UdpPeer udp;
    udp.sendTo(sim.port(), bytes("C9"));
    EXPECT_EQ(udp.receive(), bytes("C9 00"));
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(SimulatorDiscovery, AnswersTheStatusRequestToItsSource) {
  termsim::Options options;
  options.state.status.setDeviceType(2);
  options.state.status.setSerialNumber(0x0102);
  termsim::Simulator sim(options);
  sim.start();
  ASSERT_NE(sim.discoveryPort(), 0);
  ASSERT_NE(sim.discoveryPort(), sim.port());
  UdpPeer peer;
  peer.sendTo(sim.discoveryPort(), bytes("BB"));
  std::optional<std::string> reply = peer.receive();
  ASSERT_TRUE(reply.has_value());
  ASSERT_EQ(reply->size(), kStatusSize);
  EXPECT_EQ(static_cast<uint8_t>((*reply)[26]), 2);
  EXPECT_EQ(static_cast<uint8_t>((*reply)[27]) << 8 | static_cast<uint8_t>((*reply)[28]), 0x0102);
  EXPECT_EQ(*reply, termsim::statusReply(sim.status()));
}

TEST(SimulatorDiscovery, IgnoresEverythingButTheOneByteRequest) {
  termsim::Simulator sim;
  sim.start();
  UdpPeer peer;
  peer.sendTo(sim.discoveryPort(), bytes("BB 00"));
  peer.sendTo(sim.discoveryPort(), bytes("C9"));
  ASSERT_TRUE(sim.waitForJournal(2));
  peer.sendTo(sim.discoveryPort(), bytes("BB"));
  std::optional<std::string> reply = peer.receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->size(), kStatusSize);  // the first reply is that to the last request
  std::vector<termsim::JournalEntry> journal = sim.journal();
  ASSERT_EQ(journal.size(), 3u);
  for (const auto& entry : journal) EXPECT_TRUE(entry.discovery);
  EXPECT_EQ(sim.requests(), 0u);
}

TEST(SimulatorDiscovery, CanBeLeftOut) {
  termsim::Options options;
  options.discoveryPort = -1;
  termsim::Simulator sim(options);
  sim.start();
  EXPECT_EQ(sim.discoveryPort(), 0);
}

TEST(SimulatorJournal, RecordsEveryFrameWithItsTransport) {
  termsim::Options options;
  options.journalFile = tempPath("journal.txt");
  termsim::Simulator sim(options);
  sim.start();
  UdpPeer udp;
  udp.sendTo(sim.port(), bytes("BB"));
  ASSERT_TRUE(udp.receive());
  TcpPeer tcp = TcpPeer::connectTo(sim.port());
  tcp.sendAll(bytes("AD 00 00 00"));
  ASSERT_TRUE(tcp.receive());
  udp.sendTo(sim.discoveryPort(), bytes("BB"));
  ASSERT_TRUE(udp.receive());
  udp.sendTo(sim.port(), "");  // an empty datagram is recorded, not answered
  ASSERT_TRUE(sim.waitForJournal(4));

  std::vector<termsim::JournalEntry> expected = {{Transport::UDP, bytes("BB"), false},
                                                 {Transport::TCP, bytes("AD 00 00 00"), false},
                                                 {Transport::UDP, bytes("BB"), true},
                                                 {Transport::UDP, "", false}};
  EXPECT_EQ(sim.journal(), expected);
  sim.stop();
  std::ifstream file(options.journalFile);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "UDP: BB\nTCP: AD 00 00 00\nUDP discovery: BB\nUDP: \n");
  std::remove(options.journalFile.c_str());

  sim.clearJournal();
  EXPECT_TRUE(sim.journal().empty());
}

TEST(SimulatorJournal, FormatsUpperCaseHexWithSingleBlanks) {
  EXPECT_EQ(termsim::formatJournalLine({Transport::TCP, bytes("0a ff 00"), false}),
            "TCP: 0A FF 00");
  EXPECT_EQ(termsim::formatJournalLine({Transport::UDP, bytes("ab"), true}), "UDP discovery: AB");
}

TEST(SimulatorJournal, AnUnwritableFileFailsStart) {
  termsim::Options options;
  options.journalFile = "/nonexistent-dir/journal.txt";
  termsim::Simulator sim(options);
  EXPECT_THROW(sim.start(), mirelo::EFileError);
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { sim_.start(); }
  termsim::Simulator sim_;
  UdpPeer udp_;
};

TEST_F(Faults, DropEveryNthReply) {
  termsim::Faults faults;
  faults.dropEvery = 2;
  sim_.setFaults(faults);
  // Requests 2 and 4 get no reply: the next datagram to arrive is always the
  // reply to the request after them.
  const char* requests[] = {"C9", "2D 00", "BB", "2D 01", "C3"};
  udp_.sendTo(sim_.port(), bytes(requests[0]));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
  for (int i : {1, 3}) {
    udp_.sendTo(sim_.port(), bytes(requests[i]));
    ASSERT_TRUE(sim_.waitForJournal(i + 1));
    udp_.sendTo(sim_.port(), bytes(requests[i + 1]));
    std::optional<std::string> reply = udp_.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(static_cast<uint8_t>(reply->at(0)), bytes(requests[i + 1])[0] & 0xFF);
  }
}

TEST_F(Faults, DropOnlyTheChosenCommand) {
  termsim::Faults faults;
  faults.dropEvery = 1;
  faults.onlyCommand = 0xBB;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("BB"));
  ASSERT_TRUE(sim_.waitForJournal(1));
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
}

TEST_F(Faults, DelayedReplyDoesNotHoldUpOthers) {
  termsim::Faults faults;
  faults.delayMs = 300;
  faults.onlyCommand = 0xBB;
  sim_.setFaults(faults);
  Clock::time_point start = Clock::now();
  udp_.sendTo(sim_.port(), bytes("BB"));
  UdpPeer other;
  other.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(other.receive(), bytes("C9 00"));
  EXPECT_LT(elapsedMs(start), 250);
  std::optional<std::string> reply = udp_.receive(3000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->size(), kStatusSize);
  EXPECT_GE(elapsedMs(start), 290);
}

TEST_F(Faults, ErrorByteForAChosenCommandLeavesTheStateAlone) {
  termsim::Faults faults;
  faults.errorFor[0xB9] = 219;
  faults.errorFor[0xBB] = 214;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("B9 01"));
  EXPECT_EQ(udp_.receive(), bytes("B9 DB"));
  EXPECT_FALSE(sim_.locked());
  udp_.sendTo(sim_.port(), bytes("BB"));
  EXPECT_EQ(udp_.receive(), bytes("BB D6"));
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
}

TEST_F(Faults, WrongCommandByteAndTruncation) {
  termsim::Faults faults;
  faults.wrongCommand = 0xBA;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("C3"));
  EXPECT_EQ(udp_.receive(), bytes("BA 00 01 00"));

  faults = {};
  faults.truncateTo = 28;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("BB"));
  std::optional<std::string> reply = udp_.receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, termsim::statusReply(sim_.status()).substr(0, 28));

  faults.truncateTo = 1;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9"));

  sim_.clearFaults();
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
}

TEST_F(Faults, StayInProgrammingMode) {
  termsim::Faults faults;
  faults.stayInProgramming = true;
  sim_.setFaults(faults);
  for (const char* request : {"C0", "C1 00 01 00 55", "C2"}) {
    udp_.sendTo(sim_.port(), bytes(request));
    std::optional<std::string> reply = udp_.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(bytesToHex(reply->substr(1, 1)), "00") << request;
  }
  udp_.sendTo(sim_.port(), bytes("C3"));
  EXPECT_EQ(udp_.receive(), bytes("C3 00 00 00"));
  EXPECT_TRUE(sim_.programmingMode());
  EXPECT_EQ(sim_.firmware(), bytes("55"));
}

TEST_F(Faults, CloseTheConnectionAfterTheReply) {
  termsim::Faults faults;
  faults.closeAfterRequest = true;
  sim_.setFaults(faults);
  TcpPeer tcp = TcpPeer::connectTo(sim_.port());
  tcp.sendAll(bytes("C9"));
  EXPECT_EQ(tcp.receiveBytes(3), bytes("C9 00"));  // reply, then the close
  EXPECT_EQ(tcp.receive(), std::string());
  ASSERT_TRUE(sim_.waitForJournal(1));
  EXPECT_EQ(sim_.tcpAccepted(), 1u);
}

TEST_F(Faults, CloseWithoutReplyWhenTheReplyIsDropped) {
  termsim::Faults faults;
  faults.closeAfterRequest = true;
  faults.dropEvery = 1;
  sim_.setFaults(faults);
  TcpPeer tcp = TcpPeer::connectTo(sim_.port());
  tcp.sendAll(bytes("BB"));
  EXPECT_EQ(tcp.receive(), std::string());
}

TEST_F(Faults, ReplyInTwoSegments) {
  termsim::Faults faults;
  faults.splitReply = true;
  faults.splitPauseMs = 200;  // wide, so that the reads cannot merge the halves
  sim_.setFaults(faults);
  TcpPeer tcp = TcpPeer::connectTo(sim_.port());
  tcp.sendAll(bytes("BB"));
  std::optional<std::string> first = tcp.receive();
  Clock::time_point firstAt = Clock::now();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->size(), kStatusSize / 2);
  std::optional<std::string> second = tcp.receive();
  ASSERT_TRUE(second.has_value());
  EXPECT_GE(elapsedMs(firstAt), 100);
  EXPECT_EQ(*first + *second, termsim::statusReply(sim_.status()));
}

TEST_F(Faults, UdpIgnoresTheTcpOnlyFaults) {
  termsim::Faults faults;
  faults.splitReply = true;
  faults.closeAfterRequest = true;
  sim_.setFaults(faults);
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
  udp_.sendTo(sim_.port(), bytes("C9"));
  EXPECT_EQ(udp_.receive(), bytes("C9 00"));
}

TEST(SimulatorFirmware, ReceivedImageIsWrittenToTheFile) {
  termsim::Options options;
  options.firmwareOut = tempPath("firmware.bin");
  termsim::Simulator sim(options);
  sim.start();
  UdpPeer udp;
  std::string image(512, '\x5A');
  image[0] = '\x01';
  image[511] = '\x02';
  for (std::string request : {bytes("C0"), bytes("C1 00 01 00") + image.substr(0, 256),
                              bytes("C1 00 02 00") + image.substr(256), bytes("C2")}) {
    udp.sendTo(sim.port(), request);
    std::optional<std::string> reply = udp.receive();
    ASSERT_TRUE(reply.has_value());
    ASSERT_EQ(bytesToHex(reply->substr(1)), "00");
  }
  std::ifstream file(options.firmwareOut, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), image);
  std::remove(options.firmwareOut.c_str());
}

TEST(SimulatorThreads, ManyPeersAtOnceSeeConsistentReplies) {
  termsim::Simulator sim;
  sim.start();
  std::vector<std::thread> peers;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t)
    peers.emplace_back([&, t] {
      TcpPeer tcp = TcpPeer::connectTo(sim.port());
      UdpPeer udp;
      for (int i = 0; i < 50; ++i) {
        std::string lock = bytes(i % 2 ? "B9 01" : "B9 00");
        if (t % 2) {
          tcp.sendAll(lock);
          if (tcp.receive() == bytes("B9 00")) ++good;
        } else {
          udp.sendTo(sim.port(), lock);
          if (udp.receive() == bytes("B9 00")) ++good;
        }
        sim.setLocked(i % 3 == 0);
        (void)sim.status();
      }
    });
  for (auto& peer : peers) peer.join();
  EXPECT_EQ(good, 200);
  EXPECT_EQ(sim.requests(), 200u);
  EXPECT_EQ(sim.journal().size(), 200u);
}

}  // namespace
