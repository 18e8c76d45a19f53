#include <iostream>

#include "tools/regsvr/regsvr.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return mirelo::regsvr::run(args, std::cout, std::cerr);
}
