// kavrin --headless --prices-db end to end: the program, its driver's TCP
// server, termsim's scanning terminal and a PostgreSQL server, all on
// 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "db_fixture.h"
#include "http_exchange.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "tests/responder/kavrin_process.h"
#include "tools/termsim/scanner.h"

namespace mirelo {
namespace {

using test::KavrinProcess;

class KavrinDb : public testing::Test {
 protected:
  void SetUp() override { database_ = test::createTestDatabase(); }
  void sql(const std::string& text) { test::pgServer().exec(ansiToUtf8(text), database_); }
  // Starts kavrin on a fresh port (another one when the port was taken
  // meanwhile); false when it did not come up.
  bool start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--headless", "--prices-db", test::pgServer().conninfo(database_),
                                  "--settings", folder_.path("none.ini")};
    args.insert(args.end(), extra.begin(), extra.end());
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = test::freePort(1);
      test::storeServerSettings(1, port_);
      kavrin_ = std::make_unique<KavrinProcess>(args);
      if (kavrin_->waitForLine("kavrin: serving on", 20000)) return true;
      if (kavrin_->allOutput().find("10048") == std::string::npos) break;
    }
    ADD_FAILURE() << "kavrin did not start:\n" << kavrin_->allOutput();
    return false;
  }
  termsim::ScanResult scan(std::string_view barcode) {
    return termsim::scan("127.0.0.1", port_, barcode, false, 10000);
  }
  // Waits for the count-th line holding text.
  bool waitForLines(const std::string& text, size_t count) {
    for (int i = 0; i < 600 && kavrin_->countLines(text) < count; ++i) usleep(50000);
    return kavrin_->countLines(text) >= count;
  }
  // A hundred codes whose two lines both carry the version of the table;
  // an update tells the listeners.
  void fillVersioned() {
    sql("CREATE TABLE prices (id serial PRIMARY KEY, code text, line1 text, line2 text);"
        "INSERT INTO prices (code, line1, line2) SELECT 'C' || i, 'v1 товар ' || i, 'v1 цена ' || "
        "i "
        "FROM generate_series(1, 100) i;"
        "CREATE FUNCTION tell() RETURNS trigger LANGUAGE plpgsql AS "
        "$$ BEGIN PERFORM pg_notify('prices_changed', ''); RETURN NULL; END $$;"
        "CREATE TRIGGER tell AFTER UPDATE ON prices FOR EACH STATEMENT EXECUTE FUNCTION tell();");
  }
  void stop() {
    kavrin_->signal(SIGTERM);
    EXPECT_EQ(kavrin_->waitExit(10000), 0) << kavrin_->allOutput();
  }

  test::ScratchFolder folder_;
  std::string database_;
  uint16_t port_ = 0;
  std::unique_ptr<KavrinProcess> kavrin_;
};

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TEST_F(KavrinDb, ReloadsOnNotifyWhileScanningWithEveryAnswerFromOneList) {
  fillVersioned();
  ASSERT_TRUE(start({"--metrics", "127.0.0.1:0"}));
  EXPECT_TRUE(
      kavrin_->waitForLine("kavrin: 100 rows from database '" + database_ + "' on 127.0.0.1:"));

  // Scanning all along, from two terminals.
  std::atomic<bool> scanning{true};
  std::atomic<size_t> scans{0};
  std::vector<std::string> faults[2];
  std::thread terminals[2];
  for (int t = 0; t < 2; ++t)
    terminals[t] = std::thread([&, t] {
      int lastVersion = 1;
      for (int i = 0; scanning; ++i) {
        termsim::ScanResult result = scan("C" + std::to_string(1 + (i * 7 + t) % 100));
        ++scans;
        std::smatch one, two;
        std::string line1 = result.line1, line2 = result.line2;
        if (!result.ok || !std::regex_search(line1, one, std::regex("^v(\\d+) ")) ||
            !std::regex_search(line2, two, std::regex("^v(\\d+) ")) || one[1] != two[1] ||
            std::stoi(one[1]) < lastVersion) {
          faults[t].push_back(result.error + " [" + line1 + "|" + line2 + "]");
          continue;
        }
        lastVersion = std::stoi(one[1]);
      }
    });
  for (int version = 2; version <= 6; ++version) {
    sql(format("UPDATE prices SET line1 = 'v%d товар ' || id, line2 = 'v%d цена ' || id", version,
               version));
    ASSERT_TRUE(waitForLines("kavrin: reloaded 100 rows", static_cast<size_t>(version - 1)))
        << kavrin_->allOutput();
  }
  scanning = false;
  for (std::thread& t : terminals) t.join();
  EXPECT_GT(scans.load(), 10u);
  for (const auto& list : faults)
    EXPECT_TRUE(list.empty()) << list.size() << " faults, first: " << list[0];
  termsim::ScanResult last = scan("C42");
  EXPECT_EQ(trimmed(last.line1), "v6 товар 42");

  auto url = kavrin_->waitForLine("kavrin: metrics at http://127.0.0.1:");
  ASSERT_TRUE(url);
  uint16_t metricsPort = static_cast<uint16_t>(std::stoi(url->substr(url->rfind(':') + 1)));
  std::string reply = test::httpGet(metricsPort, "/metrics");
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
  for (std::string expected :
       {format("\nkavrin_scans_total %zu\n", scans.load() + 1),
        std::string("\nkavrin_price_rows 100\n"),
        std::string("\nkavrin_reloads_total{outcome=\"ok\"} 6\n"),
        std::string("\nkavrin_database_up 1\n"), std::string("\nkavrin_last_reload_success 1\n"),
        std::string("\nkavrin_scans_not_found_total 0\n"),
        format("\nkavrin_answer_duration_seconds_count %zu\n", scans.load() + 1)})
    EXPECT_NE(reply.find(expected), std::string::npos) << expected << reply;
  stop();
}

