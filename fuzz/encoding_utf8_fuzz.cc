// UTF-8 decoding and everything built on it: arbitrary bytes as text to
// UCS-2, GSM septets, the loss test, Greek folding and Windows-1252.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "encoding/gsm_alphabet.h"
#include "encoding/utf8.h"
#include "encoding/windows1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek::encoding;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t capacity = size == 0 ? 1 : 1 + data[0] % 64;
  const std::u16string units = UTF8ToUCS2(text, capacity);
  if (units.size() >= capacity) __builtin_trap();
  // Decoding then encoding gives well-formed UTF-8 that decodes the same.
  const std::string utf8 = UCS2ToUTF8(UTF8ToUCS2(text));
  if (UCS2ToUTF8(UTF8ToUCS2(utf8)) != utf8) __builtin_trap();
  const std::string cut = UCS2ToUTF8(units, capacity + 7);
  if (cut.size() > capacity + 3) __builtin_trap();

  const std::string septets = UTF8ToGSMString(text, capacity);
  if (septets.size() > capacity) __builtin_trap();
  for (char c : septets) {
    if (static_cast<uint8_t>(c) > 0x7F) __builtin_trap();
  }
  (void)GSMToUTF8String(septets);
  (void)GSMStringLength(text);
  (void)UTF8StringRequiresUnicodeEncoding(text);
  std::string folded(text);
  FoldGreekLookalikes(&folded, capacity);
  (void)Windows1252ToUTF8(UTF8ToWindows1252(text));
  (void)UTF8ToUCS2Hex(text);
  (void)UCS2HexToUTF8(text);
  (void)ParseCharacterValue(text);
  return 0;
}
