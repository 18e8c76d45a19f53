#include "tools/mirelo/cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>

#include "mirelo/vistel.h"
#include "platform/cp1251.h"
#include "tools/mirelo/commands.h"
#include "tools/mirelo/item_runner.h"
#include "tools/mirelo/report.h"
#include "tools/mirelo/safe_output.h"
#include "tools/mirelo/usage_error.h"

namespace mirelo::shell {
namespace {

// Help texts are Windows-1251 literals like every text of the project; they
// are printed as UTF-8.
const char* const kGeneralHelp = R"HELP(Usage: mirelo [--json] SUBCOMMAND [ARGUMENTS]

Drives one driver object (class Vistel) through its automation interface,
exactly as a host application does: writes properties, calls methods, reads
properties and prints the events that the object raises.

Subcommands:
  run ITEM...        run the items in order on one new object, then destroy it
  shell              read items from standard input, one a line, printing
                     events as they arrive, until the end of input
  help [SUBCOMMAND]  this text, or the help of a subcommand

Commands for support engineers (readable output; 'mirelo COMMAND --help'):
  devices            list, add, change, select and delete logical devices
  server             show or change the server port and protocol and the log
  status             the terminal's state: version, serial number, locks, ...
  search             find the terminals on the network
  firmware FILE      load a firmware image into the terminal
  tables             list, show, export and import the settings tables
  dump               read a memory of the terminal into a file
  display L1 [L2]    show two lines on the terminal's display
  set-ip ADDRESS     give the terminal a new IP address
  lock, unlock       lock or unlock the terminal
  reset              reset the terminal
  properties         the driver's own settings dialog (needs a display)
  They print failures as "mirelo: (code) text" on standard error and exit
  with 0 when done, 1 when the driver or the terminal reported a failure,
  2 for bad usage.

Items:
  Name=Value         write a property
  Name               call a method, or read a property
  wait=MS            run the message loop for MS milliseconds, so that
                     events (DataEvent, LogEvent) can arrive

  Name is an English member name or its Russian help string, in any letter
  case: LDNumber=1, ldnumber=1 and НомерЛУ=1 are the same item.
  Value follows the property's type: integers in decimal, or hexadecimal
  with 0x (ClientPort=0x3EA); Booleans true, false, 1, 0 or -1; text exactly
  as given up to the end of the argument or line, with these escapes:
    \\  backslash   \r  CR   \n  LF   \t  TAB   \xHH  the Windows-1251 byte HH

  ClientIP (and RepeatCount) take effect at the next Connect or LDNumber or
  LDIndex write, as for every host: until then the driver still talks to
  the address it had, so write the address, then Connect.

Output (standard output, UTF-8, one line each, flushed at once):
  Name=value                       a property read; Booleans true or false,
                                   DataBlockSA as hexadecimal bytes "AB 00 12"
  Name: code description           a method: the code it returned and then
                                   ResultCodeDescription ("GetStatus: 0 Ошибок нет")
  AboutBox: done                   AboutBox succeeded
  Name: error: message             a property write, a read or a call failed
  DataEvent: SenderID=n Data=text  a terminal's message
  LogEvent: text                   a line of the driver's log (LogEnabled=true)
  Text in output lines carries the escapes above. A write that succeeds
  prints nothing; a write that the object refuses by its result code only
  (ClientProtocol=2) shows in ResultCode.

Options:
  --json      print each output line as one JSON object instead:
                {"read":"Name","value":...}  (number, true/false or string)
                {"call":"Name","code":0,"description":"..."}
                {"call":"AboutBox","done":true}
                {"write":"Name","error":"..."}  ("read"/"call" likewise)
                {"event":"DataEvent","SenderID":1,"Data":"..."}
                {"event":"LogEvent","Data":"..."}
  --help, -h  this text; 'mirelo SUBCOMMAND --help' for a subcommand

Exit status:
  0  every method returned 0 and every write, read and call succeeded
  1  a method returned another code, a write, read or call failed, or the
     object could not be created
  2  bad usage: unknown subcommand or option, unknown member, bad value

Environment:
  MIRELO_REGISTRY       the settings file (logical devices, driver parameters);
                        default $XDG_CONFIG_HOME/korvex/registry.db
  MIRELO_LOOPBACK_ONLY  when set, no address outside 127.0.0.0/8 is contacted

Examples:
  mirelo run LDNumber=1 ClientIP=127.0.0.1 Connect GetStatus SoftVersion SerialNumber
  mirelo run --json LDNumber=1 Connect GetStatus IsDeviceLocked
  printf '%s\n' ServerProtocol=1 OpenServer | mirelo shell
)HELP";

const char* const kRunHelp = R"HELP(Usage: mirelo run [--json] ITEM...

Creates one driver object, runs the items in order, destroys the object
and exits. Destroying it saves the logical devices and the driver
parameters to the settings file, as for every host, so what one run writes
(ClientIP, ServerPort, ...) is there for the next one.

Every item is checked before the first one runs: an unknown member, a value
that does not parse or a value for a method or a read-only property prints
"mirelo: ..." on standard error, runs nothing and exits with 2.

The message loop runs only during wait=MS items: a one-shot run receives
DataEvent only while it waits. LogEvent lines come during the calls that
log (after LogEnabled=true).

Items: Name=Value, Name, wait=MS; names, values, escapes and output lines
are described in 'mirelo --help'.

Exit status: 0 when every method returned 0 and every write, read and call
succeeded, 1 otherwise, 2 for bad usage.

Examples:
  Read a terminal's state (set the address before any exchange):
    mirelo run LDNumber=1 ClientIP=127.0.0.1 ClientPort=1002 ClientProtocol=0 \
        ClientTimeout=300 Connect GetStatus SoftVersion SerialNumber IsDeviceLocked
  prints, for example:
    Connect: 0 Ошибок нет
    GetStatus: 0 Ошибок нет
    SoftVersion=2.5
    SerialNumber=1
    IsDeviceLocked=false
  Show two lines on its display, by the Russian names:
    mirelo run НомерЛУ=1 'Строка1=Молоко 1 л' 'Строка2=Цена 89.90' ВывестиСообщение
  Serve terminals for ten seconds and print what they scan:
    mirelo run ServerProtocol=1 ServerPort=2004 OpenServer wait=10000
  The same as JSON lines:
    mirelo run --json ServerProtocol=1 OpenServer wait=10000
)HELP";

