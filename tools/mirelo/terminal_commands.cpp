// mirelo status, display, set-ip, lock, unlock, reset: one terminal command
// each, on a connection to the chosen logical device.
#include <optional>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

const char* const kStatusHelp = R"HELP(Usage: mirelo status [--device N]

Reads the terminal's state (its status command) and prints it:

  Device: № 1 Касса (192.168.0.166:1002 TCP)
  Software version: 2.5
  Software build: 312
  Software date: 15.03.2010
  Device type: 2 (Vistel)
  Serial number: 1
  Status flags: 65 (0x41)
  Locked: yes
  Settings table error: yes
  MAC address: 00-1E-53-02-00-01
  Firm ID: 7763 (0x001E53)

--device N uses logical device N instead of the current one (see 'mirelo
devices'); the current device stays as it was.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.
)HELP";

const char* const kDisplayHelp = R"HELP(Usage: mirelo display [--device N] [--] LINE1 [LINE2]

Shows two lines on the terminal's display (its show message command), as
the host does with the answer to a scanned barcode. Each line shows at most
30 characters; longer ones are cut (a warning says so). Put -- before a line
that begins with '-'.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.

Example:
  mirelo display "Молоко 1 л" "Цена 89.90"
)HELP";

const char* const kSetIpHelp = R"HELP(Usage: mirelo set-ip [--device N] ADDRESS

Gives the terminal a new IPv4 address: the terminal is reached at the
address its logical device has now and told to take ADDRESS; then the
logical device takes ADDRESS too (saved at once), so the next command finds
the terminal there. When the terminal does not confirm, the logical device
keeps the old address.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.

Example:
  mirelo set-ip 192.168.0.170
)HELP";

const char* const kLockHelp = R"HELP(Usage: mirelo lock [--device N]

Locks the terminal (its lock command): a locked terminal does not serve
customers. 'mirelo status' shows whether it is locked.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.
)HELP";

const char* const kUnlockHelp = R"HELP(Usage: mirelo unlock [--device N]

Unlocks the terminal (its unlock command).

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.
)HELP";

const char* const kResetHelp = R"HELP(Usage: mirelo reset [--device N]

Resets the terminal (its reset command): it starts again.

Exit status: 0 done, 1 the terminal did not answer or reported an error
(printed as "(code) text"), 2 bad usage.
)HELP";

namespace {

constexpr size_t kDisplayWidth = 30;

const char* yesNo(bool value) {
  return value ? "yes" : "no";
}

int statusCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, kStatusHelp);
  line.requirePositional(0, 0, "");
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  DriverSession session;
  // The default device is nobody's terminal: it is not asked.
  if (std::optional<std::string> unreadable = session.unreadableSettings())
    return reportUnreadableSettings(context, *unreadable,
                                    "only the default device is known, so no terminal was asked");
  TerminalConnection connection(session, device);
  connection.run(&IVistel4::GetStatus, "reading the status of");
  int32_t flags = session.readInt(&IVistel4::get_StatusFlags);
  int32_t firmId = session.readInt(&IVistel4::get_FirmID);
  std::ostream& out = context.out;
  out << "Device: " << connection.summary() << '\n'
      << "Software version: " << wideToUtf8(session.readText(&IVistel4::get_SoftVersion)) << '\n'
      << "Software build: " << session.readInt(&IVistel4::get_SoftBuild) << '\n'
      << "Software date: " << wideToUtf8(session.readText(&IVistel4::get_SoftDate)) << '\n'
      << "Device type: " << session.readInt(&IVistel4::get_DeviceType) << " ("
      << wideToUtf8(session.readText(&IVistel4::get_DeviceTypeDescription)) << ")\n"
      << "Serial number: " << session.readInt(&IVistel4::get_SerialNumber) << '\n'
      << format("Status flags: %d (0x%.2X)", flags, static_cast<unsigned>(flags)) << '\n'
      << "Locked: " << yesNo(session.readBool(&IVistel4::get_IsDeviceLocked)) << '\n'
      << "Settings table error: " << yesNo(session.readBool(&IVistel4::get_IsSetupTableError))
      << '\n'
      << "MAC address: " << wideToUtf8(session.readText(&IVistel4::get_MAC)) << '\n'
      << format("Firm ID: %d (0x%.6X)", firmId, static_cast<unsigned>(firmId)) << '\n';
  out.flush();
  return 0;
}

int displayCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, kDisplayHelp);
  line.requirePositional(1, 2, "the line to show");
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  std::u16string lines[2];
  for (size_t i = 0; i < line.positional().size(); ++i) {
    lines[i] = utf8Text(line.positional()[i]);
    requireWindows1251(lines[i]);
    if (lines[i].size() > kDisplayWidth)
      context.err << format("mirelo: line %d has %d characters; the display shows the first %d\n",
                            static_cast<int>(i + 1), static_cast<int>(lines[i].size()),
                            static_cast<int>(kDisplayWidth));
  }
  DriverSession session;
  session.write(&IVistel4::put_Line1, lines[0]);
  session.write(&IVistel4::put_Line2, lines[1]);
  TerminalConnection connection(session, device);
  connection.run(&IVistel4::ShowMessage, "showing the lines on");
  context.out << "Shown on " << connection.summary() << '\n';
  context.out.flush();
  return 0;
}

int setIpCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, kSetIpHelp);
  line.requirePositional(1, 1, "the new address");
  const std::string& address = line.positional()[0];
  if (!isDottedAddress(address))
    throw UsageError("the new address must be an IPv4 address such as 192.168.0.170, not '" +
                     address + "'");
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  DriverSession session;
  TerminalConnection connection(session, device);
  std::string before = connection.summary();
  // The object sends the current device's address as the new one.
  std::u16string old = session.readText(&IVistel4::get_ClientIP);
  session.write(&IVistel4::put_ClientIP, utf8Text(address));
  try {
    connection.run(&IVistel4::SetIPAddress, "setting the address of");
  } catch (...) {
    session.write(&IVistel4::put_ClientIP, old);
    throw;
  }
  connection.close();
  session.restoreDevice();
  session.saveSettings();
  context.out << "Terminal " << before << " now has the address " << address
              << "; its logical device has it too.\n";
  context.out.flush();
  return 0;
}

// lock, unlock, reset: one method and a line saying it was done.
int simpleCommand(const CommandContext& context, const char* help, DriverSession::Method method,
                  const char* doing, const char* done) {
  CommandLine line(context.args, {{"--device", true}});
  if (line.help()) return printHelp(context, help);
  line.requirePositional(0, 0, "");
  std::optional<int32_t> device = line.integer("--device", 1, 99);
  DriverSession session;
  TerminalConnection connection(session, device);
  connection.run(method, doing);
  context.out << done << ' ' << connection.summary() << '\n';
  context.out.flush();
  return 0;
}

}  // namespace

int runStatusCommand(const CommandContext& context) {
  return runGuarded(context, "status", [&] { return statusCommand(context); });
}

int runDisplayCommand(const CommandContext& context) {
  return runGuarded(context, "display", [&] { return displayCommand(context); });
}

int runSetIpCommand(const CommandContext& context) {
  return runGuarded(context, "set-ip", [&] { return setIpCommand(context); });
}

int runLockCommand(const CommandContext& context) {
  return runGuarded(context, "lock", [&] {
    return simpleCommand(context, kLockHelp, &IVistel4::LockDevice, "locking", "Locked");
  });
}

int runUnlockCommand(const CommandContext& context) {
  return runGuarded(context, "unlock", [&] {
    return simpleCommand(context, kUnlockHelp, &IVistel4::UnlockDevice, "unlocking", "Unlocked");
  });
}

int runResetCommand(const CommandContext& context) {
  return runGuarded(context, "reset", [&] {
    return simpleCommand(context, kResetHelp, &IVistel4::Reset, "resetting", "Reset");
  });
}

}  // namespace mirelo::shell
