// The shell: page switching, "Настройка...", the command display, buttons
// and focus after a failure, the state page's report, and a window closed
// or a driver unloaded while a long loop runs.
#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "ondrel_fixture.h"
#include "testbench/display_pages.h"
#include "testbench/server_pages.h"
#include "testbench/state_pages.h"
#include "testbench/widgets.h"

namespace mirelo::test {
namespace {

TEST_F(Ondrel, ReselectingThePageOnShowDoesNotUpdateIt) {
  TfmMain& main = makeWindow();
  auto& server = page<TfmTCPServer>(6);
  server.btnOpenPort->setEnabled(false);  // UpdatePage would enable it: the server is closed
  main.ListBox->setCurrentRow(6);
  main.ShowPage(6);
  EXPECT_FALSE(server.btnOpenPort->isEnabled());
  main.ListBox->setCurrentRow(7);
  main.ListBox->setCurrentRow(6);
  EXPECT_TRUE(server.btnOpenPort->isEnabled());
  EXPECT_EQ(main.lblPageName->text(), q(u"TCP сервер"));
}

TEST_F(Ondrel, SettingsButtonUpdatesHiddenPagesToo) {
  TfmMain& main = makeWindow();
  auto& tcp = page<TfmTCPServer>(6);
  auto& response = page<TfmResponse>(7);
  main.ShowPage(0);
  tcp.btnOpenPort->setEnabled(false);
  response.btnOpenPort->setEnabled(false);
  // With the driver's dialogs the property page comes up: close it.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [] {
    if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
  });
  closer.start(50);
  QTest::mouseClick(main.btnProps, Qt::LeftButton);
  EXPECT_TRUE(tcp.btnOpenPort->isEnabled());
  EXPECT_TRUE(response.btnOpenPort->isEnabled());
  EXPECT_FALSE(tcp.btnClosePort->isEnabled());
  // Without the dialogs the object's own text is shown.
  for (const QString& error : errors) EXPECT_FALSE(error.isEmpty());
}

TEST_F(Ondrel, StateReportTimeAndResultOfAReadAgainstTheTerminal) {
  termsim::StatusInfo status = terminal.status();
  status.flags = 5;  // locked, settings table intact
  status.mac = {0x00, 0x12, 0x34, 0x02, 0x01, 0x02};
  terminal.setStatus(status);
  pointDevice();
  TfmMain& main = makeWindow();
  uint32_t ticks[] = {1000, 1015};
  int tick = 0;
  main.Pages().tickCount = [&] { return ticks[std::min(tick++, 1)]; };
  auto& state = page<TfmState>(0);
  QTest::mouseClick(state.btnGetStatus, Qt::LeftButton);
  EXPECT_EQ(toAnsi(state.Memo->toPlainText()),
            "Версия ПО               : 2.5\n"
            "Сборка ПО               : 312\n"
            "Дата ПО                 : 15.03.2010\n"
            "Тип устройства          : 2, Vistel\n"
            "Заводской номер         : 258\n"
            "Флаги состояния         : 5 (05h)\n"
            "Блокировка устройства   : [X]\n"
            "Ошибка таблицы настроек : [ ]\n"
            "MAC адрес               : 00-12-34-02-01-02\n"
            "ID фирмы                : 4660 (001234h)");
  EXPECT_EQ(result(), "(0) Ошибок нет");
  EXPECT_EQ(toAnsi(main.edtTime->text()), "15 мс.");
  EXPECT_EQ(main.edtInput->text(), QStringLiteral("BB"));
  EXPECT_TRUE(main.edtOutput->text().startsWith(QStringLiteral("BB 00 ")));

  // A new object after unloading reads the state again.
  QTest::mouseClick(state.btnUnloadDriver, Qt::LeftButton);
  EXPECT_FALSE(main.Pages().HasDriver());
  state.Memo->clear();
  QTest::mouseClick(state.btnGetStatus, Qt::LeftButton);
  EXPECT_TRUE(main.Pages().HasDriver());
  EXPECT_EQ(state.Memo->document()->blockCount(), 10);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Ondrel, ButtonsComeBackAfterAFailureWithTheFocusOnTheClickedOne) {
  refuse(0xBB, 0x01);
  pointDevice();
  TfmMain& main = makeWindow();
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  auto& state = page<TfmState>(0);
  state.Memo->setPlainText(QStringLiteral("old"));
  state.btnGetStatus->setFocus();
  QTest::mouseClick(state.btnGetStatus, Qt::LeftButton);
  EXPECT_TRUE(result().starts_with("(1) ")) << result();
  // The report is written whatever GetStatus returned.
  EXPECT_EQ(state.Memo->document()->blockCount(), 10);
  for (QPushButton* button : state.findChildren<QPushButton*>()) EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(state.RememberedButton(), state.btnGetStatus)
      << (state.RememberedButton() ? state.RememberedButton()->objectName().toStdString() : "none");
  EXPECT_TRUE(state.btnGetStatus->hasFocus());

  // A terminal that does not answer: Connect's failure leaves the old report.
  terminal.stop();
  window.reset();  // its object saves the devices when it goes
  pointDevice(1);
  makeWindow();
  auto& again = page<TfmState>(0);
  again.Memo->setPlainText(QStringLiteral("old"));
  QTest::mouseClick(again.btnGetStatus, Qt::LeftButton);
  EXPECT_EQ(again.Memo->toPlainText(), QStringLiteral("old"));
  EXPECT_FALSE(result().starts_with("(0)")) << result();
  EXPECT_TRUE(again.btnGetStatus->isEnabled());
}

TEST_F(Ondrel, ClosingOrUnloadingDuringALoopWaitsForTheLoopToUnwind) {
  terminal.setMessageCount(50);
  pointDevice();
  TfmMain& main = makeWindow();
  main.show();
  auto& messages = page<TfmDevMsg>(3);
  auto& state = *static_cast<TfmState*>(main.Page(0));
  int handled = 0;
  QObject::connect(&messages, &TfmDevMsg::messageDone, [&](int number) {
    ++handled;
    if (number == 2) state.btnUnloadDriver->click();
    if (number == 4) main.close();
  });
  messages.ReadAll(false);
  // The loop went on with its own reference and stopped after the message
  // on which the window was closed; the window closes once the loop is gone.
  EXPECT_EQ(handled, 5);
  EXPECT_EQ(memoLines(messages.Memo).size(), 10);
  EXPECT_FALSE(main.Pages().HasDriver());
  EXPECT_TRUE(waitFor([&] { return !main.isVisible(); }));
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mirelo::test
