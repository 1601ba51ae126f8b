#include "platform/address_pattern.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

namespace vek::platform {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool allDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<AddressPattern> parseV4(std::string_view text) {
  AddressPattern p;
  size_t count = 0;
  size_t pos = 0;
  for (;;) {
    if (count == 4) return std::nullopt;
    size_t dot = text.find('.', pos);
    std::string_view c =
        text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (c == "*") {
      p.part[count] = -1;
    } else {
      if (c.empty() || c.size() > 3 || !allDigits(c)) return std::nullopt;
      int v = 0;
      for (char ch : c) v = v * 10 + (ch - '0');
      if (v > 255) return std::nullopt;
      p.part[count] = v;
    }
    ++count;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  return p;
}

// inet_pton of a bounded text ("[...]" brackets allowed).
bool parseV6Bytes(std::string_view text, std::array<uint8_t, 16>* out) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
    text = text.substr(1, text.size() - 2);
  if (text.empty() || text.size() > INET6_ADDRSTRLEN) return false;
  std::string s(text);
  in6_addr a;
  if (inet_pton(AF_INET6, s.c_str(), &a) != 1) return false;
  std::memcpy(out->data(), a.s6_addr, 16);
  return true;
}

std::optional<AddressPattern> parseV6(std::string_view text) {
  AddressPattern p;
  p.v6 = true;
  size_t slash = text.find('/');
  if (slash != std::string_view::npos) {
    std::string_view len = text.substr(slash + 1);
    if (len.empty() || len.size() > 3 || !allDigits(len)) return std::nullopt;
    int bits = 0;
    for (char c : len) bits = bits * 10 + (c - '0');
    if (bits > 128) return std::nullopt;
    p.prefix = bits;
    text = text.substr(0, slash);
  }
  if (!parseV6Bytes(text, &p.bytes)) return std::nullopt;
  return p;
}

bool isV4Mapped(const std::array<uint8_t, 16>& b) {
  static const uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::memcmp(b.data(), kPrefix, 12) == 0;
}

bool prefixEqual(const std::array<uint8_t, 16>& a, const std::array<uint8_t, 16>& b, int bits) {
  int whole = bits / 8;
  if (std::memcmp(a.data(), b.data(), static_cast<size_t>(whole)) != 0) return false;
  int rest = bits % 8;
  if (rest == 0) return true;
  uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
  return (a[static_cast<size_t>(whole)] & mask) == (b[static_cast<size_t>(whole)] & mask);
}

}  // namespace

std::optional<AddressPattern> parseAddressPattern(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  if (text.find(':') != std::string_view::npos) return parseV6(text);
  return parseV4(text);
}

bool patternMatches(const AddressPattern& pattern, std::string_view address) {
  address = trimmed(address);
  std::array<int, 4> v4{};
  bool is_v4 = false;
  std::array<uint8_t, 16> v6{};
  if (address.find(':') != std::string_view::npos) {
    if (!parseV6Bytes(address, &v6)) return false;
    if (isV4Mapped(v6)) {
      for (size_t i = 0; i < 4; ++i) v4[i] = v6[12 + i];
      is_v4 = true;
    }
  } else {
    auto a = parseV4(address);
    if (!a) return false;
    for (size_t i = 0; i < 4; ++i) {
      if (a->part[i] < 0) return false;  // an address has no wildcards
      v4[i] = a->part[i];
    }
    is_v4 = true;
  }
  if (pattern.v6) {
    if (is_v4) {
      // An IPv4 client against an IPv6 entry: as its mapped form.
      std::array<uint8_t, 16> mapped{};
      mapped[10] = mapped[11] = 0xff;
      for (size_t i = 0; i < 4; ++i) mapped[12 + i] = static_cast<uint8_t>(v4[i]);
      return prefixEqual(pattern.bytes, mapped, pattern.prefix);
    }
    return prefixEqual(pattern.bytes, v6, pattern.prefix);
  }
  if (!is_v4) return false;
  for (size_t i = 0; i < 4; ++i)
    if (pattern.part[i] >= 0 && pattern.part[i] != v4[i]) return false;
  return true;
}

}  // namespace vek::platform
