#include "driver/dialogs/property_page.h"

#include <QApplication>
#include <algorithm>
#include <cstring>

#include "driver/dialogs/dialog_support.h"
#include "forms/my_form.h"
#include "platform/com/connection_point.h"
#include "platform/com/error_info.h"
#include "platform/com/property_notify.h"
#include "platform/cp1251.h"
#include "platform/exception.h"

namespace mirelo {

namespace {

constexpr std::u16string_view kSource = u"IPropertyPage";

QRect rectOf(const RECT& rect) {
  return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1));
}

}  // namespace

// ---- TPropertyPage2 ----

TPropertyPage2::TPropertyPage2(QWidget* parent) : QWidget(parent) {
  applyDialogFont(*this);
}

void TPropertyPage2::Modified() {
  if (impl_) impl_->MarkModified();
}

// ---- TPropertyPageImpl2 ----

TPropertyPageImpl2::TPropertyPageImpl2(TPropertyPage2* form) : form_(form) {
  form->impl_ = this;
  form->setWindowFlags(Qt::Widget);
}

TPropertyPageImpl2::~TPropertyPageImpl2() {
  if (form_) {
    form_->impl_ = nullptr;
    delete form_.data();
  }
}

template <class Body>
HRESULT TPropertyPageImpl2::guarded(Body body) {
  try {
    return body();
  } catch (const EOleSysError& error) {
    HRESULT code = FAILED(error.ErrorCode()) ? error.ErrorCode() : E_UNEXPECTED;
    return reportError(code, IID_IPropertyPage, kSource, ansiToWide(error.what()));
  } catch (...) {
    return reportError(E_UNEXPECTED, IID_IPropertyPage, kSource,
                       exceptionDescription(std::current_exception()),
                       exceptionHelpContext(std::current_exception()));
  }
}

HRESULT TPropertyPageImpl2::SetPageSite(IPropertyPageSite* pPageSite) {
  site_ = pPageSite;
  return S_OK;
}

HRESULT TPropertyPageImpl2::Activate(HWND hWndParent, const RECT* pRect, BOOL) {
  return guarded([&] {
    if (!form_) return E_UNEXPECTED;
    form_->setParent(static_cast<QWidget*>(hWndParent));
    if (pRect) form_->setGeometry(rectOf(*pRect));
    if (form_->OleObject()) form_->LoadPage();
    active_ = true;
    modified_ = false;
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::Deactivate() {
  return guarded([&] {
    active_ = false;
    if (form_) {
      form_->hide();
      form_->setParent(nullptr);
    }
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::GetPageInfo(PROPPAGEINFO* pPageInfo) {
  if (!pPageInfo) return E_POINTER;
  return guarded([&] {
    std::memset(pPageInfo, 0, sizeof *pPageInfo);
    pPageInfo->cb = sizeof *pPageInfo;
    if (!form_) return E_UNEXPECTED;
    QString title = form_->windowTitle();
    size_t bytes = (static_cast<size_t>(title.size()) + 1) * sizeof(OLECHAR);
    auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!text) throw EOleSysError(E_OUTOFMEMORY);
    std::memset(text, 0, bytes);
    std::memcpy(text, title.utf16(), static_cast<size_t>(title.size()) * sizeof(OLECHAR));
    pPageInfo->pszTitle = text;
    pPageInfo->size = {form_->width(), form_->height()};
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
  return guarded([&] {
    if (!form_) return E_UNEXPECTED;
    form_->oleObject_ = nullptr;
    form_->objects_.clear();
    if (!ppUnk) return E_POINTER;
    if (cObjects > 0 && ppUnk[0]) {
      // One object only: the first.
      form_->objects_.push_back(ComPtr<IUnknown>(ppUnk[0]));
      ppUnk[0]->QueryInterface(IID_IDispatch, form_->oleObject_.putVoid());
    }
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::Show(UINT nCmdShow) {
  return guarded([&] {
    if (form_) form_->setVisible(nCmdShow != 0);
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::Move(const RECT* pRect) {
  if (!pRect) return E_POINTER;
  return guarded([&] {
    if (form_) form_->setGeometry(rectOf(*pRect));
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::IsPageDirty() {
  return modified_ ? S_OK : S_FALSE;
}

HRESULT TPropertyPageImpl2::Apply() {
  return guarded([&] {
    if (!form_) return E_UNEXPECTED;
    form_->ApplyPage();
    modified_ = false;
    notifyPropertyChanges();
    return S_OK;
  });
}

HRESULT TPropertyPageImpl2::Help(LPCOLESTR) {
  return E_NOTIMPL;
}

// Qt routes keys to the page's controls itself: nothing to translate.
HRESULT TPropertyPageImpl2::TranslateAccelerator(MSG*) {
  return S_FALSE;
}

HRESULT TPropertyPageImpl2::EditProperty(DISPID) {
  return E_NOTIMPL;
}

void TPropertyPageImpl2::MarkModified() {
  if (!active_) return;
  modified_ = true;
  if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
}

void TPropertyPageImpl2::notifyPropertyChanges() {
  if (!form_ || !form_->OleObject()) return;
  ComPtr<IConnectionPointContainer> container =
      ComPtr<IDispatch>(form_->OleObject()).as<IConnectionPointContainer>();
  if (!container) return;
  ComPtr<IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(IID_IPropertyNotifySink, point.put())) || !point)
    return;
  ComPtr<IEnumConnections> connections;
  if (FAILED(point->EnumConnections(connections.put())) || !connections) return;
  // The whole list first: a sink may connect or disconnect when told.
  std::vector<ComPtr<IUnknown>> sinks;
  CONNECTDATA data{};
  while (connections->Next(1, &data, nullptr) == S_OK) {
    sinks.push_back(ComPtr<IUnknown>(data.pUnk));
    data.pUnk->Release();
  }
  for (const ComPtr<IUnknown>& sink : sinks) {
    if (ComPtr<IPropertyNotifySink> notify = sink.as<IPropertyNotifySink>())
      notify->OnChanged(DISPID_UNKNOWN);
  }
}

// ---- factory ----

TComObjectFactory& AddPropertyPageFactory(TComServer& server, const CLSID& clsid,
                                          const char* formClassName,
                                          std::function<TPropertyPage2*()> createForm) {
  TClassInfo info;
  info.clsid = clsid;
  info.className = std::string(formClassName) + " property page";
  info.threading = ThreadingModel::Single;
  return server.AddFactory(info, [createForm = std::move(createForm)]() -> ComPtr<IUnknown> {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
      throw EOleSysError(ansiText(u"Страница свойств требует приложения Qt с окнами."), E_FAIL);
    ComPtr<IPropertyPage2> page(new TActiveXPropertyPage2(createForm()));
    return ComPtr<IUnknown>(page.get());
  });
}

// ---- TParamPages ----

TParamPage::~TParamPage() {
  SetOwner(nullptr);
}

void TParamPage::SetOwner(TParamPages* owner) {
  if (owner_) std::erase(owner_->pages_, this);
  owner_ = owner;
  if (owner_) owner_->pages_.push_back(this);
}

TParamPages::~TParamPages() {
  while (!pages_.empty()) delete pages_.front();
}

void TParamPages::LoadAll() {
  for (TParamPage* page : std::vector<TParamPage*>(pages_)) page->LoadPage();
}

void TParamPages::ApplyAll() {
  for (TParamPage* page : std::vector<TParamPage*>(pages_)) page->ApplyPage();
}

}  // namespace mirelo
