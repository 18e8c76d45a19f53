#include "platform/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "destination_barrier.h"
#include "test_support.h"

namespace mirelo {
namespace {

struct FailureCase {
  const char* name;
  std::function<int()> provoke;  // returns the call's result
  int expected;
};

// Each errno the system will produce on demand, from a real failing call.
TEST(Sockets, RealFailuresMapToWindowsSocketsNumbers) {
  test::TcpListener listener;
  uint16_t closedPort;
  {
    test::TcpListener gone;
    closedPort = gone.port;
  }
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  std::vector<int> owned;
  auto tcp = [&] {
    int s = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    owned.push_back(s);
    return s;
  };
  auto udp = [&] {
    int s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    owned.push_back(s);
    return s;
  };
  const FailureCase cases[] = {
      {"refused", [&] { return ws::connect(tcp(), test::loopback(closedPort)); }, 10061},
      {"address in use", [&] { return ws::bind(tcp(), test::loopback(listener.port)); }, 10048},
      {"not connected",
       [&] {
         char b;
         return ws::recv(tcp(), &b, 1, 0);
       },
       10057},
      {"would block",
       [&] {
         int s = tcp();
         ws::setNonBlocking(s, true);
         return ws::connect(s, test::loopback(listener.port)) == 0 ? ws::recv(s, nullptr, 0, 0)
                                                                   : -1;
       },
       10035},
      {"not a socket",
       [&] {
         char b;
         return ws::recv(pipeEnds[0], &b, 1, 0);
       },
       10038},
      {"bad descriptor", [&] { return ws::closesocket(1 << 20); }, 10009},
      {"destination required", [&] { return ws::send(udp(), "x", 1, 0); }, 10039},
      {"message too long",
       [&] {
         std::string big(70000, 'x');
         return ws::sendto(udp(), big.data(), static_cast<int>(big.size()), 0, test::loopback(9));
       },
       10040},
      {"protocol not supported", [&] { return ws::socket(AF_INET, SOCK_STREAM, IPPROTO_UDP); },
       10043},
      {"family not supported", [&] { return ws::socket(12345, SOCK_STREAM, 0); }, 10047},
      {"operation not supported", [&] { return ws::listen(udp(), 5); }, 10045},
      {"invalid argument",
       [&] {
         int s = tcp();
         ws::bind(s, test::loopback(0));
         return ws::bind(s, test::loopback(0));
       },
       10022},
      {"already connected",
       [&] {
         int s = tcp();
         ws::connect(s, test::loopback(listener.port));
         return ws::connect(s, test::loopback(listener.port));
       },
       10056},
  };
  for (const auto& c : cases) {
    ws::WSASetLastError(0);
    EXPECT_EQ(c.provoke(), ws::SOCKET_ERROR) << c.name;
    EXPECT_EQ(ws::WSAGetLastError(), c.expected) << c.name;
  }
  for (int s : owned)
    if (s >= 0) ::close(s);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

// Errors the system cannot be made to give here go through the fault seam.
TEST(Sockets, InjectedErrnosMapToWindowsSocketsNumbers) {
  const std::pair<int, int> rows[] = {
      {EINTR, 10004},           {EACCES, 10013},       {EPERM, 10013},
      {EFAULT, 10014},          {EMFILE, 10024},       {ENFILE, 10024},
      {EALREADY, 10037},        {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},
      {ESOCKTNOSUPPORT, 10044}, {EPFNOSUPPORT, 10046}, {ENETDOWN, 10050},
      {ENETUNREACH, 10051},     {ENETRESET, 10052},    {ECONNABORTED, 10053},
      {ECONNRESET, 10054},      {EPIPE, 10054},        {ENOBUFS, 10055},
      {ENOMEM, 10055},          {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},       {ELOOP, 10062},        {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
      {EUSERS, 10068},          {EDQUOT, 10069},       {ESTALE, 10070},
      {EREMOTE, 10071},         {EINPROGRESS, 10035},  {EADDRNOTAVAIL, 10049},
  };
  int s = ws::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  for (auto [error, expected] : rows) {
    ws::setFaultHook(
        [error = error](const char* call) { return std::string(call) == "connect" ? error : 0; });
    EXPECT_EQ(ws::connect(s, test::loopback(9)), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), expected) << "errno " << error;
  }
  ws::setFaultHook(nullptr);
  ::close(s);
  EXPECT_EQ(ws::errnoToWsa(4095), 4095) << "an unknown errno is passed on as it is";
}

TEST(Sockets, LoopbackGuardAllowsOnly127Slash8) {
  const struct {
    uint32_t address;  // host order
    bool loopbackOnly;
    bool allowed;
  } cases[] = {{0x7F000001, true, true},  {0x7F050607, true, true},  {0x7FFFFFFF, true, true},
               {0x7F000000, true, true},  {0x7EFFFFFF, true, false}, {0x80000000, true, false},
               {0xC0A800A6, true, false}, {0xFFFFFFFF, true, false}, {0x00000000, true, false},
               {0xC0A800A6, false, true}, {0xFFFFFFFF, false, true}};
  for (const auto& c : cases)
    EXPECT_EQ(ws::destinationAllowed(c.address, c.loopbackOnly), c.allowed)
        << std::hex << c.address << " loopback only " << c.loopbackOnly;
  ASSERT_TRUE(ws::loopbackOnly()) << "tests run with MIRELO_LOOPBACK_ONLY=1";
  EXPECT_TRUE(ws::destinationAllowed(test::loopback(1)));
}

// The refusal comes before the seam, so before the kernel: nothing that
// carries the destination is even attempted.
TEST(Sockets, RefusedDestinationsNeverReachTheSocketCalls) {
  test::DestinationBarrier barrier;
  int s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  for (uint32_t hostOrder : {0xC0A800A6u, 0xFFFFFFFFu}) {
    sockaddr_in away = test::loopback(1002);
    away.sin_addr.s_addr = htonl(hostOrder);
    EXPECT_EQ(ws::sendto(s, "x", 1, 0, away), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), 10051);
    EXPECT_EQ(ws::connect(s, away), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), 10051);
  }
  EXPECT_TRUE(barrier.reached.empty());
  ::close(s);
}

TEST(Sockets, OversizedDatagramIsRefusedWith10040) {
  test::UdpPeer sender;
  int s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ws::bind(s, test::loopback(0));
  sender.sendTo(test::boundPort(s), std::string(3000, 'x'));
  ASSERT_EQ(ws::waitReady(s, false, 2000), 1);
  char buffer[2048];
  sockaddr_in from{};
  EXPECT_EQ(ws::recvfrom(s, buffer, sizeof buffer, 0, &from), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), 10040);
  sender.sendTo(test::boundPort(s), std::string(2048, 'y'));
  ASSERT_EQ(ws::waitReady(s, false, 2000), 1);
  EXPECT_EQ(ws::recvfrom(s, buffer, sizeof buffer, 0, &from), 2048);
  EXPECT_EQ(ntohs(from.sin_port), sender.port);
  ::close(s);
}

