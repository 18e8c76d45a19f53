#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/message_loop.h"

namespace mirelo::ws {
namespace {

thread_local int tLastError = 0;
std::atomic<int> gStartups{0};
FaultHook gFaultHook;

// Records errno as the last socket error; returns -1 for the caller to pass on.
int fail(int error) {
  tLastError = errnoToWsa(error);
  return SOCKET_ERROR;
}

int failWsa(int code) {
  tLastError = code;
  return SOCKET_ERROR;
}

// The injected errno for this call, or 0.
int injected(const char* call) {
  return gFaultHook ? gFaultHook(call) : 0;
}

}  // namespace

int WSAGetLastError() {
  return tLastError;
}
void WSASetLastError(int code) {
  tLastError = code;
}

int WSAStartup(uint16_t version) {
  // Version 1.1 or later is what the driver asks for; anything older is refused.
  if ((version & 0xFF) < 1) return 10092;
  ++gStartups;
  return 0;
}

int WSACleanup() {
  if (gStartups.load() <= 0) return failWsa(10093);
  --gStartups;
  return 0;
}

int startupCount() {
  return gStartups.load();
}

bool loopbackOnly() {
  const char* value = std::getenv("MIRELO_LOOPBACK_ONLY");
  return value && *value && std::string(value) != "0";
}

bool destinationAllowed(uint32_t hostOrder, bool loopbackOnly) {
  return !loopbackOnly || (hostOrder >> 24) == 127;
}

bool destinationAllowed(const sockaddr_in& address) {
  return destinationAllowed(ntohl(address.sin_addr.s_addr), loopbackOnly());
}

SOCKET socket(int family, int type, int protocol) {
  if (int e = injected("socket")) return fail(e);
  int s = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (s < 0) return fail(errno);
  return s;
}

int closesocket(SOCKET s) {
  if (MessageLoop* loop = MessageLoop::existing()) loop->forgetSocket(s);
  if (int e = injected("closesocket")) return fail(e);
  if (::close(s) < 0) return fail(errno);
  return 0;
}

int setNonBlocking(SOCKET s, bool on) {
  if (int e = injected("ioctlsocket")) return fail(e);
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return fail(errno);
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(s, F_SETFL, flags) < 0) return fail(errno);
  return 0;
}

int connect(SOCKET s, const sockaddr_in& address) {
  if (!destinationAllowed(address)) return failWsa(WSAENETUNREACH);
  if (int e = injected("connect")) return fail(e);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
    return fail(errno);
  return 0;
}

int bind(SOCKET s, const sockaddr_in& address) {
  if (int e = injected("bind")) return fail(e);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
    return fail(errno);
  return 0;
}

int listen(SOCKET s, int backlog) {
  if (int e = injected("listen")) return fail(e);
  if (::listen(s, backlog) < 0) return fail(errno);
  if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_ACCEPT);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr_in* address) {
  if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_ACCEPT);
  if (int e = injected("accept")) return fail(e);
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  int client = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (client < 0) return fail(errno);
  if (address) *address = peer;
  return client;
}

int send(SOCKET s, const void* data, int length, int flags) {
  if (int e = injected("send")) return fail(e);
  ssize_t n = ::send(s, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
  if (n < 0) {
    int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK)
      if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_WRITE);
    return fail(error);
  }
  return static_cast<int>(n);
}

int sendto(SOCKET s, const void* data, int length, int flags, const sockaddr_in& address) {
  if (!destinationAllowed(address)) return failWsa(WSAENETUNREACH);
  if (int e = injected("sendto")) return fail(e);
  ssize_t n = ::sendto(s, data, static_cast<size_t>(length), flags | MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (n < 0) return fail(errno);
  return static_cast<int>(n);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
  if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_READ);
  if (int e = injected("recv")) return fail(e);
  ssize_t n = ::recv(s, buffer, static_cast<size_t>(length), flags);
  if (n < 0) return fail(errno);
  return static_cast<int>(n);
}

int recvfrom(SOCKET s, void* buffer, int length, int flags, sockaddr_in* from) {
  if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_READ);
  if (int e = injected("recvfrom")) return fail(e);
  sockaddr_in source{};
  socklen_t sourceLength = sizeof source;
  // MSG_TRUNC makes the call return the datagram's real length, so a datagram
  // that did not fit is seen and refused as Windows Sockets does.
  ssize_t n = ::recvfrom(s, buffer, static_cast<size_t>(length), flags | MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(&source), &sourceLength);
  if (n < 0) return fail(errno);
  if (from) *from = source;
  if (n > length) return failWsa(WSAEMSGSIZE);
  return static_cast<int>(n);
}

