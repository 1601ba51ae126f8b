// Septets packed into octets the GSM 03.38 way (least significant bit
// first), written and read as upper-case hexadecimal text.
//
// The fill offset is the number of octets that precede the text in the
// user data (the user data header with its length octet); only its value
// modulo 7 matters. Offset k (1-6) puts 7-k zero fill bits before the first
// septet so that the text starts on a septet boundary after the header;
// offset 0 (and 7) needs none.
//
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vek::encoding {

inline constexpr size_t kMaxUnpackedSeptets = 8192;

// Fill bits before the first septet for a fill offset.
inline unsigned fillBitsForOffset(size_t fill_offset) {
  return static_cast<unsigned>((7 - fill_offset % 7) % 7);
}

// Packs septets (the low seven bits of each byte) as "%02X" octets; a
// partly filled last octet has its remaining bits 0.
std::string PackGSMSeptetsToHex(std::string_view septets, size_t fill_offset);

// Reverses PackGSMSeptetsToHex at the same phase: reads complete pairs of
// hexadecimal digits (stopping at the first pair that is not one), skips
// the fill bits and returns at most `capacity` septets. When the octets
// end exactly on a septet boundary and the last septet is 0, it is the
// padding of a full last octet and is dropped (not a commercial at).
std::string UnpackHexToGSMSeptets(std::string_view hex, size_t fill_offset,
                                  size_t capacity = kMaxUnpackedSeptets);

// The same over raw octets (all of them; there is no bad pair to stop at).
std::string UnpackGSMSeptets(std::string_view octets, size_t fill_offset,
                             size_t capacity = kMaxUnpackedSeptets);

// Packed hexadecimal text straight to Windows-1252 text.
std::string GSMHexToLatin1String(std::string_view hex, size_t fill_offset);

}  // namespace vek::encoding
