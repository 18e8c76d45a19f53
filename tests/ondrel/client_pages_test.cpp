// The connection test's figures, the clock page's timer and the message
// list: reading, the file, writing back, and numbers that cannot be sent.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "ondrel_fixture.h"
#include "testbench/display_pages.h"
#include "testbench/state_pages.h"
#include "testbench/widgets.h"

namespace mirelo::test {
namespace {

TEST_F(Ondrel, ConnectionTestFiguresWithTheSystemsDecimalSeparator) {
  pointDevice();
  TfmMain& main = makeWindow();
  uint32_t now = 5000;
  main.Pages().tickCount = [&] { return now; };
  auto& test = page<TfmConnect>(10);
  test.Start();
  EXPECT_TRUE(test.Timer->isActive());
  EXPECT_FALSE(test.btnStart->isEnabled());
  test.Timer->stop();  // the ticks come from here
  for (int tick = 0; tick < 10; ++tick) {
    if (tick == 6) refuse(0xBB, 0x01);
    now += 100;
    test.Tick();
  }
  EXPECT_EQ(test.lblRepCount->text(), QStringLiteral("10"));
  EXPECT_EQ(test.lblErrCount->text(), QStringLiteral("4"));
  EXPECT_EQ(test.lblErrRate->text(), QStringLiteral("40,00"));
  EXPECT_EQ(test.lblTxSpeed->text(), QStringLiteral("10"));
  EXPECT_EQ(test.lblCommandTime->text(), QStringLiteral("100"));
  EXPECT_EQ(test.lblTimeLeft->text(), QStringLiteral("1"));
  EXPECT_TRUE(result().starts_with("(1) ")) << result();

  // Within the first millisecond: no speed yet, but the failure still stops the test.
  refuse(0xBB, 0x02);
  test.chbStopOnError->setChecked(true);
  test.Start();
  test.Tick();
  EXPECT_FALSE(test.Timer->isActive());
  EXPECT_TRUE(test.btnStart->isEnabled());
  EXPECT_FALSE(test.btnStop->isEnabled());
  EXPECT_EQ(test.lblRepCount->text(), QStringLiteral("1"));
  EXPECT_EQ(test.lblErrRate->text(), QStringLiteral("100,00"));
  EXPECT_EQ(test.lblTxSpeed->text(), QStringLiteral("10"));
  EXPECT_TRUE(result().starts_with("(2) ")) << result();
}

TEST_F(Ondrel, ClockIntervalOfZeroSwitchesTheButtonsButStartsNoTimer) {
  makeWindow();
  auto& clock = page<TfmTime>(5);
  EXPECT_TRUE(QTime::fromString(clock.lblTime->text(), QStringLiteral("HH:mm:ss")).isValid());
  clock.edtInterval->setValue(0);
  clock.Start();
  EXPECT_FALSE(clock.Timer->isActive());
  EXPECT_TRUE(clock.btnStop->isEnabled());
  EXPECT_FALSE(clock.btnStart->isEnabled());
  clock.Stop();
  EXPECT_TRUE(clock.btnStart->isEnabled());
}

TEST_F(Ondrel, MessageListReadSavedLoadedAndWrittenBack) {
  terminal.setMessageCount(10);
  terminal.withState([](termsim::TerminalState& state) {
    state.messages[3] =
        std::string("Цены") + std::string(26, ' ') + std::string("a\rb\x01") + std::string(26, ' ');
    return 0;
  });
  pointDevice();
  makeWindow();
  auto& list = page<TfmDevMsg>(3);
  list.ReadAll(false);
  QStringList lines = memoLines(list.Memo);
  ASSERT_EQ(lines.size(), 20);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("00;1;")));
  EXPECT_EQ(lines[6], q(u"03;1;Цены"));
  EXPECT_EQ(lines[7], QStringLiteral("03;2;a b"));  // control bytes blanked: the pairs stay
  EXPECT_TRUE(lines[19].startsWith(QStringLiteral("09;2;")));
  EXPECT_TRUE(result().starts_with("(211) ")) << result();
  EXPECT_FALSE(list.btnBreak->isEnabled());
  EXPECT_TRUE(list.btnRead->isEnabled());

  ASSERT_TRUE(list.SaveFile(qpath("list.txt")));
  std::string file = readFile("list.txt");
  EXPECT_TRUE(file.starts_with("00;1;"));
  EXPECT_NE(file.find("\r\n03;1;Цены\r\n03;2;a b\r\n"), std::string::npos);
  writeFile("list.txt", "7;1;Семь;x\r\n99;2;seven\r\nodd line\r\n");
  ASSERT_TRUE(list.LoadFile(qpath("list.txt")));
  EXPECT_EQ(memoLines(list.Memo).size(), 3);
  list.WriteAll();
  EXPECT_EQ(terminal.message(7).substr(0, 4), "Семь");
  EXPECT_EQ(terminal.message(7).substr(30, 5), "seven");
  EXPECT_EQ(result(), "(0) Ошибок нет");
  EXPECT_FALSE(list.ProgressBar->isVisible());
  EXPECT_TRUE(errors.empty());
}

TEST_F(Ondrel, MessageNumbersAreOneByte) {
  terminal.setMessageCount(300);
  pointDevice();
  makeWindow();
  auto& list = page<TfmDevMsg>(3);
  list.ReadAll(false);
  // A terminal that never refuses: the read ends after number 255.
  EXPECT_EQ(memoLines(list.Memo).size(), 512);
  EXPECT_EQ(result(), "(0) Ошибок нет");

  for (const char* number : {"300", "-5", "x"}) {
    errors.clear();
    terminal.clearJournal();
    list.Memo->setPlainText(QString::fromLatin1(number) + QStringLiteral(";1;a\n0;2;b"));
    list.WriteAll();
    ASSERT_EQ(errors.size(), 1u) << number;
    EXPECT_TRUE(errors[0].contains(QString::fromLatin1(number))) << errors[0].toStdString();
    EXPECT_TRUE(terminal.journal().empty()) << number;
    EXPECT_TRUE(list.btnWrite->isEnabled());
    EXPECT_FALSE(list.btnBreak->isEnabled());
    EXPECT_TRUE(list.lblCount->isHidden());
  }
}

}  // namespace
}  // namespace mirelo::test
