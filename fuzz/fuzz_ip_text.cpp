// IP address texts: the terminal's rules (tables, SetIPAddress, ClientIP)
// and the socket layer's strict dotted form. What one accepts reads back the
// same after it is written out.
#include "driver/errors/driver_error.h"
#include "driver/tables/table_records.h"
#include "fuzz/fuzz_support.h"
#include "platform/sockets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  std::string text(reinterpret_cast<const char*>(data), size);
  IPBytes bytes{};
  bool valid = tryParseIPText(text, bytes);
  try {
    IPBytes raised = parseIPText(text);
    FUZZ_REQUIRE(valid && raised == bytes);
  } catch (const EDriverError& e) {
    FUZZ_REQUIRE(!valid && e.Code() == ResultCode::InvalidValue);
  }
  if (valid) {
    uint32_t value =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    IPBytes again{};
    FUZZ_REQUIRE(tryParseIPText(ipText(value), again) && again == bytes);
  }
  uint32_t address = ws::inetAddr(text);
  if (address != INADDR_NONE) FUZZ_REQUIRE(ws::inetAddr(ws::inetNtoa(address)) == address);
  return 0;
}
