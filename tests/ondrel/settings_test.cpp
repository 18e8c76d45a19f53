// The window's settings in the registry: the first start, PageIndex, the
// value names and kinds, and values that cannot be taken.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>

#include "ondrel_fixture.h"
#include "platform/registry/registry.h"
#include "testbench/control_settings.h"
#include "testbench/display_pages.h"
#include "testbench/server_pages.h"
#include "testbench/state_pages.h"

namespace mirelo::test {
namespace {

const std::string kKey = TfmMain::kSettingsKey;

RegistryKey settingsKey(Registry& registry) {
  return *registry.openKey(RegistryRoot::CurrentUser, kKey, true);
}

TEST_F(Ondrel, FirstStartSelectsEveryFirstComboItemAndShowsTheStatePage) {
  TfmMain& main = makeWindow();
  EXPECT_EQ(main.PageIndex(), 0);
  EXPECT_EQ(main.lblPageName->text(), q(u"Состояние"));
  int combos = 0;
  for (QComboBox* combo : main.findChildren<QComboBox*>()) {
    if (combo->window() != &main) continue;  // a file dialog's
    ++combos;
    EXPECT_EQ(combo->currentIndex(), 0) << combo->objectName().toStdString();
  }
  EXPECT_EQ(combos, 6);
  // "2400" is the page's own choice; the first start shows "1200".
  EXPECT_EQ(page<TfmSendBarcode>(8).cbBaudRate->currentText(), QStringLiteral("1200"));
  EXPECT_EQ(main.windowTitle(), q(u"Тест драйвера Vistel 1.0.0.1"));
  EXPECT_EQ(main.minimumSize(), QSize(591, 419));
  EXPECT_TRUE(errors.empty());
}

TEST_F(Ondrel, ASavedPageIndexOutOfRangeLeavesTheStatePage) {
  for (auto [stored, shown] : {std::pair{12, 12}, {40, 0}, {-1, 0}}) {
    window.reset();  // it would save its own page index
    {
      Registry registry;
      settingsKey(registry).writeInteger("PageIndex", stored);
    }
    makeWindow();
    EXPECT_EQ(window->PageIndex(), shown) << stored;
    EXPECT_EQ(window->ListBox->currentRow(), shown) << stored;
  }
}

TEST_F(Ondrel, SavesEveryInputUnderItsDottedNameAndRestoresIt) {
  makeWindow();
  page<TfmCommand>(11).edtCommandData->setText(QStringLiteral("AD 00 01"));
  page<TfmSimpleMessage>(1).edtLine1->setText(q(u"Цены"));
  page<TfmLine>(4).cbLine2Type->setCurrentIndex(3);
  page<TfmLine>(4).edtLine1Speed->setValue(7);
  page<TfmConnect>(10).chbStopOnError->setChecked(true);
  window.reset();  // saved when the window goes

  {
    Registry registry;
    RegistryKey key = settingsKey(registry);
    EXPECT_EQ(key.readInteger("PageIndex"), 10);
    EXPECT_EQ(key.readString("fmMain.pnlData.fmCommand.edtCommandData"), "AD 00 01");
    // The same name on two pages: two values.
    EXPECT_EQ(key.readString("fmMain.pnlData.fmSimpleMessage.edtLine1"), "Цены");
    EXPECT_EQ(key.readString("fmMain.pnlData.fmDeviceMessage.edtLine1"), "Строка 1");
    EXPECT_EQ(key.readInteger("fmMain.pnlData.fmLine.cbLine2Type"), 3);
    EXPECT_EQ(key.readString("fmMain.pnlData.fmLine.edtLine1Speed"), "7");
    EXPECT_EQ(key.readInteger("fmMain.pnlData.fmConnect.chbStopOnError"), 1);
    // Read-only edits, memos and file dialogs are not stored.
    for (const std::string& name : key.valueNames()) {
      EXPECT_EQ(name.find("fmMain.edt"), std::string::npos) << name;
      EXPECT_EQ(name.find("Memo"), std::string::npos) << name;
      EXPECT_EQ(name.find("Dialog"), std::string::npos) << name;
    }
  }

  TfmMain& again = makeWindow();
  EXPECT_EQ(again.PageIndex(), 10);
  EXPECT_EQ(page<TfmCommand>(11).edtCommandData->text(), QStringLiteral("AD 00 01"));
  EXPECT_EQ(page<TfmSimpleMessage>(1).edtLine1->text(), q(u"Цены"));
  EXPECT_EQ(page<TfmLine>(4).cbLine2Type->currentIndex(), 3);
  EXPECT_EQ(page<TfmLine>(4).edtLine1Speed->value(), 7);
  EXPECT_TRUE(page<TfmConnect>(10).chbStopOnError->isChecked());
}

TEST_F(Ondrel, ValuesThatDoNotFitTheirControlAreSkipped) {
  {
    Registry registry;
    RegistryKey key = settingsKey(registry);
    key.writeInteger("fmMain.pnlData.fmCommand.edtCommandData", 5);
    key.writeString("fmMain.pnlData.fmConnect.cbCommand", "1");
    key.writeInteger("fmMain.pnlData.fmDump.cbDeviceCode", 99);
    key.writeInteger("fmMain.pnlData.fmLine.cbLine1Type", -1);
    key.writeString("fmMain.pnlData.fmConnect.chbClosePort", "yes");
    key.writeString("fmMain.pnlData.fmTime.edtInterval", "soon");
    key.writeInteger("fmMain.pnlData.fmLine.cbLine2Type", 2);  // a good one after the bad ones
    key.writeString("PageIndex", "3");
  }
  TfmMain& main = makeWindow();
  EXPECT_EQ(main.PageIndex(), 0);
  EXPECT_EQ(page<TfmCommand>(11).edtCommandData->text(), QStringLiteral("BB"));
  EXPECT_EQ(page<TfmConnect>(10).cbCommand->currentIndex(), 0);
  EXPECT_FALSE(page<TfmConnect>(10).chbClosePort->isChecked());
  EXPECT_EQ(page<TfmTime>(5).edtInterval->value(), 500);
  EXPECT_EQ(page<TfmLine>(4).cbLine1Type->currentIndex(), 0);
  EXPECT_EQ(page<TfmLine>(4).cbLine2Type->currentIndex(), 2);
  EXPECT_TRUE(errors.empty());
}

TEST(ControlSettings, DateTimeIsTheDayCountAsAnEightByteDouble) {
  QWidget root;
  root.setObjectName(QStringLiteral("fmMain"));
  auto* picker = new QDateTimeEdit(&root);
  picker->setObjectName(QStringLiteral("dtpDate"));
  char pattern[] = "/tmp/ondrel-settings-XXXXXX";
  std::string folder = mkdtemp(pattern);
  Registry registry(folder + "/registry.db");
  RegistryKey key = *registry.openKey(RegistryRoot::CurrentUser, "Param", true);

  // 2.5 days after 30 December 1899: noon on the first of January 1900.
  key.writeBinary("fmMain.dtpDate", std::string("\x00\x00\x00\x00\x00\x00\x04\x40", 8));
  loadControlSettings(&root, key);
  EXPECT_EQ(picker->dateTime(), QDateTime(QDate(1900, 1, 1), QTime(12, 0)));
  picker->setDateTime(QDateTime(QDate(2024, 2, 29), QTime(6, 0)));
  saveControlSettings(&root, key);
  QDateTime back;
  ASSERT_TRUE(dateTimeFromBytes(key.readBinary("fmMain.dtpDate"), back));
  EXPECT_EQ(back, QDateTime(QDate(2024, 2, 29), QTime(6, 0)));

  for (std::string bad : {std::string(7, '\0'), std::string(9, '\0'),
                          std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8)}) {
    key.writeBinary("fmMain.dtpDate", bad);
    loadControlSettings(&root, key);
    EXPECT_EQ(picker->dateTime(), QDateTime(QDate(2024, 2, 29), QTime(6, 0))) << bad.size();
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace mirelo::test
