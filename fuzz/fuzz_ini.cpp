// INI profile files (settings, table files): any file reads, and what is
// written into it reads back exactly, whatever else the file holds.
#include "fuzz/fuzz_support.h"
#include "platform/exception.h"
#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  fuzz::Input in(data, size);
  // The first three lines name a section, a key and a value to write.
  std::string section(in.until('\n')), key(in.until('\n')), value(in.until('\n'));
  std::string path = fuzz::writeScratch("profile.ini", in.rest());
  IniFile file(path);
  for (const std::string& name : file.ReadSections()) {
    for (const std::string& line : file.ReadSection(name)) {
      std::string k = line.substr(0, line.find('='));
      file.ReadString(name, k, "");
    }
  }
  try {
    file.WriteString(section, key, value);
  } catch (const Exception&) {
    return 0;  // a name or value that would break the line structure
  }
  FUZZ_REQUIRE(file.ReadString(section, key, "\x01") == value);
  std::string reread = fuzz::writeScratch("profile2.ini", file.Text());
  FUZZ_REQUIRE(IniFile(reread).ReadString(section, key, "\x01") == value);
  return 0;
}
