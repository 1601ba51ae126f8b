// Address patterns of the address lists (allow, block, administration):
// which client addresses a configured entry stands for.
//
// An IPv4 pattern is a dotted quad whose components are each a decimal
// number 0..255 or a single "*" (any value). Leading blanks and trailing
// characters at or below the space are ignored; missing components are 0
// ("10.1" stands for 10.1.0.0); a fifth component, a number above 255, an
// empty component or any other character makes the pattern invalid.
// An IPv6 pattern is an address in any textual form ("2001:db8::7",
// "[::1]"), optionally with a prefix length ("2001:db8::/32").
//
// A client address is matched by its value, not its spelling; an
// IPv4-mapped IPv6 address ("::ffff:192.0.2.1", what a dual-stack listener
// sees of an IPv4 client) is matched as the IPv4 address it carries.
// An invalid pattern matches nothing. Pure functions, thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vek::platform {

struct AddressPattern {
  bool v6 = false;
  std::array<int, 4> part{};        // IPv4: each component, -1 for "*"
  std::array<uint8_t, 16> bytes{};  // IPv6: the address
  int prefix = 128;                 // IPv6: bits that must match
};

std::optional<AddressPattern> parseAddressPattern(std::string_view text);
bool patternMatches(const AddressPattern& pattern, std::string_view address);

}  // namespace vek::platform
