// Limits: how much of each value a submission keeps, and the cuts that keep
// it whole. A value longer than its limit is cut there (the interface's
// behaviour, not an error); a cut never ends inside a character:
//
//  - text is cut before a UTF-8 sequence it would split, so a Cyrillic or
//    an emoji text never ends in a stray byte (and, once converted to
//    UCS-2, never in half a surrogate pair);
//  - hexadecimal data is cut at a whole octet, UCS-2 data at a whole unit
//    and never between the two units of a surrogate pair.
//
// Front ends read values at their limit plus kCutSlack so that these cuts
// can see the character that crosses the limit.
//
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vek::submit {

struct Message;

// Characters (bytes) kept of each value.
inline constexpr size_t kMaxText = 8191;  // Text, or Data in hexadecimal digits
inline constexpr size_t kMaxHeaderDigits = 499;
inline constexpr size_t kMaxRecipient = 100;
inline constexpr size_t kMaxSender = 149;
inline constexpr size_t kMaxValidity = 49;
inline constexpr size_t kMaxServiceType = 99;
inline constexpr size_t kMaxBillingInfo = 99;
inline constexpr size_t kMaxAcctInfo = 99;
inline constexpr size_t kMaxRoute = 99;
inline constexpr size_t kMaxReceiptMessageId = 99;  // the id a client asks a receipt for
inline constexpr size_t kMaxLocalUser = 99;
inline constexpr size_t kMaxExtraValue = 8191;
// The longest UTF-8 sequence less one: what a reader takes beyond a limit.
inline constexpr size_t kCutSlack = 3;

// `text` cut to at most `max` bytes at the start of a UTF-8 sequence (a
// byte that is not a continuation byte, 10xxxxxx). Text that is not UTF-8
// is cut at `max`.
std::string_view cutText(std::string_view text, size_t max);

// Hexadecimal data cut to at most `max` digits: at an even count, and for
// UCS-2 (`ucs2`) at a multiple of four that does not end on a high
// surrogate (D800-DBFF).
std::string_view cutHexData(std::string_view hex, size_t max, bool ucs2);

// The content as a submission keeps it: hexadecimal octets by
// cutHexData (binary mode), anything else by cutText.
std::string_view cutContent(std::string_view text, bool binary, bool ucs2, size_t max = kMaxText);

// Cuts every one-line value of `m` (sender, validity, service type,
// billing and account information, routes, local user, extra values) to its limit with cutText.
void fitToLimits(Message* m);

}  // namespace vek::submit
