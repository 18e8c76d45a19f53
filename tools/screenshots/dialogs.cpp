// Renders the driver's dialogs as a user sees them, each into a PNG file of
// the folder given: the property frame with the main page, the extra
// parameters, the search with a terminal found, the logical devices, the
// tables and one table, the About box and the control window. Everything
// runs against a simulated terminal on 127.0.0.1 and a scratch registry.
//
//   mirelo-screenshots OUTPUT_FOLDER
#include "driver/dialogs/dialogs.h"

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "client/table_transfer.h"
#include "driver/addin/ole_1c.h"
#include "driver/dialogs/control_window.h"
#include "driver/dialogs/dialog_support.h"
#include "driver/dialogs/fm_device.h"
#include "driver/dialogs/fm_page.h"
#include "driver/dialogs/fm_params.h"
#include "driver/dialogs/fm_search.h"
#include "driver/dialogs/fm_tables.h"
#include "driver/dialogs/property_frame.h"
#include "forms/about_box.h"
#include "platform/message_loop.h"
#include "tools/termsim/simulator.h"
#include "tools/termsim/terminal_state.h"

using namespace mirelo;

namespace {

QString outputFolder;

void settle(int ms = 150) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    MessageLoop::current().processMessages();
  }
}

void shoot(QWidget& window, const char* name) {
  window.show();
  settle();
  QString path = outputFolder + u'/' + QString::fromLatin1(name) + QStringLiteral(".png");
  if (!window.grab().save(path)) {
    std::fprintf(stderr, "mirelo-screenshots: cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
  std::printf("%s\n", qPrintable(path));
  window.hide();
}

void put(IVistel4& object, HRESULT (IVistel4::*setter)(LONG), LONG value) {
  (object.*setter)(value);
}
void put(IVistel4& object, HRESULT (IVistel4::*setter)(const BSTR&), const char16_t* value) {
  (object.*setter)(BSTR(value));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: mirelo-screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  outputFolder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(outputFolder);
  char pattern[] = "/tmp/mirelo-screenshots-XXXXXX";
  const std::string scratch = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (scratch + "/registry.db").c_str(), 1);
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  RegisterDialogs();
  termsim::Simulator terminal;
  terminal.withState([](termsim::TerminalState& state) { state.status.setSerialNumber(4242); });
  terminal.start();

  {
    ComPtr<IVistel4> object = ComPtr<IUnknown>((new Tole1C())->identity()).as<IVistel4>();
    IVistel4& driver = *object.get();
    put(driver, &IVistel4::put_LDName, u"Торговый зал");
    LONG code = 0;
    driver.AddLD(&code);
    put(driver, &IVistel4::put_LDName, u"Склад");
    driver.AddLD(&code);
    put(driver, &IVistel4::put_LDName, u"Касса 3");
    put(driver, &IVistel4::put_LDIndex, 0);
    put(driver, &IVistel4::put_ClientIP, u"127.0.0.1");
    put(driver, &IVistel4::put_ClientPort, terminal.port());
    put(driver, &IVistel4::put_ClientProtocol, ptUDP);
    put(driver, &IVistel4::put_ClientTimeout, 1000);
    put(driver, &IVistel4::put_LDIndex, 0);

    {
      IUnknown* objects[] = {object.get()};
      const CLSID pages[] = {CLASS_VistelPropertyPage};
      TPropertyFrame frame(nullptr, objects, pages, CreatePropertyPage);
      frame.show();
      settle();
      if (auto* page = frame.findChild<TfmPage*>()) page->btnConnect->click();
      shoot(frame, "property-frame");
      frame.btnCancel->click();
    }
    {
      TfmParams params(nullptr, driver);
      params.Pages().LoadAll();
      shoot(params, "extra-parameters");
    }
    {
      TModalSession session;  // the driver's loop runs with Qt's
      TfmSearch search(nullptr, "0", std::to_string(terminal.discoveryPort()));
      search.edtAddress->setText(QStringLiteral("127.0.0.1"));
      search.show();
      search.Start();
      settle(400);
      shoot(search, "search");
    }
    {
      TfmDevice devices(nullptr, driver);
      devices.FillList();
      shoot(devices, "logical-devices");
    }
    {
      TfmTables tables(nullptr, driver);
      tables.ReadList();
      shoot(tables, "tables");
      TfmTable table(&tables, driver, *tables.Tables().Items(1));
      ReadOneTable(driver, *tables.Tables().Items(1));
      table.FillGrid();
      table.Grid->setCurrentCell(1, 2);
      shoot(table, "table");
    }
    {
      TfmAbout about;
      about.NameLabel->setText(QString::fromUtf16(u"Драйвер Vistel"));
      about.lbVersion->addItem(QString::fromUtf16(u"Версия драйвера: ") +
                               fromAnsi(std::string(std::to_string(MIRELO_VERSION_MAJOR) + "." +
                                                    std::to_string(MIRELO_VERSION_MINOR) + "." +
                                                    std::to_string(MIRELO_VERSION_RELEASE) + "." +
                                                    std::to_string(MIRELO_VERSION_BUILD))));
      shoot(about, "about");
    }
    {
      QWidget host;
      host.setObjectName(QStringLiteral("ContainerForm"));
      host.resize(72, 72);
      TAxCtrl control(&host);
      control.move(16, 16);
      shoot(host, "control");
    }
  }
  terminal.stop();
  std::filesystem::remove_all(scratch);
  return 0;
}
