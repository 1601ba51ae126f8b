// Hexadecimal text helpers: binary data and user data headers travel as
// upper-case hexadecimal ("%02X" per octet) inside the gateway.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::encoding {

// 0-15 for a hexadecimal digit (either case), -1 otherwise.
inline int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of the leading hexadecimal digits (0 when there are none).
// Longer runs keep their last eight digits, as a 32-bit value would.
uint32_t HexStringToInt(std::string_view text);

// One byte from up to two hexadecimal digits at the front of `*cursor`,
// which advances past the digits it used; no digit gives 0 and leaves the
// cursor where it was.
uint8_t HexPairToByte(std::string_view* cursor);

// The octets of the leading complete pairs of hexadecimal digits; stops at
// the first pair that is not two digits.
std::vector<uint8_t> hexToOctets(std::string_view hex);

// Upper-case "%02X" per octet.
std::string octetsToHex(const uint8_t* data, size_t size);
// Appends the "%02X" of one octet (the low eight bits of `octet`).
inline void appendHexOctet(std::string* out, unsigned octet) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out->push_back(kDigits[(octet >> 4) & 0xF]);
  out->push_back(kDigits[octet & 0xF]);
}

}  // namespace vek::encoding
