#pragma once
// A PostgreSQL server of a test's own: a cluster made by initdb in a scratch
// folder, listening on 127.0.0.1 on a free port (its Unix socket stays in
// the folder), started and stopped with pg_ctl, removed at the end. The
// server refuses to run as root; under root (CI) it runs as "nobody". A
// watchdog process stops it and removes the folder should the test process
// die without cleaning up.
//
// The tools are taken from $MIRELO_PG_BINDIR, else the newest
// /usr/lib/postgresql/N/bin (Debian's postgresql package).
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirelo::test {

class PgServer {
 public:
  PgServer() : bin_(findBinDir()) {
    char pattern[] = "/tmp/kavrin-pg-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    if (geteuid() == 0) {
      passwd* nobody = getpwnam("nobody");
      if (!nobody) throw std::runtime_error("no user 'nobody' to run the server as");
      if (chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        throw std::runtime_error("chown " + folder_ + " failed");
      runAs_ = {"runuser", "-u", "nobody", "--"};
    }
    run({bin_ + "/initdb", "-D", data(), "-U", "postgres", "-A", "trust", "-E", "UTF8",
         "--no-locale", "--no-sync", "--no-instructions"});
    for (int attempt = 0;; ++attempt) {
      port_ = freePort();
      try {
        start();
        break;
      } catch (const std::exception&) {
        // Someone took the port meanwhile: another one.
        if (attempt == 4) throw;
      }
    }
    startWatchdog();
  }
  ~PgServer() {
    try {
      closeAdmin();
      run({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"}, false);
    } catch (...) {
    }
    if (watchdogPipe_ >= 0) ::close(watchdogPipe_);
    if (watchdog_ > 0) waitpid(watchdog_, nullptr, 0);
    std::filesystem::remove_all(folder_);
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  uint16_t port() const { return port_; }
  std::string conninfo(const std::string& database = "postgres") const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " user=postgres dbname=" + database;
  }

  void start() {
    std::string options = "-p " + std::to_string(port_) + " -k " + folder_ +
                          " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off"
                          " -c full_page_writes=off";
    run({bin_ + "/pg_ctl", "-D", data(), "-l", folder_ + "/server.log", "-o", options, "-w", "-t",
         "60", "start"});
  }
  void stop() {
    closeAdmin();
    run({bin_ + "/pg_ctl", "-D", data(), "-m", "fast", "-w", "stop"});
  }

  // Runs SQL (any number of statements) on the database; raises with the
  // server's message.
  void exec(const std::string& sql, const std::string& database = "postgres") {
    PGconn* conn = admin(database);
    PGresult* result = PQexec(conn, sql.c_str());
    ExecStatusType status = PQresultStatus(result);
    std::string error = PQresultErrorMessage(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
      throw std::runtime_error("SQL failed: " + error + "\n" + sql.substr(0, 200));
  }
  std::string log() const {
    std::ifstream file(folder_ + "/server.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

 private:
  static std::string findBinDir() {
    if (const char* dir = std::getenv("MIRELO_PG_BINDIR"); dir && *dir) return dir;
    std::string best;
    int bestVersion = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ignored)) {
      int version = std::atoi(entry.path().filename().c_str());
      if (version > bestVersion && std::filesystem::exists(entry.path() / "bin/initdb")) {
        bestVersion = version;
        best = (entry.path() / "bin").string();
      }
    }
    if (best.empty())
      throw std::runtime_error("no PostgreSQL server found (Debian package postgresql)");
    return best;
  }
  static uint16_t freePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
  }
  std::string data() const { return folder_ + "/data"; }

  // Runs a tool (as the server's user), its output collected; raises when it
  // fails.
  void run(const std::vector<std::string>& command, bool check = true) const {
    std::vector<std::string> all = runAs_;
    all.insert(all.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& arg : all) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::string output = folder_ + "/tool.out";
    pid_t pid = fork();
    if (pid == 0) {
      int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      ::chdir(folder_.c_str());
      execvp(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (check && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
      std::ifstream file(output);
      throw std::runtime_error(all[runAs_.size()] + " failed:\n" +
                               std::string(std::istreambuf_iterator<char>(file), {}) + log());
    }
  }
  // Stops the server when the test process goes away: the pipe's far end
  // closes with it.
  void startWatchdog() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> all = runAs_;
    all.insert(all.end(), {"/bin/sh", "-c",
                           "\"$0\" -D \"$1\" -m immediate -w stop >/dev/null 2>&1; rm -rf \"$2\"",
                           bin_ + "/pg_ctl", data(), folder_});
    std::vector<char*> argv;
    for (const std::string& arg : all) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    watchdog_ = fork();
    if (watchdog_ == 0) {
      ::close(fds[1]);
      char byte;
      while (::read(fds[0], &byte, 1) != 0) {
      }
      execvp(argv[0], argv.data());
      _exit(127);
    }
    ::close(fds[0]);
    watchdogPipe_ = fds[1];
  }
  PGconn* admin(const std::string& database) {
    if (admin_ && (adminDatabase_ != database || PQstatus(admin_) != CONNECTION_OK)) closeAdmin();
    if (!admin_) {
      admin_ = PQconnectdb(conninfo(database).c_str());
      adminDatabase_ = database;
      if (PQstatus(admin_) != CONNECTION_OK) {
        std::string error = PQerrorMessage(admin_);
        closeAdmin();
        throw std::runtime_error("cannot connect to the test server: " + error);
      }
      PQclear(PQexec(admin_, "SET client_min_messages = warning"));
    }
    return admin_;
  }
  void closeAdmin() {
    if (admin_) PQfinish(admin_);
    admin_ = nullptr;
  }

  std::string bin_;
  std::string folder_;
  std::vector<std::string> runAs_;
  uint16_t port_ = 0;
  PGconn* admin_ = nullptr;
  std::string adminDatabase_;
  pid_t watchdog_ = -1;
  int watchdogPipe_ = -1;
};

}  // namespace mirelo::test
