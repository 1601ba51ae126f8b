// GSM7ToUTF8String with a random user data header and random septets: the
// first byte picks the header length, the header bytes follow (often with
// shift elements for a random language), the rest is packed user data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/hex_text.h"
#include "encoding/shift_tables.h"
#include "encoding/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek::encoding;
  if (size == 0) return 0;
  size_t header_len = data[0] % 24;
  if (header_len > size - 1) header_len = size - 1;
  const uint8_t* header = data + 1;
  std::string udh = octetsToHex(header, header_len);
  if (header_len >= 4 && (data[0] & 0x80)) {
    // A well-formed header announcing shift tables of the given languages.
    char buf[32];
    snprintf(buf, sizeof buf, "062401%02X2501%02X", header[1] % 16, header[2] % 16);
    udh = buf;
  }
  const std::string user_data = octetsToHex(data + 1 + header_len, size - 1 - header_len);
  const std::string text = GSM7ToUTF8String(udh, user_data);
  // The output is well-formed UTF-8.
  if (UCS2ToUTF8(UTF8ToUCS2(text, SIZE_MAX)) != text) __builtin_trap();
  (void)GSM7ToUTF8String(std::string_view(reinterpret_cast<const char*>(data), size), user_data);
  // And what a language encodes decodes again.
  std::string septets;
  (void)UTF8ToShiftTableString(data[0] % 16, text, &septets, 200);
  return 0;
}
