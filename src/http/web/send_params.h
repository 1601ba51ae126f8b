// The parameters of a send request, read once from the request with the
// first-occurrence reader (params.h) at the sizes the submission interface
// keeps, mapped onto the submit::Message they describe, plus the web
// settings that shape them.
//
// Values that end up as one-line keys of a request file (sender,
// validity, service type, billing and account information, route, local
// user, receipt message id, "SMPPOption_" items, the `ExtraHttpArgList`
// parameters) must not hold control characters: the first one that does is
// named in `invalid_parameter`, and the request is refused before anything
// is written. (Cleaning them silently would still let "a\r\nSMSCRoute=x"
// change what was asked for.)
//
// Pure apart from reading settings; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "submit/message.h"

namespace vek::http {

// Settings of section SMSGW read at the point of use (every request).
struct WebSettings {
  bool web_auth = false;           // WebAuth
  bool web_menu = true;            // WebMenu
  bool php_enable = false;         // PHPEnable
  bool receipt_requested = false;  // ReceiptRequested (the parameter's default)
};
WebSettings readWebSettings();

inline constexpr std::string_view kDefaultContinueURL = "javascript:history.back()";

// A send request: the message its parameters describe (recipients apart:
// recipients.h reads them) and what only the web interface asks.
struct SendRequest {
  // Sender (a ":<port>" suffix taken as the source port), content (`Text`,
  // else `Data`; `UDH`, `pid`, `dcs`, ports), route, options, receipt
  // flags, `LocalUser` as RouteToLocalUser, SMPP options, extra keys.
  submit::Message message;
  bool has_text = false;  // the content is `Text`: `charset` applies
  std::string charset;  // `charset`, else the charset of a POST's Content-Type
  std::string receipt_lookup_id;  // ReceiptMessageId: inject a receipt for it
  bool inbound = false;           // InboundMessage / InboundMsg
  bool delay_invalid = false;     // a DelayUntil that is no time
  std::string continue_url;       // checked: http(s) or the default
  std::string invalid_parameter;  // the first parameter refused for a control character
};

class ParamLookup;
SendRequest readSendRequest(std::string_view msg, const WebSettings& settings);
SendRequest readSendRequest(const ParamLookup& params, const WebSettings& settings);

// `DelayUntil`: the first twelve digits (other characters skipped) as year,
// month, day, hour, minute. nullopt when the year is 0 or digits are
// missing; *invalid when a field is out of range.
std::optional<platform::CalendarTime> parseDelayUntil(std::string_view value, bool* invalid);

// The continue link: the default when empty; "http://" put in front of a
// value without a scheme; only http and https links, or the default, are
// kept (anything else becomes the default).
std::string checkedContinueURL(std::string_view value);

}  // namespace vek::http
