#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "driver/errors/driver_error.h"
#include "driver/net/wsockets.h"
#include "test_support.h"

namespace mirelo {
namespace {

MessageLoop& loop() {
  return MessageLoop::current();
}

// A server on an ephemeral port that records each block it reads.
template <class Server>
struct Recording {
  Server server;
  std::vector<std::pair<std::string, int32_t>> blocks;  // data, client ID (0: none)
  Recording() {
    server.SetPort("0");
    server.OnData = [this](TCustomServer* sender, ws::SOCKET socket) {
      TServerBlock block = sender->Read(socket);
      if (!block.data.empty())
        blocks.emplace_back(block.data, block.client ? block.client->ID() : 0);
    };
    server.Open();
  }
  uint16_t port() const { return static_cast<uint16_t>(server.BoundPort()); }
  bool waitBlocks(size_t count) {
    return loop().runUntil([&] { return blocks.size() >= count; }, 5000);
  }
};

// A connection whose receive buffer is small, so that the server's writes
// soon find its socket full.
int connectSmall(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address = test::loopback(port);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

TEST(TCPServer, ConnectionsGetRisingIDsAndAReconnectGetsANewOne) {
  Recording<TTCPServer> r;
  ASSERT_EQ(r.server.State(), TSocketState::Open);
  int a = test::connectTo(r.port()), b = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 2; }, 5000));
  int32_t first = r.server.Clients().Items(0)->ID();
  EXPECT_EQ(r.server.Clients().Items(1)->ID(), first + 1);
  ::close(a);
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  int c = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 2; }, 5000));
  EXPECT_GT(r.server.Clients().Items(1)->ID(), first + 1);
  test::writeAll(c, "hello");
  ASSERT_TRUE(r.waitBlocks(1));
  EXPECT_EQ(r.blocks[0].first, "hello");
  EXPECT_EQ(r.blocks[0].second, r.server.Clients().Items(1)->ID());
  ::close(b);
  ::close(c);
}

TEST(TCPServer, ABurstOver2048BytesArrivesAsSeparateBlocks) {
  Recording<TTCPServer> r;
  int c = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  std::string burst(3000, 'z');
  test::writeAll(c, burst);
  ::usleep(50000);  // all of it queued before the first read
  ASSERT_TRUE(loop().runUntil(
      [&] {
        size_t total = 0;
        for (auto& b : r.blocks) total += b.first.size();
        return total == burst.size();
      },
      5000));
  EXPECT_EQ(r.blocks[0].first.size(), 2048u);
  ::close(c);
}

TEST(TCPServer, AResetRemovesTheClientLikeAClose) {
  Recording<TTCPServer> r;
  int c = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  int closed = 0;
  r.server.OnClose = [&](TCustomServer*, ws::SOCKET) { ++closed; };
  linger abort{1, 0};
  ::setsockopt(c, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(c);
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 0; }, 5000));
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(r.server.LastError(), 10054);
}

TEST(TCPServer, WhatTheSocketDoesNotTakeGoesOutWhenItIsWritable) {
  Recording<TTCPServer> r;
  int c = connectSmall(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  // Small buffers and nobody reading yet: most of it must wait in the queue
  // (up to its bound), and go out in order.
  int small = 4096;
  ::setsockopt(r.server.Clients().Items(0)->Socket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::string sent;
  for (int i = 0; sent.size() + 2048 <= TTCPServer::SendQueueLimit; ++i) {
    std::string frame(2048, static_cast<char>('a' + i % 26));
    r.server.WriteToClient(r.server.Clients().Items(0)->ID(), frame);
    sent += frame;
  }
  EXPECT_GT(r.server.Clients().Items(0)->SendQueue().size(), 0u);
  std::string received;
  for (int round = 0; round < 1000 && received.size() < sent.size(); ++round) {
    loop().processMessages();
    received += test::readSome(c, 10);
  }
  EXPECT_TRUE(received == sent);
  EXPECT_EQ(r.server.LastError(), 0);
  EXPECT_NO_THROW(r.server.WriteToClient(999999, "nobody"));
  ::close(c);
}

TEST(TCPServer, AClientThatTakesNoAnswersIsDroppedAndCostsOnlyItself) {
  Recording<TTCPServer> r;
  std::vector<std::string> notices;
  r.server.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  int stuck = connectSmall(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  int good = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 2; }, 5000));
  int32_t stuckId = r.server.Clients().Items(0)->ID(), goodId = r.server.Clients().Items(1)->ID();

  // Every write returns at once; the one that overflows the queue fails.
  std::string failure;
  for (int i = 0; i < 20000 && failure.empty(); ++i) {
    try {
      r.server.WriteToClient(stuckId, std::string(2048, 's'));
    } catch (const std::exception& e) {
      failure = resultOf(e).text;
    }
  }
  EXPECT_EQ(failure, "10035, WSAEWOULDBLOCK: Operation would block");
  EXPECT_EQ(r.server.LastError(), 10035);
  EXPECT_EQ(r.server.Clients().ClientByID(stuckId), nullptr);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("disconnected (10035)"), std::string::npos) << notices[0];
  r.server.WriteToClient(goodId, "answer");
  EXPECT_EQ(test::readSome(good, 5000), "answer");
  ::close(stuck);
  ::close(good);
}

