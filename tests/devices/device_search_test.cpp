#include "driver/devices/device_search.h"

#include <gtest/gtest.h>

#include "test_support.h"
#include "tools/termsim/termsim.h"

namespace mirelo {
namespace {

MessageLoop& loop() {
  return MessageLoop::current();
}

std::string statusReply(int model, int serial) {
  std::string reply(29, '\0');
  reply[0] = static_cast<char>(0xBB);
  reply[26] = static_cast<char>(model);
  reply[27] = static_cast<char>(serial >> 8);
  reply[28] = static_cast<char>(serial & 0xFF);
  return reply;
}

TEST(DeviceSearch, ATerminalAnsweringThreeTimesIsListedOnce) {
  termsim::Simulator sim;
  sim.withState([](termsim::TerminalState& s) {
    s.status.setDeviceType(2);
    s.status.setSerialNumber(0x0102);
  });
  sim.start();
  TDeviceSearch search("0", std::to_string(sim.discoveryPort()));
  search.Start("127.0.0.1");
  ASSERT_TRUE(sim.waitForJournal(3));
  loop().runUntil([&] { return false; }, 200);
  ASSERT_EQ(search.Found().size(), 1u);
  const TFoundDevice& found = search.Found()[0];
  EXPECT_EQ(found.IPAddress, "127.0.0.1");
  EXPECT_EQ(found.Port, sim.discoveryPort());
  EXPECT_EQ(found.SerialNumber, 258);
  EXPECT_EQ(found.ModelCode, 2);
  EXPECT_EQ(found.TypeName, "Vistel");
  for (const auto& entry : sim.journal()) EXPECT_EQ(entry.bytes, "\xBB");
  // A new search lists it again with a new item ID.
  int32_t firstId = found.ID;
  search.Start("127.0.0.1");
  EXPECT_TRUE(search.Found().empty()) << "the list is emptied before the requests go out";
  ASSERT_TRUE(loop().runUntil([&] { return !search.Found().empty(); }, 3000));
  EXPECT_GT(search.Found()[0].ID, firstId);
  EXPECT_TRUE(search.ItemByID(search.Found()[0].ID).has_value());
  EXPECT_FALSE(search.ItemByID(firstId).has_value());
}

// A peer that answers each request from a socket of its own (another port).
struct TwoPortTerminal {
  test::UdpPeer listener, otherPort;
  int model = 1, serial = 7;
  void answer(int requests) {
    for (int i = 0; i < requests; ++i) {
      if (listener.receive(2000).empty()) return;
      listener.reply(statusReply(model, serial));
      otherPort.sendTo(ntohs(listener.last.sin_port), statusReply(model, serial + 1));
    }
  }
};

TEST(DeviceSearch, OneRowPerAddressAndPortAndTheTypeFilter) {
  TwoPortTerminal terminal;
  TDeviceSearch search("0", std::to_string(terminal.listener.port));
  search.Start("127.0.0.1");
  terminal.answer(3);
  loop().runUntil([&] { return search.Found().size() >= 2; }, 3000);
  loop().waitAndProcess(50);
  ASSERT_EQ(search.Found().size(), 2u) << "two ports, three answers each";
  EXPECT_NE(search.Found()[0].Port, search.Found()[1].Port);
  search.ShowAllTypes = false;
  search.Start("127.0.0.1");
  terminal.answer(3);
  loop().runUntil([&] { return false; }, 200);
  EXPECT_TRUE(search.Found().empty()) << "model 1 is not listed when only own models are shown";
  terminal.model = 2;
  search.Start("127.0.0.1");
  terminal.answer(3);
  loop().runUntil([&] { return search.Found().size() >= 2; }, 3000);
  EXPECT_EQ(search.Found().size(), 2u);
}

TEST(DeviceSearch, ShortAndEmptyRepliesAreIgnored) {
  test::UdpPeer terminal;
  TDeviceSearch search("0", std::to_string(terminal.port));
  search.Start("127.0.0.1");
  ASSERT_FALSE(terminal.receive().empty());
  terminal.reply(statusReply(2, 5).substr(0, 28));
  terminal.reply("");
  terminal.reply(statusReply(2, 5));
  ASSERT_TRUE(loop().runUntil([&] { return !search.Found().empty(); }, 3000));
  loop().waitAndProcess(50);
  EXPECT_EQ(search.Found().size(), 1u);
  EXPECT_EQ(search.Found()[0].SerialNumber, 5);
}

TEST(DeviceSearch, ATakenLocalPortIsTheSocketError) {
  test::UdpPeer occupant;
  TDeviceSearch search(std::to_string(occupant.port), "2002");
  try {
    search.Start("127.0.0.1");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "10048, WSAEADDRINUSE: Address already in use");
  }
  EXPECT_TRUE(TDeviceSearch::FallsBackToBroadcast("not an address"));
  EXPECT_FALSE(TDeviceSearch::FallsBackToBroadcast("127.0.0.1"));
  EXPECT_FALSE(TDeviceSearch::FallsBackToBroadcast("255.255.255.255"));
}

}  // namespace
}  // namespace mirelo
