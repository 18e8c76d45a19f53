#pragma once
// The command line of kavrin.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirelo {

struct TKavrinOptions {
  bool Headless = false;
  bool Help = false;
  std::string Prices;       // --prices FILE (headless)
  std::string Settings;     // --settings FILE; empty: the program's own .ini
  std::string PricesDb;     // --prices-db CONNINFO (headless, instead of --prices)
  std::string PricesQuery;  // --prices-query SQL; empty: the default query
  std::string Metrics;      // --metrics ADDR:PORT (headless)
  bool Quiet = false;       // --quiet (headless): no line per request
};

struct EUsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Raises EUsageError for an unknown option, a missing value, or --prices or
// --quiet without --headless (the window loads its list through its open
// dialog and prints nothing); the service takes exactly one of --prices and
// --prices-db.
TKavrinOptions parseKavrinOptions(const std::vector<std::string>& args);

// True when the arguments ask for headless mode or help, which need no
// display: decided before the window's toolkit takes its own options.
bool wantsNoWindow(int argc, char** argv);

extern const char* const kKavrinHelp;

}  // namespace mirelo
