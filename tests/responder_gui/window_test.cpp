// TfmMain and TfmParam on the offscreen platform: start-up state, the grid's
// buttons, the column layout, the server check box and the parameters dialog.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "forms/qt_text.h"
#include "mirelo/vistel.h"
#include "platform/format.h"
#include "responder/gui/fm_main.h"
#include "responder/gui/fm_param.h"
#include "responder/gui/price_list_model.h"
#include "test_support.h"
#include "tools/termsim/scanner.h"

namespace mirelo {
namespace {

QString q(const char16_t* text) {
  return QString::fromUtf16(text);
}

class Window : public testing::Test {
 protected:
  Window() {
    char pattern[] = "/tmp/kavrin-gui-XXXXXX";
    folder_ = mkdtemp(pattern);
  }
  ~Window() override { std::filesystem::remove_all(folder_); }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }
  void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string readFile(const std::string& name) {
    std::ifstream file(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  // A window whose error boxes are recorded instead of shown.
  std::unique_ptr<TfmMain> makeWindow() {
    auto window = std::make_unique<TfmMain>(path("kavrin.ini"));
    window->showError = [this](const QString& text) { errors.push_back(text); };
    return window;
  }
  static void storeServer(int32_t protocol, uint16_t port) {
    ComPtr<IVistel4> object = createVistelObject<IVistel4>();
    LONG result = 0;
    object->put_ServerProtocol(protocol);
    object->put_ServerPort(port);
    object->SaveParams(&result);
  }
  static std::string cell(TfmMain& window, int row, int column) {
    return toAnsi(window.model().data(window.model().index(row, column)).toString());
  }

  std::string folder_;
  std::vector<QString> errors;
};

TEST_F(Window, StartsWithElevenEmptyRowsTheServerClosedAndTheSettingsLines) {
  writeFile("kavrin.ini", "[Параметры]\r\nСтрока1=Нет товара\r\n");
  auto window = makeWindow();
  EXPECT_EQ(window->windowTitle(), q(u"Тест Vistel"));
  EXPECT_EQ(window->model().rowCount(), 11);
  EXPECT_EQ(window->model().columnCount(), 3);
  for (int row = 0; row < 11; ++row)
    for (int column = 0; column < 3; ++column) EXPECT_EQ(cell(*window, row, column), "");
  EXPECT_EQ(window->model().headerData(0, Qt::Horizontal).toString(), q(u"Код"));
  EXPECT_EQ(window->model().headerData(1, Qt::Horizontal).toString(), q(u"Строка 1"));
  EXPECT_EQ(window->model().headerData(2, Qt::Horizontal).toString(), q(u"Строка 2"));
  EXPECT_FALSE(window->chbPortOpened->isChecked());
  EXPECT_FALSE(window->responder().Driver().ServerOpened());
  EXPECT_EQ(window->notFoundLines().Line1, "Нет товара");
  EXPECT_EQ(window->notFoundLines().Line2, "Not found");
  EXPECT_EQ(window->minimumSize(), QSize(550, 289));
  EXPECT_EQ(window->currentRow(), 0);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Window, ControlsCarryTheirNamesAndCaptions) {
  auto window = makeWindow();
  struct Control {
    const char* name;
    const char16_t* caption;
  } controls[] = {
      {"btnOpenFile", u"Открыть..."}, {"btnSaveFile", u"Сохранить..."},
      {"btnAddLine", u"Добавить"},    {"btnDelete", u"Удалить"},
      {"btnClear", u"Очистить"},      {"btnDriver", u"Драйвер..."},
      {"btnParam", u"Параметры..."},  {"btnClose", u"Закрыть"},
  };
  for (const Control& control : controls) {
    auto* button = window->findChild<QPushButton*>(QString::fromLatin1(control.name));
    ASSERT_NE(button, nullptr) << control.name;
    EXPECT_EQ(button->text(), q(control.caption)) << control.name;
  }
  auto* box = window->findChild<QCheckBox*>(QStringLiteral("chbPortOpened"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), q(u"Обработка запросов от Vistel"));
  EXPECT_NE(window->findChild<QTableView*>(QStringLiteral("Grid")), nullptr);
}

TEST_F(Window, FileDialogsProposeTovaryInTheProgramsFolder) {
  auto window = makeWindow();
  const QString folder = QCoreApplication::applicationDirPath();
  for (QFileDialog* dialog : {window->OpenDialog, window->SaveDialog}) {
    EXPECT_EQ(QDir(dialog->directory()).absolutePath(), QDir(folder).absolutePath());
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("txt"));
    ASSERT_FALSE(dialog->selectedFiles().isEmpty());
    // The proposed name gets the default extension.
    EXPECT_EQ(QFileInfo(dialog->selectedFiles().first()).fileName(), q(u"Товары.txt"));
  }
  EXPECT_EQ(window->OpenDialog->nameFilters(),
            QStringList({q(u"Текстовые файлы (*.txt)"), q(u"Все файлы (*.*)")}));
  EXPECT_EQ(window->SaveDialog->nameFilters(), QStringList({q(u"Текстовые файлы (*.txt)")}));
  EXPECT_EQ(window->SaveDialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_FALSE(window->SaveDialog->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(Window, AddDeleteAndClear) {
  auto window = makeWindow();
  TPriceListModel& model = window->model();
  model.setData(model.index(0, 0), QStringLiteral("100"));
  model.setData(model.index(1, 0), QStringLiteral("200"));
  QTest::mouseClick(window->btnAddLine, Qt::LeftButton);
  EXPECT_EQ(model.rowCount(), 12);
  EXPECT_EQ(window->currentRow(), 11) << "the new row becomes current";

  window->Grid->setCurrentIndex(model.index(0, 1));
  QTest::mouseClick(window->btnDelete, Qt::LeftButton);
  EXPECT_EQ(model.rowCount(), 11);
  EXPECT_EQ(cell(*window, 0, 0), "200") << "the rows below move up";
  EXPECT_EQ(window->priceList().Find("200"), 0u);
  EXPECT_FALSE(window->priceList().Find("100"));

  QTest::mouseClick(window->btnClear, Qt::LeftButton);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(cell(*window, 0, 0), "");
  model.setData(model.index(0, 0), QStringLiteral("only"));
  QTest::mouseClick(window->btnDelete, Qt::LeftButton);
  EXPECT_EQ(model.rowCount(), 1) << "the last row is emptied, not removed";
  EXPECT_EQ(cell(*window, 0, 0), "");
  EXPECT_FALSE(window->priceList().Find("only"));

  window->Grid->setCurrentIndex(QModelIndex());
  QTest::mouseClick(window->btnAddLine, Qt::LeftButton);
  window->Grid->setCurrentIndex(QModelIndex());
  QTest::mouseClick(window->btnDelete, Qt::LeftButton);
  EXPECT_EQ(model.rowCount(), 2) << "no current row: nothing happens";
}

TEST(ColumnLayout, SharesTheRestAndTheLastColumnTakesTheRounding) {
  struct Case {
    int client, code, columns, line;
    std::vector<int> widths;
  } cases[] = {
      {500, 121, 3, 1, {121, 188, 189}},       // W = 377: 188 and the rest, 189
      {500, 121, 4, 1, {121, 125, 125, 126}},  // W = 376
      {243, 121, 3, 1, {121, 60, 60}},
      {100, 121, 3, 1, {121, 0, 0}},  // nothing left
      {300, 50, 2, 1, {50, 249}},
  };
  for (const Case& c : cases) {
    std::vector<int> widths = TfmMain::columnWidths(c.client, c.code, c.columns, c.line);
    EXPECT_EQ(widths, c.widths) << c.client << " " << c.code << " " << c.columns;
  }
}

TEST_F(Window, ColumnsFillTheGridAtStartAndOnEveryResize) {
  auto window = makeWindow();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  auto filled = [&] {
    int sum = 0;
    for (int column = 0; column < 3; ++column) sum += window->Grid->columnWidth(column);
    return sum + 2 * TfmMain::kGridLineWidth;
  };
  EXPECT_EQ(window->Grid->columnWidth(0), 121);
  EXPECT_EQ(filled(), window->Grid->viewport()->width());
  window->Grid->setColumnWidth(0, 200);  // the operator drags the code column
  window->resize(900, 500);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->Grid->width() > 700; }, 5000));
  EXPECT_EQ(window->Grid->columnWidth(0), 200);
  EXPECT_EQ(filled(), window->Grid->viewport()->width());
  std::vector<int> expected = TfmMain::columnWidths(window->Grid->viewport()->width(), 200, 3, 1);
  EXPECT_EQ(window->Grid->columnWidth(1), expected[1]);
  EXPECT_EQ(window->Grid->columnWidth(2), expected[2]);
  window->resize(100, 100);
  EXPECT_GE(window->width(), 550);
  EXPECT_GE(window->height(), 289);
}

TEST_F(Window, TheCheckBoxMirrorsTheServerAndAnswersFromTheGrid) {
  uint16_t port;
  {
    test::TcpListener probe;
    port = probe.port;
  }
  storeServer(1, port);
  auto window = makeWindow();
  TPriceListModel& model = window->model();
  model.setData(model.index(2, 0), QStringLiteral("4607001234562"));
  model.setData(model.index(2, 1), q(u"Молоко 3,2% 1 л"));
  model.setData(model.index(2, 2), q(u"Цена: 89.90 руб."));
  QTest::mouseClick(window->chbPortOpened, Qt::LeftButton);
  ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
  EXPECT_TRUE(window->chbPortOpened->isChecked());
  EXPECT_TRUE(window->responder().Driver().ServerOpened());

  // The scan runs beside Qt's event loop, which drives the driver's.
  for (auto [barcode, line1] :
       {std::pair<std::string, std::string>{"4607001234562\r\n", "Молоко 3,2% 1 л"},
        {"000", "Not found"}}) {
    termsim::ScanResult result;
    std::atomic<bool> done{false};
    std::thread terminal([&, code = barcode] {
      result = termsim::scan("127.0.0.1", port, code, false, 5000);
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    terminal.join();
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.line1.substr(0, line1.size()), line1);
  }

  QTest::mouseClick(window->chbPortOpened, Qt::LeftButton);
  EXPECT_FALSE(window->chbPortOpened->isChecked());
  EXPECT_FALSE(window->responder().Driver().ServerOpened());
  EXPECT_TRUE(errors.empty());
}

TEST_F(Window, AServerThatCannotOpenLeavesTheBoxClearAndShowsCodeAndText) {
  test::TcpListener taken;
  storeServer(1, taken.port);
  auto window = makeWindow();
  QTest::mouseClick(window->chbPortOpened, Qt::LeftButton);
  EXPECT_FALSE(window->chbPortOpened->isChecked());
  ASSERT_EQ(errors.size(), 1u);
  TDriverObject& driver = window->responder().Driver();
  EXPECT_NE(driver.ResultCode(), 0);
  EXPECT_EQ(toAnsi(errors[0]),
            format("%d, %s", driver.ResultCode(), driver.ResultCodeDescription().c_str()));
  EXPECT_NE(errors[0].indexOf(QStringLiteral("10048")), -1) << errors[0].toStdString();
}

TEST_F(Window, LoadingAndSavingThePriceList) {
  auto window = makeWindow();
  writeFile("in.txt", "1;Хлеб;12.50;\r\n2;Сыр;\r\n3\r\n");
  ASSERT_TRUE(window->loadPriceList(QString::fromStdString(path("in.txt"))));
  EXPECT_EQ(window->model().rowCount(), 3);
  EXPECT_EQ(cell(*window, 0, 1), "Хлеб");
  EXPECT_EQ(window->priceList().Find("3"), 2u);
  ASSERT_TRUE(window->savePriceList(QString::fromStdString(path("out.txt"))));
  EXPECT_EQ(readFile("out.txt"), "1;Хлеб;12.50;\r\n2;Сыр;;\r\n3;;;\r\n");

  // A file that cannot be read: the error is shown and the grid stays.
  EXPECT_FALSE(window->loadPriceList(QString::fromStdString(path("missing.txt"))));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].indexOf(QStringLiteral("missing.txt")), -1);
  EXPECT_EQ(window->model().rowCount(), 3);
  // A file that cannot be written: the error is shown.
  EXPECT_FALSE(window->savePriceList(QString::fromStdString(path("no/folder/out.txt"))));
  EXPECT_EQ(errors.size(), 2u);

