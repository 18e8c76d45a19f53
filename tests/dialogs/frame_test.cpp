// The page object's state machine, the property frame through
// ShowProperties, the About box and the control window.
#include <QListWidget>
#include <QTest>

#include "driver/automation/control.h"
#include "driver/dialogs/control_window.h"
#include "driver/dialogs/fm_page.h"
#include "driver/dialogs/property_frame.h"
#include "driver/dialogs/property_page.h"
#include "forms/about_box.h"
#include "platform/com/error_info.h"
#include "platform/com/property_notify.h"
#include "tests/dialogs/dialog_fixture.h"

namespace mirelo::test {
namespace {

class CountingPage : public TPropertyPage2 {
 public:
  int loads = 0, applies = 0;
  std::function<void()> onApply;
  void LoadPage() override { ++loads; }
  void ApplyPage() override {
    ++applies;
    if (onApply) onApply();
  }
};

class NotifySink final : public ComObject<IPropertyNotifySink> {
 public:
  std::vector<DISPID> changed;
  HRESULT OnChanged(DISPID id) override {
    changed.push_back(id);
    return S_OK;
  }
  HRESULT OnRequestEdit(DISPID) override { return S_OK; }
};

// An edited object with a property-notification connection point.
class Edited final : public ComObject<IDispatch, IConnectionPointContainer> {
 public:
  ConnectionPoint notify{*this, IID_IPropertyNotifySink};
  HRESULT GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    ConnectionPoint* points[] = {&notify};
    return findConnectionPoint(points, riid, point);
  }
};

class Site final : public ComObject<IPropertyPageSite> {
 public:
  std::vector<DWORD> flags;
  HRESULT OnStatusChange(DWORD f) override { return flags.push_back(f), S_OK; }
  HRESULT GetLocaleID(LCID*) override { return E_NOTIMPL; }
  HRESULT GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
};

TEST(PageObject, FollowsTheFramesCalls) {
  auto* form = new CountingPage;
  form->setWindowTitle(QStringLiteral("Vistel"));
  form->resize(300, 200);
  long before = ComServer().ObjectCount();
  ComPtr<IPropertyPage2> page(new TActiveXPropertyPage2(form));
  EXPECT_EQ(ComServer().ObjectCount(), before + 1) << "counted for DllCanUnloadNow";
  ComPtr<Site> site(new Site);
  QWidget parent;
  RECT rect{0, 0, 300, 200};

  EXPECT_EQ(page->SetPageSite(site.get()), S_OK);
  EXPECT_EQ(page->Activate(&parent, &rect, 1), S_OK);
  EXPECT_EQ(form->loads, 0) << "no object yet";
  EXPECT_EQ(form->parentWidget(), &parent);
  form->Modified();
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(site->flags, std::vector<DWORD>{3});
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(form->parentWidget(), nullptr);

  ComPtr<Edited> first(new Edited), second(new Edited);
  ComPtr<NotifySink> sink(new NotifySink);
  DWORD cookie = 0;
  ASSERT_EQ(first->notify.Advise(sink.get(), &cookie), S_OK);
  IUnknown* two[] = {static_cast<IDispatch*>(first.get()), static_cast<IDispatch*>(second.get())};
  EXPECT_EQ(page->SetObjects(2, two), S_OK);
  EXPECT_EQ(form->Objects().size(), 1u) << "the first only";
  EXPECT_EQ(form->OleObject(), static_cast<IDispatch*>(first.get()));
  form->Modified();
  EXPECT_EQ(site->flags.size(), 1u) << "inactive: no change";
  EXPECT_EQ(page->Activate(&parent, &rect, 1), S_OK);
  EXPECT_EQ(form->loads, 1);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);

  form->Modified();
  form->onApply = [] { throw EOleSysError(E_ACCESSDENIED); };
  EXPECT_EQ(page->Apply(), E_ACCESSDENIED);
  form->onApply = [] { throw Exception("bad port"); };
  EXPECT_EQ(page->Apply(), E_UNEXPECTED);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BSTR text;
  info->GetDescription(&text);
  EXPECT_EQ(text, u"bad port");
  EXPECT_EQ(page->IsPageDirty(), S_OK) << "a failed apply keeps the edits";
  EXPECT_TRUE(sink->changed.empty());
  form->onApply = nullptr;
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(sink->changed, std::vector<DISPID>{-1});

