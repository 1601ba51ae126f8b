// The per-message steps between loading a request file and handing it to
// the link kind: is the file sound, is it for a local account, which
// sender goes out, and the parameter string.
//
// Plain functions over values; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "foundation/link_name.h"
#include "foundation/link_settings.h"
#include "links/link_protocol.h"
#include "queue/request_file.h"

namespace vek::links {

// Why a request file cannot be sent as it stands; kSound when it can.
enum class FileFault {
  kSound,
  kEmpty,         // no bytes, or nothing but blanks
  kNoSection,     // no "[SMS]" section (junk, or an inbound file in the queue)
  kBinaryJunk,    // NUL bytes: not a text file
  kTruncated,     // the last line has no line end: cut while being written
  kNoRecipient,   // "PhoneNumber" missing or empty
  kValueTooLong,  // recipient or data longer than the file format holds: it would go out cut
};
// Examines the whole text of a request file and the record loaded from it.
FileFault examineRequestText(std::string_view text, const queue::SMSMessage& m);
const char* fileFaultText(FileFault f);

// A request that goes to a local account instead of a link.
inline bool forLocalUser(const queue::SMSMessage& m) {
  return !m.RouteToLocalUser.empty();
}

// The sender that goes out: the message's own when it has one and
// `SenderAddressOverride` is on or it is one of the link's `SenderAddress`
// entries; otherwise the link's first `SenderAddress` entry.
std::string chooseSender(std::string_view own, const foundation::LinkCommonSettings& link);

// The parameter string, items joined by "; ". SMPP (and the other kinds):
// the message's SMPPOptions, "LocalUser=" the submitting account,
// "ServiceType=" and "Validity=" (the message's, else the link's default
// validity) when set. UCP: "BillingInfo=", "LocalUser=", "OurMsgId=" (the
// message id), each when set.
std::string buildParams(foundation::LinkKind kind, const queue::SMSMessage& m,
                        std::string_view message_id, std::string_view default_validity);

// Everything the kind needs for one message: prefix rewriting of recipient
// and sender, the sender choice, receipts off with `DisableDeliveryReceipt`.
SubmitRequest buildSubmitRequest(foundation::LinkKind kind, const queue::SMSMessage& m,
                                 std::string_view message_id,
                                 const foundation::LinkCommonSettings& link,
                                 std::string_view default_validity);

// The file name without directory and extension: the gateway's message id.
std::string messageIdOf(std::string_view relative_path);

}  // namespace vek::links
