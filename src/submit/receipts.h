// Receipt injection: a client reports the fate of an earlier message by
// its id, and the gateway files an inbound receipt for it as a link would.
// The id is looked up in the message-id store under the link name "HTTP";
// the receipt then carries the stored gateway message id, recipient,
// sender and submitting account.
//
// Pure functions apart from the store lookup; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hostlib/message_ids.h"
#include "platform/clock.h"
#include "submit/message.h"

namespace vek::submit {

inline constexpr std::string_view kReceiptLinkName = "HTTP";

enum class ReceiptStatus { kDelivered, kEnroute, kRejected };

// DELIVRD when `delivered` or no kind is given, else ENROUTE when
// `intransit`, else REJECTD.
ReceiptStatus receiptStatus(bool delivered, bool intransit, bool failed);
const char* receiptStatusText(ReceiptStatus status);

// "id:%s sub:001 dlvrd:%03d submit date:%02d%02d%02d%02d%02d done
// date:%02d%02d%02d%02d%02d stat:%s err:%03X" (one line; dates as
// yymmddhhmm; dlvrd 1 only for DELIVRD; err 0 for DELIVRD and ENROUTE,
// 999 otherwise).
std::string receiptText(std::string_view message_id, ReceiptStatus status,
                        const platform::CalendarTime& submitted,
                        const platform::CalendarTime& done);

std::optional<hostlib::MessageIdRecord> findReceiptOriginal(std::string_view receipt_message_id);

// Makes `m` the receipt for `original`: target kReceipt, the receipt text
// (submit and done date both `now`: the store keeps no submission time) as
// its content, the stored recipient ("unknown" when none), sender,
// account (RouteToLocalUser) and gateway message id (ReceiptMessageID),
// and the receipt kind's flag. What else `m` carries (its client, options
// and protocol identifier) stays.
void makeReceipt(Message* m, const hostlib::MessageIdRecord& original, ReceiptStatus status,
                 const platform::CalendarTime& now);

}  // namespace vek::submit
