#include "encoding/septet_packing.h"

#include <algorithm>

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"

namespace vek::encoding {

namespace {

// "%02X" of every octet, two characters each.
struct HexPairs {
  char text[512];
};
constexpr HexPairs buildHexPairs() {
  HexPairs h{};
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < 256; ++i) {
    h.text[2 * i] = kDigits[i >> 4];
    h.text[2 * i + 1] = kDigits[i & 0xF];
  }
  return h;
}
constexpr HexPairs kHexPairs = buildHexPairs();

// Reverses the packing over the octets `next()` yields (-1: no more; at
// most `max_octets` of them), skipping the fill bits and returning at most
// `capacity` septets. When the octets end exactly on a septet boundary and
// the last septet is 0, it is the padding of a full last octet and is
// dropped.
template <typename NextOctet>
std::string unpackSeptets(NextOctet next, size_t max_octets, size_t fill_offset, size_t capacity) {
  std::string out;
  out.reserve(std::min(capacity, max_octets * 8 / 7));
  const unsigned fill = fillBitsForOffset(fill_offset);
  uint32_t acc = 0;
  unsigned bits = 0;
  size_t total_bits = 0;
  bool skipped_fill = fill == 0;
  while (out.size() < capacity) {
    const int octet = next();
    if (octet < 0) break;
    acc |= static_cast<uint32_t>(octet) << bits;
    bits += 8;
    total_bits += 8;
    if (!skipped_fill) {
      acc >>= fill;
      bits -= fill;
      skipped_fill = true;
    }
    while (bits >= 7 && out.size() < capacity) {
      out.push_back(static_cast<char>(acc & 0x7F));
      acc >>= 7;
      bits -= 7;
    }
  }
  if (!out.empty() && total_bits >= fill && (total_bits - fill) % 7 == 0 &&
      (total_bits - fill) / 7 == out.size() && out.back() == 0) {
    out.pop_back();
  }
  return out;
}

}  // namespace

std::string PackGSMSeptetsToHex(std::string_view septets, size_t fill_offset) {
  const size_t fill = fillBitsForOffset(fill_offset);
  const size_t octets = (fill + 7 * septets.size() + 7) / 8;
  std::string out(octets * 2, '0');
  char* dst = out.data();
  uint64_t acc = 0;  // bits not yet written, lowest first
  unsigned bits = static_cast<unsigned>(fill);
  for (char c : septets) {
    acc |= static_cast<uint64_t>(static_cast<uint8_t>(c) & 0x7F) << bits;
    bits += 7;
    if (bits >= 8) {
      const char* pair = &kHexPairs.text[2 * (acc & 0xFF)];
      dst[0] = pair[0];
      dst[1] = pair[1];
      dst += 2;
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) {
    const char* pair = &kHexPairs.text[2 * (acc & 0xFF)];
    dst[0] = pair[0];
    dst[1] = pair[1];
  }
  return out;
}

std::string UnpackHexToGSMSeptets(std::string_view hex, size_t fill_offset, size_t capacity) {
  return unpackSeptets(
      [hex, i = size_t{0}]() mutable {
        if (i + 1 >= hex.size()) return -1;
        const int hi = hexDigitValue(hex[i]);
        const int lo = hexDigitValue(hex[i + 1]);
        i += 2;
        return hi < 0 || lo < 0 ? -1 : (hi << 4) | lo;
      },
      hex.size() / 2, fill_offset, capacity);
}

std::string UnpackGSMSeptets(std::string_view octets, size_t fill_offset, size_t capacity) {
  return unpackSeptets(
      [octets, i = size_t{0}]() mutable {
        return i < octets.size() ? static_cast<int>(static_cast<uint8_t>(octets[i++])) : -1;
      },
      octets.size(), fill_offset, capacity);
}

std::string GSMHexToLatin1String(std::string_view hex, size_t fill_offset) {
  return GSMToLatin1String(UnpackHexToGSMSeptets(hex, fill_offset));
}

}  // namespace vek::encoding
