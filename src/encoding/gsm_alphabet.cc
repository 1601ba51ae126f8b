#include "encoding/gsm_alphabet.h"

#include <array>

#include "encoding/utf8.h"
#include "foundation/debug_log.h"

namespace vek::encoding {
namespace {

constexpr uint8_t kHyphen = 0x2D;

// GSM default alphabet to ISO-8859-1; the Greek capitals (0x10, 0x12-0x1A)
// and the escape have no Latin-1 form and read as hyphens.
constexpr uint8_t kGsmToLatin1[128] = {
    0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xF9, 0xEC, 0xF2, 0xC7, 0x0A, 0xD8, 0xF8, 0x0D, 0xC5, 0xE5,
    0x2D, 0x5F, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0xC6, 0xE6, 0xDF, 0xC9,
    0x20, 0x21, 0x22, 0x23, 0xA4, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0xA1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xC4, 0xD6, 0xD1, 0xDC, 0xA7,
    0xBF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xE4, 0xF6, 0xF1, 0xFC, 0xE0,
};

// Second byte of the UTF-8 form (after 0xCE) of the Greek capitals at
// codes 0x10 and 0x12-0x1A; 0 where the code is not Greek.
constexpr uint8_t kGreekUtf8Tail[32] = {
    0,    0, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0,
    0x94, 0, 0xA6, 0x93, 0x9B, 0xA9, 0xA0, 0xA8, 0xA3, 0x98, 0x9E, 0, 0, 0, 0, 0,
};

struct ExtensionPair {
  uint8_t latin1;
  uint8_t code;
};
// The extension table: the Latin-1 (Windows-1252 for the euro) character
// and its code after an escape.
constexpr ExtensionPair kExtension[] = {
    {0x5E, 0x14}, {0x7B, 0x28}, {0x7D, 0x29}, {0x5C, 0x2F}, {0x5B, 0x3C},
    {0x7E, 0x3D}, {0x5D, 0x3E}, {0x7C, 0x40}, {0x80, 0x65},
};

struct Tables {
  std::array<uint8_t, 128> ext_to_latin1{};
  std::array<uint8_t, 256> to_gsm{};
  std::array<uint8_t, 256> to_gsm_ext{};
};

constexpr Tables buildTables() {
  Tables t;
  for (auto& v : t.ext_to_latin1) v = kHyphen;
  for (const auto& p : kExtension) t.ext_to_latin1[p.code] = p.latin1;

  for (auto& v : t.to_gsm) v = kHyphen;
  for (auto& v : t.to_gsm_ext) v = kHyphen;
  // The plain inverse of the alphabet; Greek codes and the escape read as
  // hyphens above and are left out.
  for (int code = 0; code < 128; ++code) {
    const uint8_t latin1 = kGsmToLatin1[code];
    if (latin1 == kHyphen && code != 0x2D) continue;
    t.to_gsm[latin1] = static_cast<uint8_t>(code);
  }
  for (const auto& p : kExtension) {
    t.to_gsm[p.latin1] = kGsmEscape;
    t.to_gsm_ext[p.latin1] = p.code;
  }
  // Approximations for what the alphabet lacks. Control characters other
  // than LF and CR, and DEL, keep the hyphen.
  struct Approx {
    uint8_t first, last, gsm;
  };
  constexpr Approx kApprox[] = {
      {0x60, 0x60, 0x27}, {0x82, 0x82, 0x27}, {0x8B, 0x8B, 0x27}, {0x91, 0x92, 0x27},
      {0x9B, 0x9B, 0x27}, {0x84, 0x84, 0x22}, {0x93, 0x94, 0x22}, {0x83, 0x83, 'f'},
      {0x86, 0x86, 't'},  {0x8A, 0x8A, 'S'},  {0x8C, 0x8C, 'O'},  {0x8E, 0x8E, 'Z'},
      {0x9A, 0x9A, 's'},  {0x9C, 0x9C, 'o'},  {0x9E, 0x9E, 'z'},  {0x9F, 0x9F, 'Y'},
      {0x85, 0x85, 0x2E}, {0x95, 0x95, 0x2E}, {0xA0, 0xA0, 0x20}, {0xA2, 0xA2, 'c'},
      {0xA9, 0xA9, 'c'},  {0xAA, 0xAA, 'a'},  {0xAE, 0xAE, 'R'},  {0xB0, 0xB0, 'o'},
      {0xB2, 0xB2, '2'},  {0xB3, 0xB3, '3'},  {0xB5, 0xB5, 'u'},  {0xB9, 0xB9, '1'},
      {0xBA, 0xBA, '0'},  {0xAB, 0xAB, 0x22}, {0xBB, 0xBB, 0x22}, {0xB4, 0xB4, 0x27},
      {0xB7, 0xB7, 0x2E}, {0xC0, 0xC3, 'A'},  {0xC8, 0xC8, 'E'},  {0xCA, 0xCB, 'E'},
      {0xCC, 0xCF, 'I'},  {0xD0, 0xD0, 'D'},  {0xD2, 0xD5, 'O'},  {0xD7, 0xD7, 'x'},
      {0xD9, 0xDB, 'U'},  {0xDD, 0xDD, 'Y'},  {0xE1, 0xE3, 'a'},  {0xE7, 0xE7, 0x09},
      {0xEA, 0xEB, 'e'},  {0xED, 0xEF, 'i'},  {0xF0, 0xF0, 'd'},  {0xF3, 0xF5, 'o'},
      {0xFA, 0xFB, 'u'},  {0xFD, 0xFD, 'y'},  {0xFF, 0xFF, 'y'},
  };
  for (const auto& a : kApprox) {
    for (int c = a.first; c <= a.last; ++c) t.to_gsm[c] = a.gsm;
  }
  // Characters that approximate to an extension character.
  t.to_gsm[0x98] = kGsmEscape;  // small tilde
  t.to_gsm_ext[0x98] = 0x3D;
  t.to_gsm[0xA6] = kGsmEscape;  // broken bar
  t.to_gsm_ext[0xA6] = 0x40;
  return t;
}

constexpr Tables kTables = buildTables();

static_assert(kTables.to_gsm[0x40] == 0x00 && kTables.to_gsm[0x24] == 0x02);
static_assert(kTables.to_gsm[0xA4] == 0x24 && kTables.to_gsm[0xA7] == 0x5F);
static_assert(kTables.to_gsm[0xE0] == 0x7F && kTables.to_gsm[0xDF] == 0x1E);
static_assert(kTables.to_gsm[0x0A] == 0x0A && kTables.to_gsm[0x0D] == 0x0D);
static_assert(kTables.to_gsm[0x00] == kHyphen && kTables.to_gsm[0x7F] == kHyphen);
static_assert(kTables.to_gsm[0x80] == kGsmEscape && kTables.to_gsm_ext[0x80] == 0x65);

// The Greek capitals by code point (U+0380-U+03BF, whose UTF-8 form is
// 0xCE and one byte), derived from kGreekUtf8Tail; kNoCode elsewhere.
constexpr uint8_t kNoCode = 0xFF;
constexpr std::array<uint8_t, 64> buildGreekToGsm() {
  std::array<uint8_t, 64> t{};
  for (auto& v : t) v = kNoCode;
  for (int code = 0; code < 32; ++code) {
    if (kGreekUtf8Tail[code] != 0) t[kGreekUtf8Tail[code] & 0x3F] = static_cast<uint8_t>(code);
  }
  return t;
}
constexpr std::array<uint8_t, 64> kGreekToGsm = buildGreekToGsm();
static_assert(kGreekToGsm[0x0394 - 0x0380] == 0x10 && kGreekToGsm[0x03A9 - 0x0380] == 0x15);
static_assert(kGreekToGsm[0x0391 - 0x0380] == kNoCode);

// Septets for one code point (1 or 2 written to `out`).
inline int septetsFor(char32_t cp, uint8_t out[2]) {
  if (cp <= 0xFF) {
    const uint8_t code = kTables.to_gsm[cp];
    out[0] = code;
    if (code != kGsmEscape) return 1;
    out[1] = kTables.to_gsm_ext[cp];
    return 2;
  }
  if (cp == 0x20AC) {
    out[0] = kGsmEscape;
    out[1] = 0x65;
    return 2;
  }
  const uint8_t greek = cp >= 0x0380 && cp < 0x03C0 ? kGreekToGsm[cp - 0x0380] : kNoCode;
  out[0] = greek != kNoCode ? greek : kHyphen;
  return 1;
}

// UCS-2 units the decoder would spend on `cp`.
inline size_t unitsFor(char32_t cp) {
  return cp >= 0x10000 ? 2 : 1;
}

// Walks the text as UTF8ToUCS2 decodes it (stopping at NUL or when the
// 8191-unit buffer would overflow), handing each character's septets to
// `emit` until it returns false. Returns the input position reached.
template <typename Emit>
size_t forEachSeptetGroup(std::string_view utf8, Emit&& emit) {
  size_t pos = 0;
  size_t units = 0;
  while (pos < utf8.size() && utf8[pos] != '\0') {
    const size_t start = pos;
    const char32_t cp = decodeUtf8Char(utf8, &pos);
    units += unitsFor(cp);
    if (units > kMaxUcs2Units - 1) return start;
    uint8_t s[2];
    const int n = septetsFor(cp, s);
    if (!emit(s, n, start, pos)) return start;
  }
  return pos;
}

// The UTF-8 form of each plain code: its Greek capital, or its Latin-1
// character (one or two bytes).
struct SeptetUtf8 {
  uint8_t length;
  char bytes[2];
};
constexpr std::array<SeptetUtf8, 128> buildSeptetUtf8() {
  std::array<SeptetUtf8, 128> t{};
  for (int code = 0; code < 128; ++code) {
    const uint8_t greek = code < 0x20 ? kGreekUtf8Tail[code] : 0;
    const uint8_t latin1 = kGsmToLatin1[code];
    if (greek != 0) {
      t[code] = {2, {'\xCE', static_cast<char>(greek)}};
    } else if (latin1 < 0x80) {
      t[code] = {1, {static_cast<char>(latin1), 0}};
    } else {
      t[code] = {
          2, {static_cast<char>(0xC0 | (latin1 >> 6)), static_cast<char>(0x80 | (latin1 & 0x3F))}};
    }
  }
  return t;
}
constexpr std::array<SeptetUtf8, 128> kSeptetUtf8 = buildSeptetUtf8();

// Appends the UTF-8 text of one septet group (a plain code, or an escape
// and its extension code).
inline void appendGroupUtf8(std::string* out, const uint8_t* s, int n) {
  if (n == 2) {
    const uint8_t c = kTables.ext_to_latin1[s[1] & 0x7F];
    if (c == 0x80) {
      out->append("\xE2\x82\xAC");
    } else {
      appendUtf8(out, c);
    }
    return;
  }
  const SeptetUtf8& form = kSeptetUtf8[s[0] & 0x7F];
  out->push_back(form.bytes[0]);
  if (form.length == 2) out->push_back(form.bytes[1]);
}

// Walks received septets as groups, handing each to `emit(septets, n)`: a
// plain code (n 1), an escape and its code (n 2), or an escape with no
// septet after it (n 0). Bytes with their top bit set are skipped.
template <typename Emit>
void forEachReceivedGroup(std::string_view septets, Emit&& emit) {
  for (size_t i = 0; i < septets.size(); ++i) {
    uint8_t s[2] = {static_cast<uint8_t>(septets[i]), 0};
    if (s[0] & 0x80) continue;
    if (s[0] != kGsmEscape) {
      emit(s, 1);
    } else if (i + 1 >= septets.size() || (static_cast<uint8_t>(septets[i + 1]) & 0x80)) {
      emit(s, 0);
    } else {
      s[1] = static_cast<uint8_t>(septets[++i]);
      emit(s, 2);
    }
  }
}

// For each ASCII character: 0 when it does not come back unchanged from
// the trip through the alphabet, else the septets it takes (1 or 2).
constexpr std::array<uint8_t, 128> buildAsciiTrip() {
  std::array<uint8_t, 128> trip{};
  for (int c = 1; c < 128; ++c) {
    const uint8_t code = kTables.to_gsm[c];
    if (code == kGsmEscape) {
      trip[c] = kTables.ext_to_latin1[kTables.to_gsm_ext[c]] == c ? 2 : 0;
    } else {
      trip[c] = (code >= 0x20 || kGreekUtf8Tail[code] == 0) && kGsmToLatin1[code] == c ? 1 : 0;
    }
  }
  return trip;
}
constexpr std::array<uint8_t, 128> kAsciiTrip = buildAsciiTrip();
static_assert(kAsciiTrip['a'] == 1 && kAsciiTrip['['] == 2 && kAsciiTrip['`'] == 0);
static_assert(kAsciiTrip['\n'] == 1 && kAsciiTrip['\t'] == 0 && kAsciiTrip['@'] == 1);

// The slow path of the loss test: does the group that came from
// text[start, end) read back as exactly those bytes?
bool groupRoundTrips(std::string_view text, const uint8_t* s, int n, size_t start, size_t end) {
  std::string back;
  appendGroupUtf8(&back, s, n);
  return back == text.substr(start, end - start);
}

}  // namespace

uint8_t gsmToLatin1(uint8_t code) {
  return kGsmToLatin1[code & 0x7F];
}
uint8_t gsmExtensionToLatin1(uint8_t code) {
  return kTables.ext_to_latin1[code & 0x7F];
}
uint8_t latin1ToGsm(uint8_t cp) {
  return kTables.to_gsm[cp];
}
uint8_t latin1ToGsmExtension(uint8_t cp) {
  return kTables.to_gsm_ext[cp];
}

std::string UTF8ToGSMString(std::string_view utf8, size_t limit) {
  const size_t max = limit == 0 ? SIZE_MAX : limit;
  std::string out;
  out.reserve(utf8.size() < 1024 ? utf8.size() + 8 : 1024);
  size_t pos = 0;
  size_t units = 0;
  while (pos < utf8.size()) {
    const uint8_t b = static_cast<uint8_t>(utf8[pos]);
    if (b == 0) break;
    char32_t cp;
    size_t next = pos + 1;
    if (b < 0x80) {
      cp = b;
    } else {
      next = pos;
      cp = decodeUtf8Char(utf8, &next);
    }
    units += unitsFor(cp);
    if (units > kMaxUcs2Units - 1) break;
    uint8_t s[2];
    const int n = septetsFor(cp, s);
    // An escape pair that does not fit whole is left out.
    if (out.size() + static_cast<size_t>(n) > max) break;
    out.push_back(static_cast<char>(s[0]));
    if (n == 2) out.push_back(static_cast<char>(s[1]));
    pos = next;
  }
  return out;
}

size_t GSMStringLength(std::string_view utf8) {
  size_t count = 0;
  forEachSeptetGroup(utf8, [&](const uint8_t*, int n, size_t, size_t) {
    if (count + static_cast<size_t>(n) > kMaxMeasuredSeptets) return false;
    count += static_cast<size_t>(n);
    return true;
  });
  return count;
}

std::string GSMToUTF8String(std::string_view septets) {
  std::string out;
  out.reserve(septets.size() + 16);
  forEachReceivedGroup(septets, [&out](const uint8_t* s, int n) {
    if (n == 0) {
      out.push_back('-');
    } else {
      appendGroupUtf8(&out, s, n);
    }
  });
  return out;
}

std::string GSMToLatin1String(std::string_view septets) {
  std::string out;
  out.reserve(septets.size());
  forEachReceivedGroup(septets, [&out](const uint8_t* s, int n) {
    const uint8_t c = n == 0 ? kHyphen : n == 2 ? kTables.ext_to_latin1[s[1]] : kGsmToLatin1[s[0]];
    out.push_back(static_cast<char>(c));
  });
  return out;
}

bool UTF8StringRequiresUnicodeEncoding(std::string_view utf8) {
  size_t count = 0;
  size_t pos = 0;
  bool lossy = false;
  // Fast path for ASCII, which is nearly all of the traffic.
  while (pos < utf8.size()) {
    const uint8_t b = static_cast<uint8_t>(utf8[pos]);
    if (b == 0) break;
    if (b >= 0x80) {
      const size_t start = pos;
      const char32_t cp = decodeUtf8Char(utf8, &pos);
      uint8_t s[2];
      const int n = septetsFor(cp, s);
      count += static_cast<size_t>(n);
      if (count > kMaxLossTestSeptets || !groupRoundTrips(utf8, s, n, start, pos)) {
        lossy = true;
        break;
      }
      continue;
    }
    const uint8_t trip = kAsciiTrip[b];
    count += trip;
    if (trip == 0 || count > kMaxLossTestSeptets) {
      lossy = true;
      break;
    }
    ++pos;
  }
  // Texts long enough to reach the decoder's unit limit are cut there,
  // which the general path below accounts for exactly.
  if (!lossy && pos > kMaxUcs2Units - 1) {
    const size_t reached =
        forEachSeptetGroup(utf8, [](const uint8_t*, int, size_t, size_t) { return true; });
    lossy = reached < utf8.size() && utf8[reached] != '\0';
  }
  if (!lossy) return false;
  if (foundation::debugEnabled()) {
    const std::string back = GSMToUTF8String(UTF8ToGSMString(utf8, kMaxLossTestSeptets));
    foundation::DebugLog("UTF8StringRequiresUnicodeEncoding",
                         "Translate to/from GSM string results in loss of data");
    foundation::DebugLog("UTF8StringRequiresUnicodeEncoding", utf8);
    foundation::DebugLog("UTF8StringRequiresUnicodeEncoding", back);
  }
  return true;
}

bool FoldGreekLookalikes(std::string* text, size_t capacity) {
  // Every Greek capital is encoded as 0xCE followed by one byte.
  if (text->find('\xCE') == std::string::npos) return false;
  std::u16string units = UTF8ToUCS2(*text);
  bool replaced = false;
  for (char16_t& u : units) {
    char16_t latin = 0;
    switch (u) {
      case 0x0391:
        latin = 'A';
        break;
      case 0x0392:
        latin = 'B';
        break;
      case 0x0395:
        latin = 'E';
        break;
      case 0x0396:
        latin = 'Z';
        break;
      case 0x0397:
        latin = 'H';
        break;
      case 0x0399:
        latin = 'I';
        break;
      case 0x039A:
        latin = 'K';
        break;
      case 0x039C:
        latin = 'M';
        break;
      case 0x039D:
        latin = 'N';
        break;
      case 0x039F:
        latin = 'O';
        break;
      case 0x03A1:
        latin = 'P';
        break;
      case 0x03A4:
        latin = 'T';
        break;
      case 0x03A5:
        latin = 'Y';
        break;
      case 0x03A7:
        latin = 'X';
        break;
      default:
        break;
    }
    if (latin != 0) {
      u = latin;
      replaced = true;
    }
  }
  if (!replaced) return false;
  *text = UCS2ToUTF8(units, capacity);
  return true;
}

}  // namespace vek::encoding
