// Terminal messages on the server side, as kavrin serves them: any block a
// terminal sends is a message or nothing; a message is answered from a price
// list with one answer frame of two 30-character lines, which a terminal
// reads back as those lines.
#include "driver/protocol/custom_driver.h"
#include "fuzz/fuzz_support.h"
#include "platform/exception.h"
#include "responder/price_list.h"
#include "tools/termsim/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirelo;
  fuzz::Input in(data, size);
  // The price list up to the first zero byte, then the block.
  TPriceList list;
  try {
    list.Assign(TPriceList::ParseText(in.until('\0'), 1000));
  } catch (const Exception&) {
    return 0;  // more rows than allowed: refused as a whole, by design
  }
  std::string_view block = in.rest();
  std::string line1, line2, error;
  termsim::parseAnswer(block, line1, line2, error);
  std::optional<std::string> payload = TCustomDriver::TerminalMessagePayload(block);
  if (!payload) {
    FUZZ_REQUIRE(block.size() < 2 || static_cast<uint8_t>(block[0]) != 0xAB);
    return 0;
  }
  TPriceAnswer answer = answerFor(list, TNotFoundLines{}, *payload);
  const TCustomDriver::TAnswerFrame built = TCustomDriver::AnswerFrame(answer.Line1, answer.Line2);
  std::string frame(built.data(), built.size());
  FUZZ_REQUIRE(frame.size() == 63 && static_cast<uint8_t>(frame[2]) == 60);
  FUZZ_REQUIRE(termsim::parseAnswer(frame, line1, line2, error) == termsim::AnswerStatus::Complete);
  auto shown = [](const std::string& line) {
    std::string cut = line.substr(0, 30);
    return cut + std::string(30 - cut.size(), ' ');
  };
  FUZZ_REQUIRE(frame.substr(3) == shown(answer.Line1) + shown(answer.Line2));
  return 0;
}
