#pragma once
// Shared by the shell's tests: a private settings file per test, UTF-8
// expectations from the project's Windows-1251 literals, a thread-safe
// capture of output lines, and running the shell in-process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/cp1251.h"
#include "tools/mirelo/cli.h"

namespace mirelo::test {

// Output of the shell is UTF-8; literals in the sources are Windows-1251.
inline std::string utf8(std::string_view cp1251) {
  return ansiToUtf8(cp1251);
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A TCP port that was free a moment ago on 127.0.0.1 (the driver's server
// takes a port number, not a bound socket).
inline uint16_t freeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Every test gets its own settings file: objects load and save it.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "mirelo-shell-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("MIRELO_REGISTRY", (dir_ / "registry.db").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("MIRELO_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::filesystem::path& dir() const { return dir_; }

  struct Result {
    int code = -1;
    std::vector<std::string> out;
    std::string err;
  };
  // The shell in-process; standard input is a stream.
  static Result mirelo(const std::vector<std::string>& args, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out, err;
    Result result;
    result.code = shell::runCli(args, in, out, err);
    result.out = splitLines(out.str());
    result.err = err.str();
    return result;
  }

 private:
  std::filesystem::path dir_;
};

// An output stream that another thread may watch line by line.
class CapturedLines : public std::streambuf {
 public:
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return splitLines(complete());
  }
  // The first complete line that begins with prefix, waiting up to timeout.
  std::optional<std::string> waitForLine(
      const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    cv_.wait_for(lock, timeout, [&] {
      for (const std::string& line : splitLines(complete()))
        if (line.starts_with(prefix)) {
          found = line;
          return true;
        }
      return false;
    });
    return found;
  }

 protected:
  int overflow(int c) override {
    if (c != traits_type::eof()) {
      char ch = static_cast<char>(c);
      xsputn(&ch, 1);
    }
    return 0;
  }
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    {
      std::lock_guard lock(mutex_);
      text_.append(data, static_cast<size_t>(n));
    }
    cv_.notify_all();
    return n;
  }

 private:
  std::string complete() const { return text_.substr(0, text_.rfind('\n') + 1); }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::string text_;
};

}  // namespace mirelo::test