const char* const kShellHelp = R"HELP(Usage: mirelo shell [--json]

Creates one driver object and reads items from standard input, one item a
line: the whole line is the item, so a value may hold blanks (a CR before
the LF is dropped, empty lines are skipped). Each item runs as soon as its
line arrives. Between lines, and while it waits for input, the shell runs
the message loop, so DataEvent and LogEvent lines print as the events
arrive. At the end of input the object is destroyed (which saves its
settings) and the shell exits.

A line with an unknown member, a value that does not parse or a value for
a method or a read-only property prints "mirelo: ..." on standard error and
is skipped; the shell goes on.

Items, names, values, escapes and output lines: see 'mirelo --help'.

Exit status: 0 when every method returned 0 and every write, read and call
succeeded, 1 otherwise, 2 when some line was rejected.

Examples:
  A fixed script:
    printf '%s\n' LDNumber=1 ClientIP=127.0.0.1 Connect GetStatus SoftVersion | mirelo shell
  Answer every scanned barcode (bash coprocess):
    coproc DRV { mirelo shell; }
    printf '%s\n' ServerProtocol=1 ServerPort=2004 OpenServer >&"${DRV[1]}"
    while read -r line <&"${DRV[0]}"; do
      case $line in
        'DataEvent: SenderID='*)
          id=${line#DataEvent: SenderID=}; id=${id%% *}
          printf '%s\n' "SenderID=$id" 'Line1=Товар' 'Line2=Цена 10.00' SendAnswer >&"${DRV[1]}" ;;
      esac
    done
)HELP";

const char* const kHelpHelp = R"HELP(Usage: mirelo help [SUBCOMMAND]

Prints the general help, or the help of one subcommand.
)HELP";

struct Invocation {
  std::vector<std::string> items;
  bool json = false;
  LineInput& input;
  std::ostream& out;
  std::ostream& err;
};

struct Subcommand {
  const char* name;
  const char* synopsis;
  const char* help;
  int (*handler)(const Invocation&);
  // A command for people: takes every argument after its name as its own.
  CommandHandler command = nullptr;
};

int runItems(const Invocation& call);
int runShell(const Invocation& call);
int runHelp(const Invocation& call);

