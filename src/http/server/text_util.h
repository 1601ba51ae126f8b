// Small text helpers of the HTTP code: hexadecimal digits, trimming, and
// the decoding of form-encoded values. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::http {

// '0'..'9', 'a'..'f', 'A'..'F' to their value; anything else 0.
int hexDigitValue(char c);
// 0..9 to '0'..'9', 10..15 to 'A'..'F'; anything else '0'.
char hexDigitChar(int value);
// Without the trailing characters at or below the space.
std::string_view trimTrailing(std::string_view s);
// Up to (not including) the first space.
std::string_view cutAtSpace(std::string_view s);
// "%XX" becomes that byte and "+" a space; a "%" without two hexadecimal
// digits stays as it is.
std::string formDecode(std::string_view s);

}  // namespace vek::http