int recvBatch(SOCKET s, mmsghdr* messages, int count) {
  if (MessageLoop* loop = MessageLoop::existing()) loop->reenable(s, FD_READ);
  if (int e = injected("recvfrom")) return fail(e);
  int n = ::recvmmsg(s, messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  if (n < 0) return fail(errno);
  return n;
}

int shutdown(SOCKET s, int how) {
  if (int e = injected("shutdown")) return fail(e);
  int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(s, mode) < 0) return fail(errno);
  return 0;
}

int setsockopt(SOCKET s, int level, int name, int value) {
  if (int e = injected("setsockopt")) return fail(e);
  if (::setsockopt(s, level, name, &value, sizeof value) < 0) return fail(errno);
  return 0;
}

int setReceiveTimeout(SOCKET s, uint32_t timeoutMs) {
  if (int e = injected("setsockopt")) return fail(e);
  timeval limit = splitTimeout(timeoutMs);
  if (::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) < 0) return fail(errno);
  return 0;
}

int getsockname(SOCKET s, sockaddr_in* address) {
  socklen_t length = sizeof *address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(address), &length) < 0) return fail(errno);
  return 0;
}

int getpeername(SOCKET s, sockaddr_in* address) {
  socklen_t length = sizeof *address;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(address), &length) < 0) return fail(errno);
  return 0;
}

int socketError(SOCKET s) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return errnoToWsa(errno);
  return error ? errnoToWsa(error) : 0;
}

int WSAAsyncSelect(SOCKET s, MessageWindow* window, uint32_t msg, long events) {
  if (int e = injected("WSAAsyncSelect")) return fail(e);
  return MessageLoop::current().asyncSelect(s, window, msg, events);
}

timeval splitTimeout(uint32_t timeoutMs) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeoutMs / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
  return limit;
}

int waitReady(SOCKET s, bool forWrite, uint32_t timeoutMs) {
  if (int e = injected("select")) return fail(e);
  timeval limit = splitTimeout(timeoutMs);
  timespec remaining{limit.tv_sec, static_cast<long>(limit.tv_usec) * 1000L};
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += remaining.tv_sec;
  deadline.tv_nsec += remaining.tv_nsec;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  pollfd entry{};
  entry.fd = s;
  entry.events = static_cast<short>((forWrite ? POLLOUT : POLLIN) | POLLPRI);
  for (;;) {
    int n = ::ppoll(&entry, 1, &remaining, nullptr);
    if (n > 0) {
      if (entry.revents & POLLNVAL) return failWsa(WSAENOTSOCK);
      return 1;
    }
    if (n == 0) return 0;
    if (errno != EINTR) return fail(errno);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long left =
        (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
    if (left <= 0) return 0;
    remaining.tv_sec = static_cast<time_t>(left / 1000000000LL);
    remaining.tv_nsec = static_cast<long>(left % 1000000000LL);
  }
}

bool protocolName(int number, std::string& name) {
  // The protocol database may be missing on minimal systems; the two the
  // driver uses are known without it.
  protoent entry{};
  protoent* result = nullptr;
  char buffer[1024];
  if (getprotobynumber_r(number, &entry, buffer, sizeof buffer, &result) == 0 && result) {
    name = result->p_name;
    return true;
  }
  if (number == IPPROTO_TCP)
    name = "tcp";
  else if (number == IPPROTO_UDP)
    name = "udp";
  else {
    tLastError = WSANO_DATA;
    return false;
  }
  return true;
}

int servicePort(const std::string& name, const std::string& protocol) {
  servent entry{};
  servent* result = nullptr;
  char buffer[1024];
  if (getservbyname_r(name.c_str(), protocol.c_str(), &entry, buffer, sizeof buffer, &result) ==
          0 &&
      result)
    return ntohs(static_cast<uint16_t>(result->s_port));
  return -1;
}

uint32_t inetAddr(const std::string& text) {
  in_addr address{};
  // Strict dotted decimal only: no host names, no shortened forms.
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return INADDR_NONE;
  return address.s_addr;
}

std::string inetNtoa(uint32_t networkOrderAddress) {
  in_addr address{};
  address.s_addr = networkOrderAddress;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

void setFaultHook(FaultHook hook) {
  gFaultHook = std::move(hook);
}

}  // namespace mirelo::ws
