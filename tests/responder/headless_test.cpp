// kavrin --headless end to end: a real process, the driver's real server,
// and termsim's scanning terminal over TCP and UDP, all on 127.0.0.1.
#include "responder/headless.h"

#include <gtest/gtest.h>

#include <memory>

#include "kavrin_process.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/termsim/scanner.h"

namespace mirelo {
namespace {

using test::KavrinProcess;

std::string trimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

const std::string kPrices =
    "4607001234562;Молоко 3,2% 1 л;Цена: 89.90 руб.;\r\n"
    "4601002003004;Хлеб Бородинский;Цена: 62.00 руб.;\r\n"
    ";пустой код;;\r\n"
    "4607001234562;второй ряд;не отвечает;\r\n";

class Headless : public testing::Test {
 protected:
  // Starts kavrin on a fresh port; a port taken meanwhile by someone else
  // (the probe closed it) is tried again with another.
  void start(int32_t protocol, const std::string& prices = kPrices,
             const std::string& settings = "", bool stdoutUnread = false,
             const std::string& pricesName = "prices.txt") {
    protocol_ = protocol;
    pricesPath_ = folder_.write(pricesName, prices);
    settingsPath_ = folder_.write("kavrin.ini", settings);
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = test::freePort(protocol);
      test::storeServerSettings(protocol, port_);
      kavrin_ = std::make_unique<KavrinProcess>(
          withExtra({"--headless", "--prices", pricesPath_, "--settings", settingsPath_}),
          stdoutUnread);
      if (stdoutUnread) {
        // Ready when it answers: its notices are not read.
        for (int i = 0; i < 500; ++i, usleep(20000))
          if (scan("1").ok) return;
        break;
      }
      if (kavrin_->waitForLine("kavrin: serving on")) return;
      if (kavrin_->allOutput().find("10048") == std::string::npos) break;
    }
    FAIL() << "kavrin did not start:\n" << kavrin_->allOutput();
  }
  std::vector<std::string> withExtra(std::vector<std::string> args) const {
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    return args;
  }
  termsim::ScanResult scan(std::string_view barcode) {
    return termsim::scan("127.0.0.1", port_, barcode, protocol_ == 0, 5000);
  }
  void expectAnswer(std::string_view barcode, const std::string& line1, const std::string& line2) {
    termsim::ScanResult result = scan(barcode);
    ASSERT_TRUE(result.ok) << result.error << "\n" << kavrin_->allOutput();
    EXPECT_EQ(trimRight(result.line1), line1);
    EXPECT_EQ(trimRight(result.line2), line2);
  }
  void stop() {
    kavrin_->signal(SIGTERM);
    EXPECT_EQ(kavrin_->waitExit(10000), 0) << kavrin_->allOutput();
  }

