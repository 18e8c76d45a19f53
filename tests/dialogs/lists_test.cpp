// The logical devices dialog and the search, and the accessible names of
// the dialogs' controls.
#include <QAbstractButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "driver/dialogs/dialogs.h"
#include "driver/dialogs/fm_device.h"
#include "driver/dialogs/fm_page.h"
#include "driver/dialogs/fm_search.h"
#include "driver/dialogs/fm_tables.h"
#include "tests/dialogs/dialog_fixture.h"

namespace mirelo::test {
namespace {

class ListsTest : public DialogTest {};

TEST_F(ListsTest, TheDeviceButtonsFollowTheLimitsAndTypingRenamesTheLine) {
  for (int i = 0; i < 97; ++i) driver().call(&IVistel4::AddLD);
  TfmDevice dialog(nullptr, *object.get());
  dialog.FillList();
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  EXPECT_TRUE(dialog.btnAdd->isEnabled());
  dialog.btnAdd->click();
  EXPECT_EQ(dialog.lbDevice->count(), 99);
  EXPECT_FALSE(dialog.btnAdd->isEnabled());
  EXPECT_EQ(dialog.lbDevice->currentRow(), driver().getInt(&IVistel4::get_LDIndex));

  dialog.lbDevice->setCurrentRow(2);
  dialog.edtDeviceName->setFocus();
  dialog.edtDeviceName->clear();
  QTest::keyClick(dialog.edtDeviceName, Qt::Key_A);
  EXPECT_EQ(dialog.lbDevice->item(2)->text(), q(u"№ 3 a"));
  QTest::keyClick(dialog.edtDeviceName, Qt::Key_B);
  EXPECT_EQ(dialog.lbDevice->item(2)->text(), q(u"№ 3 ab"));
  EXPECT_EQ(driver().getText(&IVistel4::get_LDName), QStringLiteral("ab"));
  QTest::keyClick(dialog.edtDeviceName, Qt::Key_Home);
  QTest::keyClick(dialog.edtDeviceName, Qt::Key_Delete);
  EXPECT_EQ(dialog.lbDevice->count(), 99) << "Delete in the edit deletes a character";
  EXPECT_EQ(driver().getText(&IVistel4::get_LDName), QStringLiteral("b"));

  dialog.lbDevice->clearSelection();
  EXPECT_EQ(dialog.lbDevice->selectedItems().size(), 1) << "a line stays selected";
  dialog.lbDevice->setFocus();
  QTest::keyClick(dialog.lbDevice, Qt::Key_Delete);
  EXPECT_EQ(dialog.lbDevice->count(), 98);
  while (dialog.lbDevice->count() > 1) dialog.btnDelete->click();
  EXPECT_FALSE(dialog.btnDelete->isEnabled());
  EXPECT_TRUE(errors.empty());
}

TEST_F(ListsTest, TheSearchListsATerminalOnceAndFiltersByModel) {
  TModalSession loop;  // the search's replies come through the driver's loop
  TfmSearch search(nullptr, "0", std::to_string(terminal.discoveryPort()));
  search.edtAddress->setText(QStringLiteral("127.0.0.1"));
  search.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return search.ListView->topLevelItemCount() > 0; }, 5000));
  QTest::qWait(200);  // the answers to the other two requests
  ASSERT_EQ(search.ListView->topLevelItemCount(), 1);
  EXPECT_EQ(search.ListView->topLevelItem(0)->text(0), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(search.ListView->topLevelItem(0)->text(1), QString::number(terminal.discoveryPort()));
  search.Choose();
  EXPECT_EQ(search.result(), QDialog::Accepted);
  EXPECT_EQ(search.ResultIP, QStringLiteral("127.0.0.1"));

  terminal.withState([](termsim::TerminalState& state) { state.status.setDeviceType(1); });
  search.chbShowAllDevices->setChecked(false);
  search.Start();
  QTest::qWait(300);
  EXPECT_EQ(search.ListView->topLevelItemCount(), 0) << "model 1 is not listed";
  search.Choose();
  EXPECT_EQ(search.result(), QDialog::Rejected) << "nothing chosen";
}

TEST_F(ListsTest, EveryControlCarriesItsCaptionForAccessibility) {
  TfmPage page;
  TfmDevice devices(nullptr, *object.get());
  TfmSearch search(nullptr, "0", "0");
  TfmTables tables(nullptr, *object.get());
  for (QWidget* window : std::initializer_list<QWidget*>{&page, &devices, &search, &tables}) {
    for (QWidget* control : window->findChildren<QWidget*>()) {
      bool named = !control->accessibleName().isEmpty();
      if (auto* button = qobject_cast<QAbstractButton*>(control))
        named = named || !button->text().isEmpty();
      bool needsName =
          qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control) ||
          (qobject_cast<QAbstractItemView*>(control) && !qobject_cast<QHeaderView*>(control)) ||
          qobject_cast<QAbstractSpinBox*>(control) ||
          (qobject_cast<QLineEdit*>(control) &&
           !qobject_cast<QAbstractSpinBox*>(control->parent()) &&
           !qobject_cast<QComboBox*>(control->parent()));
      if (needsName) {
        EXPECT_TRUE(named) << control->metaObject()->className() << " "
                           << control->objectName().toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace mirelo::test
