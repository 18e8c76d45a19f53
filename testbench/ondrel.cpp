#include "testbench/ondrel.h"

#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "testbench/fm_main.h"

namespace mirelo {

const char16_t* const kOndrelHelp =
    uR"(Usage:
  ondrel           the test program's window (needs a display)
  ondrel --help    this text

ondrel is the technician's bench for the Vistel driver: every member of the
driver's automation object, one page per group (state, messages, display
lines, clock, server, scripted answers, barcodes, memory dump, connection
test, raw command, log), with the bytes sent and received, the result and
the time of each command.

The terminal addressed is the driver's current logical device; choose it and
the server's port and protocol with "Настройка..." (the driver's property
dialog). The driver's settings and the program's own (every input field,
the page on show) live in the registry file $MIRELO_REGISTRY (else
$XDG_CONFIG_HOME/korvex/registry.db), the program's under
\SOFTWARE\Korvex\Mirelo\Ondrel\Param.

"Передать, COM" writes the barcode to serial port COMn, which is /dev/ttyS(n-1)
unless the environment variable MIRELO_COMn names another device, e.g.
  MIRELO_COM1=/dev/ttyUSB0 ondrel
)";

int runOndrel(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(QString::fromUtf16(kOndrelHelp).toUtf8().constData(), stdout);
      return 0;
    }
  }
  QApplication application(argc, argv);
  // Qt has taken its own options (-platform, -style, ...); nothing else is known.
  if (argc > 1) {
    std::fprintf(stderr, "ondrel: unknown option '%s'\n(ondrel --help explains the options)\n",
                 argv[1]);
    return 2;
  }
  // Qt took the user's locale for the C library too; the driver in this
  // process formats and reads its numbers the C way. Qt's own figures keep
  // the system's decimal separator (QLocale::system()).
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("ondrel"));
  TfmMain window;
  window.show();
  return QApplication::exec();
}

}  // namespace mirelo