  writeFile("empty.txt", "");
  ASSERT_TRUE(window->loadPriceList(QString::fromStdString(path("empty.txt"))));
  EXPECT_EQ(window->model().rowCount(), 0);
  QTest::mouseClick(window->btnDelete, Qt::LeftButton);  // nothing to delete: nothing happens
  EXPECT_EQ(window->model().rowCount(), 0);
}

TEST_F(Window, TheDriverButtonOpensTheDriversPropertyFrame) {
  auto window = makeWindow();
  QString caption, page;
  std::function<void()> answer = [&] {
    QWidget* frame = QApplication::activeModalWidget();
    if (!frame) {
      QTimer::singleShot(10, answer);  // not shown yet
      return;
    }
    caption = frame->windowTitle();
    if (auto* tabs = frame->findChild<QTabWidget*>()) page = tabs->tabText(0);
    QTest::mouseClick(frame->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
  };
  QTimer::singleShot(0, answer);
  QTest::mouseClick(window->btnDriver, Qt::LeftButton);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(caption, q(u"Свойства"));
  EXPECT_EQ(page, QStringLiteral("Vistel"));
}

TEST_F(Window, TheCheckBoxActsOnAnAccessibilityToggle) {
  uint16_t port;
  {
    test::TcpListener probe;
    port = probe.port;
  }
  storeServer(1, port);
  auto window = makeWindow();
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(window->chbPortOpened);
  ASSERT_NE(box, nullptr);
  ASSERT_NE(box->actionInterface(), nullptr);
  box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_TRUE(window->chbPortOpened->isChecked());
  EXPECT_TRUE(window->responder().Driver().ServerOpened()) << "the box tells the truth";
  box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_FALSE(window->responder().Driver().ServerOpened());
  EXPECT_TRUE(errors.empty());
}

// Answers the modal parameters dialog once it is up.
void answerParameters(const QString& line1, const QString& line2, bool ok) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<TfmParam*>(QApplication::activeModalWidget());
    if (!dialog) {
      answerParameters(line1, line2, ok);  // not shown yet
      return;
    }
    dialog->edtLine1->setText(line1);
    dialog->edtLine2->setText(line2);
    QTest::mouseClick(ok ? dialog->btnOK : dialog->btnCancel, Qt::LeftButton);
  });
}

