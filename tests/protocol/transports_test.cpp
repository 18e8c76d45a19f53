#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "destination_barrier.h"
#include "driver/errors/driver_error.h"
#include "driver/protocol/clients.h"
#include "outcome.h"
#include "platform/format.h"
#include "test_support.h"

namespace mirelo {
namespace {

using test::outcome;

template <class Client>
void aim(Client& client, uint16_t port, uint32_t timeout = 200) {
  client.SetAddress("127.0.0.1");
  client.SetPort(format("%d", port));
  client.SetTimeout(timeout);
}

TEST(UDPClient, SilentPeerGivesNoConnectionAfterOneTimeout) {
  test::UdpPeer silent;
  TUDPClient client;
  aim(client, silent.port, 100);
  client.Send("\xBB");
  EXPECT_EQ(silent.receive(), "\xBB");
  uint32_t start = GetTickCount();
  ResultOf r = outcome([&] { client.Receive(); });
  uint32_t elapsed = GetTickCount() - start;
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "Нет связи");
  EXPECT_GE(elapsed, 90u);
  EXPECT_LT(elapsed, 3000u);
  EXPECT_TRUE(client.Connected()) << "a timeout leaves the transport open";
}

TEST(UDPClient, EachDatagramIsOneReplyAndEmptyDatagramsAreSkipped) {
  test::UdpPeer peer;
  TUDPClient client;
  aim(client, peer.port);
  client.Send("\x01");
  ASSERT_EQ(peer.receive(), "\x01");
  peer.reply("");
  peer.reply(
      std::string("\x01\x00"
                  "abc",
                  5));
  peer.reply("second");
  EXPECT_EQ(client.Receive(), std::string("\x01\x00"
                                          "abc",
                                          5));
  EXPECT_EQ(client.Receive(), "second");
}

TEST(UDPClient, DatagramsThatAreNoReplyDoNotExtendTheWait) {
  test::UdpPeer peer;
  TUDPClient client;
  aim(client, peer.port, 300);
  client.Send("\xBB");
  ASSERT_EQ(peer.receive(), "\xBB");
  std::atomic<bool> stop{false};
  std::thread emptyDatagrams([&] {
    for (int i = 0; i < 500 && !stop; ++i) {
      peer.reply("");
      ::usleep(10000);
    }
  });
  uint32_t start = GetTickCount();
  ResultOf r = outcome([&] { client.Receive(); });
  uint32_t elapsed = GetTickCount() - start;
  stop = true;
  emptyDatagrams.join();
  EXPECT_EQ(r.code, -1);
  EXPECT_LT(elapsed, 2500u) << "one timeout of 300 ms, not one per datagram";
}

TEST(UDPClient, EachWaitFollowsTheTimeoutInForceThen) {
  test::UdpPeer peer;
  TUDPClient client;
  aim(client, peer.port, 100);
  // The socket's receive timeout is that of the first wait: a longer one set
  // afterwards waits longer, a shorter one shorter again.
  auto wait = [&](uint32_t timeout, int replyAfterMs) {
    client.SetTimeout(timeout);
    client.Send("\xBB");
    EXPECT_EQ(peer.receive(), "\xBB");
    std::thread late([&] {
      ::usleep(static_cast<useconds_t>(replyAfterMs) * 1000);
      peer.reply("late");
    });
    uint32_t start = GetTickCount();
    ResultOf r = outcome([&] { EXPECT_EQ(client.Receive(), "late"); });
    uint32_t elapsed = GetTickCount() - start;
    late.join();
    client.DiscardPending();
    return std::pair(r.code, elapsed);
  };
  EXPECT_EQ(wait(100, 300).first, -1);
  EXPECT_EQ(wait(2000, 300).first, 0) << "the timeout set anew";
  auto [code, elapsed] = wait(100, 600);
  EXPECT_EQ(code, -1);
  EXPECT_LT(elapsed, 500u);
  // A receive timeout the system refuses is a socket error, not a wait
  // without limit.
  client.SetTimeout(700);
  client.Send("\xBB");
  ws::setFaultHook([](const char* call) { return std::string(call) == "setsockopt" ? EINVAL : 0; });
  ResultOf refused = outcome([&] { client.Receive(); });
  ws::setFaultHook(nullptr);
  EXPECT_EQ(refused.text.substr(0, 16), "10022, WSAEINVAL");
}

TEST(UDPClient, NothingIsOpenedForAnEmptySendOrABadPort) {
  TUDPClient client;
  client.SetAddress("127.0.0.1");
  client.SetPort("1");
  client.Send("");
  EXPECT_FALSE(client.Connected());
  client.SetPort("abc");
  ResultOf r = outcome([&] { client.Send("x"); });
  EXPECT_EQ(r.code, -199);
  EXPECT_EQ(r.text, "'abc' is not a valid integer value");
  EXPECT_FALSE(client.Connected());
}

TEST(UDPClient, ForeignAddressIsRefusedUnderTheLoopbackRule) {
  test::DestinationBarrier barrier;
  TUDPClient client;
  client.SetAddress("192.168.0.166");
  client.SetPort("1002");
  ResultOf r = outcome([&] { client.Send("\xBB"); });
  EXPECT_EQ(r.code, -199);
  EXPECT_EQ(r.text, "10051, WSAENETUNREACH: Network is unreachable");
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(barrier.reached.empty());
}

TEST(TCPClient, RefusedConnectNamesTheSocketError) {
  uint16_t closedPort;
  {
    test::TcpListener gone;
    closedPort = gone.port;
  }
  TTCPClient client;
  aim(client, closedPort);
  ResultOf r = outcome([&] { client.Open(); });
  EXPECT_EQ(r.code, -199);
  EXPECT_EQ(r.text, "10061, WSAECONNREFUSED: Connection refused");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Handle(), ws::INVALID_SOCKET);
}