const Subcommand kSubcommands[] = {
    {"run", "mirelo [--json] run ITEM...", kRunHelp, runItems},
    {"shell", "mirelo [--json] shell", kShellHelp, runShell},
    {"help", "mirelo help [SUBCOMMAND]", kHelpHelp, runHelp},
    {"devices", "mirelo devices [list|add|set|rename|select|delete] ...", kDevicesHelp, nullptr,
     runDevicesCommand},
    {"server", "mirelo server [show|set] ...", kServerHelp, nullptr, runServerCommand},
    {"status", "mirelo status [--device N]", kStatusHelp, nullptr, runStatusCommand},
    {"search", "mirelo search [--mask ADDR] [--seconds S] [--all-types|--vistel-only]", kSearchHelp,
     nullptr, runSearchCommand},
    {"firmware", "mirelo firmware [--device N] FILE", kFirmwareHelp, nullptr, runFirmwareCommand},
    {"tables", "mirelo tables [--device N] list|show TABLE|export FILE|import FILE", kTablesHelp,
     nullptr, runTablesCommand},
    {"dump", "mirelo dump [--device N] --memory CODE FILE", kDumpHelp, nullptr, runDumpCommand},
    {"display", "mirelo display [--device N] LINE1 [LINE2]", kDisplayHelp, nullptr,
     runDisplayCommand},
    {"set-ip", "mirelo set-ip [--device N] ADDRESS", kSetIpHelp, nullptr, runSetIpCommand},
    {"lock", "mirelo lock [--device N]", kLockHelp, nullptr, runLockCommand},
    {"unlock", "mirelo unlock [--device N]", kUnlockHelp, nullptr, runUnlockCommand},
    {"reset", "mirelo reset [--device N]", kResetHelp, nullptr, runResetCommand},
    {"properties", "mirelo properties", kPropertiesHelp, nullptr, runPropertiesCommand},
};

const Subcommand* findSubcommand(std::string_view name) {
  for (const Subcommand& subcommand : kSubcommands)
    if (name == subcommand.name) return &subcommand;
  return nullptr;
}

void printText(std::ostream& out, const char* text) {
  out << ansiToUtf8(text);
  out.flush();
}

void printUsage(std::ostream& err) {
  err << "Usage:\n";
  for (const Subcommand& subcommand : kSubcommands) err << "  " << subcommand.synopsis << '\n';
  err << "Run 'mirelo --help' for the items, the output and examples.\n";
  err.flush();
}

int usageError(std::ostream& err, const std::string& message) {
  err << "mirelo: " << message << '\n';
  printUsage(err);
  return 2;
}

// One object driven through its IDispatch; the factory's reference is
// handed to the runner, which holds the only one.
struct Session {
  Report report;
  std::unique_ptr<ItemRunner> runner;

  explicit Session(const Invocation& call) : report(call.out, call.json) {
    ComPtr<IDispatch> object = createVistelObject<IDispatch>();
    runner = std::make_unique<ItemRunner>(*object, report);
  }
  ~Session() {
    runner.reset();
    // The library that made the object may be unloaded now.
    CoFreeUnusedLibraries();
  }
};

int runItems(const Invocation& call) {
  if (call.items.empty()) return usageError(call.err, "run needs at least one item");
  try {
    Session session(call);
    std::vector<Item> items;
    try {
      for (const std::string& text : call.items) items.push_back(session.runner->parse(text));
    } catch (const UsageError& e) {
      call.err << "mirelo: " << e.what() << '\n';
      return 2;
    }
    bool succeeded = true;
    for (const Item& item : items) succeeded = session.runner->run(item) && succeeded;
    return succeeded ? 0 : 1;
  } catch (const std::exception& e) {
    call.err << "mirelo: " << e.what() << '\n';
    return 1;
  }
}

bool isBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

int runShell(const Invocation& call) {
  if (!call.items.empty()) return usageError(call.err, "shell takes its items from standard input");
  try {
    Session session(call);
    MessageLoop& loop = MessageLoop::current();
    bool succeeded = true, rejected = false;
    while (std::optional<std::string> line = call.input.next(loop)) {
      if (isBlank(*line)) continue;
      Item item;
      try {
        item = session.runner->parse(*line);
      } catch (const UsageError& e) {
        call.err << "mirelo: " << e.what() << '\n';
        call.err.flush();
        rejected = true;
        continue;
      }
      succeeded = session.runner->run(item) && succeeded;
    }
    // Events that came with the end of input.
    session.runner->processMessages();
    return rejected ? 2 : succeeded ? 0 : 1;
  } catch (const std::exception& e) {
    call.err << "mirelo: " << e.what() << '\n';
    return 1;
  }
}

int runHelp(const Invocation& call) {
  if (call.items.empty()) {
    printText(call.out, kGeneralHelp);
    return 0;
  }
  const Subcommand* subcommand = call.items.size() == 1 ? findSubcommand(call.items[0]) : nullptr;
  if (!subcommand) return usageError(call.err, "help takes one subcommand name");
  printText(call.out, subcommand->help);
  return 0;
}

