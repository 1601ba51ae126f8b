// SMS-SUBMIT PDUs (3GPP TS 23.040) as upper-case hexadecimal text, the form
// AT+CMGS takes in PDU mode.
//
//   service centre address   omitted with exclude_smsc; "00" when no SMSC
//                            is set (the modem's own); else length octet,
//                            type (91 with "+", else 81), swapped digits
//   first octet              01 | 40 header | 20 status report |
//                            10 relative validity | 80 reply path
//   message reference, destination address (digit count, type, digits),
//   PID, DCS, validity (when given), user data length and user data
//
// User data: text with a 7-bit DCS is converted to the GSM alphabet and
// packed (after the header, on a septet boundary); text with a UCS-2 DCS
// becomes UCS-2; other text goes as its bytes. Binary data (hexadecimal,
// header in front) is copied; with a 7-bit DCS it holds packed septets and
// its septet count is worked out from its octets (a full last octet whose
// top seven bits are 0 is padding).
//
// A message that can never go out this way is refused with a Status the
// caller treats as a permanent failure: a recipient that is not a number
// (letters included), data that is not hexadecimal, more than 160 septets
// or 140 octets of user data.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::modem {

inline constexpr size_t kMaxUserDataOctets = 140;
inline constexpr size_t kMaxUserDataSeptets = 160;
inline constexpr size_t kMaxAddressDigits = 20;

struct SubmitInput {
  std::string recipient;  // digits, optionally "+" first
  std::string smsc;       // digits, optionally "+" first; "" for the modem's own
  bool exclude_smsc = false;
  uint8_t message_reference = 0;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string data;  // UTF-8 text, or hexadecimal when `binary`
  std::string udh;   // hexadecimal, length octet first ("" for none)
  bool binary = false;
  bool reply_path = false;
  bool status_report = false;
  std::optional<uint8_t> validity;  // relative TP-VP octet
};

struct SubmitPdu {
  std::string hex;           // the whole PDU
  unsigned tpdu_octets = 0;  // octets after the service centre address (AT+CMGS=<n>)
};

platform::Result<SubmitPdu> buildSubmitPdu(const SubmitInput& in);

// A validity text ("<n>d", "<n>h" or "<n>m", unit in either case) as the
// relative validity octet of the smallest band entry that is not shorter:
// 5-minute steps up to 12 hours (0-143), 30-minute steps up to 24 hours
// (144-167), days up to 30 (168-196), weeks up to 63 (197-255), and 255
// beyond. Zero or any other form: none.
std::optional<uint8_t> relativeValidity(std::string_view text);

// A number's digits as swapped semi-octets, an odd count padded with F:
// "+441234" -> "442143", "12345" -> "2143F5". A leading "+" is dropped.
std::string swappedDigits(std::string_view digits);

// True for "+"? followed by 1 to 20 decimal digits.
bool isPhoneNumber(std::string_view s);

}  // namespace vek::modem
