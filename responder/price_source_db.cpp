#include "responder/price_source_db.h"

#include <libpq-fe.h>
#include <malloc.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <system_error>

#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

namespace {

constexpr uint32_t kOutcomesMessage = WM_USER + 1;

// The Windows-1251 byte of each UTF-16 unit, 0 for none (the server's texts
// are converted here, a million rows at a time, so without a detour).
const std::array<unsigned char, 0x10000>& ansiBytes() {
  static const auto table = [] {
    std::array<unsigned char, 0x10000> bytes{};
    for (int byte = 0x80; byte < 0x100; ++byte)
      bytes[ansiToWide(static_cast<unsigned char>(byte))] = static_cast<unsigned char>(byte);
    return bytes;
  }();
  return table;
}

// UTF-8 to Windows-1251 into out; false when a character had no byte (or the
// text was not UTF-8) and became '?'.
bool toAnsi(const char* utf8, size_t length, std::string& out) {
  const auto& bytes = ansiBytes();
  out.resize(length);  // never longer than the UTF-8
  size_t n = 0;
  bool whole = true;
  for (size_t i = 0; i < length;) {
    auto lead = static_cast<unsigned char>(utf8[i++]);
    if (lead < 0x80) {
      out[n++] = static_cast<char>(lead);
      continue;
    }
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    char32_t cp = lead & (0x3F >> std::max(extra, 0));
    for (int k = 0; k < extra && extra > 0; ++k, ++i) {
      if (i >= length || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
        extra = -1;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    }
    unsigned char byte = extra > 0 && cp < 0x10000 ? bytes[cp] : 0;
    whole &= byte != 0;
    out[n++] = byte ? static_cast<char>(byte) : '?';
  }
  out.resize(n);
  return whole;
}

std::string unconvertibleNote(size_t rows) {
  if (rows == 0) return {};
  return format(" (%zu %s a character with no Windows-1251 byte, shown as '?')", rows,
                rows == 1 ? "row has" : "rows have");
}

}  // namespace

TDbPrices loadPrices(TPgSession& session, const std::string& query) {
  TDbPrices prices;
  bool rows = false;
  session.Run(query, [&](const PGresult* result) {
    rows = true;
    int columns = PQnfields(result);
    if (columns != 3)
      throw EDbError(
          format("the query gives %d column%s; the price list needs 3: code, line 1, line 2",
                 columns, columns == 1 ? "" : "s"),
          false);
    int count = PQntuples(result);
    for (int i = 0; i < count; ++i) {
      if (prices.Rows.size() >= TPriceList::kMaxRows)
        throw EDbError(format("the query gives more than %zu rows", TPriceList::kMaxRows), false);
      TPriceRow& row = prices.Rows.emplace_back();
      std::string* cells[3] = {&row.Code, &row.Line1, &row.Line2};
      bool whole = true;
      for (int column = 0; column < 3; ++column)
        if (!PQgetisnull(result, i, column))
          whole &= toAnsi(PQgetvalue(result, i, column),
                          static_cast<size_t>(PQgetlength(result, i, column)), *cells[column]);
      prices.Unconvertible += !whole;
    }
  });
  if (!rows)
    throw EDbError("the query gives no rows: it must be a SELECT of code, line 1, line 2", false);
  return prices;
}

TPriceSourceDb::TPriceSourceDb(TPriceList& list, TDbSourceOptions options)
    : list_(list), options_(std::move(options)) {
  wake_.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_.fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  window_ = std::make_unique<MessageWindow>([this](const Message& message) {
    if (message.msg == kOutcomesMessage) deliver();
  });
  // Even the first list is made by the worker: every list then lives in
  // the worker's heap, and freeing one there never holds up an answer
  // waiting for the service thread's heap.
  std::promise<Outcome> first;
  std::future<Outcome> ready = first.get_future();
  worker_ = std::thread([this, &first] { run(first); });
  Outcome outcome;
  try {
    outcome = ready.get();
  } catch (...) {
    worker_.join();
    throw;
  }
  firstNote_ = unconvertibleNote(outcome.Unconvertible);
  std::swap(list_, *outcome.List);
  std::lock_guard lock(mutex_);
  spent_.push_back(std::move(outcome.List));
}

TPriceSourceDb::~TPriceSourceDb() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wakeWorker();
  worker_.join();
}

void TPriceSourceDb::wakeWorker() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_.fd, &one, sizeof one);
}

void TPriceSourceDb::Reload() {
  {
    std::lock_guard lock(mutex_);
    reload_ = true;
  }
  wakeWorker();
}

std::unique_ptr<TPgSession> TPriceSourceDb::connect() {
  auto session =
      std::make_unique<TPgSession>(options_.Conninfo, wake_.fd, [this] { return wakeCheck(); });
  // Listening before loading: a change committed after the load's snapshot
  // always reaches us as a notification.
  session->Listen(options_.Channel);
  return session;
}

// ---- the worker ----

bool TPriceSourceDb::wakeCheck() {
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(wake_.fd, &count, sizeof count);
  std::lock_guard lock(mutex_);
  return stop_;
}

bool TPriceSourceDb::takeRequests(bool& loadWanted) {
  std::vector<std::unique_ptr<TPriceList>> spent;
  {
    std::lock_guard lock(mutex_);
    if (stop_) return true;
    loadWanted |= reload_;
    reload_ = false;
    spent.swap(spent_);
  }
  // A million rows take a while to free: here, not on the service's thread;
  // and the memory goes back to the system, not only to this thread's heap.
  if (!spent.empty()) {
    spent.clear();
    malloc_trim(0);
  }
  return false;
}