// "--help" or "-h": the help of the subcommand being read, or the general help.
struct HelpRequested {
  const Subcommand* subcommand;
};

// CLI11 reads only the options and the subcommand names. A NUL (which no
// argument holds) before any other argument makes it pass that through
// unread: else "--" would end the options, "-hx" be -h -x, "--json=1" be
// --json and "++" end a subcommand.
std::string mark(const std::string& arg) {
  bool known = arg == "--json" || arg == "--help" || arg == "-h" || findSubcommand(arg);
  return known ? arg : '\0' + arg;
}

std::string unmark(const std::string& arg) {
  return arg.starts_with('\0') ? arg.substr(1) : arg;
}

// Options may stand anywhere before the name of a command for people, and
// after the names of run, shell and help: no item begins with '-'.
int runCliOn(const std::vector<std::string>& args, LineInput& input, std::ostream& out,
             std::ostream& err, bool outIsTerminal) {
  bool json = false;
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.require_subcommand(0, 1);
  auto addOptions = [&json](CLI::App& to, const Subcommand* subcommand) {
    to.add_flag("--json", json);
    to.add_flag_callback("-h,--help", [subcommand] {
        throw HelpRequested{subcommand};
      })->trigger_on_parse();
  };
  addOptions(app, nullptr);
  for (const Subcommand& subcommand : kSubcommands) {
    CLI::App* sub = app.add_subcommand(subcommand.name);
    // A command for people takes every argument after its name as its own.
    if (subcommand.command)
      sub->prefix_command();
    else
      addOptions(*sub, &subcommand);
  }
  std::vector<std::string> reversed;
  for (auto arg = args.rbegin(); arg != args.rend(); ++arg) reversed.push_back(mark(*arg));
  auto parsed = [&]() -> CLI::App* {
    return app.get_subcommands().empty() ? nullptr : app.get_subcommands()[0];
  };
  // The first error in the order of the arguments: what stands before the
  // subcommand, then an option of run, shell and help that CLI11 left.
  auto firstError = [&]() -> std::optional<std::string> {
    if (!app.remaining().empty()) {
      std::string arg = unmark(app.remaining()[0]);
      return (arg.starts_with('-') ? "unknown option '" : "unknown subcommand '") + arg + "'";
    }
    CLI::App* sub = parsed();
    if (!sub) return std::nullopt;
    if (findSubcommand(sub->get_name())->command)
      return json ? std::optional("--json is not offered by '" + sub->get_name() +
                                  "' (only by run and shell)")
                  : std::nullopt;
    for (const std::string& arg : sub->remaining())
      if (unmark(arg).starts_with('-')) return "unknown option '" + unmark(arg) + "'";
    return std::nullopt;
  };
  try {
    app.parse(reversed);
  } catch (const HelpRequested& help) {
    if (std::optional<std::string> error = firstError()) return usageError(err, *error);
    printText(out, help.subcommand ? help.subcommand->help : kGeneralHelp);
    return 0;
  }
  if (std::optional<std::string> error = firstError()) return usageError(err, *error);
  CLI::App* sub = parsed();
  if (!sub) return usageError(err, "no subcommand given");
  const Subcommand* subcommand = findSubcommand(sub->get_name());
  std::vector<std::string> rest;
  for (const std::string& arg : sub->remaining()) rest.push_back(unmark(arg));
  if (subcommand->command)
    return subcommand->command(CommandContext{rest, out, err, outIsTerminal});
  return subcommand->handler(Invocation{rest, json, input, out, err});
}

}  // namespace

int runCli(const std::vector<std::string>& args, LineInput& input, std::ostream& out,
           std::ostream& err) {
  // No control character of a value reaches the output as it is.
  EscapingStream safeOut(out), safeErr(err);
  return runCliOn(args, input, safeOut, safeErr, false);
}

int runCli(const std::vector<std::string>& args, int inputFd, std::ostream& out,
           std::ostream& err) {
  FdLineInput input(inputFd);
  EscapingStream safeOut(out), safeErr(err);
  // Progress bars only where a person watches the program's own output.
  return runCliOn(args, input, safeOut, safeErr, &out == &std::cout && ::isatty(STDOUT_FILENO));
}

int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err) {
  StreamLineInput input(in);
  return runCli(args, input, out, err);
}

}  // namespace mirelo::shell
