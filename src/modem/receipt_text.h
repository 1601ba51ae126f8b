// Status reports as receipts: what a status octet of an SMS-STATUS-REPORT
// means, and the receipt text the gateway writes for it.
//
// Kinds: 0x00-0x02 delivered; 0x20-0x3F temporary (the centre is still
// trying: no receipt is made); everything else failed.
//
// Texts:
//   default  "id:%s sub:001 dlvrd:%03d submit date:%02d%02d%02d%02d%02d
//            done date:%02d%02d%02d%02d%02d stat:%s err:%03X" (one line;
//            dlvrd 1 when delivered, stat DELIVRD or REJECTD, err the status)
//   old      "Report: %s SMSC: %s Submitted: %04d-%02d-%02d %02d:%02d:%02d
//            %s%02d%02d Reported: ... Status: %02X <meaning>" (with
//            `OldModemReceiptFormat`)
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "modem/pdu_decode.h"

namespace vek::modem {

enum class ReceiptKind { kDelivered, kTemporary, kFailed };

ReceiptKind receiptKind(uint8_t status);
// "(Delivered)", "(Temp Error: Recipient Busy)", ...
std::string_view statusMeaning(uint8_t status);

// `id` is the gateway message id found for the report, or "unknown".
std::string receiptText(const ReceivedPdu& report, std::string_view id, bool old_format);

}  // namespace vek::modem