TEST(TCPClient, ConnectThatIsNeverAnsweredTimesOutAndHoldsNoSocket) {
  // A listener whose backlog is full drops further connection requests.
  test::TcpListener full(0);
  std::vector<int> queued;
  for (int i = 0; i < 8; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = test::loopback(full.port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    queued.push_back(fd);
  }
  ::usleep(20000);
  TTCPClient client;
  aim(client, full.port, 150);
  ResultOf r = outcome([&] { client.Open(); });
  for (int fd : queued) ::close(fd);
  if (r.code == 0) GTEST_SKIP() << "this kernel accepted the connection despite the backlog";
  EXPECT_EQ(r.code, -1);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Handle(), ws::INVALID_SOCKET);
}

TEST(TCPClient, KeepsItsConnectionBetweenExchanges) {
  test::TcpListener listener;
  TTCPClient client;
  aim(client, listener.port);
  client.Send("one");
  int peer = listener.accept();
  ASSERT_GE(peer, 0);
  EXPECT_EQ(test::readSome(peer), "one");
  test::writeAll(peer, "reply");
  EXPECT_EQ(client.Receive(), "reply");
  client.Send("two");
  EXPECT_EQ(test::readSome(peer), "two");
  EXPECT_EQ(listener.accept(100), -1) << "no second connection";
  ::close(peer);
}

TEST(TCPClient, TheTerminalsCloseIsNoticedAndTheNextSendReconnects) {
  test::TcpListener listener;
  TTCPClient client;
  aim(client, listener.port);
  client.Send("a");
  int first = listener.accept();
  ASSERT_GE(first, 0);
  ::close(first);
  ASSERT_TRUE(MessageLoop::current().runUntil([&] { return !client.Connected(); }, 5000));
  client.Send("b");
  int second = listener.accept();
  ASSERT_GE(second, 0);
  EXPECT_EQ(test::readSome(second), "b");
  ::close(second);
}

TEST(TCPClient, AReadOfZeroBytesClosesTheConnectionWithNoConnection) {
  test::TcpListener listener;
  TTCPClient client;
  aim(client, listener.port);
  client.Send("q");
  int peer = listener.accept();
  ::shutdown(peer, SHUT_WR);
  ResultOf r = outcome([&] { client.Receive(); });
  EXPECT_EQ(r.code, -1);
  EXPECT_FALSE(client.Connected());
  ::close(peer);
}

TEST(TCPClient, AnUnacknowledgedShutdownRaisesButStillDisconnects) {
  test::TcpListener listener;
  TTCPClient client;
  aim(client, listener.port, 100);
  client.Open();
  int peer = listener.accept();  // never closes its side
  ResultOf r = outcome([&] { client.Close(); });
  EXPECT_EQ(r.code, -1);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Handle(), ws::INVALID_SOCKET);
  ::close(peer);
}

TEST(TCPClient, UrgentDataAloneDoesNotHoldTheClose) {
  test::TcpListener listener;
  TTCPClient client;
  aim(client, listener.port, 1000);
  client.Open();
  int peer = listener.accept();
  ::send(peer, "!", 1, MSG_OOB);  // ready to read, with nothing to read
  ::usleep(20000);
  std::atomic<bool> closed{false};
  std::thread closing([&] {
    outcome([&] { client.Close(); });
    closed = true;
  });
  for (int i = 0; i < 100 && !closed; ++i) ::usleep(10000);
  bool quick = closed;
  ::close(peer);  // ends a close that still waits, so that the test ends either way
  closing.join();
  EXPECT_TRUE(quick) << "the close waited for data that never came";
  EXPECT_FALSE(client.Connected());
}

TEST(Transports, DestroyingOpenTransportsLeaksNoDescriptor) {
  MessageLoop::current();
  test::TcpListener listener;
  test::UdpPeer peer;
  int before = test::openDescriptors();
  {
    TTCPClient tcp;
    aim(tcp, listener.port, 50);
    tcp.Open();
    TUDPClient udp;
    aim(udp, peer.port);
    udp.Open();
  }
  int accepted = listener.accept(100);
  if (accepted >= 0) ::close(accepted);
  EXPECT_EQ(test::openDescriptors(), before);
}

}  // namespace
}  // namespace mirelo
