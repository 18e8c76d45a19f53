#pragma once
// The terminal's side of the request/reply protocol: one request frame in,
// one reply frame out, the state changed as the command says. Knows nothing
// of sockets; the server loop carries the frames.
//
// Replies are [command, error byte, data]. Requests too short for their
// command are answered with 211, commands the terminal does not know with 213,
// firmware blocks or an end of programming outside programming mode with 214.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/termsim/faults.h"
#include "tools/termsim/terminal_state.h"

namespace mirelo::termsim {

namespace Command {
constexpr uint8_t TableStruct = 0x2D;
constexpr uint8_t FieldStruct = 0x2E;
constexpr uint8_t ReadData = 0x83;
constexpr uint8_t InitTables = 0xA8;
constexpr uint8_t ShowMessage = 0xAA;
constexpr uint8_t TerminalMessage = 0xAB;  // terminal to host, and the host's answer
constexpr uint8_t SendBarcode = 0xAC;
constexpr uint8_t Messages = 0xAD;
constexpr uint8_t ShowMessage2 = 0xAE;
constexpr uint8_t ShowLine = 0xAF;
constexpr uint8_t SetAddress = 0xB7;
constexpr uint8_t Lock = 0xB9;
constexpr uint8_t Status = 0xBB;
constexpr uint8_t WriteTable = 0xBC;
constexpr uint8_t ReadTable = 0xBD;
constexpr uint8_t StartProgramming = 0xC0;
constexpr uint8_t ProgramBlock = 0xC1;
constexpr uint8_t EndProgramming = 0xC2;
constexpr uint8_t ReadMode = 0xC3;
constexpr uint8_t Reset = 0xC8;
constexpr uint8_t TestExchange = 0xC9;
}  // namespace Command

struct CommandInfo {
  uint8_t code;
  const char* name;  // English, for help texts and logs
};
// Every command the simulated terminal answers, in code order.
const std::vector<CommandInfo>& commandTable();

// The reply to a request; empty for an empty request (nothing to answer).
// Applies the byte-level faults: errorFor, stayInProgramming, wrongCommand
// and truncateTo.
std::string handleRequest(TerminalState& state, std::string_view request,
                          const Faults& faults = {});

// The 29-byte status reply, also sent to discovery requests.
std::string statusReply(const StatusInfo& status);

}  // namespace mirelo::termsim