TEST_F(KavrinDb, TheDatabaseServerStoppedAndRestarted) {
  fillVersioned();
  ASSERT_TRUE(start());
  test::pgServer().stop();
  ASSERT_TRUE(kavrin_->waitForLine("kavrin: database connection lost", 20000))
      << kavrin_->allOutput();
  EXPECT_TRUE(kavrin_->waitForLine("answering from the 100 rows in memory, retrying"));
  EXPECT_EQ(trimmed(scan("C7").line1), "v1 товар 7");
  // An operator's reload while the server is away says why it failed.
  kavrin_->signal(SIGHUP);
  ASSERT_TRUE(kavrin_->waitForLine(
      "kavrin: reload failed, keeping the 100 rows loaded before: cannot connect"))
      << kavrin_->allOutput();

  test::pgServer().start();
  ASSERT_TRUE(kavrin_->waitForLine("kavrin: database connection restored", 90000))
      << kavrin_->allOutput();
  ASSERT_TRUE(waitForLines("kavrin: reloaded 100 rows", 1));
  sql("UPDATE prices SET line1 = 'v2 товар ' || id, line2 = 'v2 цена ' || id");
  ASSERT_TRUE(waitForLines("kavrin: reloaded 100 rows", 2)) << kavrin_->allOutput();
  EXPECT_EQ(trimmed(scan("C7").line1), "v2 товар 7");
  EXPECT_EQ(kavrin_->countLines("connection lost"), 1u) << kavrin_->allOutput();
  EXPECT_EQ(kavrin_->countLines("connection restored"), 1u);
  stop();
}

TEST_F(KavrinDb, ADatabaseThatCannotBeHadAtStartEndsKavrinWithStatusOne) {
  uint16_t nobody;
  {
    test::TcpListener probe;
    nobody = probe.port;
  }
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--prices-db", "host=127.0.0.1 user=postgres port=" + std::to_string(nobody)},
       "kavrin: cannot connect to the database: connection to server at \"127.0.0.1\""},
      {{"--prices-db", test::pgServer().conninfo(database_)}, "relation \"prices\" does not exist"},
      {{"--prices-db", test::pgServer().conninfo(database_), "--prices-query", "SELECT 1, 2"},
       "the query gives 2 columns"},
      {{"--prices-db", "host=127.0.0.1 user=postgres sslmode=bogus"}, "invalid sslmode value"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--headless"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    KavrinProcess kavrin(args);
    EXPECT_EQ(kavrin.waitExit(20000), 1) << kavrin.allOutput();
    EXPECT_TRUE(kavrin.waitForLine(c.says)) << kavrin.allOutput();
  }
}

}  // namespace
}  // namespace mirelo
