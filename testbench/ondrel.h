#pragma once
// The program: --help, or the window.
namespace mirelo {

extern const char16_t* const kOndrelHelp;
int runOndrel(int argc, char** argv);

}  // namespace mirelo
