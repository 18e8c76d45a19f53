#include "tools/termsim/cli.h"

#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>

#include "platform/cp1251.h"
#include "platform/exception.h"
#include "platform/format.h"
#include "tools/termsim/protocol_handler.h"
#include "tools/termsim/scanner.h"

namespace mirelo::termsim {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kMainHelp = R"(termsim - a simulated price-check terminal

Usage:
  termsim serve [OPTIONS]            be a terminal: answer the device commands
  termsim scan BARCODE [OPTIONS]     be a scanning terminal: send a barcode to a
                                     host's server and print the answer
  termsim help [serve|scan]          this text, or the options of a command

"termsim serve --help" and "termsim scan --help" list the options.
Numbers may be decimal or hexadecimal (0xBB or $BB).
With MIRELO_LOOPBACK_ONLY set, scan reaches only 127.0.0.0/8.
)";

const char* const kServeHelp = R"(Usage: termsim serve [OPTIONS]

Answers the terminal command set on one port over UDP and TCP at once (no
framing: one datagram or one TCP read is one request), and the discovery
request (one byte 0xBB) on a second UDP port with the status reply. Runs until
interrupted (Ctrl+C, SIGTERM). Prints the ports it serves on.

Sockets:
  --bind ADDR              address to listen on (default 127.0.0.1)
  --port N                 terminal port, UDP and TCP (default 1002, which needs
                           privileges; 0 picks a port free for both and prints it)
  --discovery-port N       discovery UDP port (default 2002; 0 ephemeral)
  --no-discovery           no discovery socket
  --journal FILE           write every frame received, one a line, as
                           "UDP: BB", "TCP: AD 00 00 00", "UDP discovery: BB"
                           ("-" is standard output)
  --firmware-out FILE      write the firmware image received by 0xC0/0xC1/0xC2
                           after each update and on exit

Status reply (0xBB):
  --soft-version X.Y       software version (default 2.5)
  --build N                software build (default 312)
  --date DD.MM.YYYY        software date, years 2000 to 2255 (default 15.03.2010)
  --flags N                status flags byte (bit 0 locked, bit 6 table error)
  --locked                 start locked (0xB9 locks and unlocks)
  --table-error            set the settings-table error flag
  --mac AA-BB-CC-DD-EE-FF  MAC address; its 4th byte is the device type and its
                           last two the serial number (default 00-1E-53-02-00-01)
  --device-type N          device type, byte 26 (default 2); applied after --mac
  --serial N               serial number, bytes 27-28 big-endian (default 1);
                           applied after --mac

Content: four settings tables - 0 network (1 row; field 0 is the terminal's
address, which 0xB7 changes), 1 display (1 row), 2 product codes (4 rows,
numbers of 1 to 6 bytes, strings, an address), 3 passwords (2 rows).
  --messages N             number of stored messages (default 8)
  --memory-blocks N        1024-byte blocks of all four memories of 0x83
  --memory-blocks CODE=N   blocks of memory CODE (0..3); defaults 8, 4, 4, 16
  --programming            start in programming mode (0xC3 reports mode 0)

Faults (--only-command narrows all but --error and --stay-in-programming):
  --drop-every N           no reply to every N-th request (1: none answered)
  --delay MS               send replies MS milliseconds late
  --error CMD=ERR          answer command CMD with error byte ERR (repeatable)
  --wrong-command BYTE     put BYTE in place of the echoed command code
  --truncate N             cut replies to N bytes
  --stay-in-programming    0xC2 succeeds but programming mode stays on
  --close-after-request    TCP: close the connection after each reply
  --split-reply            TCP: send each reply in two segments
  --split-pause MS         pause between the two segments (default 20)
  --only-command CMD       the faults above act on command CMD only
  --once                   all faults act on the first request they apply to,
                           then stop

Commands answered:
)";

const char* const kServeHelpTail = R"(  any other                error 213

Errors: 211 for a table, field, message, memory or block past the last one and
for a request too short or malformed; 214 for 0xC1/0xC2 outside programming
mode; 220 when 0xBC writes a number outside its field's range.
)";

const char* const kScanHelp = R"(Usage: termsim scan BARCODE [OPTIONS]

Sends the terminal message 0xAB 0x00 BARCODE (BARCODE is taken as UTF-8 and
sent as Windows-1251) to a host's server and prints the two lines of the
answer 0xAB 0x00 0x3C TEXT (line 1 = characters 1-30, line 2 = 31-60),
converted to UTF-8, trailing blanks removed.

  --host H                 host of the server (default 127.0.0.1)
  --port P                 port of the server (default 2004)
  --udp                    send over UDP (default TCP)
  --timeout MS             wait at most MS for each answer (default 2000)
  --count N                send N scans (default 1); with N > 1 prints answers
                           per second and latency percentiles instead of lines
  --concurrency C          use C connections at once (default 1); each sends its
                           next scan when the previous one is answered

