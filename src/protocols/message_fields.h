// What the text-protocol engines (UCP/EMI, CIMD2) take from a message the
// same way: items of the parameter string, the validity the gateway asked
// for, the user data in the form the alphabet of its DCS needs, and the
// receipt text handed to the gateway for a status notification.
//
// Pure functions (parseValidity reads the injectable clock); thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "protocols/messages.h"

namespace vek::protocols {

// The value of `key` in a "name=value; name=value" string (key without
// regard to case, value trimmed); "" when absent.
std::string paramValue(std::string_view params, std::string_view key);

// A validity as the gateway writes it: "<n>d", "<n>h", "<n>m" (relative:
// days, hours, minutes), or yyyymmddhhmmss / yymmddhhmmss (absolute, local time).
struct Validity {
  enum Kind { kNone, kRelative, kAbsolute } kind = kNone;
  int64_t minutes = 0;        // kRelative, at least 1
  platform::CalendarTime at;  // kAbsolute (local; year in full)
};
Validity parseValidity(std::string_view text);
// The moment a validity ends, as local calendar time (relative ones from now).
platform::CalendarTime validityEnd(const Validity& v);

// The user data of an outbound message in its alphabet's form.
struct UserData {
  enum Kind { kSeptets, kUcs2, kOctets } kind = kSeptets;
  std::string udh;   // octets (length octet included), "" when none
  std::string data;  // septets one per byte / UCS-2 big-endian / octets
};
// Text goes through the gateway's conversions for the DCS (GSM default
// alphabet, UCS-2, else Latin-1 octets); binary data is hexadecimal and a
// 7-bit one is packed after the header (as the long-message splitter keeps
// it). False when the hexadecimal of the data or the header is bad.
bool prepareUserData(const OutboundMessage& m, UserData* out);

// Received user data to the gateway's form: `septets` (one per byte) as
// UTF-8 text, with the national shift tables the header announces.
std::string septetsToText(std::string_view septets, std::string_view udh);

// The de-facto receipt text ("id:... sub:001 dlvrd:001 submit date:...
// done date:... stat:DELIVRD err:000 text:"), so that a receipt from any
// link reads the same to the gateway and its SMPP clients. Dates are
// yymmddhhmm ("" allowed); `flags` carries kDelivered, kInTransit or kFailed.
std::string receiptText(std::string_view id, std::string_view submit_date,
                        std::string_view done_date, uint32_t flags, unsigned error);

// Appends "name=value" to a "; "-separated item list, with separators and
// control characters in the value made blanks.
void appendItem(std::string* items, std::string_view name, std::string_view value);

}  // namespace vek::protocols
