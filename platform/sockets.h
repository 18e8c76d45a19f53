#pragma once
// Windows Sockets calls over POSIX sockets, IPv4 only. Every call sets the
// thread's last socket error to the Windows Sockets number of what failed.
//
// With MIRELO_LOOPBACK_ONLY set in the environment, every destination outside
// 127.0.0.0/8 is refused with 10051 (network unreachable).
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/socket_errors.h"

namespace mirelo {
class MessageWindow;
}

namespace mirelo::ws {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

int WSAGetLastError();
void WSASetLastError(int code);

// Start-up and clean-up are counted per process, as the library does.
int WSAStartup(uint16_t version);
int WSACleanup();
int startupCount();

bool loopbackOnly();
// The guard's decision: under the loopback-only rule only 127.0.0.0/8 may
// be reached (hostOrder: the IPv4 address in host byte order).
bool destinationAllowed(uint32_t hostOrder, bool loopbackOnly);
// True when the destination may be reached under the rule now in force.
bool destinationAllowed(const sockaddr_in& address);

SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
int setNonBlocking(SOCKET s, bool on);
int connect(SOCKET s, const sockaddr_in& address);
int bind(SOCKET s, const sockaddr_in& address);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr_in* address);
// MSG_NOSIGNAL is always added: a peer's close is an error, never a signal.
int send(SOCKET s, const void* data, int length, int flags);
int sendto(SOCKET s, const void* data, int length, int flags, const sockaddr_in& address);
int recv(SOCKET s, void* buffer, int length, int flags);
// A datagram longer than the buffer fails with 10040 (and is discarded).
int recvfrom(SOCKET s, void* buffer, int length, int flags, sockaddr_in* from);
// Up to count datagrams already waiting, in one call (recvmmsg, without
// waiting), into messages the caller prepared once: each one's size is its
// msg_len, and MSG_TRUNC in its msg_hdr.msg_flags says it did not fit (the
// rest of it is discarded). Returns how many, or -1 with the last error set
// (10035 when none was waiting). Fails where recvfrom does.
int recvBatch(SOCKET s, mmsghdr* messages, int count);
int shutdown(SOCKET s, int how);  // SD_RECEIVE 0, SD_SEND 1, SD_BOTH 2
int setsockopt(SOCKET s, int level, int name, int value);
// SO_RCVTIMEO: a blocking read waits at most timeoutMs (0: without limit),
// then fails with 10035.
int setReceiveTimeout(SOCKET s, uint32_t timeoutMs);
int getsockname(SOCKET s, sockaddr_in* address);
int getpeername(SOCKET s, sockaddr_in* address);
// The pending error of a socket (SO_ERROR) as a Windows Sockets number, 0 for none.
int socketError(SOCKET s);
// WSAAsyncSelect through the calling thread's MessageLoop.
int WSAAsyncSelect(SOCKET s, MessageWindow* window, uint32_t msg, long events);

// The time limit of a wait: timeout div 1000 seconds, (timeout mod 1000) * 1000
// microseconds.
timeval splitTimeout(uint32_t timeoutMs);
// Bounded wait: 1 ready, 0 timed out, -1 failed. Errors are always watched
// (as the exception set of select).
int waitReady(SOCKET s, bool forWrite, uint32_t timeoutMs);

// Protocol and service look-up; 0 (and WSANO_DATA) when unknown.
bool protocolName(int number, std::string& name);
// Port in host order, or -1 when no service of that name and protocol exists.
int servicePort(const std::string& name, const std::string& protocol);
// inet_addr: INADDR_NONE (all ones) for a text that does not convert.
uint32_t inetAddr(const std::string& text);
std::string inetNtoa(uint32_t networkOrderAddress);

// Test seam: when set, called before each socket call with the call's name;
// a non-zero result is taken as the errno with which the call fails.
using FaultHook = std::function<int(const char* call)>;
void setFaultHook(FaultHook hook);

}  // namespace mirelo::ws