Exit code 1 when any answer is missing, malformed or the host is unreachable.
)";

struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

long parseNumber(const std::string& option, const std::string& text, long min, long max) {
  int32_t value;
  if (!tryStrToInt(text, value) || value < min || value > max)
    throw UsageError(
        format("%s: '%s' is not a number from %ld to %ld", option.c_str(), text.c_str(), min, max));
  return value;
}

// "A=B" with both numbers.
std::pair<long, long> parsePair(const std::string& option, const std::string& text, long maxFirst,
                                long maxSecond) {
  size_t eq = text.find('=');
  if (eq == std::string::npos)
    throw UsageError(format("%s: expected A=B, got '%s'", option.c_str(), text.c_str()));
  return {parseNumber(option, text.substr(0, eq), 0, maxFirst),
          parseNumber(option, text.substr(eq + 1), 0, maxSecond)};
}

struct OptionSpec {
  const char* name;
  bool takesValue;
  std::function<void(const std::string& name, const std::string& value)> apply;
};

// No argument holds a NUL. One after the '=' of "--name=value" keeps the value
// explicit where CLI11 would read "--flag=x" as the flag and "--name=" as
// "--name" taking the next argument; one before "--" keeps it an argument
// instead of CLI11's end of the options.
std::string mark(const std::string& arg) {
  if (arg == "--") return '\0' + arg;
  size_t eq = arg.find('=');
  return eq == std::string::npos ? arg : arg.substr(0, eq + 1) + '\0' + arg.substr(eq + 1);
}

std::string unmark(std::string text) {
  std::erase(text, '\0');
  return text;
}

// What CLI11 leaves, in order: the positional arguments, and options it does
// not know (all that start with "--").
std::vector<std::string> positionalArguments(const std::vector<std::string>& rest) {
  std::vector<std::string> positional;
  for (const std::string& marked : rest) {
    std::string arg = unmark(marked);
    if (arg.starts_with("--") && arg != "--")
      throw UsageError(format("unknown option %s", arg.substr(0, arg.find('=')).c_str()));
    positional.push_back(arg);
  }
  return positional;
}

// Applies options in order, as CLI11 reads them; returns the other arguments.
// An option takes "--name=value" or the next argument, whatever it is.
std::vector<std::string> parseOptions(const std::vector<std::string>& args,
                                      const std::vector<OptionSpec>& specs) {
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  for (const OptionSpec& spec : specs) {
    CLI::Option* option = app.add_option(spec.name, [&spec](const CLI::results_t& results) {
      if (!spec.takesValue && results[0].find('\0') != std::string::npos)
        throw UsageError(format("%s takes no value", spec.name));
      spec.apply(spec.name, unmark(results[0]));
      return true;
    });
    option->trigger_on_parse();
    if (!spec.takesValue) option->expected(0);
  }
  std::vector<std::string> reversed;
  for (auto arg = args.rbegin(); arg != args.rend(); ++arg) reversed.push_back(mark(*arg));
  // An unknown option before the failing one is the first error.
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch&) {
    positionalArguments(app.remaining());
    // The last argument is an option without its value.
    throw UsageError(format("%s needs a value", args.back().c_str()));
  } catch (const UsageError&) {
    positionalArguments(app.remaining());
    throw;
  }
  return positionalArguments(app.remaining());
}

bool wantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args)
    if (arg == "--help" || arg == "-h") return true;
  return false;
}

std::string serveHelp() {
  std::string text = kServeHelp;
  for (const CommandInfo& command : commandTable())
    text += format("  0x%.2X                     %s\n", command.code, command.name);
  return text + kServeHelpTail;
}

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

int serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options = parseServeOptions(args);
  // Signals are taken by sigwait below, not by any thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  Simulator simulator(options);
  try {
    simulator.start();
  } catch (const Exception& e) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    err << "termsim: " << e.what() << '\n';
    return kExitFailed;
  }
  out << "termsim: terminal on " << options.bindAddress << " port " << simulator.port()
      << " (UDP and TCP)\n";
  if (simulator.discoveryPort())
    out << "termsim: discovery on UDP port " << simulator.discoveryPort() << '\n';
  out << "termsim: serving until interrupted" << std::endl;
  int received = 0;
  sigwait(&signals, &received);
  simulator.stop();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!options.firmwareOut.empty() && !simulator.firmware().empty()) {
    try {
      simulator.writeFirmware(options.firmwareOut);
    } catch (const Exception& e) {
      err << "termsim: " << e.what() << '\n';
      return kExitFailed;
    }
  }
  out << "termsim: stopped after " << simulator.requests() << " requests" << std::endl;
  return kExitOk;
}

int scanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  LoadOptions options;
  std::vector<OptionSpec> specs = {
      {"--host", true, [&](auto&, auto& v) { options.host = v; }},
      {"--port", true,
       [&](auto& n, auto& v) {
         options.port = static_cast<uint16_t>(parseNumber(n, v, 1, 65535));
       }},
      {"--udp", false, [&](auto&, auto&) { options.udp = true; }},
      {"--timeout", true,
       [&](auto& n, auto& v) {
         options.timeoutMs = static_cast<int>(parseNumber(n, v, 1, 3600000));
       }},
      {"--count", true,
       [&](auto& n, auto& v) {
         options.count = static_cast<size_t>(parseNumber(n, v, 1, 100000000));
       }},
      {"--concurrency", true,
       [&](auto& n, auto& v) {
         options.concurrency = static_cast<size_t>(parseNumber(n, v, 1, 1000));
       }},
  };
  std::vector<std::string> positional = parseOptions(args, specs);
  if (positional.size() != 1) throw UsageError("scan needs exactly one BARCODE");
  options.barcode = utf8ToAnsi(positional[0]);

  if (options.count == 1) {
    ScanResult result =
        scan(options.host, options.port, options.barcode, options.udp, options.timeoutMs);
    if (!result.ok) {
      err << "termsim: " << result.error << '\n';
      return kExitFailed;
    }
    out << ansiToUtf8(trimRight(result.line1)) << '\n'
        << ansiToUtf8(trimRight(result.line2)) << std::endl;
    return kExitOk;
  }

  LoadReport report;
  try {
    report = runLoad(options);
  } catch (const Exception& e) {
    err << "termsim: " << e.what() << '\n';
    return kExitFailed;
  }
  out << format("scans: %zu sent, %zu answered, %zu missing, %zu failed in %.3f s\n", options.count,
                report.answered, report.missing, report.failed, report.seconds);
  out << format("answers per second: %.1f\n", report.answersPerSecond);
  out << format("latency ms: p50 %.3f p90 %.3f p99 %.3f max %.3f\n", report.p50Ms, report.p90Ms,
                report.p99Ms, report.maxMs);
  out.flush();
  for (const std::string& error : report.errors) err << "termsim: " << error << '\n';
  return report.missing || report.failed ? kExitFailed : kExitOk;
}

}  // namespace

