#pragma once
// The commands for support engineers: devices, server, status, search,
// firmware, tables, dump, display, set-ip, lock, unlock, reset. Each drives
// one driver object through its automation interface (search uses the
// driver's own search class, as the search dialog does), prints readable
// lines, and reports a failure on standard error as "mirelo: (code) text".
//
// Exit status: 0 done; 1 the driver or the terminal reported a failure (or a
// file could not be used); 2 bad usage.
#include <ostream>
#include <string>
#include <vector>

namespace mirelo::shell {

struct CommandContext {
  std::vector<std::string> args;  // after the command name, UTF-8, as given
  std::ostream& out;
  std::ostream& err;
  // Standard output is a terminal: progress is drawn as a bar in one line.
  bool outIsTerminal = false;
};

using CommandHandler = int (*)(const CommandContext&);

int runDevicesCommand(const CommandContext& context);
int runServerCommand(const CommandContext& context);
int runStatusCommand(const CommandContext& context);
int runSearchCommand(const CommandContext& context);
int runFirmwareCommand(const CommandContext& context);
int runTablesCommand(const CommandContext& context);
int runDumpCommand(const CommandContext& context);
int runDisplayCommand(const CommandContext& context);
int runSetIpCommand(const CommandContext& context);
int runLockCommand(const CommandContext& context);
int runUnlockCommand(const CommandContext& context);
int runResetCommand(const CommandContext& context);
int runPropertiesCommand(const CommandContext& context);

extern const char* const kDevicesHelp;
extern const char* const kServerHelp;
extern const char* const kStatusHelp;
extern const char* const kSearchHelp;
extern const char* const kFirmwareHelp;
extern const char* const kTablesHelp;
extern const char* const kDumpHelp;
extern const char* const kDisplayHelp;
extern const char* const kSetIpHelp;
extern const char* const kLockHelp;
extern const char* const kUnlockHelp;
extern const char* const kResetHelp;
extern const char* const kPropertiesHelp;

}  // namespace mirelo::shell
