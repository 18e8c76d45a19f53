#pragma once
// kavrin --headless as a child process on a scratch registry, with its
// standard output and error collected line by line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mirelo/vistel.h"
#include "test_support.h"

namespace mirelo::test {

inline const std::string kKavrin = std::string(MIRELO_BINARY_DIR) + "/responder/kavrin";

// A scratch folder that also holds the registry file of this process and of
// the programs it starts.
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/kavrin-test-XXXXXX";
    path_ = mkdtemp(pattern);
    setenv("MIRELO_REGISTRY", path("registry.db").c_str(), 1);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  std::string path(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

 private:
  std::string path_;
};

// The driver's stored server settings, as the mirelo shell would save them.
inline void storeServerSettings(int32_t protocol, uint16_t port) {
  ComPtr<IVistel4> object = createVistelObject<IVistel4>();
  LONG result = 0;
  ASSERT_EQ(object->put_ServerProtocol(protocol), S_OK);
  ASSERT_EQ(object->put_ServerPort(port), S_OK);
  ASSERT_EQ(object->SaveParams(&result), S_OK);
  ASSERT_EQ(result, 0);
}

// A port that was free a moment ago for the protocol (0 UDP, 1 TCP).
inline uint16_t freePort(int32_t protocol) {
  if (protocol == 1) {
    TcpListener probe;
    return probe.port;
  }
  UdpPeer probe;
  return probe.port;
}

class KavrinProcess {
 public:
  // stdoutUnread: standard output goes to a pipe that is never read (only
  // standard error is collected).
  explicit KavrinProcess(const std::vector<std::string>& args, bool stdoutUnread = false) {
    // Everything the child needs is made before the fork: only dup2 and
    // execv run in it.
    std::vector<char*> argv{const_cast<char*>(kKavrin.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    int unread[2] = {-1, -1};
    if (stdoutUnread && ::pipe2(unread, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(stdoutUnread ? unread[1] : pipe[1], 1);
      dup2(pipe[1], 2);
      execv(kKavrin.c_str(), argv.data());
      _exit(127);
    }
    ::close(pipe[1]);
    if (stdoutUnread) ::close(unread[1]);
    unread_ = unread[0];
    output_ = pipe[0];
    reader_ = std::thread([this] { readOutput(); });
  }
  ~KavrinProcess() {
    if (!exited_) {
      ::kill(pid_, SIGKILL);
      waitExit(10000);
    }
    reader_.join();
    ::close(output_);
    if (unread_ >= 0) ::close(unread_);
  }

  pid_t pid() const { return pid_; }
  void signal(int number) { ::kill(pid_, number); }

  // The first line (from the start) containing text, within timeoutMs.
  std::optional<std::string> waitForLine(const std::string& text, int timeoutMs = 10000) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      for (const std::string& line : lines_)
        if (line.find(text) != std::string::npos) {
          found = line;
          return true;
        }
      return closed_;
    });
    return found;
  }
  size_t countLines(const std::string& text) {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const std::string& line : lines_) count += line.find(text) != std::string::npos;
    return count;
  }
  std::string allOutput() {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

  // The exit status, or -1 when the process has not ended within timeoutMs.
  int waitExit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    return -1;
  }

 private:
  void readOutput() {
    std::string pending;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      std::lock_guard lock(mutex_);
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
        lines_.push_back(pending.substr(0, end));
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!pending.empty()) lines_.push_back(pending);
    closed_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  int output_ = -1;
  int unread_ = -1;
  bool exited_ = false;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
};

}  // namespace mirelo::test
