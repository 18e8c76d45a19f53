#pragma once
// For tests of the loopback guard: every socket call that carries a
// destination (connect, sendto) is failed at the fault seam, before the
// kernel sees it, and recorded. A broken guard then fails the test without
// sending anything anywhere.
#include <cerrno>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace mirelo::test {

struct DestinationBarrier {
  std::vector<std::string> reached;
  DestinationBarrier() {
    ws::setFaultHook([this](const char* call) {
      std::string name = call;
      if (name != "connect" && name != "sendto") return 0;
      reached.push_back(name);
      return EPERM;
    });
  }
  ~DestinationBarrier() { ws::setFaultHook(nullptr); }
  DestinationBarrier(const DestinationBarrier&) = delete;
  DestinationBarrier& operator=(const DestinationBarrier&) = delete;
};

}  // namespace mirelo::test