  test::ScratchFolder folder_;
  int32_t protocol_ = 1;
  uint16_t port_ = 0;
  std::string pricesPath_, settingsPath_;
  std::vector<std::string> extraArgs_;
  std::unique_ptr<KavrinProcess> kavrin_;
};

TEST_F(Headless, AnswersFoundAndNotFoundOverTcp) {
  start(1);
  EXPECT_TRUE(kavrin_->waitForLine(format("serving on TCP port %d", port_)));
  expectAnswer("4607001234562", "Молоко 3,2% 1 л", "Цена: 89.90 руб.");
  expectAnswer("4601002003004\r\n", "Хлеб Бородинский", "Цена: 62.00 руб.");
  expectAnswer("0000000000000", "Not found", "Not found");
  expectAnswer("4607001234562 ", "Not found", "Not found");
  expectAnswer(std::string("\x01"
                           "4607001234562",
                           14),
               "пустой код", "");

  auto found = kavrin_->waitForLine("code=\"4607001234562\" found");
  ASSERT_TRUE(found);
  EXPECT_NE(found->find(" ip=127.0.0.1 "), std::string::npos) << *found;
  EXPECT_NE(found->find(ansiToUtf8("line1=\"Молоко 3,2% 1 л\" line2=\"Цена: 89.90 руб.\"")),
            std::string::npos)
      << *found;
  auto missing = kavrin_->waitForLine("code=\"0000000000000\" not-found");
  ASSERT_TRUE(missing);
  EXPECT_NE(missing->find("line1=\"Not found\" line2=\"Not found\""), std::string::npos);
  EXPECT_TRUE(kavrin_->waitForLine("code=\"\" found"));
  stop();
  EXPECT_TRUE(kavrin_->waitForLine("kavrin: SIGTERM, server closed"));
}

TEST_F(Headless, QuietAnswersAlikeAndPrintsOnlyItsNotices) {
  extraArgs_ = {"--quiet"};
  start(0);
  expectAnswer("4607001234562\r", "Молоко 3,2% 1 л", "Цена: 89.90 руб.");
  expectAnswer("0000000000000", "Not found", "Not found");
  stop();
  EXPECT_TRUE(kavrin_->waitForLine("kavrin: SIGTERM, server closed"));
  EXPECT_EQ(kavrin_->allOutput().find("code="), std::string::npos) << kavrin_->allOutput();
}

TEST_F(Headless, AnswersFoundAndNotFoundOverUdp) {
  start(0);
  EXPECT_TRUE(kavrin_->waitForLine(format("serving on UDP port %d", port_)));
  expectAnswer("4607001234562", "Молоко 3,2% 1 л", "Цена: 89.90 руб.");
  expectAnswer("123", "Not found", "Not found");
  EXPECT_TRUE(kavrin_->waitForLine("code=\"123\" not-found"));
  stop();
}

TEST_F(Headless, TheNotFoundLinesComeFromTheSettingsFile) {
  start(1, kPrices,
        "[Параметры]\r\nСтрока1=Товар не найден\r\nСтрока2=\"  Спросите продавца\"\r\n");
  EXPECT_TRUE(kavrin_->waitForLine(ansiToUtf8("not-found lines \"Товар не найден\"")));
  expectAnswer("1", "Товар не найден", "  Спросите продавца");
  stop();
}

TEST_F(Headless, ASettingsFileThatIsNoIniFileIsNamedAndTheDefaultsUsed) {
  start(1, kPrices,
        std::string("\x7F"
                    "ELF\x02\x01\x01\x00\x00",
                    9));
  auto notice = kavrin_->waitForLine("is not an INI file");
  ASSERT_TRUE(notice) << kavrin_->allOutput();
  EXPECT_NE(notice->find(settingsPath_), std::string::npos) << *notice;
  EXPECT_NE(notice->find("using the default not-found lines \"Not found\" / \"Not found\""),
            std::string::npos)
      << *notice;
  expectAnswer("1", "Not found", "Not found");
  stop();
}

TEST_F(Headless, ControlBytesFromFilesAreEscapedInEveryLine) {
  start(1, kPrices, "[Параметры]\r\nСтрока1=a\tb\r\n", false, "pr\x1B[2Jices.txt");
  auto line = kavrin_->waitForLine("rows from");
  ASSERT_TRUE(line) << kavrin_->allOutput();
  EXPECT_NE(line->find("pr\\x1B[2Jices.txt"), std::string::npos) << *line;
  EXPECT_NE(line->find("\"a\\x09b\""), std::string::npos) << *line;
  EXPECT_EQ(kavrin_->allOutput().find('\x1B'), std::string::npos);
  stop();
}

TEST_F(Headless, AStandardOutputNobodyReadsDoesNotStopTheService) {
  start(1, kPrices, "", true);
  termsim::LoadOptions load;
  load.port = port_;
  load.barcode = "4607001234562";
  load.count = 5000;  // far more lines than the pipe and the buffer hold
  load.concurrency = 8;
  load.timeoutMs = 5000;
  termsim::LoadReport report = termsim::runLoad(load);
  EXPECT_EQ(report.answered, load.count);
  EXPECT_TRUE(kavrin_->waitForLine("request lines are dropped until it is"));
  stop();
  auto total = kavrin_->waitForLine("request lines dropped in all");
  ASSERT_TRUE(total) << kavrin_->allOutput();
  EXPECT_NE(total->rfind("kavrin: ", 0), std::string::npos);
}

TEST_F(Headless, SighupReloadsAndAnUnreadableFileKeepsTheOldList) {
  start(1);
  expectAnswer("4601002003004", "Хлеб Бородинский", "Цена: 62.00 руб.");
  folder_.write("prices.txt",
                "4601002003004;Хлеб Бородинский;Цена: 64.00 руб.;\r\n777;Новый;1.00;\r\n");
  kavrin_->signal(SIGHUP);
  ASSERT_TRUE(kavrin_->waitForLine("kavrin: reloaded 2 rows")) << kavrin_->allOutput();
  expectAnswer("4601002003004", "Хлеб Бородинский", "Цена: 64.00 руб.");
  expectAnswer("777", "Новый", "1.00");

  std::filesystem::remove(pricesPath_);
  kavrin_->signal(SIGHUP);
  auto failed = kavrin_->waitForLine("kavrin: reload failed, keeping the 2 rows loaded before");
  ASSERT_TRUE(failed) << kavrin_->allOutput();
  EXPECT_NE(failed->find(pricesPath_), std::string::npos) << *failed;
  expectAnswer("777", "Новый", "1.00");
  stop();
}

TEST_F(Headless, SigintAndSigtermCloseTheServerAndExitZero) {
  for (int signal : {SIGINT, SIGTERM}) {
    start(1);
    kavrin_->signal(signal);
    EXPECT_EQ(kavrin_->waitExit(10000), 0) << kavrin_->allOutput();
    EXPECT_TRUE(kavrin_->waitForLine("server closed"));
    // The port is free again.
    termsim::ScanResult result = scan("1");
    EXPECT_FALSE(result.ok);
  }
}

TEST_F(Headless, AServerThatCannotOpenPrintsTheDriversResultAndExitsOne) {
  test::TcpListener taken;
  test::storeServerSettings(1, taken.port);
  KavrinProcess kavrin({"--headless", "--prices", folder_.write("p.txt", kPrices), "--settings",
                        folder_.path("none.ini")});
  EXPECT_EQ(kavrin.waitExit(10000), 1);
  auto line = kavrin.waitForLine("10048");
  ASSERT_TRUE(line) << kavrin.allOutput();
  // "%d, %s": the result code, a comma and a blank, the description.
  EXPECT_EQ(line->rfind("kavrin: -", 0), 0u) << *line;
  EXPECT_NE(line->find(", "), std::string::npos) << *line;
}

TEST_F(Headless, APriceListThatCannotBeLoadedAtStartExitsOne) {
  KavrinProcess kavrin({"--headless", "--prices", folder_.path("missing.txt")});
  EXPECT_EQ(kavrin.waitExit(10000), 1);
  EXPECT_TRUE(kavrin.waitForLine("missing.txt"));
}

TEST_F(Headless, UsageErrorsAndHelp) {
  {
    KavrinProcess kavrin({"--headless"});
    EXPECT_EQ(kavrin.waitExit(10000), 2);
    EXPECT_TRUE(kavrin.waitForLine("--headless needs --prices FILE"));
  }
  {
    KavrinProcess kavrin({"--headless", "--prices", "x", "--bogus"});
    EXPECT_EQ(kavrin.waitExit(10000), 2);
    EXPECT_TRUE(kavrin.waitForLine("unknown argument '--bogus'"));
  }
  {
    KavrinProcess kavrin({"--help"});
    EXPECT_EQ(kavrin.waitExit(10000), 0);
    EXPECT_TRUE(kavrin.waitForLine("SIGHUP"));
    EXPECT_TRUE(kavrin.waitForLine(ansiToUtf8("[Параметры]")));
  }
}

TEST_F(Headless, BadTerminalsDoNotStopTheService) {
  std::string longCode(2046, '5');
  start(1, kPrices + longCode + ";длинный;код;\r\n");
  // A terminal that sends garbage and one that leaves before its answer.
  int garbage = test::connectTo(port_);
  test::writeAll(garbage, std::string("\x00\xFF\x01garbage", 10));
  int leaver = test::connectTo(port_);
  test::writeAll(leaver, std::string("\xAB\x00"
                                     "4607001234562",
                                     15));
  ::close(leaver);
  // A terminal that floods without reading its answers.
  int flood = test::connectTo(port_);
  std::string message = std::string("\xAB\x00", 2) + "4601002003004";
  for (int i = 0; i < 500; ++i) test::writeAll(flood, message);

  expectAnswer(longCode, "длинный", "код");
  expectAnswer(longCode + "\r\n", "длинный", "код");
  std::string withControl = longCode;
  withControl[2000] = '\x03';
  expectAnswer(withControl, "Not found", "Not found");
  expectAnswer("", "пустой код", "");
  expectAnswer("4607001234562", "Молоко 3,2% 1 л", "Цена: 89.90 руб.");

  termsim::LoadOptions load;
  load.port = port_;
  load.barcode = "4607001234562";
  load.count = 300;
  load.concurrency = 16;
  load.timeoutMs = 5000;
  termsim::LoadReport report = termsim::runLoad(load);
  EXPECT_EQ(report.answered, 300u);
  EXPECT_EQ(report.last.line1.substr(0, 6), "Молоко");
  ::close(garbage);
  ::close(flood);
  stop();
}

TEST(RequestLine, QuotesAndEscapesWhatItPrints) {
  EXPECT_EQ(quoteText("Хлеб"), "\"" + ansiToUtf8("Хлеб") + "\"");
  EXPECT_EQ(quoteText(std::string("a\"b\\c\r\n\x00", 8)), "\"a\\\"b\\\\c\\x0D\\x0A\\x00\"");
  std::string letters;
  for (int byte = 0x80; byte <= 0xFF; ++byte)
    if (byte != 0x98) letters += static_cast<char>(byte);
  EXPECT_EQ(quoteText(letters), "\"" + ansiToUtf8(letters) + "\"");
  TAnswerRecord record;
  record.SenderID = 7;
  record.SenderIP = "127.0.0.1";
  record.Answer = {"12", true, 0, "A", "B"};
  std::string line = formatRequestLine(record);
  EXPECT_NE(line.find(" id=7 ip=127.0.0.1 code=\"12\" found line1=\"A\" line2=\"B\""),
            std::string::npos)
      << line;
  record.Answer.Found = false;
  EXPECT_NE(formatRequestLine(record).find("\"12\" not-found"), std::string::npos);
}

}  // namespace
}  // namespace mirelo
