// Client submissions: what the SMPP server's receive callback does with one
// message a client submitted (submit_sm, data_sm, or one destination of
// submit_multi). It becomes a submit::Message and goes through the
// submission layer (submit/submit.h) like every other front end's; this
// module only maps the PDU's message and the account's rules onto it and
// the layer's refusals onto command statuses:
//
//  1. the debug line "inbound message:  sender=..., recip=..." (Debug on);
//  2. content: a text stays text (the layer splits one longer than a
//     message); a text that comes with a user data header (a segment the
//     client made) goes as octets after that header, 7-bit text packed as
//     septets, so the header is kept and the message is not split again;
//     UCS-2 and binary data go as the hexadecimal octets they are;
//  3. from the extra items: "ServiceType=", "Validity=", "RouteToLocalUser="
//     and "SMSCRouteInfo=" (plain or as "SMPPOption_" items), and each
//     other "SMPPOption_" item whose name section `SMPPOptions` lists;
//     a route or a local user is honoured only for an account with
//     administrator rights (others may not steer messages past the routing
//     rules or into another account's queue; the item is dropped and the
//     debug log says so);
//  4. the receipts the client asked for (registered_delivery);
//  5. the sender: when the account has a sender list and the given sender
//     is not in it, the list's first entry (http/web's rule, shared);
//  6. a new message id ("%08X" from the unique id counter) for the client,
//     written into every file of the message as "ReceiptMessageId=";
//  7. pacing: the account's throughput interval since its previous
//     submission (none when the setting gives no rate);
//  8. submitMessage with FileLayout::kSmppServer: one quota and accounting
//     check for all parts, the parts published whole or not at all.
//
// Refusals: over quota or refused by accounting, 0x58 (throttled; "User
// over quota"); a file that could not be written, 0x08 ("User outbound
// queue file cannot be created"); invalid content, addresses or
// parameters, the status named in commandStatusFor().
//
// Thread-safe: any number of connection threads submit at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "hostlib/accounts.h"
#include "platform/clock.h"
#include "protocols/messages.h"
#include "smpp_server/account_state.h"
#include "submit/error.h"
#include "submit/message.h"

namespace vek::smpp_server {

// Who submits: the account as the store had it at login (or at the last
// re-validation), and where the connection comes from.
struct Submitter {
  hostlib::Account account;
  std::string peer_address;
  Throughput throughput;
  AccountRecord* record = nullptr;  // pacing and counts; null: no pacing
};

struct SubmitEnvironment {
  // Waits until the time given (pacing); false when the gateway is
  // stopping. Default: a sleep that a shutdown ends.
  std::function<bool(platform::SteadyTime)> wait_until;
  // The queue root ("": the configured one).
  std::string queue_root;
};

// The extra items of a client's message that the server reads.
struct ClientItems {
  std::string service_type;
  std::string validity;
  std::string route_to_local_user;
  std::string smsc_route;
  std::string smpp_options;  // kept "SMPPOption_name=value" items joined by "; "
};
ClientItems readClientItems(std::string_view extra);

// The message to submit (without the message id, which submitClientMessage
// draws).
submit::Message messageFromClient(const Submitter& who, const protocols::InboundMessage& m);

// The command status that answers a refusal of the submission layer.
uint32_t commandStatusFor(submit::ErrorKind kind);

// The whole callback: 0 with *message_id set, or the refusing status.
uint32_t submitClientMessage(const Submitter& who, const protocols::InboundMessage& m,
                             std::string* message_id, const SubmitEnvironment& env = {});

}  // namespace vek::smpp_server
