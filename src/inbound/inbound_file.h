// Inbound files: a received message or receipt as a small text file, in the
// layout of request files (queue/request_file.h, whose loader reads both):
//
//   [SMS-IN]                  "[SMS]" when it went to an account's queue
//   ModemName=SMPP - smsc:2775   the receiving link
//   Sender=+447700900123
//   PhoneNumber=12345
//   UDH=050003A70301
//   dcs=8                     pid and dcs in hex, only when not 0
//   Data=Hello\r\nWorld       text, or hex octets with Binary=1
//   Binary=1
//   ReceiptDelivered=Yes      receipts: one status, then the id
//   ReceiptMessageId=0000A1B2
//   ServiceType=WAP
//   SMPPOptions=SMPPOption_network_code=12; SMPPOption_x=y
//   RouteToLocalUser=alice
//   ReceivedSMSC=...
//   DuplicateMessageFor2Way=Yes   the two-way copy of a message an account got
//
// Names in the inbound directory: "<id %08X>.in" for a message, ".rec" for
// a receipt that carries the gateway's own message id, ".rct" for a receipt
// whose id is the message centre's and must still be looked up. Given-up
// files are set aside in the dated sub-directory as ".BAD" (failed) or
// ".SMS" (nothing handled them); segments of long messages wait as ".SAR"
// (queue/inbound_segments.h).
//
// Two writers build these texts: the receive entry (ProcessInboundSMS,
// formatReceivedFile) and the routing of a loaded message to an account or
// back to the inbound directory (RouteInboundToLocalUser,
// formatRoutedCopy). Values from links and clients are written through the
// request writer, so no value can put a key line of its own into a file;
// the text is cut where the loader cuts it (8,191 characters of escaped
// text), never inside a UTF-8 character, never at an odd hex length.
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "queue/request_file.h"

namespace vek::inbound {

enum class InboundKind {
  kMessage,           // ".in"
  kReceipt,           // ".rec": carries the gateway's message id
  kReceiptToResolve,  // ".rct": carries the message centre's id
};
std::string_view extensionOf(InboundKind kind);

// `data` cut so that its escaped form (CR and LF take two characters)
// stays within the loader's 8,191 characters: text at a UTF-8 character
// boundary; binary hex at an even length, UCS-2 hex (`dcs` says UCS-2) at
// a whole character (four digits).
std::string cutData(std::string_view data, bool binary, uint8_t dcs);

// The one receipt status key a flag word carries ("ReceiptIntransit",
// "ReceiptFailed", "ReceiptDelivered", tested in that order), or "" when
// the flags do not describe a receipt.
std::string_view receiptStatusKey(uint32_t flags);

// What the receive entry writes for one message.
struct ReceivedFile {
  bool inbound_section = true;  // "[SMS-IN]"; "[SMS]" for an account's queue or a re-route
  std::string modem_name;       // the receiving link
  std::string smsc_route;       // re-routed: the route ("" for any route)
  std::string sender;
  std::string recipient;
  std::string udh;
  std::string data;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  bool binary = false;
  uint32_t flags = 0;
  std::string receipt_message_id;
  std::string service_type;
  std::string smpp_options;
  std::string local_user;
  std::string received_smsc;
  bool duplicate_for_two_way = false;
};
// Section, "ModemName=" or "SMSCRoute=", "Sender=", "PhoneNumber=", "UDH=",
// "pid=%X", "dcs=%X", "Data=", "Binary=1", the request flags, the receipt
// status and "ReceiptMessageId=", "ServiceType=", "SMPPOptions=",
// "RouteToLocalUser=", "ReceivedSMSC=", "DuplicateMessageFor2Way=Yes": each
// only when it has a value (the sender always).
std::string formatReceivedFile(const ReceivedFile& f);

// A loaded message written again for an account's queue ("[SMS]") or the
// inbound directory ("[SMS-IN]"): "Sender=", "PhoneNumber=", "Data=",
// "UDH=", "pid=" and "dcs=" as "%02X", "Binary=1" or "Binary=0", the
// request flags, receipt status and id, then "ServiceType=", "ModemName=",
// "ReceivedSMSC=", "BillingInfo=", "AcctInfo=", "SMPPOptions=" and
// "DuplicateMessageFor2Way=Yes", each when present.
std::string formatRoutedCopy(const queue::SMSMessage& m, bool inbound_section);

// The base name of a path without its extension ("/q/0000A1B2.req" ->
// "0000A1B2"): the message id a file stands for.
std::string messageIdOf(std::string_view path);

}  // namespace vek::inbound
