// Data coding scheme tests (GSM 03.38 coding groups): which alphabet the
// user data of an SMS is in.
//
// Groups 0x00-0x3F and 0x40-0x7F (the automatic-deletion group) share one
// layout: bit 5 set means compressed, and compressed data is neither
// alphabet (it counts as 8-bit data); otherwise bits 3-2 give the alphabet
// (00 default alphabet, 01 8-bit, 10 UCS-2, 11 reserved and read as the
// default alphabet). 0xC0-0xDF (message waiting) is the default alphabet,
// 0xE0-0xEF (message waiting, UCS-2) is UCS-2, and 0xF0-0xFF is the default
// alphabet when bit 2 is clear. Everything else is 8-bit data.
#pragma once

#include <cstdint>

namespace vek::encoding {

bool DCSIsGSM7Bit(uint8_t dcs);
bool DCSIsUCS2(uint8_t dcs);

}  // namespace vek::encoding