Options parseServeOptions(const std::vector<std::string>& args) {
  Options options;
  options.port = 1002;
  options.discoveryPort = 2002;
  StatusInfo& status = options.state.status;
  Faults& faults = options.faults;
  std::optional<uint8_t> deviceType;
  std::optional<uint16_t> serial;
  auto byte = [](auto& n, auto& v) { return static_cast<uint8_t>(parseNumber(n, v, 0, 255)); };
  auto ms = [](auto& n, auto& v) { return static_cast<unsigned>(parseNumber(n, v, 0, 3600000)); };

  std::vector<OptionSpec> specs = {
      {"--bind", true, [&](auto&, auto& v) { options.bindAddress = v; }},
      {"--port", true,
       [&](auto& n, auto& v) {
         options.port = static_cast<uint16_t>(parseNumber(n, v, 0, 65535));
       }},
      {"--discovery-port", true,
       [&](auto& n, auto& v) {
         options.discoveryPort = static_cast<int>(parseNumber(n, v, 0, 65535));
       }},
      {"--no-discovery", false, [&](auto&, auto&) { options.discoveryPort = -1; }},
      {"--journal", true, [&](auto&, auto& v) { options.journalFile = v; }},
      {"--firmware-out", true, [&](auto&, auto& v) { options.firmwareOut = v; }},
      {"--soft-version", true,
       [&](auto& n, auto& v) {
         size_t dot = v.find('.');
         if (dot == std::string::npos)
           throw UsageError(format("%s: expected X.Y, got '%s'", n.c_str(), v.c_str()));
         status.versionMajor = static_cast<uint8_t>(parseNumber(n, v.substr(0, dot), 0, 255));
         status.versionMinor = static_cast<uint8_t>(parseNumber(n, v.substr(dot + 1), 0, 255));
       }},
      {"--build", true,
       [&](auto& n, auto& v) {
         status.build = static_cast<uint16_t>(parseNumber(n, v, 0, 65535));
       }},
      {"--date", true,
       [&](auto& n, auto& v) {
         size_t first = v.find('.'),
                second = v.find('.', first == std::string::npos ? first : first + 1);
         if (first == std::string::npos || second == std::string::npos)
           throw UsageError(format("%s: expected DD.MM.YYYY, got '%s'", n.c_str(), v.c_str()));
         status.day = static_cast<uint8_t>(parseNumber(n, v.substr(0, first), 1, 31));
         status.month =
             static_cast<uint8_t>(parseNumber(n, v.substr(first + 1, second - first - 1), 1, 12));
         status.year = static_cast<uint16_t>(parseNumber(n, v.substr(second + 1), 2000, 2255));
       }},
      {"--flags", true, [&](auto& n, auto& v) { status.flags = byte(n, v); }},
      {"--locked", false, [&](auto&, auto&) { status.flags |= StatusFlag::Locked; }},
      {"--table-error", false, [&](auto&, auto&) { status.flags |= StatusFlag::TableError; }},
      {"--mac", true,
       [&](auto& n, auto& v) {
         if (!status.setMacText(v))
           throw UsageError(
               format("%s: expected AA-BB-CC-DD-EE-FF, got '%s'", n.c_str(), v.c_str()));
       }},
      {"--device-type", true, [&](auto& n, auto& v) { deviceType = byte(n, v); }},
      {"--serial", true,
       [&](auto& n, auto& v) { serial = static_cast<uint16_t>(parseNumber(n, v, 0, 65535)); }},
      {"--messages", true,
       [&](auto& n, auto& v) {
         options.state.setMessageCount(static_cast<size_t>(parseNumber(n, v, 0, 255)));
       }},
      {"--memory-blocks", true,
       [&](auto& n, auto& v) {
         if (v.find('=') != std::string::npos) {
           auto [code, blocks] = parsePair(n, v, kMemoryCount - 1, 65535);
           options.state.setMemoryBlocks(static_cast<size_t>(code), static_cast<size_t>(blocks));
         } else {
           size_t blocks = static_cast<size_t>(parseNumber(n, v, 0, 65535));
           for (size_t code = 0; code < kMemoryCount; ++code)
             options.state.setMemoryBlocks(code, blocks);
         }
       }},
      {"--programming", false, [&](auto&, auto&) { options.state.programmingMode = true; }},
      {"--drop-every", true,
       [&](auto& n, auto& v) {
         faults.dropEvery = static_cast<unsigned>(parseNumber(n, v, 0, 1000000));
       }},
      {"--delay", true, [&](auto& n, auto& v) { faults.delayMs = ms(n, v); }},
      {"--error", true,
       [&](auto& n, auto& v) {
         auto [command, error] = parsePair(n, v, 255, 255);
         faults.errorFor[static_cast<uint8_t>(command)] = static_cast<uint8_t>(error);
       }},
      {"--wrong-command", true, [&](auto& n, auto& v) { faults.wrongCommand = byte(n, v); }},
      {"--truncate", true,
       [&](auto& n, auto& v) {
         faults.truncateTo = static_cast<size_t>(parseNumber(n, v, 0, 65535));
       }},
      {"--stay-in-programming", false, [&](auto&, auto&) { faults.stayInProgramming = true; }},
      {"--close-after-request", false, [&](auto&, auto&) { faults.closeAfterRequest = true; }},
      {"--split-reply", false, [&](auto&, auto&) { faults.splitReply = true; }},
      {"--split-pause", true, [&](auto& n, auto& v) { faults.splitPauseMs = ms(n, v); }},
      {"--only-command", true, [&](auto& n, auto& v) { faults.onlyCommand = byte(n, v); }},
      {"--once", false, [&](auto&, auto&) { faults.once = true; }},
  };
  std::vector<std::string> positional = parseOptions(args, specs);
  if (!positional.empty())
    throw UsageError(format("serve takes no argument '%s'", positional[0].c_str()));
  if (deviceType) status.setDeviceType(*deviceType);
  if (serial) status.setSerialNumber(*serial);
  return options;
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.empty()) {
      err << kMainHelp;
      return kExitUsage;
    }
    const std::string& command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
      std::string topic = rest.empty() ? "" : rest[0];
      out << (topic == "serve" ? serveHelp() : topic == "scan" ? kScanHelp : kMainHelp);
      return kExitOk;
    }
    if (command == "serve") {
      if (wantsHelp(rest)) {
        out << serveHelp();
        return kExitOk;
      }
      return serve(rest, out, err);
    }
    if (command == "scan") {
      if (wantsHelp(rest)) {
        out << kScanHelp;
        return kExitOk;
      }
      return scanCommand(rest, out, err);
    }
    throw UsageError(format("unknown command '%s'", command.c_str()));
  } catch (const UsageError& e) {
    err << "termsim: " << e.what() << " (see termsim --help)\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "termsim: " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace mirelo::termsim
