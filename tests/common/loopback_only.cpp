// Linked into every test program: even when a test binary is started by hand,
// without the environment CTest gives it, no socket may leave the machine,
// and no driver dialog may open on the screen of whoever runs it (nor wait
// invisibly for a click): the dialog members find no display and say so. A
// window test names Qt's offscreen platform again in its own main().
#include <cstdlib>
#include <initializer_list>

namespace {
const bool kLoopbackOnly = [] {
  setenv("MIRELO_LOOPBACK_ONLY", "1", 0);
  for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(display);
  return true;
}();
}  // namespace
