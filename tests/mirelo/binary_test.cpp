// The real mirelo program as a script runs it: through pipes, line by line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "platform/format.h"
#include "shell_test_support.h"

extern char** environ;

namespace mirelo::test {
namespace {

const std::string kProgram = MIRELO_BINARY_DIR "/tools/mirelo/mirelo";

// Lines read from a descriptor with a deadline each.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  std::optional<std::string> next(int timeoutMs = 5000) {
    for (;;) {
      if (size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, timeoutMs) <= 0) return std::nullopt;
      char chunk[4096];
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // Everything up to the end of the stream.
  std::string rest() {
    std::string all = std::exchange(buffer_, {});
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd_, chunk, sizeof chunk)) > 0;)
      all.append(chunk, static_cast<size_t>(n));
    return all;
  }

 private:
  int fd_;
  std::string buffer_;
};

// The program with its three standard streams on pipes; killed and reaped
// if a test leaves early.
class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The child inherits MIRELO_REGISTRY and MIRELO_LOOPBACK_ONLY.
    EXPECT_EQ(::posix_spawn(&pid_, kProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    this->out = LineReader(out_);
    this->err = LineReader(err_);
  }
  ~Child() {
    closeInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  void send(const std::string& text) {
    EXPECT_EQ(::write(in_, text.data(), text.size()), ssize_t(text.size()));
  }
  void closeInput() {
    if (in_ >= 0) ::close(std::exchange(in_, -1));
  }
  int exitCode() {
    closeInput();
    int status = 0;
    EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  LineReader out{-1}, err{-1};  // standard output and error

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
};

class BinaryTest : public ShellTest {};

TEST_F(BinaryTest, ShellAnswersEachLineAsItArrives) {
  Child child({"shell"});
  // The input stays open: each answer must reach the pipe on its own.
  child.send("FileVersion\n");
  EXPECT_EQ(child.out.next(),
            format("FileVersion=%d.%d.%d.%d", MIRELO_VERSION_MAJOR, MIRELO_VERSION_MINOR,
                   MIRELO_VERSION_RELEASE, MIRELO_VERSION_BUILD));
  child.send(utf8("ПослатьСобытие\n"));
  EXPECT_EQ(child.out.next(), "DataEvent: SenderID=123 Data=Test");
  EXPECT_EQ(child.out.next(), utf8("SendEvent: 0 Ошибок нет"));
  child.send("Frobnicate\n");
  EXPECT_EQ(child.err.next(), "mirelo: unknown member 'Frobnicate'");
  child.send("LDNumber=1\nClientTimeout=0\n");
  EXPECT_EQ(child.out.next(), utf8("ClientTimeout: error: Недопустимое значение"));
  EXPECT_EQ(child.exitCode(), 2);
  EXPECT_EQ(child.out.rest(), "");
}

TEST_F(BinaryTest, RunExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string firstLine;  // of standard output, or of standard error when it prints nothing
  };
  const Case cases[] = {
      {{"run", "SendEvent"}, 0, "DataEvent: SenderID=123 Data=Test"},
      {{"run", "--json", "LDNumber"}, 0, "{\"read\":\"LDNumber\",\"value\":1}"},
      {{"run", "LDNumber=1", "ClientTimeout=0"},
       1,
       utf8("ClientTimeout: error: Недопустимое значение")},
      {{"run", "AboutBox"}, 1, "AboutBox: error: "},
      {{"run", "SendEvent", "Frobnicate"}, 2, "mirelo: unknown member 'Frobnicate'"},
      {{}, 2, "mirelo: no subcommand given"},
      {{"frobnicate"}, 2, "mirelo: unknown subcommand 'frobnicate'"},
      {{"--help"}, 0, "Usage: mirelo [--json] SUBCOMMAND [ARGUMENTS]"},
  };
  for (const Case& c : cases) {
    Child child(c.args);
    child.closeInput();
    std::string out = child.out.rest();
    std::string err = child.err.rest();
    EXPECT_EQ(child.exitCode(), c.code) << c.firstLine;
    const std::string& shown = out.empty() ? err : out;
    EXPECT_EQ(shown.rfind(c.firstLine, 0), 0u) << shown;
  }
}

// Two programs that hold the settings at once and change different devices
// (one adding one): each saves only its own changes, so both survive.
TEST_F(BinaryTest, TwoProgramsChangingDifferentDevicesKeepBoth) {
  ASSERT_EQ(mirelo({"devices", "add", "--name", "two"}).code, 0);
  Child a({"shell"}), b({"shell"});
  for (Child* child : {&a, &b}) {
    child->send("LDCount\n");
    ASSERT_EQ(child->out.next(), "LDCount=2") << "the settings are loaded";
  }
  a.send("LDNumber=1\nClientPort=1111\n");
  b.send("LDNumber=2\nClientPort=2222\nAddLD\nLDName=three\n");
  EXPECT_EQ(b.out.next(), utf8("AddLD: 0 Ошибок нет"));
  EXPECT_EQ(b.exitCode(), 0);
  EXPECT_EQ(a.exitCode(), 0);
  Result r = mirelo({"devices"});
  ASSERT_EQ(r.out.size(), 4u) << r.err;
  EXPECT_NE(r.out[1].find("1111"), std::string::npos) << r.out[1];
  EXPECT_NE(r.out[2].find("2222"), std::string::npos) << r.out[2];
  EXPECT_NE(r.out[3].find("three"), std::string::npos) << r.out[3];
}

}  // namespace
}  // namespace mirelo::test
