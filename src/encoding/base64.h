// Base64 (the standard alphabet of RFC 4648, "=" padding) for the HTTP
// server, MIME parts and mail authentication. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::encoding {

// 3 bytes to 4 characters, padded with "=".
std::string base64Encode(std::string_view data);

// 4 characters to 3 bytes. The padding character and any character outside
// the alphabet have no value: a group whose first or second character has
// no value yields nothing and ends decoding; a third or fourth character
// without value ends the group (and decoding) early, after the 1 or 2
// bytes already complete.
std::string base64Decode(std::string_view text);
// Same, skipping characters at or below the space wherever they stand
// (line breaks in MIME bodies and mail).
std::string base64DecodeSkippingBlanks(std::string_view text);

}  // namespace vek::encoding
