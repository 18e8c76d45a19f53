// ondrel: the driver's test program.
#include "testbench/ondrel.h"

int main(int argc, char** argv) {
  return mirelo::runOndrel(argc, argv);
}
