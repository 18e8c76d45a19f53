#pragma once
// One PostgreSQL connection through libpq, driven without blocking: every
// wait also watches a wake descriptor, so that a service being stopped never
// waits for a slow server (a connect timing out, a long query).
//
// The connection always talks UTF-8 (client_encoding is forced), only reads
// (default_transaction_read_only), keeps TCP keepalives short enough to
// notice a vanished server within minutes, and names itself "kavrin" to the
// server. Messages are Windows-1251.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/exception.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace mirelo {

// The database refused or failed something. Lost: the connection is gone
// (the session is then of no further use); otherwise it may go on.
class EDbError : public Exception {
 public:
  EDbError(const std::string& message, bool lost) : Exception(message), lost_(lost) {}
  bool Lost() const { return lost_; }

 private:
  bool lost_;
};

// The wake descriptor asked the wait to give up.
struct EDbStopped {};

class TPgSession {
 public:
  // Called when the wake descriptor is readable: true ends the wait with
  // EDbStopped, false goes on waiting.
  using WakeCheck = std::function<bool()>;

  // Connects within timeoutMs (the connection string's own connect_timeout
  // when it has one). wakeFd may be -1 (nothing but the server to wait for).
  // Raises EDbError or EDbStopped.
  TPgSession(const std::string& conninfo, int wakeFd, WakeCheck check, int timeoutMs = 10000);
  ~TPgSession();
  TPgSession(const TPgSession&) = delete;
  TPgSession& operator=(const TPgSession&) = delete;

  // Runs one statement and waits for its end. With onRow, the rows are taken
  // one at a time as they arrive (each result holds one row; the last one
  // none) and the memory of the whole result is never held. onRow may raise:
  // the query is then cancelled and the exception passes on once the
  // connection is ready for the next statement. Raises EDbError.
  void Run(const std::string& sql, const std::function<void(const PGresult*)>& onRow = {});
  // LISTEN on a channel (any name: it is quoted).
  void Listen(const std::string& channel);

  // Reads what the server has sent, without waiting. Raises EDbError (lost).
  void ReadInput();
  // The notifications received so far, taken.
  size_t TakeNotifications();

  int Socket() const;
  // "database 'name' on host:port", for messages.
  std::string Describe() const;

 private:
  // Waits until the socket is readable (or writable) or the wake check says
  // stop. Raises EDbStopped.
  void wait(bool forWrite, int timeoutMs);
  [[noreturn]] void fail(const std::string& what, bool lost);

  PGconn* conn_ = nullptr;
  std::string lastNotice_;
  int wakeFd_;
  WakeCheck check_;
};

}  // namespace mirelo
