// The SMPP receive callback: what the gateway does with each message or
// receipt the SMPP engine received on a link (deliver_sm, data_sm). The
// link sender registers it with the engine; it runs on whichever thread
// services the connection (sender, receiver or asynchronous worker).
//
// For each item: with `Debug`, the line "inbound message:  sender=...,
// recip=..., pid=%X, dcs=%X, msgFlags=%X, udh=..., msg=..." (and
// ", extraParms=..." when there are extra parameters) under
// "SMPPReceiveMessageCallback"; the "SMPPOption_" items become the option
// list, "ServiceType=" the service type; then ProcessInboundSMS stores it.
//
// A receipt whose id still has to be translated into the gateway's own
// ("ResolveReceiptID=Yes", and every receipt carrying a message centre's
// id: this engine never translates ids itself) becomes an ".rct" file for
// the receipt thread, which logs it and reports it to accounting once the
// id is known; nothing is logged or reported here. Any other item is
// logged as received and, with AccountingExtended, reported to accounting
// as "SMSIN" — after it is stored, so a message the centre must deliver
// again is not counted twice. ("ReceiptMsgIdOrig=" names the centre's id
// of the message a receipt refers to.)
//
// Result 1 when the item is stored (the engine acknowledges it), 0 when
// nothing was stored (the engine answers with a temporary error and the
// centre delivers it again). Thread-safe.
#pragma once

#include <string_view>

#include "protocols/smpp/message.h"

namespace vek::inbound {

int SMPPReceiveMessageCallback(const smpp::InboundMessage& message);

// The same for the other engines' receive callbacks, logged under `tag`.
// Without `smpp_items` the item list gives no SMPP options or service type,
// and "ReceiptMsgIdOrig" names a receipt's id whenever it is present.
int receiveFromLink(std::string_view tag, const protocols::InboundMessage& message,
                    bool smpp_items);

}  // namespace vek::inbound