void TPriceSourceDb::post(Outcome outcome) {
  {
    std::lock_guard lock(mutex_);
    outcomes_.push_back(std::move(outcome));
  }
  window_->post(kOutcomesMessage);
}

void TPriceSourceDb::run(std::promise<Outcome>& first) {
  using Clock = std::chrono::steady_clock;
  std::minstd_rand random(std::random_device{}());
  int retryMs = options_.FirstRetryMs;
  Clock::time_point retryAt;
  bool loadWanted = false;
  auto lose = [&](const EDbError& e) {
    session_.reset();
    post({TPriceSourceEvent::Disconnected, e.what(), nullptr});
    retryMs = options_.FirstRetryMs;
    retryAt = Clock::now() + std::chrono::milliseconds(retryMs);
  };
  try {
    session_ = connect();
    name_ = session_->Describe();
    TDbPrices prices = loadPrices(*session_, options_.Query);
    first.set_value({TPriceSourceEvent::Loaded,
                     {},
                     std::make_unique<TPriceList>(std::move(prices.Rows)),
                     prices.Unconvertible});
  } catch (...) {
    first.set_exception(std::current_exception());
    return;
  }
  try {
    for (;;) {
      if (takeRequests(loadWanted)) return;
      if (!session_) {
        // Down: connect again when the time comes, or at once on request.
        auto now = Clock::now();
        if (!loadWanted && now < retryAt) {
          auto waitMs =
              std::chrono::duration_cast<std::chrono::milliseconds>(retryAt - now).count();
          pollfd wake{wake_.fd, POLLIN, 0};
          if (::poll(&wake, 1, static_cast<int>(waitMs) + 1) > 0) wakeCheck();
          continue;
        }
        bool asked = loadWanted;
        loadWanted = false;
        try {
          session_ = connect();
        } catch (const EDbError& e) {
          if (asked) post({TPriceSourceEvent::LoadFailed, e.what(), nullptr});
          retryMs = std::min(retryMs * 2, options_.LastRetryMs);
          int jitter = static_cast<int>(random() % static_cast<unsigned>(retryMs / 5 + 1));
          retryAt = Clock::now() + std::chrono::milliseconds(retryMs - retryMs / 10 + jitter);
          continue;
        }
        post({TPriceSourceEvent::Reconnected, session_->Describe(), nullptr});
        loadWanted = true;
        continue;
      }
      if (loadWanted) {
        loadWanted = false;
        // Whatever was announced before this load is in it.
        session_->TakeNotifications();
        try {
          TDbPrices prices = loadPrices(*session_, options_.Query);
          auto list = std::make_unique<TPriceList>(std::move(prices.Rows));
          post({TPriceSourceEvent::Loaded, {}, std::move(list), prices.Unconvertible});
        } catch (const EDbError& e) {
          if (e.Lost()) {
            lose(e);
            continue;
          }
          post({TPriceSourceEvent::LoadFailed, e.what(), nullptr});
        } catch (const std::exception& e) {
          // No room for a second list, say: the first one stays.
          post({TPriceSourceEvent::LoadFailed, e.what(), nullptr});
        }
        continue;
      }
      // Announced while the last statement ran (libpq has it already, the
      // socket will not tell): maybe not in the last load, so once more.
      if (session_->TakeNotifications() > 0) {
        loadWanted = true;
        continue;
      }
      pollfd fds[2] = {{session_->Socket(), POLLIN, 0}, {wake_.fd, POLLIN, 0}};
      if (::poll(fds, 2, -1) <= 0) continue;
      if (fds[1].revents) wakeCheck();
      if (!fds[0].revents) continue;
      try {
        session_->ReadInput();
        if (session_->TakeNotifications() > 0) loadWanted = true;
      } catch (const EDbError& e) {
        lose(e);
      }
    }
  } catch (const EDbStopped&) {
  }
}

// ---- the service's thread ----

void TPriceSourceDb::deliver() {
  std::deque<Outcome> outcomes;
  {
    std::lock_guard lock(mutex_);
    outcomes.swap(outcomes_);
  }
  for (Outcome& outcome : outcomes) {
    std::string text;
    switch (outcome.Kind) {
      case TPriceSourceEvent::Loaded:
        // Between two messages: no answer sees half of each list.
        std::swap(list_, *outcome.List);
        text = format("reloaded %zu rows from %s%s", list_.Count(), name_.c_str(),
                      unconvertibleNote(outcome.Unconvertible).c_str());
        {
          std::lock_guard lock(mutex_);
          spent_.push_back(std::move(outcome.List));
        }
        wakeWorker();
        break;
      case TPriceSourceEvent::LoadFailed:
        text = format("reload failed, keeping the %zu rows loaded before: %s", list_.Count(),
                      outcome.Reason.c_str());
        break;
      case TPriceSourceEvent::Disconnected:
        text = format("%s; answering from the %zu rows in memory, retrying", outcome.Reason.c_str(),
                      list_.Count());
        break;
      case TPriceSourceEvent::Reconnected:
        text = format("database connection restored: %s; loading the list again",
                      outcome.Reason.c_str());
        break;
    }
    report(outcome.Kind, std::move(text), list_.Count());
  }
}

}  // namespace mirelo
