// The receive callbacks of UCP/EMI and CIMD2 links: what the gateway does
// with each message or notification such a centre delivers, on the link's
// own connection or on a connection it opened to the `ReceivePort`. The
// link registers them with the engines; they run on whichever thread
// services the connection.
//
// For each item: the line "inbound message:  sender=..., recip=...,
// pid=%X, dcs=%X, msgFlags=%X, udh=..., msg=..." (with ", extraParms=..."
// when there are extra parameters) to the debug log under
// "UCPReceiveMessageCallback", "CIMDReceiveMessageCallbackEx" or
// "CIMDReceiveMessageCallback"; then ProcessInboundSMS stores it.
//
// A notification names the centre's id of the submission it reports on
// ("ReceiptMsgIdOrig=", at most 149 characters): it is stored as a receipt
// whose id the receipt thread still translates into the gateway's own, and
// that thread logs and reports it. Any other item is reported to
// accounting as "SMSIN" (with `AccountingExtended`) once it is stored, so
// that an item the centre must deliver again is not counted twice.
//
// Result 1 when the item is stored (the engine acknowledges it), 0 when
// nothing was stored (the engine answers negatively and the centre
// delivers it again). Thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "protocols/messages.h"

namespace vek::links {

int UCPReceiveMessageCallback(const protocols::InboundMessage& message);
int CIMDReceiveMessageCallbackEx(const protocols::InboundMessage& message);
// The plain CIMD form: link name, sender, PID, DCS, header and message text.
int CIMDReceiveMessageCallback(const std::string& link_name, const std::string& sender, uint8_t pid,
                               uint8_t dcs, const std::string& udh, const std::string& data);

}  // namespace vek::links
