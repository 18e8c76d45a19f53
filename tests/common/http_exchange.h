#pragma once
// One HTTP exchange with a server on 127.0.0.1: the request as given, the
// reply until the server closes (or timeoutMs passes without a byte).
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace mirelo::test {

inline std::string httpExchange(uint16_t port, const std::string& request, int timeoutMs = 5000) {
  int fd = connectTo(port);
  if (fd < 0) return "<refused>";
  writeAll(fd, request);
  std::string reply;
  for (std::string part; !(part = readSome(fd, timeoutMs)).empty();) reply += part;
  ::close(fd);
  return reply;
}

inline std::string httpGet(uint16_t port, const std::string& path) {
  return httpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

}  // namespace mirelo::test
