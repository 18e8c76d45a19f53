#include "platform/socket_errors.h"

namespace mirelo::ws {
namespace {

#define MIRELO_SOCKET_ERROR_ROW(name, number, text, ...) {number, #name, text},
constexpr SocketErrorRow kRows[] = {MIRELO_SOCKET_ERRORS(MIRELO_SOCKET_ERROR_ROW)};
#undef MIRELO_SOCKET_ERROR_ROW

struct ErrnoRow {
  int error;
  int code;
};

// One row per errno value a socket error stands for.
#define MIRELO_SOCKET_ERRNO_ROWS(name, number, text, ...) MIRELO_ERRNO_EACH(number, __VA_ARGS__)
#define MIRELO_ERRNO_EACH(number, ...) __VA_OPT__(MIRELO_ERRNO_FIRST(number, __VA_ARGS__))
#define MIRELO_ERRNO_FIRST(number, first, ...) \
  {first, number}, __VA_OPT__(MIRELO_ERRNO_SECOND(number, __VA_ARGS__))
#define MIRELO_ERRNO_SECOND(number, second, ...) \
  {second, number}, __VA_OPT__(MIRELO_ERRNO_THIRD(number, __VA_ARGS__))
#define MIRELO_ERRNO_THIRD(number, third) {third, number},
constexpr ErrnoRow kErrnoRows[] = {MIRELO_SOCKET_ERRORS(MIRELO_SOCKET_ERRNO_ROWS)};
#undef MIRELO_SOCKET_ERRNO_ROWS

}  // namespace

const SocketErrorRow* findSocketError(int code) {
  for (const auto& row : kRows)
    if (row.code == code) return &row;
  return nullptr;
}

int errnoToWsa(int error) {
  for (const auto& row : kErrnoRows)
    if (row.error == error) return row.code;
  return error;
}

}  // namespace mirelo::ws
