#include "testbench/display_pages.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "testbench/message_list.h"
#include "testbench/text_files.h"
#include "testbench/widgets.h"

namespace mirelo {

namespace {

// The width of the character counts beside the display lines.
constexpr int kLengthWidth = 24;

// A ruler under a line edit with a mark where 22 characters end, the width
// of a display line that shows without running.
class TRuler : public QWidget {
 public:
  explicit TRuler(QLineEdit* edit) : QWidget(edit->parentWidget()), edit_(edit) {
    setFixedHeight(14);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    QFontMetrics metrics(edit_->font());
    int step = metrics.horizontalAdvance(QLatin1Char('0'));
    int left = edit_->textMargins().left() + 4;
    painter.drawLine(left, 0, width(), 0);
    for (int column = 0; left + column * step < width(); ++column) {
      int x = left + column * step;
      painter.drawLine(x, 0, x, column % 5 == 0 ? 4 : 2);
      if (column == 22) {
        painter.drawLine(x, 0, x, 6);
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        painter.setFont(small);
        painter.drawText(x + 2, 13, QStringLiteral("22"));
      }
    }
  }

 private:
  QLineEdit* edit_;
};

}  // namespace

// ---- Простое сообщение ----

TfmSimpleMessage::TfmSimpleMessage() : TPage("fmSimpleMessage", u"Простое сообщение") {
  edtLine1 = makeEdit(this, "edtLine1", q(u"Строка 1"));
  edtLine2 = makeEdit(this, "edtLine2", q(u"Строка 2"));
  lblLine1Len = makeLengthLabel(this, "lblLine1Len", edtLine1, kLengthWidth);
  lblLine2Len = makeLengthLabel(this, "lblLine2Len", edtLine2, kLengthWidth);
  btnShowMessage = makeButton(this, "btnShowMessage", u"Вывести");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Строка 1:"), 0, 0);
  layout->addWidget(edtLine1, 0, 1);
  layout->addWidget(lblLine1Len, 0, 2);
  layout->addWidget(makeLabel(this, u"Строка 2:"), 1, 0);
  layout->addWidget(edtLine2, 1, 1);
  layout->addWidget(lblLine2Len, 1, 2);
  layout->addWidget(btnShowMessage, 0, 3);
  layout->setRowStretch(2, 1);
  layout->setColumnStretch(1, 1);

  connect(btnShowMessage, &QPushButton::clicked, this, [this] {
    runDriverCommand([this](TVistelObject& driver) {
      driver.SetLine1(edtLine1->text());
      driver.SetLine2(edtLine2->text());
      driver.ShowMessage();
    });
  });
}

// ---- Расширенное сообщение ----

TfmLine::TfmLine() : TPage("fmLine", u"Расширенное сообщение") {
  auto lineTypes = [this](const char* name) {
    return makeCombo(
        this, name,
        {u"0, просто вывод", u"1, бег справа налево", u"2, слева направо", u"3, колебания "});
  };
  edtLine1 = makeEdit(this, "edtLine1", q(u"Добро пожаловать в наш магазин !!!"));
  edtLine2 = makeEdit(this, "edtLine2", q(u"Заходите к нам чаще !!!"));
  lblLine1Len = makeLengthLabel(this, "lblLine1Len", edtLine1, kLengthWidth);
  lblLine2Len = makeLengthLabel(this, "lblLine2Len", edtLine2, kLengthWidth);
  edtLine1Speed = makeNumberEdit(this, "edtLine1Speed", 20, 0, 255);
  edtLine2Speed = makeNumberEdit(this, "edtLine2Speed", 20, 0, 255);
  cbLine1Type = lineTypes("cbLine1Type");
  cbLine2Type = lineTypes("cbLine2Type");
  btnShowLine1 = makeButton(this, "btnShowLine1", u"Строка 1");
  btnShowLine2 = makeButton(this, "btnShowLine2", u"Строка 2");
  btnAllLines = makeButton(this, "btnAllLines", u"Обе строки");

  auto* layout = new QGridLayout(this);
  int row = 0;
  auto group = [&](const char16_t* caption, QLineEdit* edit, QLabel* length, QSpinBox* speed,
                   QComboBox* type, QPushButton* button) {
    layout->addWidget(makeLabel(this, caption), row, 0);
    layout->addWidget(edit, row, 1, 1, 3);
    layout->addWidget(length, row, 4);
    layout->addWidget(button, row++, 5);
    layout->addWidget(new TRuler(edit), row++, 1, 1, 3);
    layout->addWidget(makeLabel(this, u"Скорость, 0..255:"), row, 0);
    layout->addWidget(speed, row, 1);
    layout->addWidget(makeLabel(this, u"Тип вывода:"), row, 2, Qt::AlignRight);
    layout->addWidget(type, row++, 3);
    layout->setRowMinimumHeight(row++, 10);
  };
  group(u"Строка 1:", edtLine1, lblLine1Len, edtLine1Speed, cbLine1Type, btnShowLine1);
  group(u"Строка 2:", edtLine2, lblLine2Len, edtLine2Speed, cbLine2Type, btnShowLine2);
  layout->addWidget(btnAllLines, row++, 5);
  layout->setRowStretch(row, 1);
  layout->setColumnStretch(3, 1);

  auto one = [this](int number) {
    runDriverCommand([this, number](TVistelObject& driver) { showLine(driver, number); });
  };
  connect(btnShowLine1, &QPushButton::clicked, this, [one] { one(1); });
  connect(btnShowLine2, &QPushButton::clicked, this, [one] { one(2); });
  connect(btnAllLines, &QPushButton::clicked, this, [this] {
    runCommand([this] {
      std::shared_ptr<TVistelObject> driver = Driver();
      NotifyStart();
      // The result is shown also when a failure ends the action.
      struct Result {
        TPage* page;
        TVistelObject& driver;
        ~Result() {
          try {
            page->NotifyResult(driver);
          } catch (const std::exception&) {
          }
        }
      } result{this, *driver};
      if (showLine(*driver, 1) == 0) showLine(*driver, 2);
    });
  });
}

int32_t TfmLine::showLine(TVistelObject& driver, int number) {
  QLineEdit* edit = number == 1 ? edtLine1 : edtLine2;
  QSpinBox* speed = number == 1 ? edtLine1Speed : edtLine2Speed;
  QComboBox* type = number == 1 ? cbLine1Type : cbLine2Type;
  driver.SetLineNumber(number);
  driver.SetLineData(edit->text());
  driver.SetLineSpeed(speed->value());
  driver.SetLineType(type->currentIndex());
  return driver.ShowLine();
}

// ---- Текст сообщений ----

TfmDeviceMessage::TfmDeviceMessage() : TPage("fmDeviceMessage", u"Текст сообщений") {
  edtMessageNumber = makeNumberEdit(this, "edtMessageNumber", 0, 0, kMaxMessageNumber);
  edtLine1 = makeEdit(this, "edtLine1", q(u"Строка 1"));
  edtLine2 = makeEdit(this, "edtLine2", q(u"Строка 2"));
  lblLine1Len = makeLengthLabel(this, "lblLine1Len", edtLine1, kLengthWidth);
  lblLine2Len = makeLengthLabel(this, "lblLine2Len", edtLine2, kLengthWidth);
  btnReadMessage = makeButton(this, "btnReadMessage", u"Прочитать");
  btnWriteMessage = makeButton(this, "btnWriteMessage", u"Записать");
  btnDefault = makeButton(this, "btnDefault", u"По умолчанию");

  auto* layout = new QGridLayout(this);
  layout->addWidget(makeLabel(this, u"Номер:"), 0, 0);
  layout->addWidget(edtMessageNumber, 0, 1, Qt::AlignLeft);
  layout->addWidget(makeLabel(this, u"Строка 1:"), 1, 0);
  layout->addWidget(edtLine1, 1, 1);
  layout->addWidget(lblLine1Len, 1, 2);
  layout->addWidget(makeLabel(this, u"Строка 2:"), 2, 0);
  layout->addWidget(edtLine2, 2, 1);
  layout->addWidget(lblLine2Len, 2, 2);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(btnReadMessage);
  buttons->addWidget(btnWriteMessage);
  buttons->addWidget(btnDefault);
  buttons->addStretch(1);
  layout->addLayout(buttons, 0, 3, 4, 1);
  layout->setRowStretch(3, 1);
  layout->setColumnStretch(1, 1);

  // Reading and resetting fill the edits only when the terminal answered.
  auto fetch = [this](bool reset) {
    runDriverCommand([this, reset](TVistelObject& driver) {
      driver.SetMessageNumber(edtMessageNumber->value());
      if ((reset ? driver.SetDefaultMessage() : driver.ReadMessage()) == 0) {
        edtLine1->setText(driver.Line1());
        edtLine2->setText(driver.Line2());
      }
    });
  };
  connect(btnReadMessage, &QPushButton::clicked, this, [fetch] { fetch(false); });
  connect(btnDefault, &QPushButton::clicked, this, [fetch] { fetch(true); });
  connect(btnWriteMessage, &QPushButton::clicked, this, [this] {
    runDriverCommand([this](TVistelObject& driver) {
      driver.SetLine1(edtLine1->text());
      driver.SetLine2(edtLine2->text());
      driver.SetMessageNumber(edtMessageNumber->value());
      driver.WriteMessage();
    });
  });
}

// ---- Все сообщения ----

TfmDevMsg::TfmDevMsg() : TPage("fmDevMsg", u"Все сообщения") {
  Memo = makeMemo(this, "Memo");
  btnRead = makeButton(this, "btnRead", u"Прочитать");
  btnDefault = makeButton(this, "btnDefault", u"По умолчанию");
  btnWrite = makeButton(this, "btnWrite", u"Записать");
  btnBreak = makeButton(this, "btnBreak", u"Прервать");
  btnBreak->setEnabled(false);
  btnLoad = makeButton(this, "btnLoad", u"Загрузить...");
  btnSave = makeButton(this, "btnSave", u"Сохранить...");
  btnClear = makeButton(this, "btnClear", u"Очистить");
  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setRange(0, 100);
  ProgressBar->hide();
  lblCount = makeLabel(this, u"", "lblCount");
  lblCount->hide();
  auto filters = {u"Текстовые файлы (*.txt)", u"Все файлы (*.*)"};
  OpenDialog = makeFileDialog(this, "OpenDialog", false, u"Сообщения", "txt", filters);
  SaveDialog = makeFileDialog(this, "SaveDialog", true, u"Сообщения", "txt", filters);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {btnRead, btnDefault, btnWrite, btnBreak}) buttons->addWidget(button);
  buttons->addSpacing(12);
  for (QPushButton* button : {btnLoad, btnSave, btnClear}) buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(lblCount);
  auto* layout = new QGridLayout(this);
  layout->addWidget(Memo, 0, 0);
  layout->addLayout(buttons, 0, 1);
  layout->addWidget(ProgressBar, 1, 0, 1, 2);
  layout->setColumnStretch(0, 1);

