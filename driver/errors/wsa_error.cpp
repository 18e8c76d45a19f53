#include "driver/errors/wsa_error.h"

#include "driver/errors/driver_error.h"
#include "platform/format.h"
#include "platform/sockets.h"

namespace mirelo {

std::string ErrorName(int code) {
  const ws::SocketErrorRow* row = ws::findSocketError(code);
  return row ? row->name : "WSA";
}

std::string ErrorText(int code) {
  const ws::SocketErrorRow* row = ws::findSocketError(code);
  return row ? row->text : "Not a Winsock error";
}

std::string SocketErrorMessage(int code) {
  return format("%d, %s: %s", code, ErrorName(code).c_str(), ErrorText(code).c_str());
}

void RaiseLastSocketError(int code) {
  if (code == ws::WSAENOTCONN) raiseNoConnection();
  throw Exception(SocketErrorMessage(code));
}

void RaiseLastSocketError() {
  RaiseLastSocketError(ws::WSAGetLastError());
}

}  // namespace mirelo
