// Hand-over of what a modem receives (messages and status reports) to
// inbound processing.
//
// handInboundSms() writes one inbound file into the inbound directory and
// returns only once it is published whole, so the caller may then delete
// the message from the modem's storage or acknowledge it. Layout: section
// "[SMS-IN]", then "ModemName=", "Sender=", "PhoneNumber=", "UDH=",
// "pid=%X" and "dcs=%X" (when not 0), "Data=", "Binary=1" (8-bit and UCS-2
// data, as hexadecimal), "ReceiptRequested=Yes", the receipt status and
// "ReceiptMessageId=", "RouteToLocalUser=", "ReceivedSMSC=", each only when
// it has a value. Extension: "in" for a message, "rec" for a receipt whose
// id is the gateway's own, "rct" for a receipt whose id is still to be
// resolved.
//
// The modem driver calls it through an InboundHandler, so that the link
// session can route it elsewhere (the inbound processing entry) without
// touching the driver. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/status.h"

namespace vek::modem {

struct InboundSms {
  std::string link_name;  // ModemName=
  std::string sender;
  std::string recipient;  // the modem's own number, or for a receipt the original sender
  std::string udh;        // hexadecimal
  std::string data;       // UTF-8 text, or hexadecimal when `binary`
  bool binary = false;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  uint32_t flags = 0;  // queue::MessageFlag bits
  std::string receipt_message_id;
  bool resolve_receipt_id = false;  // the id is a modem key still to translate
  std::string route_to_local_user;
  std::string received_smsc;
};

using InboundHandler = std::function<platform::Status(const InboundSms&)>;

// The text of the inbound file for `m`.
std::string formatInboundSms(const InboundSms& m);
// Writes it into the inbound directory; the path in `*path` when given.
platform::Status handInboundSms(const InboundSms& m, std::string* path = nullptr);

}  // namespace vek::modem
