// The main property page on a real object and a simulated terminal.
#include <QTest>

#include "driver/automation/control.h"
#include "driver/dialogs/dialogs.h"
#include "driver/dialogs/fm_page.h"
#include "platform/registry/registry.h"
#include "tests/dialogs/dialog_fixture.h"

namespace mirelo::test {
namespace {

class PageTest : public DialogTest {
 protected:
  // The page as the frame makes it: through the page class, activated.
  void open() {
    page_ = CreatePropertyPage(CLASS_VistelPropertyPage);
    ASSERT_TRUE(page_);
    IUnknown* objects[] = {object.get()};
    ASSERT_EQ(page_->SetObjects(1, objects), S_OK);
    RECT rect{0, 0, 520, 420};
    ASSERT_EQ(page_->Activate(&host_, &rect, 1), S_OK);
    form = host_.findChild<TfmPage*>();
    ASSERT_NE(form, nullptr);
  }
  ~PageTest() override {
    if (page_) page_->Deactivate();
  }
  QStringList deviceLines() {
    QStringList lines;
    for (int i = 0; i < form->cbDevice->count(); ++i) lines << form->cbDevice->itemText(i);
    return lines;
  }

  QWidget host_;
  ComPtr<IPropertyPage> page_;
  TfmPage* form = nullptr;
};

TEST_F(PageTest, DevicesListInNumberOrderAndALineSelectsItsOwnDevice) {
  TVistelAccess d = driver();
  for (int i = 0; i < 9; ++i) d.call(&IVistel4::AddLD);  // 1 .. 10
  for (int number = 3; number <= 9; ++number) {
    d.putInt(&IVistel4::put_LDNumber, number);
    d.call(&IVistel4::DeleteLD);
  }
  d.putInt(&IVistel4::put_LDNumber, 1);
  open();
  EXPECT_EQ(deviceLines(),
            QStringList({q(u"№ 1 Без названия"), q(u"№ 2 Без названия"), q(u"№10 Без названия")}));
  EXPECT_TRUE(form->cbDevice->isEnabled());
  form->cbDevice->setCurrentIndex(2);
  emit form->cbDevice->activated(2);
  EXPECT_EQ(d.getInt(&IVistel4::get_LDIndex), 2);
  EXPECT_EQ(d.getInt(&IVistel4::get_LDNumber), 10);

  // A device change that cannot apply the page stays on the device.
  form->edtClientPort->setText(QString());
  form->cbDevice->setCurrentIndex(0);
  emit form->cbDevice->activated(0);
  EXPECT_EQ(d.getInt(&IVistel4::get_LDIndex), 2);
  EXPECT_EQ(form->cbDevice->currentIndex(), 2);
  EXPECT_EQ(form->edtResult->text(), QStringLiteral("'' is not a valid integer value"));

  d.putBool(&IVistel4::put_LockDevices, true);
  page_->Deactivate();
  RECT rect{0, 0, 520, 420};
  page_->Activate(&host_, &rect, 1);
  EXPECT_FALSE(form->cbDevice->isEnabled()) << "locked";
  EXPECT_FALSE(form->btnDevice->isEnabled());
}

TEST_F(PageTest, ADeviceThatCannotBeAppliedIsListedAndTheCurrentOneStays) {
  driver().call(&IVistel4::AddLD);
  driver().putInt(&IVistel4::put_LDNumber, 1);
  object = nullptr;  // stores the list
  {
    Registry store;
    store
        .openKey(RegistryRoot::CurrentUser, "Software\\Korvex\\Mirelo\\Mirelo\\Devices\\Device2",
                 false)
        ->writeInteger("Timeout", 0);
  }
  object = ComPtr<IUnknown>((new Tole1C())->identity()).as<IVistel4>();
  ASSERT_EQ(driver().getInt(&IVistel4::get_LDCount), 2);
  open();
  EXPECT_EQ(form->cbDevice->count(), 2) << form->edtResult->text().toStdString();
  EXPECT_EQ(driver().getInt(&IVistel4::get_LDIndex), 0);
  EXPECT_EQ(form->cbDevice->currentIndex(), 0);
  EXPECT_FALSE(form->edtResult->text().isEmpty()) << "the failure is shown";
}

TEST_F(PageTest, OneDeviceDisablesTheDeviceBoxAndEditsTakeOnlyWhatFits) {
  open();
  EXPECT_EQ(form->cbDevice->count(), 1);
  EXPECT_FALSE(form->cbDevice->isEnabled());
  EXPECT_TRUE(form->btnDevice->isEnabled());
  form->edtClientPort->clear();
  QTest::keyClicks(form->edtClientPort, QStringLiteral("1a0-2"));
  EXPECT_EQ(form->edtClientPort->text(), QStringLiteral("102"));
  form->edtClientIP->clear();
  QTest::keyClicks(form->edtClientIP, QStringLiteral("10.x0.0.1"));
  EXPECT_EQ(form->edtClientIP->text(), QStringLiteral("10.0.0.1"));
}

TEST_F(PageTest, EnterMarksTheEditsButNotTheRepeatCountAndNeverReachesTheFrame) {
  open();
  QTest::keyClick(form->edtRepeatCount, Qt::Key_Return);
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);
  QTest::keyClick(form->edtClientPort, Qt::Key_Return);
  EXPECT_EQ(page_->IsPageDirty(), S_OK);
}

TEST_F(PageTest, DefaultsThenCancelChangeNothing) {
  open();
  form->btnSetDefaults->click();
  EXPECT_EQ(form->edtClientIP->text(), QStringLiteral("192.168.0.166"));
  EXPECT_EQ(form->edtClientPort->text(), QStringLiteral("1002"));
  EXPECT_EQ(form->edtClientTimeout->value(), 3000);
  EXPECT_EQ(form->edtRepeatCount->value(), 1) << "kept";
  page_->Deactivate();  // the frame cancelled
  page_ = nullptr;
  TVistelAccess d = driver();
  EXPECT_EQ(d.getText(&IVistel4::get_ClientIP), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(d.getInt(&IVistel4::get_ClientPort), terminal.port());
  EXPECT_EQ(d.getInt(&IVistel4::get_ClientTimeout), 500);
  EXPECT_EQ(d.getInt(&IVistel4::get_ServerPort), 2004);
}

TEST_F(PageTest, TheConnectionTestShowsTypeAndSerialNumber) {
  terminal.withState([](termsim::TerminalState& state) { state.status.setSerialNumber(4242); });
  open();
  form->btnConnect->click();
  EXPECT_EQ(form->edtResult->text(),
            driver().getText(&IVistel4::get_DeviceTypeDescription) + q(u" №4242"));
  EXPECT_TRUE(form->btnConnect->isEnabled());
  terminal.stop();
  form->btnConnect->click();
  EXPECT_TRUE(form->edtResult->text().startsWith(u'(')) << form->edtResult->text().toStdString();
}

TEST_F(PageTest, SetIPChecksTheAddressAndMovesDeviceAndTerminalToItsFourNumbers) {
  open();
  const struct {
    const char* typed;
    const char* taken;  // empty: refused
  } cases[] = {
      {"192.168.0.255", ""}, {"", ""}, {"10.0.0.1", "10.0.0.1"}, {"192.168.0.7.1", "192.168.0.7"}};
  for (const auto& c : cases) {
    aim(ptUDP);
    errors.clear();
    size_t before = sent(0xB7);
    form->edtClientIP->setText(QString::fromLatin1(c.typed));
    form->btnSetIP->click();
    if (!*c.taken) {
      ASSERT_EQ(errors.size(), 1u) << c.typed;
      EXPECT_EQ(errors[0], QString::fromLatin1(c.typed) + q(u" не является корректным IP адресом"));
      EXPECT_EQ(sent(0xB7), before) << c.typed;
      continue;
    }
    EXPECT_TRUE(errors.empty()) << c.typed;
    EXPECT_EQ(form->edtResult->text(), q(u"(0) Ошибок нет")) << c.typed;
    EXPECT_EQ(terminal.newAddress(), c.taken);
    EXPECT_EQ(driver().getText(&IVistel4::get_ClientIP), QString::fromLatin1(c.taken));
    EXPECT_EQ(form->edtClientIP->text(), QString::fromLatin1(c.taken));
  }
}

}  // namespace
}  // namespace mirelo::test
