#pragma once
// The termsim command line: "serve" runs a simulated terminal until SIGINT or
// SIGTERM, "scan" plays a terminal scanning barcodes at a host's server.
#include <ostream>
#include <string>
#include <vector>

#include "tools/termsim/simulator.h"

namespace mirelo::termsim {

// Exit codes: 0 success, 1 a scan got no (good) answer or serving failed,
// 2 bad usage.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The options of "serve" applied to simulator options; raises
// std::invalid_argument with a message naming the option. Exposed for tests.
Options parseServeOptions(const std::vector<std::string>& args);

}  // namespace mirelo::termsim