  PROPPAGEINFO pageInfo{};
  ASSERT_EQ(page->GetPageInfo(&pageInfo), S_OK);
  EXPECT_EQ(std::u16string(pageInfo.pszTitle), u"Vistel");
  EXPECT_EQ(pageInfo.size.cx, 300);
  CoTaskMemFree(pageInfo.pszTitle);
  EXPECT_EQ(page->TranslateAccelerator(nullptr), S_FALSE);
  EXPECT_EQ(page->EditProperty(1), E_NOTIMPL);
  EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
  EXPECT_EQ(form->OleObject(), nullptr);
  EXPECT_EQ(page->SetObjects(0, two), S_OK);
  EXPECT_EQ(form->OleObject(), nullptr);
  page->Deactivate();
  page = nullptr;
  EXPECT_EQ(ComServer().ObjectCount(), before);
}

class FrameTest : public DialogTest {};

TEST_F(FrameTest, ShowPropertiesAppliesTheMainPageAndKeepsAFailedApplyOpen) {
  ComPtr<IVistelControl> control = object.as<IVistelControl>();
  BYTE shown = 0;
  bool stayedOpen = false, stayedDirty = false;
  whenModal([&](QWidget* modal) {
    auto* frame = qobject_cast<TPropertyFrame*>(modal);
    ASSERT_NE(frame, nullptr);
    shown = control->GetPropertyFrameShown();
    auto* page = frame->findChild<TfmPage*>();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->edtClientIP->text(), QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(frame->btnApply->isEnabled());
    page->edtClientPort->setText(QStringLiteral("70000"));
    EXPECT_TRUE(frame->btnApply->isEnabled());
    frame->btnOK->click();
    stayedOpen = frame->isVisible();
    stayedDirty = frame->Page(0)->IsPageDirty() == S_OK;
    page->edtClientPort->setText(QStringLiteral("1234"));
    frame->btnOK->click();
  });
  LONG code = -1;
  EXPECT_EQ(object->ShowProperties(&code), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(stayedDirty);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], QStringLiteral("'70000' is not a valid integer value"));
  EXPECT_EQ(driver().getInt(&IVistel4::get_ClientPort), 1234);
  EXPECT_EQ(control->GetPropertyFrameShown(), 0);
}

TEST_F(FrameTest, TheAboutBoxShowsExactlyOneVersionLine) {
  QStringList lines;
  QString name;
  whenModal([&](QWidget* modal) {
    auto* box = qobject_cast<TfmAbout*>(modal);
    ASSERT_NE(box, nullptr);
    name = box->NameLabel->text();
    for (int i = 0; i < box->lbVersion->count(); ++i) lines << box->lbVersion->item(i)->text();
    QString opened;
    box->openUrl = [&](const QString& url) { opened = url; };
    QTest::mouseClick(box->lblSupportMail, Qt::LeftButton);
    EXPECT_EQ(opened, QStringLiteral("mailto:support@korvex.example.invalid"));
    box->btnOK->click();
  });
  EXPECT_EQ(object->AboutBox(), S_OK);
  EXPECT_EQ(name, q(u"Драйвер Vistel"));
  ASSERT_EQ(lines.size(), 1);
  EXPECT_EQ(lines[0], q(u"Версия драйвера: ") + driver().getText(&IVistel4::get_FileVersion));
}

TEST_F(FrameTest, TheControlWindowIsAFixedChildOfItsContainer) {
  QWidget container;
  void* window = nullptr;
  ASSERT_EQ(object.as<IVistelWindow>()->CreateControlWindow(&container, &window), S_OK);
  auto* control = static_cast<QWidget*>(window);
  EXPECT_EQ(control->parentWidget(), &container);
  EXPECT_EQ(control->size(), QSize(40, 40));
  EXPECT_EQ(control->minimumSize(), control->maximumSize());
}

}  // namespace
}  // namespace mirelo::test
