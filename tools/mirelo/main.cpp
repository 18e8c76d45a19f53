// mirelo: the command-line automation shell (see cli.h).
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/mirelo/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return mirelo::shell::runCli(args, STDIN_FILENO, std::cout, std::cerr);
}
