#pragma once
// Where the headless service's price list comes from and how it is
// reloaded: a price list file (read again at once on request) or a
// PostgreSQL query (read in the background and swapped in when whole; see
// price_source_db.h). Whatever happens to the source is told as events on
// the service's thread.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "responder/price_list.h"

namespace mirelo {

struct TPriceSourceEvent {
  enum TKind {
    Loaded,        // a new list is in use
    LoadFailed,    // a load failed; the list in use stays
    Disconnected,  // the database went away; the list in use stays
    Reconnected,   // the database is back (a load follows)
  };
  TKind Kind = Loaded;
  std::string Text;  // one line for the log, Windows-1251
  size_t Rows = 0;   // rows of the list in use afterwards
  std::chrono::system_clock::time_point Time;
};

struct TPriceSourceOptions {
  std::string PricesFile;  // UTF-8 path
  std::string Conninfo;    // libpq connection string or URI; set: the database
  std::string Query;       // empty: kDefaultPricesQuery
};

// The rows in the order the first one wins: code, line 1, line 2.
inline constexpr const char* kDefaultPricesQuery =
    "SELECT code, line1, line2 FROM prices ORDER BY id";
// NOTIFY on this channel reloads the list.
inline constexpr const char* kPricesChannel = "prices_changed";

class TPriceSource {
 public:
  virtual ~TPriceSource() = default;
  // How messages name the source: "'prices.txt'", "database 'shop' on ...".
  virtual std::string Name() const = 0;
  // Anything to say about the first load (" (3 rows had ...)"), or "".
  virtual std::string FirstLoadNote() const { return {}; }
  // Loads the list again (SIGHUP); the outcome comes as an event.
  virtual void Reload() = 0;
  // Events, on the thread that made the source.
  std::function<void(const TPriceSourceEvent&)> OnEvent;

 protected:
  void report(TPriceSourceEvent::TKind kind, std::string text, size_t rows);
};

// Loads the first list into list and returns the source that keeps it
// current; list must outlive it. Raises when the first list cannot be had
// (list unchanged): EFileError, or EDbError for the database.
std::unique_ptr<TPriceSource> openPriceSource(const TPriceSourceOptions& options, TPriceList& list);

}  // namespace mirelo
