#pragma once
// The operations of fuzz_reply, by the command whose reply each one checks
// and decodes; the corpus maker seeds each with a real reply of termsim.
#include <cstdint>

namespace mirelo::fuzz {

// Input of fuzz_reply: operation, flags (bit 0: TCP; bits 1 to 3: the number
// of extra reads), four parameter bytes, the length of each extra read but
// the last, then the reply bytes.
inline constexpr uint8_t kReplyOperations[] = {
    0xBB,  // read status
    0x2D,  // read table structure
    0x2E,  // read field structure
    0xBD,  // read table, split into fields
    0x83,  // read data block
    0xAD,  // read message (repeated)
    0xA8,  // initialise tables
    0xAA,  // show message
    0xAC,  // send barcode
    0xAE,  // show message with parameters (repeated)
    0xAF,  // show line (repeated)
    0xB9,  // lock
    0xBC,  // write table
    0xC8,  // reset
    0xC9,  // test exchange (repeated)
    0xC3,  // mode check
    0x00,  // one frame as it comes (ClientRead)
    0x01,  // send command text (repeated)
};

}  // namespace mirelo::fuzz
