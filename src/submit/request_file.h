// The request files a submission writes: one message, one part, one
// recipient as the sectioned text of queue/request_file.h, in the key
// order of the front end that made it. Values are cleaned to one line by
// the writer (queue/request_writer.h); validation refuses control
// characters in them before this point.
//
// FileLayout::kSubmission (the web send path; injected inbound messages
// and receipts too):
//   [SMS] (or [SMS-IN] for a message injected as received)
//   SubmitUser          the account, when there is one
//   SubmittedBy         the client's address
//   Sender
//   ReplyRequested=Yes, ReceiptRequested=Yes, ReceiptDelivered=Yes,
//   ReceiptFailed=Yes, ReceiptIntransit=Yes   when set
//   ReceiptMessageID
//   RouteToLocalUser
//   Validity, ServiceType, BillingInfo, AcctInfo
//   SMSCRoute           (ModemName for a message injected as received)
//   SMPPOptions
//   Data, UDH
//   pid, dcs            "%02X" each
//   Binary=1            binary content
//   <extra keys>
//   PhoneNumber         last, so one head serves every recipient (and the
//                       bulk queue's templates are the head itself)
//
// FileLayout::kReply (automatic replies of two-way commands):
//   [SMS], SubmittedBy, SubmitUser, Sender (when set), PhoneNumber, Data,
//   UDH (when set), pid, dcs, Binary=1 (binary content), SMSCRoute and
//   SMPPOptions (when set)
//
// FileLayout::kSmppServer (submit_sm of the gateway's SMPP clients):
//   [SMS], SubmittedBy, SubmitUser, Sender, PhoneNumber, Data, UDH (when
//   set), pid, dcs, Binary=1 or Binary=0, then when set
//   ReceiptRequested=Yes, NonDelReceiptRequested=Yes, ReceiptIntransit=Yes,
//   ReceiptFailed=Yes, ReceiptDelivered=Yes, ReceiptMessageId,
//   ServiceType, Validity, SMPPOptions, SMSCRoute, RouteToLocalUser
//
// Every line ends in CR LF. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "submit/message.h"

namespace vek::submit {

enum class FileLayout { kSubmission, kReply, kSmppServer };

// The whole file for one recipient. `route` is the recipient's route.
std::string requestFileText(const Message& m, const Part& part, std::string_view route,
                            std::string_view recipient,
                            FileLayout layout = FileLayout::kSubmission);

// kSubmission only: everything but the recipient (ends with a line end),
// and the whole file from that head.
std::string requestFileHead(const Message& m, const Part& part, std::string_view route);
std::string requestFileText(std::string_view head, std::string_view recipient);

}  // namespace vek::submit
