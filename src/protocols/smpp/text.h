// Text conversions between the gateway's UTF-8 and what short_message holds:
// GSM 03.38 default alphabet as one septet per octet (the SMPP convention for
// data_coding 0), UCS-2 big-endian (UTF-16 for characters outside the BMP),
// Latin-1 and ASCII; plus unpacking of packed septets (the gateway's form for
// 7-bit segments, hexadecimal in the request file).
//
// Conversions never fail: a character the target cannot hold becomes '?',
// malformed input decodes to U+FFFD. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vek::smpp {

// What a data_coding value means for the octets of short_message.
enum class Alphabet { kGsm7, kAscii, kLatin1, kUcs2, kBinary };
Alphabet alphabetOf(uint8_t data_coding);

std::string utf8ToGsm(std::string_view utf8);
std::string gsmToUtf8(std::string_view septets);
std::string utf8ToUcs2(std::string_view utf8);
std::string ucs2ToUtf8(std::string_view ucs2);
std::string utf8ToLatin1(std::string_view utf8);
std::string latin1ToUtf8(std::string_view latin1);

// Septets packed GSM-fashion after `header_octets` octets of user data
// header (which only decides the fill bits), one septet per output octet.
// A zero septet that merely pads the last octet is dropped.
std::string unpackSeptets(std::string_view packed, size_t header_octets);

}  // namespace vek::smpp
