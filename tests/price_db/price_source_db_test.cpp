// The PostgreSQL price source against a real server of the test's own.
#include "responder/price_source_db.h"

#include <gtest/gtest.h>

#include <memory>

#include "db_fixture.h"
#include "platform/cp1251.h"
#include "platform/message_loop.h"
#include "test_support.h"

namespace mirelo {
namespace {

using Kind = TPriceSourceEvent::TKind;

class PriceDb : public testing::Test {
 protected:
  void SetUp() override { database_ = test::createTestDatabase(); }
  // Literals here are Windows-1251; the server talks UTF-8.
  void sql(const std::string& text) { test::pgServer().exec(ansiToUtf8(text), database_); }
  void sqlFile(const std::string& relative) {
    test::pgServer().exec(test::readSourceFile(relative), database_);
  }
  TDbSourceOptions options(const std::string& query = kDefaultPricesQuery) {
    TDbSourceOptions o;
    o.Conninfo = test::pgServer().conninfo(database_);
    o.Query = query;
    o.FirstRetryMs = 100;
    return o;
  }
  std::unique_ptr<TPriceSourceDb> open(const TDbSourceOptions& o) {
    auto source = std::make_unique<TPriceSourceDb>(list_, o);
    source->OnEvent = [this](const TPriceSourceEvent& event) { events_.push_back(event); };
    return source;
  }
  size_t count(Kind kind) const {
    return std::count_if(events_.begin(), events_.end(),
                         [&](const auto& e) { return e.Kind == kind; });
  }
  // Runs the message loop until done holds, looking at least every 50 ms.
  static bool pumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 600; ++i) {
      if (done()) return true;
      MessageLoop::current().waitAndProcess(50);
    }
    return done();
  }
  ::testing::AssertionResult waitFor(Kind kind, size_t wanted = 1) {
    if (pumpUntil([&] { return count(kind) >= wanted; })) return ::testing::AssertionSuccess();
    std::string seen;
    for (const auto& e : events_) seen += e.Text + "\n";
    return ::testing::AssertionFailure() << "events so far:\n" << seen;
  }
  std::string line1(const std::string& code) {
    auto row = list_.Find(code);
    return row ? list_.Rows(*row).Line1 : "<none>";
  }

  std::string database_;
  TPriceList list_;
  std::vector<TPriceSourceEvent> events_;
};

TEST_F(PriceDb, TheExampleTableGivesTheRowsOfTheExampleFile) {
  sqlFile("examples/prices.sql");
  auto source = open(options());
  TPriceList file;
  file.LoadFromFile(std::string(MIRELO_SOURCE_DIR) + "/examples/prices.txt");
  ASSERT_EQ(list_.Count(), file.Count());
  for (size_t i = 0; i < file.Count(); ++i) EXPECT_EQ(list_.Rows(i), file.Rows(i)) << i;
  TPriceAnswer answer = answerFor(list_, {}, "4601002001017\r\n");
  EXPECT_TRUE(answer.Found);
  EXPECT_EQ(answer.Line1, "Хлеб Бородинский 400 г");
  EXPECT_EQ(source->Name(),
            "database '" + database_ + "' on 127.0.0.1:" + std::to_string(test::pgServer().port()));
  EXPECT_EQ(source->FirstLoadNote(), "");
}

