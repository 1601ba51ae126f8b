// Rejection receipts: the receipt the gateway makes itself when it gives up
// on an account's message for good (the link sender's permanent failure,
// the SMPP server's refusal), so that the account learns of it the way it
// learns of a centre's receipt.
//
// The receipt is an ".rec" inbound file (it already carries the gateway's
// id), worked by the receipt-kind inbound threads like any other:
//
//   [SMS-IN]
//   ModemName=<link>                  when there is one
//   RouteToLocalUser=<account>        when there is one
//   Sender=<the rejected message's recipient>
//   PhoneNumber=<its sender>
//   Data=id:0000A1B2 sub:001 dlvrd:000 submit date:2612081430 done
//        date:2612081431 stat:REJECTD err:00B text:<first 19 characters>
//   Binary=0
//   ReceiptFailed=Yes
//   ReceiptMessageId=0000A1B2         the rejected file's base name
//   ServiceType=, Validity=, SMPPOptions=   copied when present
//
// Dates are local time (year modulo 100, month, day, hour, minute): the
// submit date is the request file's creation time, the done date now; the
// error is the link's code, its low 12 bits in three hex digits; the text
// is cut after 19 characters, never inside one. With an account and
// `DuplicateUserMessagesFor2Way` or `DuplicateUserReceiptsFor2Way`, a
// second file without the account and with "DuplicateMessageFor2Way=Yes"
// follows for the two-way commands. With `AccountingExtended` the first
// copy is reported to accounting as "SMSIN".
//
// Thread-safe: any sender thread may call it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/status.h"
#include "queue/request_file.h"

namespace vek::inbound {

// Characters of the message text a rejection receipt carries.
inline constexpr size_t kRejectionTextCharacters = 19;

struct RejectedMessage {
  std::string queue_file;            // path or name of the rejected request file
  platform::SystemTime submitted{};  // its creation time
  std::string link_name;             // "" when none
  std::string local_user;            // the submitting account, "" when none
  std::string sender;                // the rejected message's sender
  std::string recipient;             // and recipient
  int32_t error_code = 0;
  std::string text;
  std::string service_type;
  std::string validity;
  std::string smpp_options;
};

// The receipt text (see above).
std::string rejectionReceiptText(std::string_view id, platform::SystemTime submitted,
                                 platform::SystemTime done, int32_t error_code,
                                 std::string_view text);

// WriteRejectionReceipt: writes the receipt (and its two-way copy). The
// path of the first file; an error when it could not be written.
platform::Result<std::string> WriteRejectionReceipt(const RejectedMessage& m);

// The link sender's entry on its permanent-failure path, called while it
// still holds the claimed request file: `fd` the open file (for its
// creation time), `path` its path, `msg` it loaded, `link_name` the link
// and `error_code` the link's error. The account is the file's
// "SubmitUser=". Call it only when the message asked for a receipt
// (queue::failureReceiptWanted).
platform::Result<std::string> writeFailureReceipt(int fd, const std::string& path,
                                                  const queue::SMSMessage& msg,
                                                  std::string_view link_name, int32_t error_code);

}  // namespace vek::inbound
