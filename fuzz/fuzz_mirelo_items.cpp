// mirelo's items ("Name=Value", "Name", "wait=MS") and its text escapes: any
// line parses or is refused as bad usage; escaped text reads back as it was;
// and no control character passes the output streams.
#include <sstream>

#include "driver/automation/vistel.h"
#include "fuzz/fuzz_support.h"
#include "platform/cp1251.h"
#include "tools/mirelo/item_runner.h"
#include "tools/mirelo/safe_output.h"
#include "tools/mirelo/usage_error.h"
#include "tools/mirelo/value_text.h"

namespace mirelo::shell {
namespace {

struct Shell {
  std::ostringstream out;
  Report report{out, false};
  ComPtr<IVistel4> object;
  std::unique_ptr<ItemRunner> runner;
  Shell() {
    setenv("MIRELO_REGISTRY", (fuzz::scratchFolder() + "/registry.db").c_str(), 1);
    setenv("MIRELO_LOOPBACK_ONLY", "1", 1);
    object = CreateVistel();
    runner = std::make_unique<ItemRunner>(*object.as<IDispatch>(), report);
  }
};

}  // namespace
}  // namespace mirelo::shell

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  using namespace mirelo::shell;
  static Shell shell;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    shell.runner->parse(text);
  } catch (const UsageError&) {
  }
  try {
    std::u16string value = unescapeText(text);
    FUZZ_REQUIRE(unescapeText(escapeText(value)) == value);
  } catch (const UsageError&) {
  }
  std::ostringstream sink;
  {
    EscapingStream safe(sink);
    safe << text;
  }
  for (char c : sink.str())
    FUZZ_REQUIRE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F));
  return 0;
}
