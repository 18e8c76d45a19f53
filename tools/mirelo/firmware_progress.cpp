#include "tools/mirelo/firmware_progress.h"

#include <optional>
#include <string>

#include "platform/format.h"

namespace mirelo::shell {
namespace {

constexpr std::string_view kSent = "UDP: -> ";
constexpr std::string_view kReceived = "UDP: <- ";
constexpr int kProgramBlock = 0xC1;
const std::string kSeparator(60, '-');

// The byte at position index of a data line's "AB CD EF" text.
std::optional<int> byteAt(std::string_view hex, size_t index) {
  size_t at = index * 3;
  if (at + 2 > hex.size() || (at + 2 < hex.size() && hex[at + 2] != ' ')) return std::nullopt;
  // The log writes upper-case digits only.
  int high = hexDigitValue(hex[at], HexCase::Upper),
      low = hexDigitValue(hex[at + 1], HexCase::Upper);
  if (high < 0 || low < 0) return std::nullopt;
  return high * 16 + low;
}

}  // namespace

void FirmwareProgress::onLogLine(std::string_view line) {
  if (line.ends_with(kSeparator)) {
    // The reply to the frame is complete.
    if (pending_ > 0) {
      confirmed_ = pending_;
      pending_ = 0;
      if (onBlock_) onBlock_(confirmed_);
    }
    frameStarts_ = true;
    return;
  }
  if (size_t received = line.find(kReceived); received != std::string_view::npos) {
    if (!replyStarts_) return;
    replyStarts_ = false;
    std::string_view hex = line.substr(received + kReceived.size());
    if (byteAt(hex, 0) != kProgramBlock || byteAt(hex, 1) != 0) pending_ = 0;
    return;
  }
  size_t sent = line.find(kSent);
  if (sent == std::string_view::npos || !frameStarts_) return;
  frameStarts_ = false;
  replyStarts_ = true;
  std::string_view hex = line.substr(sent + kSent.size());
  std::optional<int> command = byteAt(hex, 0), zero = byteAt(hex, 1), low = byteAt(hex, 2),
                     high = byteAt(hex, 3);
  pending_ = command == kProgramBlock && zero == 0 && low && high ? *high * 256 + *low : 0;
}

}  // namespace mirelo::shell
