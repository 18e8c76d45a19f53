// mirelo properties: the driver's own property dialog, as ShowProperties
// opens it for a host.
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"

namespace mirelo::shell {

const char* const kPropertiesHelp = R"HELP(Usage: mirelo properties

Opens the driver's property dialog, exactly as the driver's ShowProperties
opens it for a host application: the current logical device and its
address, port, protocol, timeout and repeat count, the server's port and
protocol, the connection test, the search for terminals, the settings
tables, the list of logical devices, the log. What OK or "Применить"
applies is saved for every program that uses the driver.

It needs a display: an X or Wayland session (DISPLAY, WAYLAND_DISPLAY) or a
Qt platform named in QT_QPA_PLATFORM. Without one it says so and shows
nothing. It returns when the dialog is closed.

Exit status: 0 the dialog was shown and closed, 1 it could not be shown
(printed as "(code) text"), 2 bad usage.
)HELP";

namespace {

int propertiesCommand(const CommandContext& context) {
  CommandLine line(context.args, {});
  if (line.help()) return printHelp(context, kPropertiesHelp);
  line.requirePositional(0, 0, "");
  DriverSession session;
  session.call(&IVistel4::ShowProperties);
  return 0;
}

}  // namespace

int runPropertiesCommand(const CommandContext& context) {
  return runGuarded(context, "properties", [&] { return propertiesCommand(context); });
}

}  // namespace mirelo::shell
