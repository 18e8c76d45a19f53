// mirelo devices, mirelo server: the stored settings (logical devices, server
// and log parameters), changed through the object and saved with SaveParams.
#include <filesystem>
#include <optional>

#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {

const char* const kDevicesHelp = R"HELP(Usage: mirelo devices [list]
       mirelo devices add [--name NAME] [SETTINGS]
       mirelo devices set [--device N] SETTINGS
       mirelo devices rename [--device N] NAME
       mirelo devices select N
       mirelo devices delete N

The logical devices: the terminals the driver knows, each with a number
(1 to 99), a name and its connection settings. One of them is the current
device; every command that talks to a terminal uses it unless --device
picks another. Changes are saved at once in the settings file, where every
program that uses the driver finds them.

  list      every device; '*' marks the current one
  add       a new device with the next free number and default settings
            (192.168.0.166, port 1002, TCP, 3000 ms, 3 tries); it becomes
            the current device
  set       change settings of the current device (or of device N)
  rename    give the current device (or device N) a name of at most 20
            characters
  select    make device N the current one
  delete    remove device N (the last remaining device cannot be removed)

SETTINGS (at least one for set):
  --address A         the terminal's IPv4 address, e.g. 192.168.0.166
  --port P            its port for commands, 1 to 65535 (normally 1002)
  --protocol udp|tcp  the transport of commands
  --timeout MS        reply timeout in milliseconds, 1 to 65535
  --repeat-count N    tries of the commands that are repeated, 1 to 100

--device N changes device N and leaves the current device as it was.

Exit status: 0 done, 1 the driver refused (printed as "(code) text"),
2 bad usage.

Examples:
  mirelo devices
  mirelo devices add --name "Касса 2" --address 192.168.0.170
  mirelo devices set --device 2 --protocol udp --timeout 500
  mirelo devices select 2
)HELP";

const char* const kServerHelp = R"HELP(Usage: mirelo server [show]
       mirelo server set [--port P] [--protocol udp|tcp] [--log on|off]
                         [--log-file PATH]

The driver's own parameters: the port and transport of the server on which
terminals reach the host with scanned barcodes, and the exchange log. 'show'
prints them (with the firmware file name the driver remembers); 'set'
changes the given ones and saves them at once in the settings file.

  --port P            server port, 1 to 65535 (normally 2004)
  --protocol udp|tcp  server transport (normally tcp)
  --log on|off        write every frame to the log file
  --log-file PATH     the log file; a relative path is made absolute

Exit status: 0 done, 1 the driver refused (printed as "(code) text"),
2 bad usage.

Examples:
  mirelo server
  mirelo server set --port 2004 --protocol tcp
  mirelo server set --log on --log-file /var/log/mirelo/driver.log
)HELP";

namespace {

constexpr OptionSpec kSettingOptions[] = {{"--address", true},
                                          {"--port", true},
                                          {"--protocol", true},
                                          {"--timeout", true},
                                          {"--repeat-count", true}};

// The connection settings a command line gives, checked.
struct DeviceSettings {
  std::optional<std::string> address;
  std::optional<int32_t> port;
  std::optional<TProtocol> protocol;
  std::optional<int32_t> timeout;
  std::optional<int32_t> repeatCount;

  explicit DeviceSettings(const CommandLine& line) {
    address = line.value("--address");
    if (address && !isDottedAddress(*address))
      throw UsageError("--address takes an IPv4 address such as 192.168.0.166, not '" + *address +
                       "'");
    port = line.integer("--port", 1, 65535);
    protocol = line.protocol("--protocol");
    // The driver keeps the low 16 bits of a timeout and refuses 0.
    timeout = line.integer("--timeout", 1, 65535);
    // A repeat count of 0 would make the repeated commands succeed without
    // sending anything.
    repeatCount = line.integer("--repeat-count", 1, 100);
  }
  bool any() const { return address || port || protocol || timeout || repeatCount; }