  connect(btnRead, &QPushButton::clicked, this, [this] { ReadAll(false); });
  connect(btnDefault, &QPushButton::clicked, this, [this] { ReadAll(true); });
  connect(btnWrite, &QPushButton::clicked, this, &TfmDevMsg::WriteAll);
  connect(btnBreak, &QPushButton::clicked, this, [this] { stop_ = true; });
  connect(btnClear, &QPushButton::clicked, Memo, &QPlainTextEdit::clear);
  connectFileButton(btnLoad, OpenDialog, [this](const QString& name) { LoadFile(name); });
  connectFileButton(btnSave, SaveDialog, [this](const QString& name) { SaveFile(name); });
}

void TfmDevMsg::runLoop(const std::function<void(TVistelObject& driver)>& body) {
  TPages::TLoop running(*Pages());
  std::shared_ptr<TVistelObject> driver;
  QString failure;
  try {
    driver = Driver();
    EnableButtons(false);
    btnBreak->setEnabled(true);
    stop_ = false;
    body(*driver);
    NotifyResult(*driver);
  } catch (const std::exception& e) {
    failure = exceptionText(e);
  }
  EnableButtons(true);
  btnBreak->setEnabled(false);
  lblCount->hide();
  ProgressBar->hide();
  if (!failure.isNull()) showError(failure);
}

