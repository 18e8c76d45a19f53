#pragma once
// Prices from PostgreSQL. The query gives the rows in the order the first
// of several rows with one code wins, three columns: code, line 1, line 2
// (NULL reads as empty text). Texts arrive as UTF-8 and become Windows-1251
// for the terminal; a character with no byte becomes '?', and the rows with
// one are counted once per load.
//
// The first list is loaded before anything else runs. After that a worker
// thread keeps one connection that LISTENs on the channel; a notification or
// Reload() makes it load a complete new list beside the one in use, which the
// service's thread then swaps in between two messages: an answer sees the old
// list or the new one, never a mix, and scans are answered all along. Requests
// coalesce: at most one load runs and one more waits, however many arrive. A
// load that fails, or stops halfway, leaves the list in use as it was.
//
// When the connection is lost, the list in use stays and the worker connects
// again after 1 s, 2 s, 4 s ... up to a minute (a little randomised, so that
// many shops do not all knock at once); a Reload() tries at once. Losing and
// regaining the connection are told once each, never every retry; a new
// connection loads the list again, since notifications were missed meanwhile.
#include <unistd.h>

#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "responder/pg_session.h"
#include "responder/price_source.h"

namespace mirelo {

struct TDbSourceOptions {
  std::string Conninfo;
  std::string Query = kDefaultPricesQuery;
  std::string Channel = kPricesChannel;
  int FirstRetryMs = 1000;
  int LastRetryMs = 60000;
};

struct TDbPrices {
  std::vector<TPriceRow> Rows;
  size_t Unconvertible = 0;  // rows with a character that has no Windows-1251 byte
};

// Runs the query and converts its rows. Raises EDbError: a query that fails,
// gives other than three columns or more than TPriceList::kMaxRows rows.
TDbPrices loadPrices(TPgSession& session, const std::string& query);

class TPriceSourceDb : public TPriceSource {
 public:
  // Connects, listens and loads the first list into list; the calling
  // thread's message loop then receives the new lists. Raises EDbError (list
  // unchanged).
  TPriceSourceDb(TPriceList& list, TDbSourceOptions options);
  ~TPriceSourceDb() override;

  std::string Name() const override { return name_; }
  std::string FirstLoadNote() const override { return firstNote_; }
  void Reload() override;

 private:
  struct Outcome {
    TPriceSourceEvent::TKind Kind = TPriceSourceEvent::Loaded;
    std::string Reason;
    std::unique_ptr<TPriceList> List;
    size_t Unconvertible = 0;
  };

  // The worker; first: the first list, or why there is none.
  void run(std::promise<Outcome>& first);
  bool takeRequests(bool& loadWanted);  // true: stop
  bool wakeCheck();
  void wakeWorker();
  void post(Outcome outcome);
  std::unique_ptr<TPgSession> connect();
  // The service's thread.
  void deliver();

  TPriceList& list_;
  TDbSourceOptions options_;
  std::string name_;
  std::string firstNote_;
  std::unique_ptr<TPgSession> session_;  // the worker's
  struct Descriptor {
    int fd = -1;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } wake_;  // eventfd: a request for the worker
  std::unique_ptr<MessageWindow> window_;

  std::mutex mutex_;
  bool stop_ = false;
  bool reload_ = false;
  std::deque<Outcome> outcomes_;                    // for the service's thread
  std::vector<std::unique_ptr<TPriceList>> spent_;  // lists swapped out, freed by the worker
  std::thread worker_;
};

}  // namespace mirelo
