// Hex command text as a host types it (CommandData, Line1Params), and the
// strict hex of files: any text converts, and every byte string survives
// being written as hex and read back.
#include "fuzz/fuzz_support.h"
#include "platform/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string bytes = hexTextToBytes(text);
  FUZZ_REQUIRE(bytes.size() <= text.size());
  FUZZ_REQUIRE(hexTextToBytes(bytesToHex(bytes)) == bytes);
  FUZZ_REQUIRE(parseHexBytes(bytesToHex(text, ""), "") == std::string(text));
  FUZZ_REQUIRE(parseHexBytes(bytesToHex(text, "-"), "-") == std::string(text));
  if (auto strict = parseHexBytes(text, " -")) FUZZ_REQUIRE(strict->size() <= text.size() / 2);
  return 0;
}
