#include "driver/errors/wsa_error.h"

#include "driver/errors/driver_error.h"
#include "platform/format.h"
#include "platform/sockets.h"

namespace mirelo {
namespace {

struct WsaErrorRow {
  int code;
  const char* name;
  const char* text;
};

constexpr WsaErrorRow kWsaErrors[] = {
    {10004, "WSAEINTR", "Interrupted system call"},
    {10009, "WSAEBADF", "Bad file number"},
    {10013, "WSAEACCES", "Permission denied"},
    {10014, "WSAEFAULT", "Bad address"},
    {10022, "WSAEINVAL", "Invalid argument"},
    {10024, "WSAEMFILE", "Too many open files"},
    {10035, "WSAEWOULDBLOCK", "Operation would block"},
    {10036, "WSAEINPROGRESS", "Operation now in progress"},
    {10037, "WSAEALREADY", "Operation already in progress"},
    {10038, "WSAENOTSOCK", "Socket operation on nonsocket"},
    {10039, "WSAEDESTADDRREQ", "Destination address required"},
    {10040, "WSAEMSGSIZE", "Message too long"},
    {10041, "WSAEPROTOTYPE", "Protocol wrong type for socket"},
    {10042, "WSAENOPROTOOPT", "Protocol not available"},
    {10043, "WSAEPROTONOSUPPORT", "Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT", "Socket not supported"},
    {10045, "WSAEOPNOTSUPP", "Operation not supported on socket"},
    {10046, "WSAEPFNOSUPPORT", "Protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT", "Address family not supported"},
    {10048, "WSAEADDRINUSE", "Address already in use"},
    {10049, "WSAEADDRNOTAVAIL", "Can't assign requested address"},
    {10050, "WSAENETDOWN", "Network is down"},
    {10051, "WSAENETUNREACH", "Network is unreachable"},
    {10052, "WSAENETRESET", "Network dropped connection on reset"},
    {10053, "WSAECONNABORTED", "Software caused connection abort"},
    {10054, "WSAECONNRESET", "Connection reset by peer"},
    {10055, "WSAENOBUFS", "No buffer space available"},
    {10056, "WSAEISCONN", "Socket is already connected"},
    {10057, "WSAENOTCONN", "Нет связи"},
    {10058, "WSAESHUTDOWN", "Can't send after socket shutdown"},
    {10059, "WSAETOOMANYREFS", "Too many references:can't splice"},
    {10060, "WSAETIMEDOUT", "Connection timed out"},
    {10061, "WSAECONNREFUSED", "Connection refused"},
    {10062, "WSAELOOP", "Too many levels of symbolic links"},
    {10063, "WSAENAMETOOLONG", "File name is too long"},
    {10064, "WSAEHOSTDOWN", "Host is down"},
    {10065, "WSAEHOSTUNREACH", "No route to host"},
    {10066, "WSAENOTEMPTY", "Directory is not empty"},
    {10067, "WSAEPROCLIM", "Too many processes"},
    {10068, "WSAEUSERS", "Too many users"},
    {10069, "WSAEDQUOT", "Disk quota exceeded"},
    {10070, "WSAESTALE", "Stale NFS file handle"},
    {10071, "WSAEREMOTE", "Too many levels of remote in path"},
    {10091, "WSASYSNOTREADY", "Network subsystem is unusable"},
    {10092, "WSAVERNOTSUPPORTED", "Winsock DLL cannot support this application"},
    {10093, "WSANOTINITIALISED", "Winsock not initialized"},
    {11001, "WSAHOST_NOT_FOUND", "Host not found"},
    {11002, "WSATRY_AGAIN", "Non authoritative - host not found"},
    {11003, "WSANO_RECOVERY", "Non recoverable error"},
    {11004, "WSANO_DATA", "Valid name, no data record of requested type"},
};

const WsaErrorRow* findRow(int code) {
  for (const auto& row : kWsaErrors)
    if (row.code == code) return &row;
  return nullptr;
}

}  // namespace

std::string ErrorName(int code) {
  const WsaErrorRow* row = findRow(code);
  return row ? row->name : "WSA";
}

std::string ErrorText(int code) {
  const WsaErrorRow* row = findRow(code);
  return row ? row->text : "Not a Winsock error";
}

std::string SocketErrorMessage(int code) {
  return format("%d, %s: %s", code, ErrorName(code).c_str(), ErrorText(code).c_str());
}

void RaiseLastSocketError(int code) {
  if (code == ws::WSAENOTCONN) raiseNoConnection();
  throw Exception(SocketErrorMessage(code));
}

void RaiseLastSocketError() { RaiseLastSocketError(ws::WSAGetLastError()); }

}  // namespace mirelo
