#pragma once
// The transport selector of a logical device's client exchanges and of the
// listening server; hosts carry it as a 32-bit integer.
#include <cstdint>

namespace mirelo {

enum TProtocol : uint8_t { ptUDP = 0, ptTCP = 1 };

// True for the two values a TProtocol may hold; anything else a store or a
// host supplies must be rejected before it becomes one.
constexpr bool isProtocol(int64_t value) {
  return value == ptUDP || value == ptTCP;
}

}  // namespace mirelo
