// The GSM 03.38 default alphabet as the gateway uses it: UTF-8 text to
// unpacked septets (one code 0x00-0x7F per byte) and back, the loss test
// that decides between a 7-bit and a UCS-2 message, and Greek folding.
//
// Text to septets goes through the gateway's own translation tables, which
// approximate what the alphabet lacks (accented capitals lose their accent,
// typographic quotes become straight ones, everything else becomes a
// hyphen). Septets to text gives the ten Greek capitals as Greek letters
// and the euro as U+20AC; an unknown escape or a trailing escape gives a
// hyphen. An escape pair (0x1B plus its extension code) counts as two
// septets and is never split by a limit.
//
// Pure functions over read-only tables; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vek::encoding {

inline constexpr uint8_t kGsmEscape = 0x1B;
// Septet bounds: measuring a text, and the loss test.
inline constexpr size_t kMaxMeasuredSeptets = 0x3FFF;
inline constexpr size_t kMaxLossTestSeptets = 0x4000;

// The translation tables (exposed for the host-library conversions and
// the tests). Indexes: a septet code 0-127, or a code point 0-255.
uint8_t gsmToLatin1(uint8_t code);           // hyphen for Greek capitals and the escape
uint8_t gsmExtensionToLatin1(uint8_t code);  // after an escape; 0x80 is the euro; else hyphen
uint8_t latin1ToGsm(uint8_t cp);             // 0x1B: escape, code from the next table
uint8_t latin1ToGsmExtension(uint8_t cp);    // hyphen where there is no extension code

// UTF-8 text to unpacked septets. Code points up to U+00FF go through the
// tables, the ten Greek capitals of the alphabet and the euro sign are
// mapped in code, anything else (characters above U+FFFF included, once
// each) becomes the hyphen. `limit` (0: none) caps the septet count.
std::string UTF8ToGSMString(std::string_view utf8, size_t limit = 0);

// Septets UTF8ToGSMString would produce (bounded by kMaxMeasuredSeptets).
size_t GSMStringLength(std::string_view utf8);

// Unpacked septets to UTF-8. Bytes with their top bit set are skipped.
std::string GSMToUTF8String(std::string_view septets);
// Unpacked septets to Windows-1252: Greek capitals and unknown escapes
// become hyphens, the euro becomes 0x80.
std::string GSMToLatin1String(std::string_view septets);

// True when `utf8` does not survive the trip to septets and back byte for
// byte, i.e. the message must go as UCS-2. Callers fold Greek look-alikes
// first. A difference is written to the debug log when it is on.
bool UTF8StringRequiresUnicodeEncoding(std::string_view utf8);

// Replaces the Greek capitals that look like Latin letters (Alpha, Beta,
// Epsilon, Zeta, Eta, Iota, Kappa, Mu, Nu, Omicron, Rho, Tau, Upsilon,
// Chi) with those letters. The text is rewritten only when one was found,
// cut as UCS2ToUTF8 cuts to `capacity` bytes (0: no limit). Returns
// whether it was rewritten.
bool FoldGreekLookalikes(std::string* text, size_t capacity = 0);

}  // namespace vek::encoding
