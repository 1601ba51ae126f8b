// The parameters of a send request, read once from the request with the
// first-occurrence reader (params.h) at the sizes the submission interface
// keeps, plus the web settings that shape them.
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

namespace vek::http {

// Settings of section SMSGW read at the point of use (every request).
struct WebSettings {
  bool web_auth = false;           // WebAuth
  bool web_menu = true;            // WebMenu
  bool php_enable = false;         // PHPEnable
  bool receipt_requested = false;  // ReceiptRequested (the parameter's default)
  std::vector<int> shift_tables;   // ShiftTables: 1..255, in order
};
WebSettings readWebSettings();
// "1, 13,x,300" -> {1, 13}.
std::vector<int> parseShiftTables(std::string_view list);

inline constexpr std::string_view kDefaultContinueURL = "javascript:history.back()";

struct SendParams {
  bool has_text = false;
  std::string text;  // `Text`, else `Data` (then has_data)
  bool has_data = false;
  std::string udh;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string sender;  // without a ":<port>" suffix
  std::optional<uint16_t> source_port;
  std::optional<uint16_t> destination_port;
  std::string validity;
  std::string service_type;
  std::string billing_info;
  std::string acct_info;
  std::string smsc_route;
  bool reply_requested = false;
  bool receipt_requested = false;
  bool receipt_delivered = false;
  bool receipt_failed = false;
  bool receipt_intransit = false;
  std::string receipt_message_id;
  bool inbound = false;  // InboundMessage / InboundMsg
  std::string local_user;
  bool delayed = false;  // DelayUntil with a year other than 0
  platform::CalendarTime delay_until;
  std::string delay_text;  // "%04d%02d%02d%02d%02d"
  bool delay_invalid = false;
  std::string charset;
  std::string continue_url;  // checked: http(s) or the default
  std::string smpp_options;  // "SMPPOption_a=1; SMPPOption_b=2"
  std::vector<std::pair<std::string, std::string>> extra_args;
  std::string invalid_parameter;  // the first parameter refused for a control character
};

class ParamLookup;
SendParams readSendParams(std::string_view msg, const WebSettings& settings);
SendParams readSendParams(const ParamLookup& params, const WebSettings& settings);

// `DelayUntil`: the first twelve digits (other characters skipped) as year,
// month, day, hour, minute. nullopt when the year is 0 or digits are
// missing; *invalid when a field is out of range.
std::optional<platform::CalendarTime> parseDelayUntil(std::string_view value, bool* invalid);

// The continue link: the default when empty; "http://" put in front of a
// value without a scheme; only http and https links, or the default, are
// kept (anything else becomes the default).
std::string checkedContinueURL(std::string_view value);

}  // namespace vek::http
