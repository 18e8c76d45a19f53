// The response script (W, L and SM as bytes on the wire), the barcode of
// received data, and the dump: grid rows, the end of a read, "Прервать",
// the block limit and files too large to open.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "ondrel_fixture.h"
#include "test_support.h"
#include "testbench/dump_pages.h"
#include "testbench/server_pages.h"
#include "testbench/widgets.h"

namespace mirelo::test {
namespace {

TEST(ServerPages, BarcodeAndShownData) {
  struct Case {
    const char16_t* data;
    const char16_t* barcode;
    const char16_t* shown;
  } cases[] = {
      {u"123456789123\r\n", u"123456789123", u"123456789123#13#10"},
      {u"123456789123", u"123456789123", u"123456789123"},
      {u"Цена5;x", u"Цена5", u"Цена5;x"},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BarcodeOf(q(c.data)), q(c.barcode));
    EXPECT_EQ(ShownData(q(c.data)), q(c.shown));
  }
}

TEST_F(Ondrel, ResponseScriptAnswersABarcodeFromTheServerOnTheWire) {
  uint16_t serverPort;
  {
    TcpListener probe;
    serverPort = probe.port;
  }
  pointDevice(0, serverPort);
  makeWindow();
  auto& response = page<TfmResponse>(7);
  std::vector<int32_t> waits;
  response.Wait = [&](int32_t ms) { waits.push_back(ms); };
  QTest::mouseClick(response.btnOpenPort, Qt::LeftButton);
  ASSERT_FALSE(response.btnOpenPort->isEnabled()) << result();
  ASSERT_TRUE(response.btnClosePort->isEnabled());

  int scanner = connectTo(serverPort);
  ASSERT_GE(scanner, 0);
  writeAll(scanner, termsim::terminalMessage("123456789123\r\n"));
  EXPECT_TRUE(waitFor([&] { return terminal.journal().size() >= 3; }));
  ::close(scanner);
  EXPECT_EQ(waits, (std::vector<int32_t>{100, 1000}));
  std::vector<termsim::JournalEntry> sent = terminal.journal();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes.substr(0, 4),
            "\xAA\x3C"
            " С");
  EXPECT_EQ(sent[1].bytes, std::string("\xAF\x01\x09\x01\x14 Строка 1", 14));
  EXPECT_EQ(sent[2].bytes, std::string("\xAF\x02\x09\x01\x14 Строка 2", 14));
  QStringList log = memoLines(response.Log);
  ASSERT_EQ(log.size(), 6);
  EXPECT_EQ(log[0], QStringLiteral("<- 123456789123"));
  EXPECT_EQ(log[1], q(u"Задержка 100 мс"));
  EXPECT_EQ(log[5], QStringLiteral("-> AF 02 09 01 14 20 D1 F2 F0 EE EA E0 20 32"));
  EXPECT_TRUE(errors.empty());

  // A wait that is negative, too long or no number ends the run with the
  // conversion error, shown once the driver's delivery has returned.
  setMemoLines(response.Memo, {q(u"123456789123;W;-5")});
  scanner = connectTo(serverPort);
  writeAll(scanner, termsim::terminalMessage("123456789123"));
  EXPECT_TRUE(waitFor([&] { return !errors.empty(); }));
  ::close(scanner);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("'-5'"))) << errors[0].toStdString();
  for (const char16_t* wait : {u"-5", u"99999999", u""}) {
    waits.clear();
    errors.clear();
    setMemoLines(response.Memo, {q(u"7;W;") + q(wait), q(u"7;SM;a;b")});
    TVistelObject& driver = *response.Driver();
    EXPECT_THROW(response.RunScript(driver, QStringLiteral("7")), std::exception);
    EXPECT_TRUE(waits.empty());
  }
  QTest::mouseClick(response.btnClosePort, Qt::LeftButton);
  EXPECT_TRUE(response.btnOpenPort->isEnabled());
}

TEST_F(Ondrel, DumpGridFromAFileAndFilesTooLargeToOpen) {
  makeWindow();
  auto& dump = page<TfmDump>(9);
  QAbstractItemModel& grid = *dump.Grid->model();
  EXPECT_EQ(grid.rowCount(), 1);
  EXPECT_EQ(grid.index(0, 0).data().toString(), QStringLiteral("000000"));
  std::string bytes(40, '\x11');
  bytes[0x11] = '\x0A';
  writeFile("forty.bin", bytes);
  ASSERT_TRUE(dump.LoadFile(qpath("forty.bin")));
  ASSERT_EQ(grid.rowCount(), 3);
  EXPECT_EQ(grid.index(2, 0).data().toString(), QStringLiteral("000020"));
  EXPECT_EQ(grid.index(1, 2).data().toString(), QStringLiteral("0A"));
  EXPECT_EQ(grid.index(2, 8).data().toString(), QStringLiteral("11"));
  EXPECT_EQ(grid.index(2, 9).data().toString(), QString());
  EXPECT_EQ(grid.headerData(16, Qt::Horizontal).toString(), QStringLiteral("0F"));
  EXPECT_TRUE(dump.DumpName().isEmpty());

  { std::ofstream large(path("large.bin"), std::ios::binary); }
  std::filesystem::resize_file(path("large.bin"), 64 * 1024 * 1024 + 1);
  EXPECT_FALSE(dump.LoadFile(qpath("large.bin")));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(dump.Dump(), bytes);
}

TEST_F(Ondrel, DumpReadEndsAtTheRefusalAtPrervatOrAtTheBlockLimit) {
  terminal.setMemoryBlocks(1, 3);
  pointDevice(1);
  makeWindow();
  auto& dump = page<TfmDump>(9);
  dump.cbDeviceCode->setCurrentIndex(1);
  dump.ReadClicked();
  EXPECT_EQ(dump.Dump(), terminal.state().memories[1]);
  EXPECT_EQ(dump.Grid->model()->rowCount(), 3 * 1024 / 16);
  EXPECT_EQ(toAnsi(dump.lblRead->text()), "Прочитано: 3 Кб");
  EXPECT_EQ(result(), "") << "211 is the normal end";
  EXPECT_EQ(toAnsi(dump.DumpName()), "память данных Atmega128");
  EXPECT_EQ(toAnsi(dump.btnRead->text()), "Прочитать");
  EXPECT_TRUE(waitFor([&] { return terminal.tcpConnections() == 0; }));

  QObject::connect(&dump, &TfmDump::blockRead, [&](int block) {
    if (block == 0) dump.ReadClicked();  // "Прервать"
  });
  dump.ReadClicked();
  EXPECT_EQ(dump.Dump().size(), 1024u);
  EXPECT_EQ(result(), "(0) Ошибок нет");
  QObject::disconnect(&dump, &TfmDump::blockRead, nullptr, nullptr);

  dump.BlockLimit = 2;
  dump.ReadClicked();
  EXPECT_EQ(dump.Dump().size(), 2048u);

  // A refusal other than 211 shows its code and still disconnects.
  dump.BlockLimit = 65536;
  refuse(0x83, 0x05);
  dump.ReadClicked();
  EXPECT_TRUE(dump.Dump().empty());
  EXPECT_TRUE(result().starts_with("(5) ")) << result();
  EXPECT_TRUE(waitFor([&] { return terminal.tcpConnections() == 0; }));
  EXPECT_TRUE(dump.btnOpenFile->isEnabled());
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mirelo::test
