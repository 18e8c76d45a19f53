#include "responder/options.h"

#include <cstring>

#include "platform/cp1251.h"

namespace mirelo {

const char* const kKavrinHelp = R"(Usage:
  kavrin [--settings FILE]                             the window
  kavrin --headless --prices FILE [--settings FILE] [--metrics ADDR:PORT] [--quiet]
  kavrin --headless --prices-db CONNINFO [--prices-query SQL] [--settings FILE]
         [--metrics ADDR:PORT] [--quiet]               the service, no display needed
  kavrin --help

kavrin answers every barcode that a price-check terminal scans with two display
lines: line 1 and line 2 of the first row of the price list whose code equals
the barcode (cut before its first control character; exact, case-sensitive),
or the two not-found lines for an unknown code.

The window edits the price list in a grid, opens and saves price list files,
sets the not-found lines ("Параметры...") and opens or closes the driver's
server ("Обработка запросов от Vistel").

--headless opens the driver's server at once and prints one line per request:
  DATE TIME id=SENDER_ID ip=ADDRESS code="BARCODE" found|not-found line1="..." line2="..."
Texts are UTF-8 on output; control bytes, '"' and '\' are escaped (\xNN, \", \\);
line1 and line2 are what the terminal shows: at most 30 characters each.
Output never holds up the service: lines that standard output does not take
(nobody reads it) are dropped, and their count goes to standard error.
  SIGHUP           reloads the price list (a list that cannot be read keeps
                   the list loaded before; the reason goes to stderr)
  SIGINT, SIGTERM  close the server and exit with status 0
Exit status 1 when the price list cannot be loaded at start, the server
cannot open (then the driver's result is printed as "CODE, DESCRIPTION") or
the metrics port cannot be opened.

Options:
  --quiet          (with --headless) no line per request: for benchmarks and
                   busy shops; notices and failures are still printed
  --prices FILE    the price list: Windows-1251 text, one row a line,
                   "code;line 1;line 2;" (CR LF, LF or CR line ends)
  --prices-db CONNINFO
                   the price list from PostgreSQL: a libpq connection string
                   ("host=db.shop.lan dbname=shop user=kavrin", "service=prices")
                   or URI ("postgresql://kavrin@db.shop.lan/shop")
  --prices-query SQL
                   the query giving the rows, first row first, three columns:
                   code, line 1, line 2 (NULL is empty text); default:
                   SELECT code, line1, line2 FROM prices ORDER BY id
  --metrics ADDR:PORT
                   serve Prometheus figures at http://ADDR:PORT/metrics;
                   "PORT" alone listens on 127.0.0.1
  --settings FILE  the settings file with the not-found lines, section
                   [Параметры], keys Строка1 and Строка2 (default "Not found");
                   default: the program's path with ".ini". A file that
                   cannot be read or is not an INI file is named on standard
                   error and not used: the defaults apply
  --help           this text

Prices from PostgreSQL: texts are converted from the database to Windows-1251
(a character without a byte becomes '?'; such rows are counted in the load's
message). "NOTIFY prices_changed" (or SIGHUP) loads a complete new list in the
background and puts it in use only when it is whole; scans are answered all
along from the list in use. A failed load keeps that list. A database that
cannot be reached at start ends kavrin with status 1; one lost later is
retried with growing pauses (1 s to 1 min) while the list in memory answers.

The server's port and protocol and the list of terminals are the driver's own
settings (default TCP, port 2004), kept in the registry file $MIRELO_REGISTRY
(else $XDG_CONFIG_HOME/korvex/registry.db); set them with the driver's
property dialog ("Драйвер..." in the window) or the mirelo shell, e.g.
  mirelo run ServerProtocol=0 ServerPort=2005 SaveParams
)";

TKavrinOptions parseKavrinOptions(const std::vector<std::string>& args) {
  TKavrinOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* what = "a file name") -> std::string {
      if (i + 1 >= args.size() || args[i + 1].empty()) throw EUsageError(arg + " needs " + what);
      return args[++i];
    };
    if (arg == "--headless") {
      options.Headless = true;
    } else if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--prices") {
      options.Prices = value();
    } else if (arg == "--settings") {
      options.Settings = value();
    } else if (arg == "--quiet") {
      options.Quiet = true;
    } else if (arg == "--prices-db") {
      options.PricesDb = value("a connection string");
    } else if (arg == "--prices-query") {
      options.PricesQuery = value("a query");
    } else if (arg == "--metrics") {
      options.Metrics = value("ADDR:PORT");
    } else {
      throw EUsageError("unknown argument '" + utf8ToAnsi(arg) + "'");
    }
  }
  if (options.Help) return options;
  if (options.Headless && options.Prices.empty() && options.PricesDb.empty())
    throw EUsageError("--headless needs --prices FILE or --prices-db CONNINFO");
  if (!options.Prices.empty() && !options.PricesDb.empty())
    throw EUsageError("--prices and --prices-db exclude each other");
  if (!options.PricesQuery.empty() && options.PricesDb.empty())
    throw EUsageError("--prices-query needs --prices-db");
  if (!options.Headless && !options.Prices.empty())
    throw EUsageError(
        "--prices is for --headless; the window opens price lists with \"Открыть...\"");
  if (!options.Headless && (!options.PricesDb.empty() || !options.Metrics.empty()))
    throw EUsageError("--prices-db and --metrics are for --headless");
  if (!options.Headless && options.Quiet)
    throw EUsageError("--quiet is for --headless; the window prints nothing");
  return options;
}

bool wantsNoWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--headless") == 0 || std::strcmp(argv[i], "--help") == 0 ||
        std::strcmp(argv[i], "-h") == 0)
      return true;
  return false;
}

}  // namespace mirelo
