// The submission layer's entry: a Message from any front end becomes
// request files in the queue (or an inbound message or receipt), with the
// account's quota and the accounting callback asked first and the logs,
// counters, accounting reports and charges done after. Nothing here knows
// which interface the message came from; a refusal is an Error the front
// end renders in its own terms.
//
//   submitMessage(m, options):
//     1. fitToLimits                   limits.h
//     2. validateMessage               validation.h   (refusals 1-5)
//     3. encodeMessage                 content.h      (kCannotEncode)
//     4. for an account's outbound message (submit_user not empty): the
//        quota for recipients x parts messages (kOverQuota, "User account
//        over quota:  <account>"), then the accounting callback "SMSSend"
//        (kAccountingRefused with its text); routes it names per
//        recipient replace the message's
//     5. queueMessage                  queueing.h
//        per file: the account's log ("SMSSubmit"), for outbound files the
//        accounting report and the queue gauge, then options.on_file
//     6. the submitted counter (received, for the inbound directory) by
//        the files written; the account charged for them
//   A recipient whose files could not be written is named in
//   Submitted::failed_recipients; the others are still queued. Each
//   recipient's parts are written all or none.
//
// How the front ends use it:
//  - Web send path (http/web/send_path.cc): maps the request parameters
//    onto a Message (submitted_by = the client's address, queue_user = the
//    account with SeparateUserQueues), checks its own parameters, calls
//    validateMessage before its content-family check, then submitMessage
//    with on_file writing the web log and the result line; renders Error
//    as its error page (kOverQuota and kAccountingRefused as 403).
//  - SMPP server (submit_sm -> request files): fills a Message from the
//    PDU (one recipient, sender, content with the PDU's dcs and UDH,
//    receipt flags, validity, service type, SMPP options, receipt id),
//    calls submitMessage with FileLayout::kSmppServer and maps
//    Error::kind onto its own command status (kNoRecipient ->
//    ESME_RINVDSTADR, kInvalidHeader/kInvalidData -> ESME_RINVMSGLEN or
//    ESME_RINVPARAM, kUnknownRoute -> ESME_RINVPARAM, kOverQuota ->
//    ESME_RTHROTTLED, ...). A long message is quota-checked once (for all
//    its parts) and its segments are published as one set: whole or not
//    at all (a failed recipient in Submitted).
//  - Two-way replies and receipts: BuildSMSReply (sms_reply.h) makes a
//    reply Message to one recipient and writes it with FileLayout::kReply;
//    a receipt is a Message made by makeReceipt (receipts.h) and queued to
//    the inbound directory with submitMessage.
//  - The inbound local path (a received message for a local account):
//    a Message with queue_user = the account, written by queueMessage with
//    an EncodedMessage of one Part that holds the data as the link
//    delivered it (no second encoding); the received-message key order
//    ("[SMS]", ModemName, ...) is a FileLayout of its own, to be added
//    beside kSmppServer in request_file.h.
//
// Thread-safe: any number of front-end threads submit at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "submit/content.h"
#include "submit/error.h"
#include "submit/message.h"
#include "submit/queueing.h"

namespace vek::submit {

struct SubmitOptions {
  EncodeOptions encoding = encodeOptionsFromSettings();
  QueueOptions queue;
  // Called for each file once it is in place: the front end's own record
  // (its log line, its answer).
  std::function<void(const QueuedFile&, const EncodedMessage&)> on_file;
  // The concatenation reference of a long message (default: the
  // gateway's counter).
  std::function<uint16_t()> next_reference;
};

struct Submitted {
  EncodedMessage content;
  std::vector<QueuedFile> files;               // in recipient and part order
  std::vector<std::string> failed_recipients;  // whose files could not be written
  bool bulk = false;                           // written as a bulk job
};

Checked<Submitted> submitMessage(Message m, const SubmitOptions& options = {});

}  // namespace vek::submit
