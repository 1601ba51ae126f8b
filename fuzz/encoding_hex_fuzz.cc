// Hexadecimal unpacking: arbitrary text as packed septets at every fill
// offset, and the hexadecimal helpers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"
#include "encoding/septet_packing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek::encoding;
  if (size == 0) return 0;
  const size_t offset = data[0] % 16;
  const std::string_view hex(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t capacity = 1 + (size > 1 ? data[1] : 0) * 4;
  const std::string septets = UnpackHexToGSMSeptets(hex, offset, capacity);
  if (septets.size() > capacity) __builtin_trap();
  for (char c : septets) {
    if (static_cast<uint8_t>(c) > 0x7F) __builtin_trap();
  }
  // What was unpacked packs back to a prefix-compatible text.
  const std::string again = UnpackHexToGSMSeptets(PackGSMSeptetsToHex(septets, offset), offset);
  if (again.size() > septets.size() || again != septets.substr(0, again.size())) __builtin_trap();
  (void)GSMHexToLatin1String(hex, offset);
  (void)GSMToUTF8String(hex);
  std::string_view cursor = hex;
  while (!cursor.empty()) {
    const size_t before = cursor.size();
    (void)HexPairToByte(&cursor);
    if (cursor.size() == before) cursor.remove_prefix(1);
  }
  (void)HexStringToInt(hex);
  (void)hexToOctets(hex);
  return 0;
}
