// The gateway's view of one short message and its mapping onto submit_sm,
// deliver_sm and data_sm, in both directions.
//
// Outbound (SMPPSubmitMessage, SMPPServerSubmitMessage): the gateway gives
// text or data, a header and flags; this module chooses TON/NPI from the
// form of the addresses ("+" international, letters alphanumeric, digits
// national), converts the text for the data coding, puts a header in front
// (esm_class 0x40), sets registered_delivery from the receipt flags and
// maps the parameter string ("ServiceType=", "Validity=", "SMPPOption_...")
// onto fields and TLVs.
//
// Inbound (deliver_sm / data_sm from a message centre, submit_sm / data_sm
// from a client of the server): the reverse, including receipt parsing, into
// an InboundMessage whose `extra` string carries "name=value" items joined
// by "; ". Pure functions apart from reading the declared options; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/messages.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/tlv.h"

namespace vek::smpp {

// The records every engine shares (protocols/messages.h).
using protocols::InboundMessage;
using protocols::kMessageBinary;
using protocols::kMessageText;
using protocols::MessageType;
using protocols::OutboundMessage;

// The items of a parameter string that reach the wire.
struct MessageParams {
  std::string service_type;
  std::string validity;            // as the client wrote it
  std::string receipt_message_id;  // "ReceiptMessageId=" (receipts the server passes on)
  int source_ton = -1, source_npi = -1, dest_ton = -1, dest_npi = -1;  // overrides
  std::vector<std::pair<std::string, std::string>> options;            // SMPPOption_<name>=<value>
};
MessageParams parseParams(std::string_view params);

// TON/NPI from the form of an address ("+..." international 1/1 without
// the plus; digits national 2/1; anything else alphanumeric 5/0; "" 0/0).
Address addressFor(std::string_view text);
// The reverse, for received addresses: an international number (TON 1, all
// digits) gets its plus back; anything else is the address as it came.
std::string addressText(const Address& address);

// A validity text in SMPP form ("YYMMDDhhmmsstnnp"): kept when already in
// that form; "<n>d", "<n>h", "<n>m" (days, hours, minutes) become relative;
// 14 digits yyyymmddhhmmss (or 12, yymmddhhmmss) local time become absolute
// with the local UTC offset. "" for anything else.
std::string validityToSmpp(std::string_view text);

// Builds submit_sm (client) or deliver_sm (server). Returns 0, or the
// status that refuses the message (bad hex, over-long address or data).
// `version` 0x33 leaves TLVs out. Unknown or malformed options are skipped
// and named in *skipped (for the debug log).
uint32_t buildMessagePdu(uint32_t command_id, const OutboundMessage& m, uint8_t version,
                         const OptionTable& options, Pdu* pdu, std::string* skipped = nullptr);

// The message in a deliver_sm, data_sm, submit_sm or submit_multi (first
// destination). `link_name` goes into the result as it is.
InboundMessage inboundFromPdu(const Pdu& pdu, std::string_view link_name,
                              const OptionTable& options);

}  // namespace vek::smpp
