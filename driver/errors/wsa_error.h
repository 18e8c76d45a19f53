#pragma once
// Windows Sockets error names and texts, and the one routine that turns a
// socket error into an exception.
#include <string>

namespace mirelo {

std::string ErrorName(int code);
std::string ErrorText(int code);
// "%d, %s: %s": code, name, text.
std::string SocketErrorMessage(int code);

// 10057 raises EDriverError -1 "Нет связи"; any other code raises the general
// exception with SocketErrorMessage(code).
[[noreturn]] void RaiseLastSocketError(int code);
// The calling thread's last socket error.
[[noreturn]] void RaiseLastSocketError();

}  // namespace mirelo