  // On the current device, in the order the object applies a device.
  void apply(DriverSession& session) const {
    if (timeout) session.write(&IVistel4::put_ClientTimeout, *timeout);
    if (address) session.write(&IVistel4::put_ClientIP, utf8Text(*address));
    if (port) session.write(&IVistel4::put_ClientPort, *port);
    if (repeatCount) session.write(&IVistel4::put_RepeatCount, *repeatCount);
    if (protocol) {
      session.write(&IVistel4::put_ClientProtocol, *protocol);
      session.checkResultCode();
    }
  }
};

// Every action accepts only the options it uses.
CommandLine devicesLine(const std::vector<std::string>& args, bool withDevice, bool withName,
                        bool withSettings) {
  std::vector<OptionSpec> specs;
  if (withDevice) specs.push_back({"--device", true});
  if (withName) specs.push_back({"--name", true});
  if (withSettings)
    specs.insert(specs.end(), std::begin(kSettingOptions), std::end(kSettingOptions));
  return CommandLine(args, specs);
}

// A device name: at most 20 characters, each with a Windows-1251 byte.
std::u16string deviceName(const std::string& utf8) {
  std::u16string name = utf8Text(utf8);
  requireWindows1251(name);
  return name;
}

const char* const kRowFormat = "%s %2s  %-20s  %-15s  %5s  %-3s  %7s  %7s";

// One row of the device list, Windows-1251 (one byte a character, so the
// columns line up), converted to UTF-8.
std::string deviceRow(DriverSession& session, bool current) {
  auto number = [](int32_t value) { return std::to_string(value); };
  std::string row = format(kRowFormat, current ? "*" : " ",
                           number(session.readInt(&IVistel4::get_LDNumber)).c_str(),
                           wideToAnsi(session.readText(&IVistel4::get_LDName)).c_str(),
                           wideToAnsi(session.readText(&IVistel4::get_ClientIP)).c_str(),
                           number(session.readInt(&IVistel4::get_ClientPort)).c_str(),
                           protocolName(session.readInt(&IVistel4::get_ClientProtocol)),
                           number(session.readInt(&IVistel4::get_ClientTimeout)).c_str(),
                           number(session.readInt(&IVistel4::get_RepeatCount)).c_str());
  return ansiToUtf8(row);
}

int listDevices(const CommandContext& context, DriverSession& session) {
  int32_t current = session.readInt(&IVistel4::get_LDIndex);
  int32_t count = session.readInt(&IVistel4::get_LDCount);
  context.out << format(kRowFormat, " ", "No", "Name", "Address", "Port", "Via", "Timeout",
                        "Repeats")
              << '\n';
  for (int32_t index = 0; index < count; ++index) {
    session.selectIndex(index);
    context.out << deviceRow(session, index == current) << '\n';
  }
  session.selectIndex(current);
  context.out.flush();
  return 0;
}

// Runs change with device `number` (or the current one) selected; the
// current device is selected again afterwards.
template <class Change>
void onDevice(DriverSession& session, std::optional<int32_t> number, Change change) {
  if (number) session.chooseDevice(*number);
  change();
  session.restoreDevice();
}

std::optional<int32_t> deviceOption(const CommandLine& line) {
  return line.integer("--device", 1, 99);
}

int32_t deviceNumber(const std::string& text) {
  return parseBounded(text, 1, 99, "the device number");
}

void printDevice(const CommandContext& context, DriverSession& session, const char* what) {
  context.out << what << ' ' << session.deviceSummary()
              << format(", timeout %d ms, %d tries", session.readInt(&IVistel4::get_ClientTimeout),
                        session.readInt(&IVistel4::get_RepeatCount))
              << '\n';
  context.out.flush();
}

int devicesCommand(const CommandContext& context) {
  std::vector<std::string> args = context.args;
  std::string action = "list";
  if (!args.empty() && !args.front().starts_with("-")) {
    action = args.front();
    args.erase(args.begin());
  }
  if (action == "list") {
    CommandLine line = devicesLine(args, false, false, false);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(0, 0, "");
    DriverSession session;
    std::optional<std::string> unreadable = session.unreadableSettings();
    listDevices(context, session);
    if (unreadable)
      return reportUnreadableSettings(context, *unreadable, "the list shows the default device");
    return 0;
  }
  if (action == "add") {
    CommandLine line = devicesLine(args, false, true, true);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(0, 0, "");
    DeviceSettings settings(line);
    std::optional<std::u16string> name;
    if (std::optional<std::string> text = line.value("--name")) name = deviceName(*text);
    DriverSession session;
    session.run(&IVistel4::AddLD);
    if (name) session.write(&IVistel4::put_LDName, *name);
    settings.apply(session);
    session.saveSettings();
    printDevice(context, session, "Added and selected logical device");
    return 0;
  }
  if (action == "set") {
    CommandLine line = devicesLine(args, true, false, true);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(0, 0, "");
    DeviceSettings settings(line);
    if (!settings.any())
      throw UsageError(
          "set needs at least one of --address, --port, --protocol, --timeout, --repeat-count");
    std::optional<int32_t> number = deviceOption(line);
    DriverSession session;
    onDevice(session, number, [&] {
      settings.apply(session);
      printDevice(context, session, "Logical device");
    });
    session.saveSettings();
    return 0;
  }
  if (action == "rename") {
    CommandLine line = devicesLine(args, true, false, false);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(1, 1, "the new name");
    std::u16string name = deviceName(line.positional()[0]);
    std::optional<int32_t> number = deviceOption(line);
    DriverSession session;
    onDevice(session, number, [&] {
      try {
        session.write(&IVistel4::put_LDName, name);
      } catch (const DriverFailure& failure) {
        throw failure.within("the name '" + line.positional()[0] + "' (at most 20 characters)");
      }
      printDevice(context, session, "Renamed logical device");
    });
    session.saveSettings();
    return 0;
  }
  if (action == "select") {
    CommandLine line = devicesLine(args, false, false, false);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(1, 1, "the device number");
    int32_t number = deviceNumber(line.positional()[0]);
    DriverSession session;
    session.selectNumber(number);
    session.saveSettings();
    printDevice(context, session, "Current logical device:");
    return 0;
  }
  if (action == "delete") {
    CommandLine line = devicesLine(args, false, false, false);
    if (line.help()) return printHelp(context, kDevicesHelp);
    line.requirePositional(1, 1, "the device number");
    int32_t number = deviceNumber(line.positional()[0]);
    DriverSession session;
    int32_t current = session.readInt(&IVistel4::get_LDIndex);
    session.selectNumber(number);
    int32_t deleted = session.readInt(&IVistel4::get_LDIndex);
    try {
      session.run(&IVistel4::DeleteLD);
    } catch (const DriverFailure& failure) {
      session.selectIndex(current);
      throw failure.within(format("logical device %d", number));
    }
    // Another device that was current stays current; when the current one
    // went, the one after it is current, as the object has it.
    if (deleted != current) session.selectIndex(deleted < current ? current - 1 : current);
    session.saveSettings();
    context.out << format("Deleted logical device %d.", number) << '\n';
    printDevice(context, session, "Current logical device:");
    return 0;
  }
  throw UsageError("unknown action '" + action + "' (list, add, set, rename, select, delete)");
}

void printServer(const CommandContext& context, DriverSession& session) {
  context.out << "Server port: " << session.readInt(&IVistel4::get_ServerPort) << '\n'
              << "Server protocol: " << protocolName(session.readInt(&IVistel4::get_ServerProtocol))
              << '\n'
              << "Log: " << (session.readBool(&IVistel4::get_LogEnabled) ? "on" : "off") << '\n'
              << "Log file: " << wideToUtf8(session.readText(&IVistel4::get_LogFileName)) << '\n'
              << "Firmware file: " << wideToUtf8(session.readText(&IVistel4::get_SoftFileName))
              << '\n';
  context.out.flush();
}

int serverCommand(const CommandContext& context) {
  std::vector<std::string> args = context.args;
  std::string action = "show";
  if (!args.empty() && !args.front().starts_with("-")) {
    action = args.front();
    args.erase(args.begin());
  }
  if (action == "show") {
    CommandLine line(args, {});
    if (line.help()) return printHelp(context, kServerHelp);
    line.requirePositional(0, 0, "");
    DriverSession session;
    std::optional<std::string> unreadable = session.unreadableSettings();
    printServer(context, session);
    if (unreadable)
      return reportUnreadableSettings(context, *unreadable, "the values shown are the defaults");
    return 0;
  }
  if (action != "set") throw UsageError("unknown action '" + action + "' (show, set)");
  CommandLine line(args,
                   {{"--port", true}, {"--protocol", true}, {"--log", true}, {"--log-file", true}});
  if (line.help()) return printHelp(context, kServerHelp);
  line.requirePositional(0, 0, "");
  std::optional<int32_t> port = line.integer("--port", 1, 65535);
  std::optional<TProtocol> protocol = line.protocol("--protocol");
  std::optional<bool> log = line.onOff("--log");
  std::optional<std::u16string> logFile;
  if (std::optional<std::string> path = line.value("--log-file")) {
    if (path->empty()) throw UsageError("--log-file needs a path");
    // Every program that reads the settings must find the same file.
    std::u16string absolute =
        utf8Text(std::filesystem::absolute(*path).lexically_normal().string());
    requireWindows1251(absolute);
    logFile = absolute;
  }
  if (!port && !protocol && !log && !logFile)
    throw UsageError("set needs at least one of --port, --protocol, --log, --log-file");
  DriverSession session;
  if (protocol) {
    session.write(&IVistel4::put_ServerProtocol, *protocol);
    session.checkResultCode();
  }
  if (port) session.write(&IVistel4::put_ServerPort, *port);
  if (logFile) session.write(&IVistel4::put_LogFileName, *logFile);
  if (log) session.write(&IVistel4::put_LogEnabled, *log);
  session.saveSettings();
  printServer(context, session);
  return 0;
}

}  // namespace

int runDevicesCommand(const CommandContext& context) {
  return runGuarded(context, "devices", [&] { return devicesCommand(context); });
}

int runServerCommand(const CommandContext& context) {
  return runGuarded(context, "server", [&] { return serverCommand(context); });
}

}  // namespace mirelo::shell
