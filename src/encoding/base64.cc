#include "encoding/base64.h"

#include <array>

namespace vek::encoding {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// -1 for characters without value.
constexpr std::array<int8_t, 256> makeValues() {
  std::array<int8_t, 256> v{};
  for (auto& x : v) x = -1;
  for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return v;
}
constexpr std::array<int8_t, 256> kValues = makeValues();

int valueAt(std::string_view s, size_t i) {
  return i < s.size() ? kValues[static_cast<unsigned char>(s[i])] : -1;
}

}  // namespace

std::string base64Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                 (static_cast<unsigned char>(data[i + 1]) << 8) |
                 static_cast<unsigned char>(data[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int a = valueAt(text, i), b = valueAt(text, i + 1);
    if (a < 0 || b < 0) break;
    out.push_back(static_cast<char>((a << 2) | (b >> 4)));
    int c = valueAt(text, i + 2);
    if (c < 0) break;
    out.push_back(static_cast<char>(((b & 15) << 4) | (c >> 2)));
    int d = valueAt(text, i + 3);
    if (d < 0) break;
    out.push_back(static_cast<char>(((c & 3) << 6) | d));
  }
  return out;
}

std::string base64DecodeSkippingBlanks(std::string_view text) {
  std::string packed;
  packed.reserve(text.size());
  for (char c : text)
    if (static_cast<unsigned char>(c) > ' ') packed.push_back(c);
  return base64Decode(packed);
}

}  // namespace vek::encoding
