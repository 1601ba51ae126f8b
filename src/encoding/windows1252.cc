#include "encoding/windows1252.h"

#include "encoding/utf8.h"

namespace vek::encoding {

std::string Windows1252ToUTF8(std::string_view text, size_t max_units) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  const size_t limit = max_units == 0 ? 0 : max_units - 1;
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (b == 0) break;
    appendUtf8(&out, windows1252ToUnicode(b));
  }
  return out;
}

int unicodeToWindows1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int b = 0x80; b < 0xA0; ++b) {
    if (windows1252ToUnicode(static_cast<uint8_t>(b)) == cp) return b;
  }
  return -1;
}

std::string UTF8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size() && utf8[pos] != '\0') {
    const int b = unicodeToWindows1252(decodeUtf8Char(utf8, &pos));
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

}  // namespace vek::encoding
