#include "testbench/fm_main.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "forms/about_box.h"
#include "forms/my_form.h"
#include "platform/message_loop.h"
#include "platform/registry/registry.h"
#include "testbench/control_settings.h"
#include "testbench/display_pages.h"
#include "testbench/dump_pages.h"
#include "testbench/server_pages.h"
#include "testbench/state_pages.h"
#include "testbench/widgets.h"

namespace mirelo {

QString TfmMain::FileVersion() {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(MIRELO_VERSION_MAJOR)
      .arg(MIRELO_VERSION_MINOR)
      .arg(MIRELO_VERSION_RELEASE)
      .arg(MIRELO_VERSION_BUILD);
}

QString TfmMain::ApplicationTitle() {
  return q(u"Тест драйвера Vistel");
}

TfmMain::TfmMain(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("fmMain"));
  applyDialogFont(*this);
  pages_.showError = [this](const QString& text) {
    QMessageBox::critical(this, ApplicationTitle(), text);
  };
  pages_.OnLoopsEnded = [this] {
    if (closePending_) QTimer::singleShot(0, this, &QWidget::close);
  };
  loopNotifier_ = new QSocketNotifier(MessageLoop::current().fd(), QSocketNotifier::Read, this);
  connect(loopNotifier_, &QSocketNotifier::activated, this, [this] {
    try {
      MessageLoop::current().processMessages();
    } catch (const std::exception& e) {
      pages_.showError(exceptionText(e));
    }
  });

  // 1. The caption with the version.
  setWindowTitle(ApplicationTitle() + QLatin1Char(' ') + FileVersion());
  buildControls();
  // 2. The pages; 3. their list, page 0 on show; 4. the settings.
  createPages();
  for (int index = 0; index < pages_.PageCount(); ++index) ListBox->addItem(Page(index)->Caption());
  ShowPage(0);
  try {
    LoadSettings();
  } catch (const std::exception& e) {
    pages_.showError(exceptionText(e));
  }
}

TfmMain::~TfmMain() {
  try {
    SaveSettings();
  } catch (const std::exception&) {
    // Only the window's own settings are lost; the program is ending.
  }
  while (pages_.PageCount() > 0) delete Page(pages_.PageCount() - 1);
  pages_.FreeDriver();
}

