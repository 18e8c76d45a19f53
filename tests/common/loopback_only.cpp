// Linked into every test program: even when a test binary is started by hand,
// without the environment CTest gives it, no socket may leave the machine.
#include <cstdlib>

namespace {
const bool kLoopbackOnly = [] {
  setenv("MIRELO_LOOPBACK_ONLY", "1", 0);
  return true;
}();
}  // namespace
