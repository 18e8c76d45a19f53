// Time to open the property frame on an object with 99 logical devices: the
// page made through its class, given the object, activated (its fields and
// the device list filled) and shown, until the first paint is done. The
// offscreen platform unless QT_QPA_PLATFORM names another.
//
//   bench_property_frame [ROUNDS]
#include "driver/dialogs/property_frame.h"

#include <stdlib.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/addin/ole_1c.h"
#include "driver/automation/control.h"
#include "driver/dialogs/dialogs.h"

using namespace mirelo;

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  char pattern[] = "/tmp/mirelo-bench-frame-XXXXXX";
  const std::string scratch = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (scratch + "/registry.db").c_str(), 1);
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  RegisterDialogs();
  std::vector<double> times;
  {
    ComPtr<IVistel4> object = ComPtr<IUnknown>((new Tole1C())->identity()).as<IVistel4>();
    LONG code = 0;
    for (int i = 1; i < 99; ++i) object->AddLD(&code);
    LONG count = 0;
    object->get_LDCount(&count);
    IUnknown* objects[] = {object.get()};
    const CLSID pages[] = {CLASS_VistelPropertyPage};
    for (int round = 0; round < rounds; ++round) {
      auto start = std::chrono::steady_clock::now();
      TPropertyFrame frame(nullptr, objects, pages, CreatePropertyPage);
      frame.show();
      QApplication::processEvents();
      frame.grab();  // the first paint
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "property frame with %d devices, %d rounds: median %.1f ms, max %.1f ms, min %.1f ms\n",
        static_cast<int>(count), rounds, times[times.size() / 2], times.back(), times.front());
  }
  std::filesystem::remove_all(scratch);
  return 0;
}
