#pragma once
// Misbehaviour that tests switch on, so that every fault the driver must
// survive can be produced on loopback. Faults act on the terminal port only;
// the discovery port always answers plainly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace mirelo::termsim {

struct Faults {
  // Drop the reply to every n-th request (counted from the moment the fault
  // is set; 1 drops all, 0 none).
  unsigned dropEvery = 0;
  // Send each reply this much later (other requests are still served meanwhile).
  unsigned delayMs = 0;
  // Answer these commands with [command, error byte] and leave the state alone.
  std::map<uint8_t, uint8_t> errorFor;
  // Put this byte in place of the echoed command code.
  std::optional<uint8_t> wrongCommand;
  // Cut replies to at most this many bytes (0: an empty datagram over UDP,
  // nothing at all over TCP).
  std::optional<size_t> truncateTo;
  // 0xC2 is answered with success but the terminal stays in programming mode.
  bool stayInProgramming = false;
  // TCP: close the connection once the reply to a request has gone out (or
  // would have, when it is dropped).
  bool closeAfterRequest = false;
  // TCP: send a reply as two segments, splitPauseMs apart (replies of at
  // least two bytes; the first segment is the first half).
  bool splitReply = false;
  unsigned splitPauseMs = 20;
  // When set, dropEvery, delayMs, wrongCommand, truncateTo, closeAfterRequest
  // and splitReply apply to this command only (and only its requests count
  // for dropEvery).
  std::optional<uint8_t> onlyCommand;
  // The faults act on one request, the first they apply to, and are then
  // all cleared (a reply that comes late once).
  bool once = false;

  bool appliesTo(uint8_t command) const { return !onlyCommand || *onlyCommand == command; }
};

}  // namespace mirelo::termsim