TEST_F(PriceDb, RowsAsTheQueryGivesThem) {
  const std::string longCode(3000, '7');
  struct Case {
    std::string query;
    std::vector<TPriceRow> rows = {};
    std::string error = "";  // part of the message, when the load fails
    size_t unconvertible = 0;
  } cases[] = {
      {"SELECT NULL::text, 'a', NULL", {{"", "a", ""}}},
      {"VALUES ('1', 'first', ''), ('1', 'second', ''), ('2', 'x', 'y')",
       {{"1", "first", ""}, {"1", "second", ""}, {"2", "x", "y"}}},
      {"SELECT repeat('7', 3000), 'long', ''", {{longCode, "long", ""}}},
      {"SELECT 42, 12.50::numeric, true", {{"42", "12.50", "t"}}},
      {"VALUES ('Ёлка', '€ 5 ' || chr(20013), '?'), ('b', chr(128512), '')",
       {{"Ёлка", "€ 5 ?", "?"}, {"b", "?", ""}},
       "",
       2},
      {"SELECT 'a', 'b', 'c' WHERE false", {}},
      {"SELECT 'a', 'b'", {}, "the query gives 2 columns; the price list needs 3"},
      {"SELECT 1, 2, 3, 4", {}, "the query gives 4 columns"},
      {"SELECT code FROM nowhere", {}, "relation \"nowhere\" does not exist"},
      {"SELECT 1, 2, 3; SELECT 4, 5, 6", {}, "cannot insert multiple commands"},
      {"SET search_path TO public", {}, "the query gives no rows"},
      {"WITH gone AS (DELETE FROM pg_class RETURNING 1) SELECT 1, 2, 3",
       {},
       "read-only transaction"},
  };
  test::PgServer& server = test::pgServer();
  TPgSession session(server.conninfo(database_), -1, {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    if (!c.error.empty()) {
      try {
        loadPrices(session, ansiToUtf8(c.query));
        ADD_FAILURE() << "loaded";
      } catch (const EDbError& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        EXPECT_FALSE(e.Lost());
      }
      continue;
    }
    TDbPrices prices = loadPrices(session, ansiToUtf8(c.query));
    EXPECT_EQ(prices.Rows, c.rows);
    EXPECT_EQ(prices.Unconvertible, c.unconvertible);
    // The first of two codes answers; a long code never matches a shorter scan.
    TPriceList list(prices.Rows);
    if (c.rows.size() > 1 && c.rows[0].Code == "1") {
      EXPECT_EQ(answerFor(list, {}, "1").Line1, "first");
    }
    if (c.rows.size() == 1 && c.rows[0].Code == longCode) {
      EXPECT_TRUE(answerFor(list, {}, longCode).Found);
      EXPECT_FALSE(answerFor(list, {}, longCode.substr(0, 2046)).Found);
    }
  }
}

TEST_F(PriceDb, AFirstLoadThatFailsLeavesTheListAndSaysWhy) {
  list_.Assign({{"keep", "me", ""}});
  auto failsWith = [&](const TDbSourceOptions& o, const std::string& part) {
    try {
      open(o);
      ADD_FAILURE() << "opened";
    } catch (const EDbError& e) {
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
    EXPECT_EQ(list_.Count(), 1u);
  };
  failsWith(options("SELECT nothing"), "column \"nothing\" does not exist");
  failsWith(options(), "relation \"prices\" does not exist");
  // Nobody on the port; a port that takes connections and never answers.
  uint16_t closed;
  {
    test::TcpListener probe;
    closed = probe.port;
  }
  TDbSourceOptions o = options();
  o.Conninfo = "host=127.0.0.1 port=" + std::to_string(closed) + " user=postgres";
  failsWith(o, "cannot connect to the database");
  test::TcpListener silent;
  o.Conninfo = "host=127.0.0.1 connect_timeout=1 port=" + std::to_string(silent.port);
  failsWith(o, "no answer within 1 s");
}

TEST_F(PriceDb, NotifyAndReloadSwapInANewListAndAFailedReloadKeepsTheOld) {
  sqlFile("examples/prices.sql");
  auto source = open(options());
  // The example's trigger sends the notification on commit.
  sql("UPDATE prices SET line1 = 'Хлеб белый' WHERE code = '4601002001017'");
  ASSERT_TRUE(waitFor(Kind::Loaded));
  EXPECT_EQ(line1("4601002001017"), "Хлеб белый");
  EXPECT_EQ(events_.back().Text, "reloaded 46 rows from " + source->Name());

  sql("ALTER TABLE prices RENAME TO gone");
  source->Reload();
  ASSERT_TRUE(waitFor(Kind::LoadFailed));
  EXPECT_NE(events_.back().Text.find(
                "reload failed, keeping the 46 rows loaded before: relation \"prices\""),
            std::string::npos)
      << events_.back().Text;
  EXPECT_EQ(line1("4601002001017"), "Хлеб белый");

  sql("ALTER TABLE gone RENAME TO prices; INSERT INTO prices (code, line1) VALUES ('1', 'new')");
  ASSERT_TRUE(waitFor(Kind::Loaded, 2));
  EXPECT_EQ(list_.Count(), 47u);
  EXPECT_EQ(line1("1"), "new");
}

TEST_F(PriceDb, ANotifyStormCoalescesIntoOneLoadRunningAndOnePending) {
  sqlFile("examples/prices.sql");
  auto source = open(options());
  // The loads wait for the lock while two hundred notifications arrive.
  test::PgServer& server = test::pgServer();
  PGconn* locker = PQconnectdb(server.conninfo(database_).c_str());
  PQclear(PQexec(
      locker, "BEGIN; LOCK TABLE prices IN ACCESS EXCLUSIVE MODE; UPDATE prices SET line1 = 'v2'"));
  for (int i = 0; i < 200; ++i) sql("NOTIFY prices_changed");
  PQclear(PQexec(locker, "COMMIT"));
  PQfinish(locker);
  ASSERT_TRUE(waitFor(Kind::Loaded));
  // Whatever is still pending has come in once a marker row is seen.
  sql("INSERT INTO prices (code, line1) VALUES ('marker', 'm')");
  ASSERT_TRUE(pumpUntil([&] { return line1("marker") == "m"; }));
  EXPECT_LE(count(Kind::Loaded), 3u);  // the storm: one running, one pending; then the marker
  EXPECT_EQ(line1("4601002001017"), "v2");
  EXPECT_EQ(count(Kind::LoadFailed), 0u);
}

TEST_F(PriceDb, ALostConnectionIsToldOnceRetriedAndLoadedAgainWhenBack) {
  sqlFile("examples/prices.sql");
  auto source = open(options());
  test::pgServer().exec("ALTER DATABASE " + database_ + " ALLOW_CONNECTIONS false");
  test::pgServer().exec(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'kavrin'");
  ASSERT_TRUE(waitFor(Kind::Disconnected));
  EXPECT_EQ(events_.back().Text,
            "database connection lost: terminating connection due to administrator command; "
            "answering from the 46 "
            "rows in memory, retrying");
  // Several refused attempts (the server logs each), none of them told.
  auto refused = [&] {
    std::string log = test::pgServer().log();
    size_t n = 0;
    for (size_t at = 0;
         (at = log.find("is not currently accepting connections", at)) != std::string::npos; ++at)
      ++n;
    return n;
  };
  ASSERT_TRUE(pumpUntil([&] { return refused() >= 3; })) << test::pgServer().log();
  EXPECT_EQ(count(Kind::Disconnected), 1u);
  EXPECT_EQ(count(Kind::LoadFailed), 0u);
  EXPECT_EQ(list_.Count(), 46u);

  test::pgServer().exec("ALTER DATABASE " + database_ + " ALLOW_CONNECTIONS true");
  sql("DELETE FROM prices WHERE id > 10");
  ASSERT_TRUE(pumpUntil([&] { return list_.Count() == 10; }));
  EXPECT_EQ(count(Kind::Reconnected), 1u);
  // Listening again: a change after the return is seen.
  sql("DELETE FROM prices WHERE id > 5");
  ASSERT_TRUE(pumpUntil([&] { return list_.Count() == 5; }));
  EXPECT_EQ(count(Kind::Disconnected), 1u);
}

}  // namespace
}  // namespace mirelo