TEST(Sockets, TimeLimitIsSplitIntoSecondsAndMicroseconds) {
  timeval a = ws::splitTimeout(100);
  EXPECT_EQ(a.tv_sec, 0);
  EXPECT_EQ(a.tv_usec, 100000);
  timeval b = ws::splitTimeout(2500);
  EXPECT_EQ(b.tv_sec, 2);
  EXPECT_EQ(b.tv_usec, 500000);
}

TEST(Sockets, WaitRunsOutOrSeesReadiness) {
  test::UdpPeer peer;
  int s = ws::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ws::connect(s, test::loopback(peer.port));
  EXPECT_EQ(ws::waitReady(s, false, 30), 0);
  EXPECT_EQ(ws::waitReady(s, true, 30), 1);
  ws::send(s, "ping", 4, 0);
  ASSERT_EQ(peer.receive(), "ping");
  peer.reply("pong");
  EXPECT_EQ(ws::waitReady(s, false, 2000), 1);
  ::close(s);
  // A descriptor far above 1024 works: the wait has no descriptor limit.
  int high = ::dup2(peer.fd, 1500);
  ASSERT_EQ(high, 1500);
  EXPECT_EQ(ws::waitReady(high, true, 100), 1);
  ::close(high);
}

TEST(Sockets, AddressTextConvertsStrictly) {
  EXPECT_EQ(ws::inetNtoa(ws::inetAddr("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(ws::inetAddr("999.1.1.1"), INADDR_NONE);
  EXPECT_EQ(ws::inetAddr("localhost"), INADDR_NONE);
  EXPECT_EQ(ws::inetAddr(""), INADDR_NONE);
  std::string name;
  EXPECT_TRUE(ws::protocolName(IPPROTO_TCP, name));
  EXPECT_EQ(name, "tcp");
  EXPECT_EQ(ws::servicePort("no-such-service-here", "tcp"), -1);
}

}  // namespace
}  // namespace mirelo
