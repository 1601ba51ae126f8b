// User data headers: the information elements in front of an SMS's user
// data. Inside the gateway a header travels as upper-case hexadecimal text,
// its length octet first ("050003A70201": length 5, element 00 of length 3,
// reference A7, 2 segments, this is segment 1).
//
// The elements this file knows by value:
//   00  concatenation, 8-bit reference:  reference, total, number
//   08  concatenation, 16-bit reference: reference (high octet first), total, number
//   05  application ports, 16-bit:       destination high, low, source high, low
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::encoding {

inline constexpr uint8_t kIeiConcat8Bit = 0x00;
inline constexpr uint8_t kIeiConcat16Bit = 0x08;
inline constexpr uint8_t kIeiApplicationPorts = 0x05;
// Octets of a whole header made of one concatenation element.
inline constexpr size_t kConcatHeaderOctets8Bit = 6;
inline constexpr size_t kConcatHeaderOctets16Bit = 7;
// The longest received header that is still looked at, in octets.
inline constexpr size_t kMaxInboundHeaderOctets = 399;

// The concatenation element with its identifier and length octets:
// "0003%02X%02X%02X" (8-bit) or "0804%04X%02X%02X" (16-bit reference; the
// 8-bit form keeps the reference's low octet).
std::string concatenationElement(uint16_t reference, unsigned total, unsigned number,
                                 bool reference_16bit);
// The same appended to `out`.
void appendConcatenationElement(std::string* out, uint16_t reference, unsigned total,
                                unsigned number, bool reference_16bit);
// A whole header holding only that element: "050003..." or "060804...".
std::string concatenationHeader(uint16_t reference, unsigned total, unsigned number,
                                bool reference_16bit);
// A whole header holding only the 16-bit port element: "060504%02X%02X%02X%02X".
std::string applicationPortHeader(uint16_t destination, uint16_t source);

// What a received header says about joining and ports.
struct InboundHeader {
  bool valid = true;     // false: a bad hexadecimal digit or more than 399 octets
  bool segment = false;  // concatenation information present (and number <= total)
  uint32_t reference = 0;
  unsigned total = 0;
  unsigned number = 0;
  bool has_destination_port = false;
  bool has_source_port = false;
  uint16_t destination_port = 0;
  uint16_t source_port = 0;
};
// Reads a received header: element 00 of length 3 or more gives an 8-bit
// reference, total and number; 08 of length 4 or more a 16-bit reference,
// total and number; 05 of length 2 or more the destination port, of length
// 4 or more the source port too. A segment number of 0, a total of 0 or a
// number above the total cancels the concatenation information. Elements
// are read up to the header's own length octet; one that runs past the end
// ends the walk. Empty text is a valid header that says nothing.
InboundHeader parseInboundHeader(std::string_view udh_hex);

// The elements of an outbound header other than concatenation (00 and 08),
// each with its identifier and length octets, as raw octets. The header
// must be well formed: hexadecimal pairs, a length octet that matches the
// octets that follow it, and elements that end exactly there. Empty text
// gives no elements.
platform::Result<std::string> headerElementsWithoutConcatenation(std::string_view udh_hex);

}  // namespace vek::encoding
