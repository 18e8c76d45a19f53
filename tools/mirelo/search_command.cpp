// mirelo search: the terminals on the network that answer the status request,
// found with the driver's search class exactly as the search dialog finds them.
#include "driver/devices/device_search.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/item_runner.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {

const char* const kSearchHelp = R"HELP(Usage: mirelo search [--mask ADDR] [--seconds S] [--all-types | --vistel-only]
                     [--local-port P] [--remote-port P]

Finds terminals without knowing their addresses: sends the terminals'
status request three times to ADDR and lists every terminal that answers
within S seconds, once per address and port, with its serial number and
model:

  IP address        Port  Serial  Type
  192.168.0.166     2002    4242  Vistel

  --mask ADDR       where the request goes (default 255.255.255.255, every
                    terminal of the local network); a network's own
                    broadcast address (192.168.0.255) or one terminal's
                    address also serve. Text that is not an IPv4 address
                    goes to 255.255.255.255, as the driver's search dialog
                    does; a warning says so first.
  --seconds S       how long to wait for answers: 0 to 600, decimals
                    allowed (default 3)
  --all-types       list terminals of every model (the default, as in the
                    search dialog)
  --vistel-only     list only terminals of model 2 (Vistel)
  --local-port P    the port the request goes from and the answers come
                    back to (default 1002, as in the search dialog; 0 takes
                    any free port). It must be free: close a driver server
                    that listens on UDP port 1002 first. On Linux a port
                    below 1024 needs root (failure 10013, WSAEACCES).
  --remote-port P   the terminals' search port (default 2002)

Exit status: 0 done (also when nobody answered), 1 the search could not be
sent (printed as "(code) text"), 2 bad usage.

Examples:
  mirelo search
  mirelo search --mask 192.168.1.255 --seconds 5 --vistel-only
)HELP";

namespace {

constexpr int32_t kDefaultWaitMs = 3000;
constexpr int32_t kMaxWaitSeconds = 600;

const char* const kRowFormat = "%-15s  %5s  %6s  %s";

int searchCommand(const CommandContext& context) {
  CommandLine line(context.args, {{"--mask", true},
                                  {"--seconds", true},
                                  {"--all-types", false},
                                  {"--vistel-only", false},
                                  {"--local-port", true},
                                  {"--remote-port", true}});
  if (line.help()) return printHelp(context, kSearchHelp);
  line.requirePositional(0, 0, "");
  if (line.has("--all-types") && line.has("--vistel-only"))
    throw UsageError("--all-types and --vistel-only exclude each other");
  std::string mask = line.value("--mask").value_or(TDeviceSearch::BroadcastAddress);
  std::optional<std::string> seconds = line.value("--seconds");
  int32_t waitMs = seconds ? parseSeconds(*seconds, kMaxWaitSeconds, "--seconds") : kDefaultWaitMs;
  std::string localPort = TDeviceSearch::LocalPort;
  if (std::optional<int32_t> port = line.integer("--local-port", 0, 65535)) localPort = std::to_string(*port);
  std::string remotePort = TDeviceSearch::RemotePort;
  if (std::optional<int32_t> port = line.integer("--remote-port", 1, 65535)) remotePort = std::to_string(*port);

  if (TDeviceSearch::FallsBackToBroadcast(mask)) {
    context.err << "mirelo: '" << mask << "' is not an IPv4 address: the request goes to the limited broadcast "
                << TDeviceSearch::BroadcastAddress << '\n';
    context.err.flush();
  }

  TDeviceSearch search(localPort, remotePort);
  search.ShowAllTypes = !line.has("--vistel-only");
  bool headed = false;
  search.OnFound = [&](const TFoundDevice& device) {
    if (!headed) {
      context.out << format(kRowFormat, "IP address", "Port", "Serial", "Type") << '\n';
      headed = true;
    }
    context.out << ansiToUtf8(format(kRowFormat, device.IPAddress.c_str(), std::to_string(device.Port).c_str(),
                                     std::to_string(device.SerialNumber).c_str(), device.TypeName.c_str()))
                << '\n';
    context.out.flush();
  };
  try {
    search.Start(mask);
  } catch (const std::exception& error) {
    throw failureOf(error).within("searching from local UDP port " + localPort);
  }
  runMessageLoopFor(waitMs);
  size_t count = search.Found().size();
  context.out << (count == 0 ? std::string("No terminal answered.")
                             : format("%d terminal%s answered.", static_cast<int>(count), count == 1 ? "" : "s"))
              << '\n';
  context.out.flush();
  return 0;
}

}  // namespace

int runSearchCommand(const CommandContext& context) {
  return runGuarded(context, "search", [&] { return searchCommand(context); });
}

}  // namespace mirelo::shell