TEST(TCPServer, AcceptedConnectionsAreKeptAlive) {
  Recording<TTCPServer> r;
  int c = test::connectTo(r.port());
  ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
  int s = r.server.Clients().Items(0)->Socket();
  auto option = [&](int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(s, level, name, &value, &length);
    return value;
  };
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
  EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
  ::close(c);
}

TEST(TCPServer, PortInUseFailsWithItsTextAndStaysClosed) {
  test::TcpListener busy;
  TTCPServer server;
  server.SetPort(std::to_string(busy.port));
  try {
    server.Open();
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_EQ(resultOf(e).code, -199);
    EXPECT_EQ(resultOf(e).text, "10048, WSAEADDRINUSE: Address already in use");
  }
  EXPECT_EQ(server.State(), TSocketState::Closed);
  EXPECT_EQ(server.Handle(), ws::INVALID_SOCKET);
  server.SetPort("abc");
  EXPECT_THROW(server.Open(), EConvertError);
}

TEST(TCPServer, RunningOutOfDescriptorsIsRecordedAndServingGoesOn) {
  Recording<TTCPServer> r;
  std::vector<std::string> notices;
  r.server.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  std::vector<int> peers;
  for (int i = 0; i < 12; ++i) peers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(test::openDescriptors() + 4);  // room for a few accepts only
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  // Non-blocking: a full backlog must not hold this thread while the server
  // (on this same thread) is not running.
  for (int fd : peers) {
    ws::setNonBlocking(fd, true);
    sockaddr_in address = test::loopback(r.port());
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    loop().processMessages();
  }
  loop().runUntil([&] { return r.server.LastError() == 10024; }, 3000);
  for (int i = 0; i < 20; ++i) loop().waitAndProcess(10);
  EXPECT_EQ(r.server.LastError(), 10024);
  EXPECT_EQ(r.server.State(), TSocketState::Open);
  EXPECT_LT(r.server.Clients().Count(), 12);
  setrlimit(RLIMIT_NOFILE, &saved);
  for (int fd : peers) ::close(fd);
  int late = test::connectTo(r.port());
  test::writeAll(late, "still here");
  EXPECT_TRUE(r.waitBlocks(1));
  // One line when refusing began, one when accepting again.
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find("new connections are refused"), std::string::npos) << notices[0];
  EXPECT_NE(notices[1].find("accepting connections again"), std::string::npos) << notices[1];
  ::close(late);
}

TEST(TCPServer, CloseAndDestroyLeakNoDescriptor) {
  loop();
  int before = test::openDescriptors();
  {
    Recording<TTCPServer> r;
    std::vector<int> peers;
    for (int i = 0; i < 5; ++i) peers.push_back(test::connectTo(r.port()));
    ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 5; }, 5000));
    r.server.Close();
    EXPECT_EQ(r.server.Clients().Count(), 0);
    for (int fd : peers) EXPECT_EQ(test::readSome(fd, 1000), "") << "the server closed its side";
    r.server.Open();
    int again = test::connectTo(r.port());
    ASSERT_TRUE(loop().runUntil([&] { return r.server.Clients().Count() == 1; }, 5000));
    for (int fd : peers) ::close(fd);
    ::close(again);
  }  // destroyed while open, with a client
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(UDPServer, EachSourceGetsItsOwnIDAndItsOwnAnswer) {
  Recording<TUDPServer> r;
  test::UdpPeer one, two;
  one.sendTo(r.port(),
             "\xAB\x00"
             "111");
  ASSERT_TRUE(r.waitBlocks(1));
  two.sendTo(r.port(),
             "\xAB\x00"
             "222");
  ASSERT_TRUE(r.waitBlocks(2));
  one.sendTo(r.port(),
             "\xAB\x00"
             "333");
  ASSERT_TRUE(r.waitBlocks(3));
  int32_t idOne = r.blocks[0].second, idTwo = r.blocks[1].second;
  EXPECT_NE(idOne, idTwo);
  EXPECT_EQ(r.blocks[2].second, idOne) << "a known source keeps its ID";
  r.server.WriteToClient(idOne, "for one");
  r.server.WriteToClient(idTwo, "for two");
  EXPECT_EQ(one.receive(), "for one");
  EXPECT_EQ(two.receive(), "for two");
  EXPECT_EQ(r.server.Clients().Count(), 2);
}

