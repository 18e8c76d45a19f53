#include "driver/dialogs/dialogs.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>
#include <cstring>
#include <memory>

#include "driver/addin/vistel_server.h"
#include "driver/automation/dialog_host.h"
#include "driver/dialogs/control_window.h"
#include "driver/dialogs/dialog_support.h"
#include "driver/dialogs/fm_page.h"
#include "driver/dialogs/fm_tables.h"
#include "driver/dialogs/property_frame.h"
#include "forms/about_box.h"
#include "platform/exception.h"
#include "platform/message_loop.h"

namespace mirelo {

namespace {

std::string environment(const char* name) {
  const char* value = ::getenv(name);
  return value ? value : "";
}

bool socketAccepts(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return accepted;
}

// An X display on this machine answers on its socket; Qt would end the
// process if it did not. A display on another host is taken on trust.
bool xDisplayAnswers(const std::string& display) {
  size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty()) return false;
  std::string path = "/tmp/.X11-unix/X" + number;
  return socketAccepts(path, true) || socketAccepts(path, false);
}

bool waylandDisplayAnswers(const std::string& display) {
  std::string path = display;
  if (path.front() != '/') {
    std::string runtime = environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + display;
  }
  return socketAccepts(path, false);
}

class TDialogs final : public IDialogHost {
 public:
  void ShowProperties(IVistel4& object, std::span<const CLSID> pages) override {
    TModalSession session;
    IUnknown* objects[] = {&object};
    TPropertyFrame frame(QApplication::activeWindow(), objects, pages, CreatePropertyPage);
    if (frame.PageCount() == 0) throw Exception(ansiText(u"Страница свойств драйвера не создана."));
    frame.exec();
  }
  void ShowTables(IVistel4& object) override {
    TModalSession session;
    ShowTablesDialog(QApplication::activeWindow(), object);
  }
  void AboutBox(const char* name, const char* versionLine) override {
    TModalSession session;
    ShowAboutBox(QString(), fromAnsi(name), {fromAnsi(versionLine)});
  }
};

TDialogs gDialogs;
TControlPicture gPicture;
TControlWindowFactory gWindows;

// The application this module made, and how many dialogs use it.
std::unique_ptr<QApplication> gOwnApplication;
int gSessions = 0;
// Drives the thread's message loop from Qt's while a dialog is up.
std::unique_ptr<QSocketNotifier> gLoopPump;

// Qt stays in the process once it came with the driver library: the
// library itself may be unloaded and loaded again (DllCanUnloadNow), but
// unloading Qt would cost every new load its start-up again, and Qt keeps
// state for the process (fonts, plugins) that must not be pulled away.
void keepQtLoaded() {
  const void* symbols[] = {reinterpret_cast<const void*>(&qVersion),
                           reinterpret_cast<const void*>(&QGuiApplication::platformName),
                           reinterpret_cast<const void*>(&QApplication::activeWindow)};
  for (const void* symbol : symbols) {
    Dl_info info{};
    if (::dladdr(symbol, &info) && info.dli_fname)
      ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

const bool gRegistered = [] {
  keepQtLoaded();
  RegisterDialogs();
  return true;
}();

}  // namespace

void RegisterDialogs() {
  registerDialogHost(&gDialogs);
  registerControlPicture(&gPicture);
  registerControlWindowFactory(&gWindows);
  TComServer& server = VistelServer();
  if (!server.FindFactory(CLASS_VistelPropertyPage))
    AddPropertyPageFactory(server, CLASS_VistelPropertyPage, kPageFormClassName,
                           [] { return new TfmPage; });
}

ComPtr<IPropertyPage> CreatePropertyPage(const CLSID& clsid) {
  ComPtr<IClassFactory> factory;
  if (FAILED(VistelServer().GetClassObject(clsid, IID_IClassFactory, factory.putVoid()))) return {};
  ComPtr<IPropertyPage> page;
  factory->CreateInstance(nullptr, IID_IPropertyPage, page.putVoid());
  return page;
}

bool displayAvailable() {
  if (!environment("QT_QPA_PLATFORM").empty()) return true;
  std::string wayland = environment("WAYLAND_DISPLAY");
  if (!wayland.empty() && waylandDisplayAnswers(wayland)) return true;
  std::string x = environment("DISPLAY");
  return !x.empty() && xDisplayAnswers(x);
}

std::string noDisplayText() {
  return ansiText(
      u"Диалоги драйвера недоступны: нет дисплея (задайте DISPLAY или WAYLAND_DISPLAY либо "
      u"платформу "
      u"Qt в QT_QPA_PLATFORM).");
}

TModalSession::TModalSession() {
  QCoreApplication* existing = QCoreApplication::instance();
  if (existing && !qobject_cast<QApplication*>(existing))
    throw Exception(ansiText(u"Диалоги драйвера недоступны: приложение Qt программы не оконное."));
  if (existing && QThread::currentThread() != existing->thread())
    throw Exception(ansiText(u"Диалоги драйвера показываются только в потоке окон программы."));
  if (!existing) {
    if (!displayAvailable()) throw Exception(noDisplayText());
    static int argc = 1;
    static char name[] = "mirelo";
    static char* argv[] = {name, nullptr};
    gOwnApplication = std::make_unique<QApplication>(argc, argv);
  }
  if (gSessions++ == 0) {
    gLoopPump =
        std::make_unique<QSocketNotifier>(MessageLoop::current().fd(), QSocketNotifier::Read);
    QObject::connect(gLoopPump.get(), &QSocketNotifier::activated,
                     [] { MessageLoop::current().processMessages(); });
  }
}

TModalSession::~TModalSession() {
  if (--gSessions > 0) return;
  gLoopPump.reset();
  gOwnApplication.reset();
}

}  // namespace mirelo
