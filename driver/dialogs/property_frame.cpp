#include "driver/dialogs/property_frame.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "client/call_failure.h"
#include "driver/dialogs/dialog_support.h"

namespace mirelo {

namespace {

constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOW = 5;
constexpr LCID kDefaultLocale = 0x0419;  // the system's default: Russian

// The site the frame gives one page.
class TPageSite final : public ComObject<IPropertyPageSite> {
 public:
  explicit TPageSite(TPropertyFrame* frame) : frame_(frame) {}
  void Detach() { frame_ = nullptr; }

  HRESULT OnStatusChange(DWORD dwFlags) override {
    if (frame_) frame_->OnStatusChange(dwFlags);
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* pLocaleID) override {
    if (!pLocaleID) return E_POINTER;
    *pLocaleID = kDefaultLocale;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(MSG*) override { return E_NOTIMPL; }

 private:
  TPropertyFrame* frame_;
};

QString takeTitle(PROPPAGEINFO& info) {
  QString title;
  if (info.pszTitle) {
    title = QString::fromUtf16(info.pszTitle);
    CoTaskMemFree(info.pszTitle);
    info.pszTitle = nullptr;
  }
  for (LPOLESTR* text : {&info.pszDocString, &info.pszHelpFile}) {
    CoTaskMemFree(*text);
    *text = nullptr;
  }
  return title;
}

}  // namespace

TPropertyFrame::TPropertyFrame(QWidget* owner, std::span<IUnknown* const> objects,
                               std::span<const CLSID> pages, const PageCreator& createPage)
    : TMyForm(owner) {
  setObjectName(QStringLiteral("fmPropertyFrame"));
  setWindowTitle(QString::fromUtf16(u"Свойства"));
  Tabs = new QTabWidget(this);
  Tabs->setObjectName(QStringLiteral("Tabs"));
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel = new QPushButton(QString::fromUtf16(u"Отмена"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnApply = new QPushButton(QString::fromUtf16(u"Применить"), this);
  btnApply->setObjectName(QStringLiteral("btnApply"));
  btnApply->setEnabled(false);
  // No default button: Enter belongs to the page's controls, as in the
  // platform's frame, where a page's edit keeps its keys.
  for (QPushButton* button : {btnOK, btnCancel, btnApply}) button->setAutoDefault(false);
  connect(btnOK, &QPushButton::clicked, this, [this] {
    if (ApplyPages()) accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnApply, &QPushButton::clicked, this, [this] {
    if (ApplyPages()) btnApply->setEnabled(false);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* button : {btnOK, btnCancel, btnApply}) buttons->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(7, 7, 7, 7);
  layout->addWidget(Tabs, 1);
  layout->addLayout(buttons);

  std::vector<IUnknown*> list(objects.begin(), objects.end());
  QSize largest(0, 0);
  for (const CLSID& clsid : pages) {
    PageEntry entry;
    entry.page = createPage(clsid);
    if (!entry.page) continue;
    entry.site = ComPtr<IPropertyPageSite>(new TPageSite(this));
    entry.page->SetPageSite(entry.site.get());
    entry.page->SetObjects(static_cast<ULONG>(list.size()), list.data());
    PROPPAGEINFO info{};
    QString title;
    if (SUCCEEDED(entry.page->GetPageInfo(&info))) {
      title = takeTitle(info);
      entry.size = info.size;
    }
    entry.host = new QWidget;
    entry.host->setMinimumSize(entry.size.cx, entry.size.cy);
    entry.host->installEventFilter(this);
    largest = largest.expandedTo(QSize(entry.size.cx, entry.size.cy));
    Tabs->addTab(entry.host, title);
    pages_.push_back(std::move(entry));
  }
  connect(Tabs, &QTabWidget::currentChanged, this, [this](int index) { activate(index); });
  adjustSize();
  // Placed at 16, 16 within the owner, as the platform places its frame.
  if (owner) move(owner->mapToGlobal(QPoint(16, 16)));
}

TPropertyFrame::~TPropertyFrame() {
  deactivateAll();
  for (PageEntry& entry : pages_) {
    static_cast<TPageSite*>(entry.site.get())->Detach();
    entry.page->SetPageSite(nullptr);
    entry.page->SetObjects(0, nullptr);
  }
  // The page objects go (and their forms with them) before the tabs.
  pages_.clear();
}

RECT TPropertyFrame::pageRect(int index) const {
  QWidget* host = pages_.at(static_cast<size_t>(index)).host;
  return RECT{0, 0, host->width(), host->height()};
}

void TPropertyFrame::activate(int index) {
  if (closed_ || index < 0 || index >= PageCount() || index == current_) return;
  if (current_ >= 0) {
    PageEntry& old = pages_[static_cast<size_t>(current_)];
    old.page->Show(SW_HIDE);
    old.page->Deactivate();
    old.active = false;
  }
  current_ = index;
  PageEntry& entry = pages_[static_cast<size_t>(index)];
  RECT rect = pageRect(index);
  HRESULT hr = entry.page->Activate(entry.host, &rect, 1);
  if (FAILED(hr)) {
    showErrorBox(this, fromAnsi(takeCallFailure(hr).text));
    return;
  }
  entry.active = true;
  entry.page->Show(SW_SHOW);
}

void TPropertyFrame::deactivateAll() {
  for (PageEntry& entry : pages_) {
    if (!entry.active) continue;
    entry.page->Show(SW_HIDE);
    entry.page->Deactivate();
    entry.active = false;
  }
  current_ = -1;
}

bool TPropertyFrame::ApplyPages() {
  for (int i = 0; i < PageCount(); ++i) {
    IPropertyPage* page = Page(i);
    if (page->IsPageDirty() != S_OK) continue;
    HRESULT hr = page->Apply();
    if (FAILED(hr)) {
      Tabs->setCurrentIndex(i);
      showErrorBox(this, fromAnsi(takeCallFailure(hr).text));
      return false;
    }
  }
  return true;
}

void TPropertyFrame::OnStatusChange(DWORD flags) {
  if (flags & PROPPAGESTATUS_DIRTY) btnApply->setEnabled(true);
}

void TPropertyFrame::showEvent(QShowEvent* event) {
  TMyForm::showEvent(event);
  if (current_ < 0 && PageCount() > 0) activate(Tabs->currentIndex());
}

// A page follows the size of the window it is placed in.
bool TPropertyFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && current_ >= 0 && watched == PageHost(current_)) {
    RECT rect = pageRect(current_);
    pages_[static_cast<size_t>(current_)].page->Move(&rect);
  }
  return TMyForm::eventFilter(watched, event);
}

void TPropertyFrame::done(int result) {
  deactivateAll();
  closed_ = true;
  TMyForm::done(result);
}

}  // namespace mirelo
