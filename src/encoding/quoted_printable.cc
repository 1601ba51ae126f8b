#include "encoding/quoted_printable.h"

namespace vek::encoding {
namespace {

constexpr size_t kMaxLine = 76;  // including the "=" of a soft line break

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string quotedPrintableEncode(std::string_view data) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() + data.size() / 8 + 16);
  size_t line = 0;
  for (char ch : data) {
    auto c = static_cast<unsigned char>(ch);
    bool escape = c == '=' || (c < ' ' && c != 27) || c > 127;
    size_t width = escape ? 3 : 1;
    if (line + width > kMaxLine - 1) {
      out += "=\r\n";
      line = 0;
    }
    if (escape) {
      out.push_back('=');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
    line += width;
  }
  return out;
}

std::string quotedPrintableDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '=') {
      out.push_back(c);
      continue;
    }
    if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
      i += (text[i + 1] == '\r' && i + 2 < text.size() && text[i + 2] == '\n') ? 2 : 1;
      continue;
    }
    int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
    int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
    if (hi >= 0 && lo >= 0) {
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back('=');
    }
  }
  return out;
}

}  // namespace vek::encoding
