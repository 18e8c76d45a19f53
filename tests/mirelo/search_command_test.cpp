// "mirelo search" against the simulator's discovery port on 127.0.0.1 (tests
// never send to a broadcast address).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "command_test_support.h"
#include "platform/format.h"

namespace mirelo::test {
namespace {

class SearchCommandTest : public CommandTest {
 protected:
  std::vector<std::string> search(std::vector<std::string> extra = {}) const {
    std::vector<std::string> args{
        "search",    "--mask",        "127.0.0.1",
        "--seconds", "0.5",           "--local-port",
        "0",         "--remote-port", std::to_string(sim_.discoveryPort())};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::string row(int serial, const char* type) const {
    return format("%-15s  %5u  %6d  %s", "127.0.0.1", sim_.discoveryPort(), serial, type);
  }
};

TEST_F(SearchCommandTest, ListsATerminalOnceThoughItAnswersThreeTimes) {
  sim_.withState([](termsim::TerminalState& state) { state.status.setSerialNumber(4242); });
  Result r = mirelo(search());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, (std::vector<std::string>{"IP address        Port  Serial  Type",
                                             row(4242, "Vistel"), "1 terminal answered."}));
  std::vector<termsim::JournalEntry> journal = sim_.journal();
  ASSERT_EQ(journal.size(), 3u);
  for (const termsim::JournalEntry& entry : journal) {
    EXPECT_TRUE(entry.discovery);
    EXPECT_EQ(entry.bytes, "\xBB");
  }
}

TEST_F(SearchCommandTest, TheTypeFilter) {
  sim_.withState([](termsim::TerminalState& state) { state.status.setDeviceType(1); });
  Result r = mirelo(search({"--vistel-only"}));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"No terminal answered."});
  r = mirelo(search({"--all-types"}));
  EXPECT_EQ(r.out, (std::vector<std::string>{"IP address        Port  Serial  Type",
                                             row(1, "TessarEthernet"), "1 terminal answered."}));
  sim_.withState([](termsim::TerminalState& state) { state.status.setDeviceType(2); });
  r = mirelo(search({"--vistel-only"}));
  EXPECT_EQ(r.out.size(), 3u);
  EXPECT_EQ(r.out.at(1), row(1, "Vistel"));
}

TEST_F(SearchCommandTest, NobodyAnswering) {
  sim_.stop();
  std::vector<std::string> args = search();
  args[4] = "0";  // --seconds
  Result r = mirelo(args);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::vector<std::string>{"No terminal answered."});
}

TEST_F(SearchCommandTest, ALocalPortInUseIsAFailureAndNothingIsSent) {
  int taken = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
  std::string port = std::to_string(ntohs(address.sin_port));
  std::vector<std::string> args = search();
  args[6] = port;  // --local-port
  Result r = mirelo(args);
  ::close(taken);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err, "mirelo: searching from local UDP port " + port +
                       ": (-199) 10048, WSAEADDRINUSE: Address already in use\n");
  EXPECT_TRUE(sim_.journal().empty());
}

TEST_F(SearchCommandTest, BadUsageSendsNothing) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {search({"--all-types", "--vistel-only"}),
       "mirelo: --all-types and --vistel-only exclude each other"},
      {{"search", "--seconds", "soon"}, "mirelo: --seconds takes seconds from 0 to 600"},
      {{"search", "--seconds", "601"}, "mirelo: --seconds takes seconds from 0 to 600"},
      {{"search", "--seconds", "1.2345"}, "mirelo: --seconds takes seconds from 0 to 600"},
      {{"search", "--remote-port", "0"}, "mirelo: --remote-port must be 1 to 65535"},
      {{"search", "--local-port", "-1"}, "mirelo: --local-port must be 0 to 65535"},
      {{"search", "127.0.0.1"}, "mirelo: unexpected argument '127.0.0.1'"},
      {{"search", "--all-types=yes"}, "mirelo: --all-types takes no value"},
  };
  for (const auto& [args, message] : cases) {
    Result r = mirelo(args);
    EXPECT_EQ(r.code, 2) << args.back();
    EXPECT_TRUE(r.err.starts_with(message)) << args.back() << ": " << r.err;
  }
  EXPECT_TRUE(sim_.journal().empty());
}

}  // namespace
}  // namespace mirelo::test
