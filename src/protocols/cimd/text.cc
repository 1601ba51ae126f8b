#include "protocols/cimd/text.h"

#include <array>
#include <cstdint>

#include "encoding/gsm_alphabet.h"
#include "encoding/utf8.h"

namespace vek::cimd {

namespace {

constexpr uint8_t kEscape = 0x1B;

// The special combination of each GSM code, "" where the code is written
// as the ASCII character itself.
constexpr std::array<const char*, 128> kCombination = [] {
  std::array<const char*, 128> t{};
  for (auto& e : t) e = "";
  t[0x01] = "L-", t[0x03] = "Y-", t[0x04] = "e`", t[0x05] = "e'", t[0x06] = "u`";
  t[0x07] = "i`", t[0x08] = "o`", t[0x09] = "C,", t[0x0B] = "O/", t[0x0C] = "o/";
  t[0x0E] = "A*", t[0x0F] = "a*", t[0x10] = "gd", t[0x11] = "--", t[0x12] = "gf";
  t[0x13] = "gg", t[0x14] = "gl", t[0x15] = "go", t[0x16] = "gp", t[0x17] = "gi";
  t[0x18] = "gs", t[0x19] = "gt", t[0x1A] = "gx", t[0x1B] = "XX", t[0x1C] = "AE";
  t[0x1D] = "ae", t[0x1E] = "ss", t[0x1F] = "E'", t[0x24] = "ox", t[0x40] = "!!";
  t[0x5B] = "A\"", t[0x5C] = "O\"", t[0x5D] = "N~", t[0x5E] = "U\"", t[0x5F] = "so";
  t[0x60] = "??", t[0x7B] = "a\"", t[0x7C] = "o\"", t[0x7D] = "n~", t[0x7E] = "u\"";
  t[0x7F] = "a`";
  return t;
}();

// The ASCII character written for a GSM code without a combination.
char asciiFor(uint8_t code) {
  if (code == 0x00) return '@';
  if (code == 0x02) return '$';
  return static_cast<char>(code);  // LF, CR, and the codes equal to ASCII
}

// The GSM code of a raw ASCII character that means the same in both, or -1.
int gsmForAscii(unsigned char c) {
  if (c == '@') return 0x00;
  if (c == '$') return 0x02;
  if (c == '\n' || c == '\r') return c;
  if (c >= 0x20 && c <= 0x7A && c != 0x24 && c != 0x40 && c != 0x60 && kCombination[c][0] == 0 &&
      !(c >= 0x5B && c <= 0x5F))
    return c;
  return -1;
}

void appendElement(std::string* out, uint8_t code) {
  const char* combo = kCombination[code & 0x7F];
  if (*combo) {
    out->push_back('_');
    out->append(combo);
  } else {
    out->push_back(asciiFor(code & 0x7F));
  }
}

// Lookups built once: the GSM code of each two-character combination
// (-1 for none), and the UTF-8 text of each code and extension code.
struct Tables {
  std::array<std::array<int8_t, 128>, 128> code_of{};
  std::array<std::string, 128> basic, extension;
  Tables() {
    for (auto& row : code_of) row.fill(-1);
    for (int code = 0; code < 128; ++code) {
      const char* combo = kCombination[code];
      if (*combo) code_of[combo[0] & 0x7F][combo[1] & 0x7F] = static_cast<int8_t>(code);
      basic[code] = encoding::GSMToUTF8String(std::string(1, static_cast<char>(code)));
      extension[code] = encoding::GSMToUTF8String(
          std::string{static_cast<char>(kEscape), static_cast<char>(code)});
    }
    code_of['a']['0'] = 0x00;  // "_a0" is '@' too
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// One element at `*pos`: a GSM code, or -1 with *raw set to a character
// that is not one (a raw octet read as ISO 8859-1).
int readElement(std::string_view v, size_t* pos, char32_t* raw) {
  auto c = static_cast<unsigned char>(v[*pos]);
  if (c == '_' && *pos + 2 < v.size()) {
    auto a = static_cast<unsigned char>(v[*pos + 1]), b = static_cast<unsigned char>(v[*pos + 2]);
    if (a < 128 && b < 128 && tables().code_of[a][b] >= 0) {
      *pos += 3;
      return tables().code_of[a][b];
    }
  }
  *pos += 1;
  if (c == '_') return 0x11;
  int code = gsmForAscii(c);
  if (code >= 0) return code;
  *raw = c;
  return -1;
}

}  // namespace

std::string septetsToUserData(std::string_view septets) {
  std::string out;
  out.reserve(septets.size() + septets.size() / 4);
  for (size_t i = 0; i < septets.size(); ++i) {
    auto code = static_cast<uint8_t>(septets[i] & 0x7F);
    if (code == kEscape) {
      if (i + 1 >= septets.size()) break;
      out.append("_XX");
      appendElement(&out, static_cast<uint8_t>(septets[++i]));
      continue;
    }
    appendElement(&out, code);
  }
  return out;
}

std::string userDataToText(std::string_view value) {
  const Tables& t = tables();
  std::string out;
  out.reserve(value.size());
  size_t pos = 0;
  while (pos < value.size()) {
    char32_t raw = 0;
    int code = readElement(value, &pos, &raw);
    if (code == kEscape) {
      if (pos >= value.size()) break;
      int ext = readElement(value, &pos, &raw);
      if (ext < 0)
        encoding::appendUtf8(&out, raw);
      else
        out += t.extension[ext];
    } else if (code < 0) {
      encoding::appendUtf8(&out, raw);
    } else {
      out += t.basic[code];
    }
  }
  return out;
}

}  // namespace vek::cimd
