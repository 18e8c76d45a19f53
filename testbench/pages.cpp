#include "testbench/pages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

#include "forms/qt_text.h"
#include "platform/message_loop.h"

namespace mirelo {

// ---- TPages ----

TPages::TPages() : sink_(new TVistelEventSink) {
  tickCount = GetTickCount;
  showError = [](const QString& text) {
    QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf16(u"Тест драйвера Vistel"),
                          text);
  };
  sink_->OnDataEvent = [this](const std::u16string& data, int32_t senderId) {
    if (OnDataEvent) OnDataEvent(fromWide(data), senderId);
  };
  sink_->OnLogEvent = [this](const std::u16string& line) {
    if (OnLogEvent) OnLogEvent(fromWide(line));
  };
  sink_->OnHandlerError = [this](const std::string& text) { postError(fromAnsi(text)); };
}

TPages::~TPages() {
  while (!pages_.empty()) pages_.back()->SetPages(nullptr);
  OnDataEvent = nullptr;
  OnLogEvent = nullptr;
  driver_.reset();
  sink_->OnDataEvent = nullptr;
  sink_->OnLogEvent = nullptr;
  sink_->OnHandlerError = nullptr;
}

void TPages::AddPage(TPage* page) {
  if (std::find(pages_.begin(), pages_.end(), page) == pages_.end()) pages_.push_back(page);
}

void TPages::RemovePage(TPage* page) {
  pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
}

void TPages::UpdatePages() {
  for (TPage* page : std::vector<TPage*>(pages_)) {
    try {
      page->UpdatePage();
    } catch (const std::exception& e) {
      showError(exceptionText(e));
    }
  }
}

std::shared_ptr<TVistelObject> TPages::Driver() {
  if (!driver_) driver_ = std::make_shared<TVistelObject>(sink_);
  return driver_;
}

void TPages::FreeDriver() {
  driver_.reset();
}

void TPages::postError(const QString& text) {
  QTimer::singleShot(0, &context_, [this, text] {
    if (showError) showError(text);
  });
}

TPages::TLoop::TLoop(TPages& pages) : pages_(pages) {
  ++pages_.loops_;
}

TPages::TLoop::~TLoop() {
  if (--pages_.loops_ == 0 && pages_.OnLoopsEnded) pages_.OnLoopsEnded();
}

QString exceptionText(const std::exception& e) {
  return fromAnsi(e.what());
}

TDisconnect::~TDisconnect() {
  try {
    driver_.Disconnect();
  } catch (const std::exception&) {
  }
}

void processPendingEvents() {
  QCoreApplication::processEvents();
  // The notifier on the loop's descriptor normally does this; a loop that
  // never returns to Qt's own loop must not starve the driver.
  MessageLoop::current().processMessages();
}

// ---- TPage ----

TPage::TPage(const char* formName, const char16_t* caption)
    : caption_(QString::fromUtf16(caption)) {
  setObjectName(QString::fromLatin1(formName));
}

TPage::~TPage() {
  SetPages(nullptr);
}

void TPage::SetPages(TPages* pages) {
  if (pages_) pages_->RemovePage(this);
  pages_ = pages;
  if (pages_) pages_->AddPage(this);
}

std::shared_ptr<TVistelObject> TPage::Driver() {
  if (!pages_) throw Exception("The page belongs to no page list");
  return pages_->Driver();
}

void TPage::FreeDriver() {
  if (pages_) pages_->FreeDriver();
}

void TPage::EnableButtons(bool enabled) {
  // Check boxes are no buttons here.
  QList<QAbstractButton*> buttons;
  for (QAbstractButton* button :
       findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
    if (!button->inherits("QCheckBox") && !button->inherits("QRadioButton")) buttons << button;
  if (!enabled) {
    // Before any goes off: a disabled button hands the focus on to the next.
    for (QAbstractButton* button : buttons)
      if (button->hasFocus()) remembered_ = button;
    for (QAbstractButton* button : buttons) button->setEnabled(false);
    return;
  }
  for (QAbstractButton* button : buttons) button->setEnabled(true);
  if (remembered_ && remembered_->isEnabled() && remembered_->isVisible() &&
      remembered_->focusPolicy() != Qt::NoFocus)
    remembered_->setFocus();
}

void TPage::showError(const QString& text) {
  if (pages_ && pages_->showError)
    pages_->showError(text);
  else
    QMessageBox::critical(this, QString::fromUtf16(u"Тест драйвера Vistel"), text);
}

bool TPage::guarded(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    showError(exceptionText(e));
    return false;
  }
}

void TPage::runCommand(const std::function<void()>& action) {
  EnableButtons(false);
  QString failure;
  try {
    action();
  } catch (const std::exception& e) {
    failure = exceptionText(e);
  }
  EnableButtons(true);
  if (!failure.isNull()) showError(failure);
}

void TPage::runDriverCommand(const std::function<void(TVistelObject& driver)>& action) {
  runCommand([&] {
    std::shared_ptr<TVistelObject> driver = Driver();
    NotifyStart();
    action(*driver);
    NotifyResult(*driver);
  });
}

void TPage::runDeviceCommand(const std::function<void(TVistelObject& driver)>& action) {
  runCommand([&] {
    std::shared_ptr<TVistelObject> driver = Driver();
    NotifyStart();
    TDisconnect disconnect(*driver);
    action(*driver);
    NotifyResult(*driver);
  });
}

}  // namespace mirelo