TEST(UDPServer, ADatagramTheSocketDoesNotTakeIsDroppedAtOnce) {
  Recording<TUDPServer> r;
  test::UdpPeer peer;
  peer.sendTo(r.port(), "a");
  ASSERT_TRUE(r.waitBlocks(1));
  std::vector<std::string> notices;
  r.server.OnNotice = [&](const std::string& text) { notices.push_back(text); };
  ws::setFaultHook([](const char* call) { return std::string(call) == "sendto" ? EAGAIN : 0; });
  try {
    r.server.WriteToClient(r.blocks[0].second, "answer");
    ADD_FAILURE() << "a datagram that did not go reported success";
  } catch (const std::exception& e) {
    EXPECT_EQ(resultOf(e).text, "10035, WSAEWOULDBLOCK: Operation would block");
  }
  ws::setFaultHook(nullptr);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("dropped (10035)"), std::string::npos) << notices[0];
  r.server.WriteToClient(r.blocks[0].second, "next");
  EXPECT_EQ(peer.receive(), "next");
}

TEST(UDPServer, ReopeningForgetsEveryClient) {
  Recording<TUDPServer> r;
  test::UdpPeer peer;
  peer.sendTo(r.port(), "a");
  ASSERT_TRUE(r.waitBlocks(1));
  r.server.Open();  // already open: keeps the socket, forgets the client
  EXPECT_EQ(r.server.State(), TSocketState::Open);
  EXPECT_EQ(r.server.Clients().Count(), 0);
  peer.sendTo(r.port(), "b");
  ASSERT_TRUE(r.waitBlocks(2));
  EXPECT_GT(r.blocks[1].second, r.blocks[0].second);
}

TEST(UDPServer, TheClientListIsBoundedByDroppingTheLeastRecent) {
  TUDPServer server;
  server.SetPort("0");
  server.Open();
  uint16_t port = static_cast<uint16_t>(server.BoundPort());
  test::UdpPeer keeper;
  // Heard first, and again after everyone else: it must survive the eviction.
  keeper.sendTo(port, "k");
  std::vector<std::unique_ptr<test::UdpPeer>> others;
  int32_t keeperId = 0;
  auto drain = [&] {
    while (ws::waitReady(server.Handle(), false, 0) == 1) {
      TServerBlock block = server.Read(server.Handle());
      if (!keeperId && block.data == "k") keeperId = block.client->ID();
    }
  };
  drain();
  for (int i = 0; i < TUDPServer::MaxClients + 10; ++i) {
    if (i == 100) {
      keeper.sendTo(port, "k");
      ::usleep(1000);
      drain();
    }
    // A source address of its own for every sender.
    test::UdpPeer sender(htonl((127u << 24) | (1u << 16) | static_cast<uint32_t>(i + 1)));
    sender.sendTo(port, "x");
    ws::waitReady(server.Handle(), false, 1000);
    drain();
  }
  EXPECT_EQ(server.Clients().Count(), TUDPServer::MaxClients);
  ASSERT_NE(keeperId, 0);
  EXPECT_NE(server.Clients().ClientByID(keeperId), nullptr);
}

// Datagrams waiting together are taken in batches and handed on in order,
// an oversized one among them refused alone.
TEST(UDPServer, DatagramsWaitingTogetherAreHandedOnInOrder) {
  Recording<TUDPServer> r;
  test::UdpPeer peer;
  for (int i = 0; i < 40; ++i)
    peer.sendTo(r.port(), i == 20 ? std::string(3000, 'x') : std::to_string(i));
  ASSERT_TRUE(r.waitBlocks(39));
  std::vector<std::string> expected, got;
  for (int i = 0; i < 40; ++i)
    if (i != 20) expected.push_back(std::to_string(i));
  for (const auto& block : r.blocks) got.push_back(block.first);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(r.server.LastError(), 10040);
  EXPECT_EQ(r.server.Clients().Count(), 1);
}

