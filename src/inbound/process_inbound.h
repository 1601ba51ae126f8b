// ProcessInboundSMS: the one entry for every message or receipt a link
// receives (the SMPP, UCP and CIMD receive callbacks, the modem driver, the
// SMPP server, and the sender's path for a recipient that is a local
// account). It decides in one step where the message goes and writes it
// there:
//
//  - to a local account's queue, when the message names one (extra
//    parameter "RouteToLocalUser=", else the link's `RouteLocal`) and
//    inbound routing confirms it (InboundRouting: the account exists and
//    has "RECV.FLG", else the routing table's choice);
//  - out again through another link, when the link has `ReRouteReceived`
//    ("Yes": any route; another value names the route) and the accounting
//    pre-authorisation accepts it;
//  - otherwise into the inbound directory as ".in", ".rec" (a receipt that
//    carries the gateway's id) or ".rct" (a receipt whose id is the message
//    centre's and must still be resolved: "ResolveReceiptID=Yes").
//
// Before that the link's `InSenderPrefixConvert` and `InRecipPrefixConvert`
// rules rewrite the addresses. A receipt to resolve always goes to the
// inbound directory first (an account must see the gateway's id, which only
// the receipt thread knows); its local user stays in "RouteToLocalUser=".
//
// The message is on disk, whole, when the call reports success: a link
// acknowledges a message only then (an SMPP centre is otherwise told to
// retry, a modem keeps its copy). Nothing stored is an error result.
//
// Thread-safe: any receive thread may call it at any time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/status.h"

namespace vek::inbound {

// One received message as a link hands it over.
struct InboundSMS {
  std::string link_name;  // the receiving link; "" when none
  std::string sender;
  std::string recipient;
  std::string udh;   // user data header, hex
  std::string data;  // UTF-8 text, or hex octets when `binary`
  uint8_t pid = 0;
  uint8_t dcs = 0;
  uint32_t flags = 0;  // message flag word (queue::MessageFlag)
  bool binary = false;
  std::string receipt_message_id;  // receipts: the id of the message reported on
  // "name=value" items separated by ';': "ServiceType=", "RouteToLocalUser=",
  // "ReceivedSMSC=", "ResolveReceiptID=" (yes/no) and "SMPPOption_<name>=".
  std::string extra;
  // When given, these take precedence over the extra parameters' items.
  std::optional<std::string> smpp_options;  // "name=value; ..." (prefix optional)
  std::optional<std::string> service_type;
  // The receipt's id is the message centre's and must be resolved, whatever
  // the extra parameters say.
  bool resolve_receipt_id = false;
};

enum class InboundOutcome {
  kInboundFile,  // written to the inbound directory
  kLocalUser,    // written to a local account's queue
  kReRouted,     // written to an outbound queue
  kRejected,     // re-routing refused by the accounting pre-authorisation: dropped
};

struct InboundStored {
  InboundOutcome outcome = InboundOutcome::kInboundFile;
  std::string path;        // the file written ("" when rejected)
  std::string message_id;  // its base name: re-routed, the new message's id ("SMSCMsgId")
  std::string local_user;  // the account it went to
};

// Stores `message`. An error when nothing could be stored.
platform::Result<InboundStored> ProcessInboundSMS(const InboundSMS& message);

// A prefix rule list "from:to,from:to": the first rule whose "from" begins
// `address` (any case) replaces that prefix by "to" (an empty "to" only
// removes it). Rules without a colon are ignored.
std::string applyPrefixRules(std::string_view address, std::string_view rules);

}  // namespace vek::inbound
