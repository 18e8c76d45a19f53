#pragma once
// The mirelo command line: a table of subcommands, each with its help text.
//
//   mirelo [--json] run ITEM...     items on one new object, then destroy it
//   mirelo [--json] shell           items from standard input, one a line
//   mirelo help [SUBCOMMAND]        (also --help, SUBCOMMAND --help)
//   mirelo devices|server|status|search|firmware|tables|dump|display|
//          set-ip|lock|unlock|reset ...   commands for people (commands.h),
//                                   which take every argument after their name
//
// Exit status: 0 every method returned 0 and every call succeeded; 1 some
// did not (or the object could not be created); 2 bad usage, an unknown
// member or a value that does not parse.
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/mirelo/line_input.h"

namespace mirelo::shell {

// args: the arguments after the program name, UTF-8. shell reads its lines
// from input; the other subcommands ignore it.
int runCli(const std::vector<std::string>& args, LineInput& input, std::ostream& out,
           std::ostream& err);
// shell reads a descriptor, polled together with the message loop.
int runCli(const std::vector<std::string>& args, int inputFd, std::ostream& out, std::ostream& err);
// shell reads a stream; the message loop runs between lines.
int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace mirelo::shell