TEST_F(Window, TheParametersDialogWritesTheSettingsOnlyOnOk) {
  auto window = makeWindow();
  answerParameters(q(u"Нет товара"), q(u"Спросите"), false);
  QTest::mouseClick(window->btnParam, Qt::LeftButton);
  EXPECT_FALSE(std::filesystem::exists(path("kavrin.ini")));
  EXPECT_EQ(window->notFoundLines().Line1, "Not found");

  answerParameters(q(u"Нет товара"), q(u"Спросите продавца"), true);
  QTest::mouseClick(window->btnParam, Qt::LeftButton);
  EXPECT_EQ(readFile("kavrin.ini"),
            "[Параметры]\r\nСтрока1=Нет товара\r\nСтрока2=Спросите продавца\r\n");
  EXPECT_EQ(window->notFoundLines().Line2, "Спросите продавца");
  EXPECT_TRUE(errors.empty());
}

TEST(ParamDialog, HasItsCaptionsLimitsAndButtons) {
  TfmParam dialog;
  EXPECT_EQ(dialog.windowTitle(), q(u"Параметры"));
  EXPECT_TRUE(dialog.isModal());
  EXPECT_EQ(dialog.lblErrMessage->text(), q(u"Сообщение, если товар не найден:"));
  EXPECT_EQ(dialog.lblLine1->text(), q(u"Строка 1:"));
  EXPECT_EQ(dialog.lblLine2->text(), q(u"Строка 2:"));
  EXPECT_EQ(dialog.btnOK->text(), QStringLiteral("OK"));
  EXPECT_TRUE(dialog.btnOK->isDefault());
  EXPECT_EQ(dialog.btnCancel->text(), q(u"Отмена"));
  dialog.edtLine1->setText(QString(30, QChar(u'Ж')));
  EXPECT_EQ(dialog.edtLine1->text().size(), 20);
  EXPECT_EQ(dialog.edtLine2->maxLength(), 20);
}

}  // namespace
}  // namespace mirelo
