#include "responder/gui/kavrin_window.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "forms/qt_text.h"
#include "platform/cp1251.h"
#include "responder/gui/fm_main.h"
#include "responder/line_output.h"
#include "responder/options.h"
#include "responder/settings.h"

namespace mirelo {

int runKavrinWindow(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setApplicationDisplayName(QString::fromUtf16(u"Тест Vistel"));
  std::vector<std::string> args;
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  TKavrinOptions options;
  try {
    options = parseKavrinOptions(args);
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "kavrin: %s\n(kavrin --help explains the options)\n",
                 ansiToUtf8(e.what()).c_str());
    return 2;
  }
  std::string settings =
      options.Settings.empty() ? settingsPathFor(programPath("kavrin")) : options.Settings;
  TfmMain window(settings);
  window.show();
  if (!window.settingsProblem().empty()) {
    std::fprintf(stderr, "kavrin: %s\n",
                 ansiToUtf8(escapeControls(window.settingsProblem())).c_str());
    QTimer::singleShot(0, &window, [&window] {
      QMessageBox::warning(&window, window.windowTitle(), fromAnsi(window.settingsProblem()));
    });
  }
  return application.exec();
}

}  // namespace mirelo
