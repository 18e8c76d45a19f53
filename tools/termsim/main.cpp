#include <iostream>

#include "tools/termsim/cli.h"

int main(int argc, char** argv) {
  return termsim::runCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
