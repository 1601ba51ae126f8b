// Message: one message on its way from a front end to the queue. Every
// front end that creates messages fills in this one type (the web send
// path, the SMPP server's submit_sm, two-way replies, receipts, the
// inbound local path) and the submission layer checks, encodes and writes
// it; no front end copies its fields into a structure of its own.
//
// Fields are named after the request file keys they become. Values are the
// front end's, cut to the limits of limits.h by fitToLimits(). Addresses
// are in the form the queue carries (recipients.h reduces them).
//
// EncodedMessage: what the encoder made of a message's content: one Part
// per request file a recipient gets (one, or the segments of a long
// message).
//
// Plain values owned by the thread that submits the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace vek::submit {

enum class Target {
  kOutbound,  // ".req" files in the outbound queue: a link sends them
  kInbound,   // ".in" in the inbound directory: handled as if received
  kReceipt,   // ".rec" in the inbound directory: a delivery receipt
};

// What the message says.
struct Content {
  // UTF-8 text. In binary mode hexadecimal octets, or a plain text that
  // goes after `udh` (as 7-bit septets, or UCS-2 when it needs it).
  std::string text;
  // Binary mode: the front end was given data, a user data header or a
  // port rather than a text.
  bool binary = false;
  std::string udh;  // hexadecimal, length octet first; "" none
  uint8_t pid = 0;
  // The data coding scheme asked for. None: 0 for text, BinaryDCS for
  // hexadecimal octets.
  std::optional<uint8_t> dcs;
  // Either one adds an application port element (16-bit addresses) to
  // the header; the message is then binary.
  std::optional<uint16_t> source_port;
  std::optional<uint16_t> destination_port;

  bool hasPorts() const { return source_port.has_value() || destination_port.has_value(); }
};

struct Message {
  Target target = Target::kOutbound;

  std::string submit_user;   // SubmitUser: the submitting account ("" anonymous)
  std::string submitted_by;  // SubmittedBy: the client's address, or what made it
  std::vector<std::string> recipients;
  std::string sender;
  Content content;

  // SMSCRoute (ModemName for a message injected as received): a link
  // name or a link's RouteName, "" for any link.
  std::string route;
  // Empty, or one route per recipient; "" there means `route`.
  std::vector<std::string> recipient_routes;
  std::string route_to_local_user;  // RouteToLocalUser
  std::string queue_user;           // the account's own queue directory ("" none)
  // A later send time, to the minute (DelayUntil).
  std::optional<platform::CalendarTime> delay_until;

  bool reply_requested = false;
  bool receipt_requested = false;
  bool non_delivery_receipt_requested = false;
  bool receipt_delivered = false;
  bool receipt_failed = false;
  bool receipt_intransit = false;
  std::string receipt_message_id;  // ReceiptMessageID

  std::string validity;
  std::string service_type;
  std::string billing_info;
  std::string acct_info;
  std::string smpp_options;  // "SMPPOption_name=value; ..."
  // Keys copied into every file after the content (ExtraHttpArgList).
  std::vector<std::pair<std::string, std::string>> extra_keys;

  // The route of recipient `i`.
  const std::string& routeOf(size_t i) const {
    if (i < recipient_routes.size() && !recipient_routes[i].empty()) return recipient_routes[i];
    return route;
  }
  // "%04d%02d%02d%02d%02d" of delay_until ("" without one).
  std::string delayText() const;
};

// One request file's content: a whole message or one segment.
struct Part {
  std::string data;  // plain text (binary false) or hexadecimal
  std::string udh;   // hexadecimal; "" none
  uint8_t dcs = 0;
  bool binary = false;
};

struct EncodedMessage {
  std::vector<Part> parts;
  // For the message logs: "Text", "Binary" or "LongText".
  const char* kind = "Text";
  bool ucs2 = false;  // the text went as UCS-2
};

}  // namespace vek::submit