void TfmDevMsg::ReadAll(bool reset) {
  runLoop([&](TVistelObject& driver) {
    NotifyStart();
    Memo->clear();
    // The refusal of a number past the last message is the normal end;
    // a terminal that never refuses ends after the last one-byte number.
    for (int32_t number = 0; number <= kMaxMessageNumber; ++number) {
      driver.SetMessageNumber(number);
      if ((reset ? driver.SetDefaultMessage() : driver.ReadMessage()) != 0) break;
      for (const QString& line : formatListMessage(number, driver.Line1(), driver.Line2()))
        addMemoLine(Memo, line);
      emit messageDone(number);
      processPendingEvents();
      if (stop_) break;
    }
  });
}

void TfmDevMsg::WriteAll() {
  runLoop([&](TVistelObject& driver) {
    lblCount->show();
    ProgressBar->show();
    ProgressBar->setValue(0);
    NotifyStart();
    QStringList lines = memoLines(Memo);
    int pairs = static_cast<int>(lines.size() / 2);
    ProgressBar->setMaximum(pairs);
    for (int pair = 0; pair < pairs; ++pair) {
      TListMessage message = parseListMessage(lines[2 * pair], lines[2 * pair + 1]);
      driver.SetMessageNumber(message.Number);
      driver.SetLine1(message.Line1);
      driver.SetLine2(message.Line2);
      if (driver.WriteMessage() != 0) break;
      ProgressBar->setValue(pair + 1);
      lblCount->setText(QString::number(pair + 1));
      emit messageDone(message.Number);
      processPendingEvents();
      if (stop_) break;
    }
  });
}

bool TfmDevMsg::LoadFile(const QString& fileName) {
  return guarded([&] { setMemoLines(Memo, readTextLines(fileName)); });
}

bool TfmDevMsg::SaveFile(const QString& fileName) {
  return guarded([&] { writeTextLines(fileName, memoLines(Memo)); });
}

}  // namespace mirelo