void TfmMain::buildControls() {
  ListBox = new QListWidget(this);
  ListBox->setObjectName(QStringLiteral("ListBox"));
  ListBox->setFixedWidth(170);

  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setAutoFillBackground(true);
  QPalette grey = Panel1->palette();
  grey.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
  grey.setColor(QPalette::WindowText, Qt::white);
  Panel1->setPalette(grey);
  lblPageName = new QLabel(Panel1);
  lblPageName->setObjectName(QStringLiteral("lblPageName"));
  QFont bold = lblPageName->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() + 2);
  lblPageName->setFont(bold);
  auto* header = new QHBoxLayout(Panel1);
  header->setContentsMargins(8, 4, 8, 4);
  header->addWidget(lblPageName);

  pnlData = new QWidget(this);
  pnlData->setObjectName(QStringLiteral("pnlData"));
  new QStackedLayout(pnlData);
  pnlData->layout()->setContentsMargins(0, 0, 0, 0);

  auto readOnly = [this](const char* name) {
    QLineEdit* edit = makeEdit(this, name, QString());
    edit->setReadOnly(true);
    return edit;
  };
  edtResult = readOnly("edtResult");
  edtInput = readOnly("edtInput");
  edtOutput = readOnly("edtOutput");
  edtTime = readOnly("edtTime");
  auto* fields = new QGridLayout;
  fields->setContentsMargins(0, 0, 0, 0);
  fields->setVerticalSpacing(3);
  int row = 0;
  for (auto [caption, edit] : {std::pair{u"Ошибка:", edtResult},
                               {u"Передано:", edtInput},
                               {u"Принято:", edtOutput},
                               {u"Время:", edtTime}}) {
    fields->addWidget(makeLabel(this, caption), row, 0);
    fields->addWidget(edit, row++, 1);
  }

  btnProps = makeButton(this, "btnProps", u"Настройка...");
  btnAbout = makeButton(this, "btnAbout", u"О программе...");
  btnClose = makeButton(this, "btnClose", u"Закрыть");
  connect(btnProps, &QPushButton::clicked, this, &TfmMain::PropsClicked);
  connect(btnAbout, &QPushButton::clicked, this, &TfmMain::AboutClicked);
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
  connect(ListBox, &QListWidget::currentRowChanged, this, &TfmMain::ShowPage);

  auto* right = new QVBoxLayout;
  right->setSpacing(6);
  right->addWidget(Panel1);
  right->addWidget(pnlData, 1);
  right->addLayout(fields);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnProps);
  buttons->addWidget(btnAbout);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(ListBox, 0, 0);
  layout->addLayout(right, 0, 1);
  layout->addLayout(buttons, 1, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  layout->setRowStretch(0, 1);

  setMinimumSize(kMinWidth, kMinHeight);
  resize(760, 540);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TfmMain::createPages() {
  TPage* pages[] = {new TfmState,       new TfmSimpleMessage, new TfmDeviceMessage, new TfmDevMsg,
                    new TfmLine,        new TfmTime,          new TfmTCPServer,     new TfmResponse,
                    new TfmSendBarcode, new TfmDump,          new TfmConnect,       new TfmCommand,
                    new TfmLog};
  for (TPage* page : pages) {
    page->SetPages(&pages_);
    try {
      page->InitPage();
    } catch (const std::exception& e) {
      pages_.showError(exceptionText(e));
    }
    page->setParent(pnlData);
    pnlData->layout()->addWidget(page);
    page->hide();
    connect(page, &TPage::commandStart, this, &TfmMain::commandStart);
    connect(page, &TPage::commandData, this, &TfmMain::commandData);
    connect(page, &TPage::commandResult, this, &TfmMain::commandResult);
  }
}

void TfmMain::ShowPage(int index) {
  if (index == pageIndex_ || index < 0 || index >= pages_.PageCount()) return;
  TPage* page = Page(index);
  static_cast<QStackedLayout*>(pnlData->layout())->setCurrentWidget(page);
  page->show();
  lblPageName->setText(page->Caption());
  if (pageIndex_ >= 0) {
    TPage* previous = Page(pageIndex_);
    previous->hide();
    try {
      previous->LeavePage();
    } catch (const std::exception&) {
      // The switch completes whatever the page had to say.
    }
  }
  pageIndex_ = index;
  ListBox->setCurrentRow(index);
  try {
    page->UpdatePage();
  } catch (const std::exception&) {
  }
}

// ---- command display ----

void TfmMain::commandStart(TPage*) {
  startTick_ = pages_.tickCount();
}

void TfmMain::showExchange(TVistelObject& driver) {
  for (auto [edit, text] : {std::pair{edtInput, driver.Input()}, {edtOutput, driver.Output()}}) {
    edit->setText(text);
    edit->setCursorPosition(0);  // a long frame shows from its first byte
  }
  edtTime->setText(QString::number(pages_.tickCount() - startTick_) + q(u" мс."));
}

void TfmMain::commandData(TPage*, TVistelObject* driver) {
  edtResult->clear();
  showExchange(*driver);
}

void TfmMain::commandResult(TPage*, TVistelObject* driver) {
  showExchange(*driver);
  int32_t code = driver->ResultCode();
  edtResult->setText(QStringLiteral("(%1) %2").arg(code).arg(driver->ResultCodeDescription()));
}

// ---- buttons ----

void TfmMain::PropsClicked() {
  QString failure;
  try {
    std::shared_ptr<TVistelObject> driver = pages_.Driver();
    driver->ShowProperties();
  } catch (const std::exception& e) {
    failure = exceptionText(e);
  }
  // The dialog may have changed what the pages show, also when it failed.
  pages_.UpdatePages();
  if (!failure.isNull()) pages_.showError(failure);
}

void TfmMain::AboutClicked() {
  try {
    ShowAboutBox(QString(), ApplicationTitle(), {q(u"Версия теста: ") + FileVersion()}, this,
                 q(u"Тех. поддержка:"));
  } catch (const std::exception& e) {
    pages_.showError(exceptionText(e));
  }
}

// ---- closing and settings ----

void TfmMain::closeEvent(QCloseEvent* event) {
  for (int index = 0; index < pages_.PageCount(); ++index) {
    try {
      Page(index)->ClosePage();
    } catch (const std::exception&) {
    }
  }
  if (pages_.RunningLoops() > 0) {
    // The loops have been told to stop; the window closes once they have.
    closePending_ = true;
    event->ignore();
    return;
  }
  closePending_ = false;
  event->accept();
}

void TfmMain::LoadSettings() {
  Registry registry;
  std::optional<RegistryKey> key = registry.openKey(RegistryRoot::CurrentUser, kSettingsKey, false);
  if (!key) {
    selectFirstComboItems(this);
    return;
  }
  loadControlSettings(this, *key);
  if (key->valueType("PageIndex") == RegistryValueType::Integer)
    ShowPage(key->readInteger("PageIndex"));
}

void TfmMain::SaveSettings() {
  Registry registry;
  std::optional<RegistryKey> key;
  try {
    key = registry.openKey(RegistryRoot::CurrentUser, kSettingsKey, true);
  } catch (const ERegistryError&) {
    return;
  }
  Registry::Transaction transaction(registry);
  key->writeInteger("PageIndex", ListBox->currentRow());
  saveControlSettings(this, *key);
  transaction.commit();
}

}  // namespace mirelo
