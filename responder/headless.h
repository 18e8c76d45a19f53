#pragma once
// kavrin --headless: the responder as a service without a window. It opens
// the driver's server with the driver's stored settings, answers every
// barcode from the price list (a file or a PostgreSQL query) and prints one
// line per request. SIGHUP reloads the price list; SIGINT and SIGTERM close
// the server and end it. --metrics serves figures for Prometheus.
#include <cstdio>
#include <string>
#include <string_view>

#include "responder/responder.h"

namespace mirelo {

struct THeadlessOptions {
  std::string Prices;
  std::string Settings;
  std::string PricesDb;     // instead of Prices: a PostgreSQL connection string
  std::string PricesQuery;  // empty: the default query
  std::string Metrics;      // ADDR:PORT of the Prometheus endpoint, or empty
  bool Quiet = false;       // no line per request
};

// Runs until SIGINT or SIGTERM; the exit status: 0 after a signal, 1 when
// the price list cannot be loaded or the server or the metrics port cannot
// open. Request lines and notices go to outFd, failures to errFd, both UTF-8
// and never waited for: lines that a reader does not take in time are
// dropped and counted.
int runHeadless(const THeadlessOptions& options, int outFd, int errFd);

// One request as printed:
// DATE TIME id=N ip=ADDRESS code="..." found|not-found line1="..." line2="..."
std::string formatRequestLine(const TAnswerRecord& record);
// Windows-1251 text as UTF-8 in quotes; '"', '\' and control bytes escaped.
std::string quoteText(std::string_view text);

}  // namespace mirelo
