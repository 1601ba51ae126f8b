#include "encoding/utf8.h"

#include <cstring>

#include "encoding/hex_text.h"

namespace vek::encoding {
namespace {

// Windows-1252 bytes 0x80-0x9F; the rest of the code page is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

bool isContinuation(uint8_t b) {
  return (b & 0xC0) == 0x80;
}
bool isHighSurrogate(char32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

char32_t windows1252ToUnicode(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

char32_t decodeUtf8Char(std::string_view text, size_t* pos) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = *pos;
  const uint8_t lead = s[i];
  if (lead < 0x80) {
    *pos = i + 1;
    return lead;
  }
  size_t len;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    // Continuation byte, C0/C1 (always overlong) or F5 and above.
    *pos = i + 1;
    return windows1252ToUnicode(lead);
  }
  if (n - i < len) {
    *pos = i + 1;
    return windows1252ToUnicode(lead);
  }
  for (size_t k = 1; k < len; ++k) {
    const uint8_t b = s[i + k];
    if (!isContinuation(b)) {
      *pos = i + 1;
      return windows1252ToUnicode(lead);
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    *pos = i + 1;
    return windows1252ToUnicode(lead);
  }
  *pos = i + len;
  return cp;
}

size_t utf8Length(char32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  if (cp <= 0x10FFFF) return 4;
  return 3;  // written as U+FFFD
}

void appendUtf8(std::string* out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementChar;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string UTF8ToUCS2(std::string_view utf8, size_t capacity) {
  std::u16string out;
  if (capacity == 0) return out;
  const size_t max_units = capacity - 1;
  size_t pos = 0;
  while (pos < utf8.size() && utf8[pos] != '\0') {
    const char32_t cp = decodeUtf8Char(utf8, &pos);
    if (cp >= 0x10000) {
      // Both halves or neither: a lone half would turn into U+FFFD later.
      if (out.size() + 2 > max_units) break;
      const char32_t v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      if (out.size() + 1 > max_units) break;
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string UCS2ToUTF8(std::u16string_view ucs2, size_t capacity) {
  std::string out;
  const size_t stop = capacity == 0 ? SIZE_MAX : (capacity > 7 ? capacity - 7 : 0);
  out.reserve(ucs2.size() < 4096 ? ucs2.size() * 3 : 4096);
  for (size_t i = 0; i < ucs2.size() && ucs2[i] != 0; ++i) {
    if (out.size() >= stop) break;
    char32_t u = ucs2[i];
    if (isHighSurrogate(u) && i + 1 < ucs2.size() && isLowSurrogate(ucs2[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (ucs2[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(&out, u);
  }
  return out;
}

std::string UCS2ToHex(std::u16string_view units) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex(4 * units.size(), '0');
  char* p = hex.data();
  for (char16_t u : units) {
    p[0] = kDigits[(u >> 12) & 0xF];
    p[1] = kDigits[(u >> 8) & 0xF];
    p[2] = kDigits[(u >> 4) & 0xF];
    p[3] = kDigits[u & 0xF];
    p += 4;
  }
  return hex;
}

std::string UTF8ToUCS2Hex(std::string_view utf8) {
  return UCS2ToHex(UTF8ToUCS2(utf8));
}

std::string UCS2HexToUTF8(std::string_view hex) {
  std::u16string units;
  units.reserve(hex.size() / 4);
  for (size_t i = 0; i + 4 <= hex.size(); i += 4) {
    uint32_t v = 0;
    bool ok = true;
    for (size_t k = 0; k < 4; ++k) {
      const int d = hexDigitValue(hex[i + k]);
      if (d < 0) {
        ok = false;
        break;
      }
      v = (v << 4) | static_cast<uint32_t>(d);
    }
    if (!ok || v == 0) break;
    units.push_back(static_cast<char16_t>(v));
  }
  return UCS2ToUTF8(units);
}

bool TextHas8BitBytes(std::string_view text) {
  // Eight bytes at a time: received texts are long runs of 7-bit bytes.
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if (word & 0x8080808080808080ull) return true;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<uint8_t>(text[i]) & 0x80) return true;
  }
  return false;
}

uint32_t ParseCharacterValue(std::string_view text) {
  std::string_view rest = text;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    rest.remove_prefix(2);
  }
  size_t digits = 0;
  while (digits < rest.size() && hexDigitValue(rest[digits]) >= 0) ++digits;
  if (digits >= 2) return HexStringToInt(rest) & 0xFFFF;
  if (rest.empty()) rest = text;
  if (rest.empty()) return 0;
  size_t pos = 0;
  return decodeUtf8Char(rest, &pos);
}

}  // namespace vek::encoding