TEST(UDPServer, AnOversizedDatagramIsRecordedAndNotHandedOn) {
  Recording<TUDPServer> r;
  test::UdpPeer peer;
  peer.sendTo(r.port(), std::string(3000, 'x'));
  loop().runUntil([&] { return r.server.LastError() != 0; }, 3000);
  EXPECT_EQ(r.server.LastError(), 10040);
  EXPECT_TRUE(r.blocks.empty());
  EXPECT_EQ(r.server.Clients().Count(), 0);
  peer.sendTo(r.port(), "fine");
  ASSERT_TRUE(r.waitBlocks(1));
  EXPECT_EQ(r.blocks[0].first, "fine");
}

TEST(UDPServer, DestroyLeaksNoDescriptor) {
  loop();  // the thread's loop holds descriptors of its own for its whole life
  int before = test::openDescriptors();
  {
    Recording<TUDPServer> r;
    test::UdpPeer peer;
    peer.sendTo(r.port(), "x");
    ASSERT_TRUE(r.waitBlocks(1));
  }
  EXPECT_EQ(test::openDescriptors(), before);
}

TEST(WSocket, AddressesFromTextAndPort) {
  TTCPServer server;
  sockaddr_in address{};
  ASSERT_TRUE(server.MakeAddress("127.0.0.1", "2004", address));
  EXPECT_EQ(ntohs(address.sin_port), 2004);
  EXPECT_EQ(TCustomWSocket::AddressToText(address), "127.0.0.1");
  ASSERT_TRUE(server.MakeAddress("999.1.1.1", "1", address));
  EXPECT_EQ(TCustomWSocket::AddressToText(address), "255.255.255.255");
  EXPECT_THROW(server.MakeAddress("127.0.0.1", "abc", address), EConvertError);
  ASSERT_TRUE(server.MakeAnyAddress("1002", address));
  EXPECT_EQ(TCustomWSocket::AddressToText(address), "0.0.0.0");
}

TEST(Lists, IDsComeFromTwoProcessWideCounters) {
  TClients clients;
  TIPItems items;
  auto* a = new TClient(&clients, 5, test::loopback(1));
  auto* b = new TClient(&clients, 6, test::loopback(2));
  auto* x = new TIPItem(&items, 2002, "127.0.0.1");
  auto* y = new TIPItem(&items, 2002, "127.0.0.2");
  EXPECT_EQ(b->ID(), a->ID() + 1);
  EXPECT_EQ(y->ID(), x->ID() + 1);
  EXPECT_EQ(clients.ClientBySocket(6), b);
  EXPECT_EQ(clients.ClientByID(a->ID()), a);
  EXPECT_EQ(items.ItemByAddress("127.0.0.2", 2002), y);
  EXPECT_EQ(items.ItemByAddress("127.0.0.2", 2003), nullptr);
  delete a;
  EXPECT_EQ(clients.Count(), 1);
  EXPECT_EQ(clients.ClientByID(a == nullptr ? 0 : b->ID() - 1), nullptr);
  clients.DeleteBySocket(6);
  EXPECT_EQ(clients.Count(), 0);
  EXPECT_THROW(clients.Items(0), Exception);
  items.Clear();
  EXPECT_EQ(items.Count(), 0);
  auto* z = new TIPItem(&items, 1, "127.0.0.3");
  EXPECT_GT(z->ID(), y == nullptr ? 0 : 0);
}

TEST(Lists, ASharedSocketPassesToItsNextClient) {
  TClients clients;
  auto* first = new TClient(&clients, 7, test::loopback(1));
  auto* own = new TClient(&clients, 8, test::loopback(2));
  auto* second = new TClient(&clients, 7, test::loopback(3));
  auto* third = new TClient(&clients, 7, test::loopback(4));
  delete second;  // not the socket's first: it keeps its client
  EXPECT_EQ(clients.ClientBySocket(7), first);
  delete first;
  EXPECT_EQ(clients.ClientBySocket(7), third);
  delete third;
  EXPECT_EQ(clients.ClientBySocket(7), nullptr);
  EXPECT_EQ(clients.ClientBySocket(8), own);
  delete own;
  EXPECT_EQ(clients.ClientBySocket(8), nullptr);
}

}  // namespace
}  // namespace mirelo
