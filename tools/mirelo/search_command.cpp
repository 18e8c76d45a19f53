// mirelo search: the terminals on the network that answer the status request,
// found through the driver object's search interface, exactly as the search
// dialog finds them.
#include <netinet/in.h>

#include <functional>

#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "platform/format.h"
#include "platform/sockets.h"
#include "tools/mirelo/command_line.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/driver_session.h"
#include "tools/mirelo/item_runner.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {

const char* const kSearchHelp =
    R"HELP(Usage: mirelo search [--mask ADDR] [--seconds S] [--all-types | --vistel-only]
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
constexpr const char* kBroadcastAddress = "255.255.255.255";
constexpr int32_t kLocalPort = 1002;
constexpr int32_t kRemotePort = 2002;

struct FoundTerminal {
  std::string ipAddress;  // Windows-1251, as every text below
  int32_t port;
  int32_t serialNumber;
  std::string typeName;
};

class SearchSink final : public ComObject<IVistelSearchSink> {
 public:
  explicit SearchSink(std::function<void(const FoundTerminal&)> onFound)
      : onFound_(std::move(onFound)) {}
  HRESULT Found(const BSTR& ipAddress, LONG port, LONG serialNumber, LONG,
                const BSTR& typeName) override {
    try {
      onFound_({wideToAnsi(ipAddress), port, serialNumber, wideToAnsi(typeName)});
    } catch (...) {
      // A line that cannot be printed must not stop the search.
    }
    return S_OK;
  }

 private:
  std::function<void(const FoundTerminal&)> onFound_;
};

// The driver sends to the limited broadcast for any text that is not a
// dotted IPv4 address.
bool fallsBackToBroadcast(const std::string& address) {
  return ws::inetAddr(address) == INADDR_NONE && address != kBroadcastAddress;
}
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
  std::string mask = line.value("--mask").value_or(kBroadcastAddress);
  std::optional<std::string> seconds = line.value("--seconds");
  int32_t waitMs = seconds ? parseSeconds(*seconds, kMaxWaitSeconds, "--seconds") : kDefaultWaitMs;
  int32_t localPort = line.integer("--local-port", 0, 65535).value_or(kLocalPort);
  int32_t remotePort = line.integer("--remote-port", 1, 65535).value_or(kRemotePort);

  if (fallsBackToBroadcast(mask)) {
    context.err << "mirelo: '" << mask
                << "' is not an IPv4 address: the request goes to the limited broadcast "
                << kBroadcastAddress << '\n';
    context.err.flush();
  }

  DriverSession session;
  ComPtr<IVistelSearch> search;
  if (FAILED(session.object().QueryInterface(IID_IVistelSearch, search.putVoid())))
    throw DriverFailure(-199, "the driver object offers no terminal search");
  size_t count = 0;
  ComPtr<SearchSink> sink(new SearchSink([&](const FoundTerminal& device) {
    if (count++ == 0)
      context.out << format(kRowFormat, "IP address", "Port", "Serial", "Type") << '\n';
    context.out << ansiToUtf8(format(
                       kRowFormat, device.ipAddress.c_str(), std::to_string(device.port).c_str(),
                       std::to_string(device.serialNumber).c_str(), device.typeName.c_str()))
                << '\n';
    context.out.flush();
  }));
  LONG code = 0;
  search->StartSearch(ansiToWide(mask), localPort, remotePort,
                      line.has("--vistel-only") ? VARIANT_FALSE : VARIANT_TRUE, sink.get(), &code);
  if (code != 0) {
    try {
      session.checkResultCode();
    } catch (const DriverFailure& failure) {
      throw failure.within(format("searching from local UDP port %d", localPort));
    }
  }
  runMessageLoopFor(waitMs);
  search->StopSearch();
  context.out << (count == 0 ? std::string("No terminal answered.")
                             : format("%d terminal%s answered.", static_cast<int>(count),
                                      count == 1 ? "" : "s"))
              << '\n';
  context.out.flush();
  return 0;
}

}  // namespace

int runSearchCommand(const CommandContext& context) {
  return runGuarded(context, "search", [&] { return searchCommand(context); });
}

}  // namespace mirelo::shell
