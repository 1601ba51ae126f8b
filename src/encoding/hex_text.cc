#include "encoding/hex_text.h"

#include "platform/byte_io.h"

namespace vek::encoding {

uint32_t HexStringToInt(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    const int d = hexDigitValue(c);
    if (d < 0) break;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return value;
}

uint8_t HexPairToByte(std::string_view* cursor) {
  uint8_t value = 0;
  for (int k = 0; k < 2 && !cursor->empty(); ++k) {
    const int d = hexDigitValue(cursor->front());
    if (d < 0) break;
    value = static_cast<uint8_t>((value << 4) | d);
    cursor->remove_prefix(1);
  }
  return value;
}

std::vector<uint8_t> hexToOctets(std::string_view hex) {
  std::vector<uint8_t> out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = hexDigitValue(hex[i]);
    const int lo = hexDigitValue(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    out.push_back(static_cast<uint8_t>((hi << 4) | lo));
  }
  return out;
}

std::string octetsToHex(const uint8_t* data, size_t size) {
  return platform::toHex(std::span<const uint8_t>(data, size));
}

}  // namespace vek::encoding
