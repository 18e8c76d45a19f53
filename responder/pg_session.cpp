#include "responder/pg_session.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "platform/cp1251.h"
#include "platform/format.h"

namespace mirelo {

namespace {

using Clock = std::chrono::steady_clock;

// A libpq message on one line, in Windows-1251: libpq ends its messages with
// a line feed and indents a second line with a tab.
std::string oneLine(const char* utf8) {
  std::string text;
  bool blank = false;
  for (const char* p = utf8 ? utf8 : ""; *p; ++p) {
    if (*p == '\n' || *p == '\t' || *p == '\r' || *p == ' ') {
      blank = !text.empty();
      continue;
    }
    if (blank) text += ' ';
    blank = false;
    text += *p;
  }
  return utf8ToAnsi(text);
}

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

}  // namespace

TPgSession::TPgSession(const std::string& conninfo, int wakeFd, WakeCheck check, int timeoutMs)
    : wakeFd_(wakeFd), check_(std::move(check)) {
  // Later keywords override earlier ones: the defaults come before the
  // operator's connection string, the encoding after it.
  std::string timeout = std::to_string((timeoutMs + 999) / 1000);
  const char* keys[] = {
      "connect_timeout",  "keepalives_idle", "keepalives_interval", "keepalives_count",
      "application_name", "dbname",          "client_encoding",     nullptr};
  const char* values[] = {timeout.c_str(),  "60",   "10",   "3", "kavrin",
                          conninfo.c_str(), "UTF8", nullptr};
  conn_ = PQconnectStartParams(keys, values, 1);
  if (!conn_) throw EDbError("no memory for a database connection", true);
  // Notices are not printed: the last one says why the server hung up.
  PQsetNoticeProcessor(
      conn_,
      [](void* self, const char* text) {
        static_cast<TPgSession*>(self)->lastNotice_ = oneLine(text);
      },
      this);
  if (PQstatus(conn_) == CONNECTION_BAD) fail("cannot connect to the database", true);

  // libpq leaves the time limit to whoever polls: the effective
  // connect_timeout, 0 meaning none.
  int limitMs = -1;
  if (PQconninfoOption* options = PQconninfo(conn_)) {
    for (PQconninfoOption* o = options; o->keyword; ++o)
      if (std::strcmp(o->keyword, "connect_timeout") == 0 && o->val)
        limitMs = std::atoi(o->val) * 1000;
    PQconninfoFree(options);
  }
  if (limitMs <= 0) limitMs = -1;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    if (status == PGRES_POLLING_FAILED) fail("cannot connect to the database", true);
    int leftMs = -1;
    if (limitMs > 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      leftMs = static_cast<int>(std::max<long long>(left, 0));
    }
    try {
      wait(status == PGRES_POLLING_WRITING, leftMs);
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
    if (limitMs > 0 && Clock::now() >= deadline) {
      PQfinish(conn_);
      throw EDbError(
          format("cannot connect to the database: no answer within %d s", limitMs / 1000), true);
    }
    status = PQconnectPoll(conn_);
  }
  // kavrin only reads: a query that would change something is refused.
  try {
    Run("SET default_transaction_read_only = on");
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

TPgSession::~TPgSession() {
  PQfinish(conn_);
}

void TPgSession::fail(const std::string& what, bool lost) {
  std::string reason = oneLine(PQerrorMessage(conn_));
  // "FATAL: terminating connection due to administrator command" says more
  // than "server closed the connection unexpectedly".
  if (lost && lastNotice_.rfind("FATAL:", 0) == 0) reason = lastNotice_.substr(7);
  std::string message = reason.empty() ? what : what + ": " + reason;
  if (lost && conn_) {
    PQfinish(conn_);
    conn_ = nullptr;
  }
  throw EDbError(message, lost);
}

int TPgSession::Socket() const {
  return PQsocket(conn_);
}

std::string TPgSession::Describe() const {
  return format("database '%s' on %s:%s", utf8ToAnsi(PQdb(conn_)).c_str(),
                utf8ToAnsi(PQhost(conn_)).c_str(), PQport(conn_));
}

void TPgSession::wait(bool forWrite, int timeoutMs) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd fds[2] = {{PQsocket(conn_), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                     {wakeFd_, POLLIN, 0}};
    int n = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, timeoutMs);
    if (n < 0 && errno != EINTR) fail(format("poll: %s", std::strerror(errno)), true);
    if (n > 0 && (fds[1].revents & POLLIN) && check_ && check_()) throw EDbStopped{};
    if (n > 0 && fds[0].revents) return;
    if (timeoutMs >= 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return;
      timeoutMs = static_cast<int>(left);
    }
  }
}

void TPgSession::Run(const std::string& sql, const std::function<void(const PGresult*)>& onRow) {
  // The extended protocol: one statement only, whatever the text holds.
  if (!PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
    fail("the database refused the statement", PQstatus(conn_) != CONNECTION_OK);
  if (onRow) PQsetSingleRowMode(conn_);
  std::exception_ptr raised;
  std::string error;
  for (;;) {
    while (PQisBusy(conn_)) {
      wait(false, -1);
      if (!PQconsumeInput(conn_)) fail("database connection lost", true);
    }
    Result result(PQgetResult(conn_));
    if (!result) break;
    switch (PQresultStatus(result.get())) {
      case PGRES_SINGLE_TUPLE:
      case PGRES_TUPLES_OK:
        if (!onRow || raised) break;
        try {
          onRow(result.get());
        } catch (...) {
          raised = std::current_exception();
          // The rest of the rows are not wanted; they are drained below.
          if (PGcancel* cancel = PQgetCancel(conn_)) {
            char ignored[256];
            PQcancel(cancel, ignored, sizeof ignored);
            PQfreeCancel(cancel);
          }
        }
        break;
      case PGRES_COMMAND_OK:
      case PGRES_EMPTY_QUERY:
        break;
      default:
        if (error.empty()) {
          const char* primary = PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY);
          error = oneLine(primary ? primary : PQresultErrorMessage(result.get()));
        }
        break;
    }
  }
  if (PQstatus(conn_) != CONNECTION_OK) fail("database connection lost", true);
  if (raised) std::rethrow_exception(raised);
  if (!error.empty()) throw EDbError(error, false);
}

void TPgSession::Listen(const std::string& channel) {
  char* quoted = PQescapeIdentifier(conn_, channel.c_str(), channel.size());
  if (!quoted) fail("cannot quote the channel name", false);
  std::string sql = std::string("LISTEN ") + quoted;
  PQfreemem(quoted);
  Run(sql);
}

void TPgSession::ReadInput() {
  if (!PQconsumeInput(conn_) || PQstatus(conn_) != CONNECTION_OK)
    fail("database connection lost", true);
}

size_t TPgSession::TakeNotifications() {
  size_t count = 0;
  while (PGnotify* notify = PQnotifies(conn_)) {
    ++count;
    PQfreemem(notify);
  }
  return count;
}

}  // namespace mirelo
