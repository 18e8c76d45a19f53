#pragma once
// mirelo-regsvr: registers or unregisters an in-process server library by
// calling its DllRegisterServer or DllUnregisterServer, as regsvr32 does.
//
//   mirelo-regsvr [-u] [-s] LIBRARY
//     -u  unregister instead of register
//     -s  silent: print nothing on success
//
// Exit status: 0 done; 1 the library did not load, lacks the entry point or
// the entry point failed; 2 bad usage.
#include <ostream>
#include <string>
#include <vector>

namespace mirelo::regsvr {

// args: the arguments after the program name.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirelo::regsvr
