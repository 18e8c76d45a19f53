// ondrel-screenshots DIR: renders the window with each page on show, and the
// About box, to DIR/NN-name.png. The pages are driven against a simulated
// terminal on 127.0.0.1 with a scratch registry, so the pictures show real
// exchanges. Run it through scripts/screenshots-ondrel.sh.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "forms/about_box.h"
#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "testbench/display_pages.h"
#include "testbench/dump_pages.h"
#include "testbench/fm_main.h"
#include "testbench/server_pages.h"
#include "testbench/state_pages.h"
#include "tools/termsim/termsim.h"

using namespace mirelo;

namespace {

void waitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    processPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A free TCP port on 127.0.0.1 for the driver's server.
uint16_t freePort() {
  termsim::Simulator probe;
  probe.start();
  uint16_t port = probe.port();
  probe.stop();
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ondrel-screenshots DIR\n");
    return 2;
  }
  setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
  char pattern[] = "/tmp/ondrel-shots-XXXXXX";
  std::string scratch = mkdtemp(pattern);
  setenv("MIRELO_REGISTRY", (scratch + "/registry.db").c_str(), 1);
  QApplication application(argc, argv);
  QDir().mkpath(QString::fromLocal8Bit(argv[1]));
  const QString folder = QString::fromLocal8Bit(argv[1]);

  termsim::Simulator terminal;
  terminal.start();
  terminal.setMemoryBlocks(0, 2);
  uint16_t serverPort = freePort();
  {
    // The terminal on loopback, and the server on a free port, before any exchange.
    ComPtr<IVistel4> object = createVistelObject<IVistel4>();
    LONG result = 0;
    object->put_ClientIP(u"127.0.0.1");
    object->put_ClientPort(terminal.port());
    object->put_ServerPort(serverPort);
    object->put_LogEnabled(VARIANT_TRUE);
    object->put_LogFileName(utf8ToWide(scratch + "/mirelo.log"));
    object->SaveParams(&result);
  }

  int failures = 0;
  {
    TfmMain window;
    window.Pages().showError = [&](const QString& text) {
      std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
      ++failures;
    };
    window.resize(760, 540);
    window.show();
    int shot = 0;
    auto save = [&](QWidget& widget, const char* name) {
      processPendingEvents();
      QString file = folder + QStringLiteral("/%1-%2.png")
                                  .arg(++shot, 2, 10, QLatin1Char('0'))
                                  .arg(QString::fromLatin1(name));
      if (!widget.grab().save(file)) ++failures;
    };
    auto page = [&](int index) {
      window.ShowPage(index);
      return window.Page(index);
    };

    static_cast<TfmState*>(page(0))->btnGetStatus->click();
    save(window, "state");
    static_cast<TfmSimpleMessage*>(page(1))->btnShowMessage->click();
    save(window, "simple-message");
    static_cast<TfmDeviceMessage*>(page(2))->btnReadMessage->click();
    save(window, "device-message");
    static_cast<TfmDevMsg*>(page(3))->ReadAll(false);
    save(window, "all-messages");
    static_cast<TfmLine*>(page(4))->btnAllLines->click();
    save(window, "line");
    static_cast<TfmTime*>(page(5))->Tick();
    save(window, "time");

    auto* server = static_cast<TfmTCPServer*>(page(6));
    server->btnOpenPort->click();
    std::atomic<bool> done{false};
    std::thread scanner([&] {
      termsim::scan("127.0.0.1", serverPort, "4607001234562\r\n", false, 5000);
      done = true;
    });
    waitUntil([&] { return done.load(); });
    scanner.join();
    save(window, "tcp-server");
    server->btnClosePort->click();

    auto* response = static_cast<TfmResponse*>(page(7));
    response->Wait = [](int32_t) {};
    response->btnOpenPort->click();
    done = false;
    std::thread scanner2([&] {
      termsim::scan("127.0.0.1", serverPort, "123456789123\r\n", false, 5000);
      done = true;
    });
    waitUntil([&] { return done.load(); });
    scanner2.join();
    save(window, "response");
    response->btnClosePort->click();

    page(8);
    save(window, "send-barcode");
    static_cast<TfmDump*>(page(9))->ReadClicked();
    save(window, "dump");
    auto* connection = static_cast<TfmConnect*>(page(10));
    connection->Start();
    connection->Timer->stop();
    for (int i = 0; i < 25; ++i) connection->Tick();
    connection->Stop();
    save(window, "connection-test");
    static_cast<TfmCommand*>(page(11))->btnSendCommand->click();
    save(window, "command");
    page(12);
    save(window, "log");

    QTimer::singleShot(100, [&] {
      if (auto* box = qobject_cast<TfmAbout*>(QApplication::activeModalWidget())) {
        save(*box, "about");
        box->accept();
      }
    });
    window.AboutClicked();
  }
  terminal.stop();
  std::filesystem::remove_all(scratch);
  if (failures) std::fprintf(stderr, "ondrel-screenshots: %d failures\n", failures);
  return failures ? 1 : 0;
}
