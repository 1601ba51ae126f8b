// How configuration values are read: the yes/no rule, the number rule and
// the hex-byte rule that every setting of the gateway uses.
#pragma once

#include <cstdint>
#include <string_view>

namespace vek::foundation {

// On when the first character is 'Y', 'y' or '1', or the value equals
// "TRUE" or "On" ignoring case; anything else (empty too) is off.
bool yesNo(std::string_view value);
// Decimal with optional leading blanks and sign, up to the first non-digit;
// empty or non-numeric is 0. Out-of-range values saturate to 32 bits.
int32_t number(std::string_view value);
// First character a hex digit: its value, or first*16+second when the
// second is a hex digit too; otherwise `def`.
int hexByte(std::string_view value, int def);

}  // namespace vek::foundation
