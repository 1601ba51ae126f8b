#include "protocols/smpp/text.h"

#include <array>

namespace vek::smpp {

namespace {

// GSM 03.38 default alphabet, code -> Unicode (0x1B is the escape).
constexpr std::array<uint16_t, 128> kGsmToUnicode = {
    0x0040, 0x00A3, 0x0024, 0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC, 0x00F2, 0x00C7, 0x000A, 0x00D8,
    0x00F8, 0x000D, 0x00C5, 0x00E5, 0x0394, 0x005F, 0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,
    0x03A3, 0x0398, 0x039E, 0x001B, 0x00C6, 0x00E6, 0x00DF, 0x00C9, 0x0020, 0x0021, 0x0022, 0x0023,
    0x00A4, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F, 0x00A1, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,
    0x00BF, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B,
    0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,
};

struct Extension {
  uint8_t code;
  uint16_t unicode;
};
constexpr Extension kExtensions[] = {
    {0x0A, 0x000C}, {0x14, 0x005E}, {0x28, 0x007B}, {0x29, 0x007D}, {0x2F, 0x005C},
    {0x3C, 0x005B}, {0x3D, 0x007E}, {0x3E, 0x005D}, {0x40, 0x007C}, {0x65, 0x20AC},
};

constexpr uint32_t kReplacement = 0xFFFD;

// Next code point of UTF-8 text; malformed sequences give U+FFFD and
// consume one octet.
uint32_t nextCodePoint(std::string_view s, size_t* i) {
  auto b0 = static_cast<uint8_t>(s[*i]);
  size_t n = b0 < 0x80           ? 1
             : (b0 >> 5) == 0x6  ? 2
             : (b0 >> 4) == 0xE  ? 3
             : (b0 >> 3) == 0x1E ? 4
                                 : 0;
  if (n == 0 || *i + n > s.size()) {
    ++*i;
    return b0 < 0x80 ? b0 : kReplacement;
  }
  uint32_t cp = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (size_t k = 1; k < n; ++k) {
    auto b = static_cast<uint8_t>(s[*i + k]);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  *i += n;
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void appendUtf8(std::string* out, uint32_t cp) {
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

// Code point -> GSM code; 0x100 + ext for an escape pair; -1 when absent.
int gsmCode(uint32_t cp) {
  if (cp == 0x00E7) return 0x09;  // the alphabet only has the capital; c cedilla maps onto it
  for (int c = 0; c < 128; ++c)
    if (c != 0x1B && kGsmToUnicode[static_cast<size_t>(c)] == cp) return c;
  for (const auto& e : kExtensions)
    if (e.unicode == cp) return 0x100 | e.code;
  return -1;
}

// The common ASCII letters and digits map to themselves; a 128-entry cache
// keeps the hot path (plain text) free of the table scan.
const std::array<int16_t, 128>& asciiToGsm() {
  static const std::array<int16_t, 128> table = [] {
    std::array<int16_t, 128> t{};
    for (uint32_t cp = 0; cp < 128; ++cp) t[cp] = static_cast<int16_t>(gsmCode(cp));
    return t;
  }();
  return table;
}

}  // namespace

Alphabet alphabetOf(uint8_t dcs) {
  // SMPP's own values for the low group (bits 7-4 zero).
  switch (dcs) {
    case 0x00:
      return Alphabet::kGsm7;
    case 0x01:
      return Alphabet::kAscii;
    case 0x03:
      return Alphabet::kLatin1;
    case 0x08:
      return Alphabet::kUcs2;
    default:
      break;
  }
  if (dcs < 0x10) return Alphabet::kBinary;  // octet data and national character sets
  if (dcs < 0x80) {
    // GSM general data coding (0x40-0x7F: the same, marked for deletion).
    if (dcs & 0x20) return Alphabet::kBinary;  // compressed
    switch ((dcs >> 2) & 0x03) {
      case 1:
        return Alphabet::kBinary;
      case 2:
        return Alphabet::kUcs2;
      default:
        return Alphabet::kGsm7;
    }
  }
  if (dcs < 0xC0) return Alphabet::kBinary;                   // reserved groups
  if (dcs < 0xE0) return Alphabet::kGsm7;                     // message waiting, discard / store
  if (dcs < 0xF0) return Alphabet::kUcs2;                     // message waiting, UCS-2
  return (dcs & 0x04) ? Alphabet::kBinary : Alphabet::kGsm7;  // data coding / message class
}

std::string utf8ToGsm(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto& ascii = asciiToGsm();
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = nextCodePoint(utf8, &i);
    int code = cp < 128 ? ascii[cp] : gsmCode(cp);
    if (code < 0) code = 0x3F;
    if (code & 0x100) out.push_back(0x1B);
    out.push_back(static_cast<char>(code & 0x7F));
  }
  return out;
}

std::string gsmToUtf8(std::string_view septets) {
  std::string out;
  out.reserve(septets.size() + septets.size() / 4);
  for (size_t i = 0; i < septets.size(); ++i) {
    auto c = static_cast<uint8_t>(septets[i]);
    if (c >= 0x80) {
      // Not a septet: some centres send Latin-1 under data_coding 0.
      appendUtf8(&out, c);
      continue;
    }
    if (c == 0x1B) {
      if (i + 1 >= septets.size()) {
        out.push_back(' ');
        continue;
      }
      auto e = static_cast<uint8_t>(septets[++i]);
      uint32_t cp = 0;
      for (const auto& x : kExtensions)
        if (x.code == e) cp = x.unicode;
      // An unknown extension shows the default-alphabet character.
      if (cp == 0) cp = e < 0x80 && e != 0x1B ? kGsmToUnicode[e] : ' ';
      appendUtf8(&out, cp);
      continue;
    }
    appendUtf8(&out, kGsmToUnicode[c]);
  }
  return out;
}

std::string utf8ToUcs2(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](uint32_t u) {
    out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  };
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = nextCodePoint(utf8, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 | (cp >> 10));
      put(0xDC00 | (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string ucs2ToUtf8(std::string_view ucs2) {
  std::string out;
  out.reserve(ucs2.size() + ucs2.size() / 2);
  size_t n = ucs2.size() / 2;
  auto unit = [&ucs2](size_t k) {
    return static_cast<uint32_t>((static_cast<uint8_t>(ucs2[2 * k]) << 8) |
                                 static_cast<uint8_t>(ucs2[2 * k + 1]));
  };
  for (size_t k = 0; k < n; ++k) {
    uint32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = kReplacement;
    }
    appendUtf8(&out, u);
  }
  return out;
}

std::string utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = nextCodePoint(utf8, &i);
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
  }
  return out;
}

std::string latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (char c : latin1) appendUtf8(&out, static_cast<uint8_t>(c));
  return out;
}

std::string unpackSeptets(std::string_view packed, size_t header_octets) {
  size_t fill = (7 - (header_octets * 8) % 7) % 7;
  size_t bits = packed.size() * 8;
  if (bits < fill) return std::string();
  size_t count = (bits - fill) / 7;
  std::string out;
  out.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    size_t pos = fill + 7 * k;
    size_t byte = pos / 8, shift = pos % 8;
    unsigned v = static_cast<uint8_t>(packed[byte]) >> shift;
    if (shift > 1 && byte + 1 < packed.size())
      v |= static_cast<unsigned>(static_cast<uint8_t>(packed[byte + 1])) << (8 - shift);
    out.push_back(static_cast<char>(v & 0x7F));
  }
  if (!out.empty() && out.back() == 0 && (bits - fill) % 7 == 0) out.pop_back();
  return out;
}

}  // namespace vek::smpp
