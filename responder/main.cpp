// kavrin: the price lookup responder. The window by default; --headless runs
// the same responder as a service that needs no display (and no Qt).
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/cp1251.h"
#include "responder/headless.h"
#include "responder/options.h"

#ifdef MIRELO_KAVRIN_WINDOW
#include "responder/gui/kavrin_window.h"
#endif

namespace {

int usageError(const std::string& message) {
  std::fprintf(stderr, "kavrin: %s\n(kavrin --help explains the options)\n",
               mirelo::ansiToUtf8(message).c_str());
  return 2;
}

// Every TCP terminal holds a descriptor while it is connected; the usual
// soft limit of 1024 would refuse the 1021st. Raised as far as the hard limit
// lets, up to what thousands of terminals need.
void raiseDescriptorLimit() {
  constexpr rlim_t kWanted = 65536;
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kWanted) return;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? kWanted : std::min(kWanted, limit.rlim_max);
  if (wanted <= limit.rlim_cur) return;
  limit.rlim_cur = wanted;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mirelo;
  raiseDescriptorLimit();
  if (!wantsNoWindow(argc, argv)) {
#ifdef MIRELO_KAVRIN_WINDOW
    return runKavrinWindow(argc, argv);
#else
    try {
      parseKavrinOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EUsageError& e) {
      return usageError(e.what());
    }
    std::fprintf(stderr,
                 "kavrin: this build has no window (configured with -DMIRELO_GUI=OFF); "
                 "run the service with: kavrin --headless --prices FILE\n");
    return 2;
#endif
  }
  TKavrinOptions options;
  try {
    options = parseKavrinOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& e) {
    return usageError(e.what());
  }
  if (options.Help) {
    std::fputs(ansiToUtf8(kKavrinHelp).c_str(), stdout);
    return 0;
  }
  return runHeadless({options.Prices, options.Settings, options.PricesDb, options.PricesQuery,
                      options.Metrics, options.Quiet},
                     1, 2);
}
