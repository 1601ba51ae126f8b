// Where the link sender hands work to other parts of the gateway: one
// function per hand-over, so that each part plugs in here when it lands.
//
//   deliverToLocalUser   a request whose recipient is a local account
//                        (RouteToLocalUser) becomes an inbound file;
//   writeFailureReceipt  a message that failed for good and asked for a
//                        receipt gets a rejection receipt ("REC" file);
//   receive hooks        the receive callback, the separate receiver
//                        connection and the asynchronous receive workers
//                        of an SMPP link (no-ops until the receive side
//                        exists; they report success so the sender goes on).
//
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"
#include "queue/request_file.h"

namespace vek::links {

// Writes `m` as an inbound message ("[SMS-IN]", extension "in") into the
// inbound directory and wakes the inbound threads. The caller deletes the
// request only when this succeeded.
platform::Status deliverToLocalUser(const queue::SMSMessage& m, std::string_view message_id);

// The rejection receipt of a message that failed for good: "[SMS-IN]" with
// the rejected message's recipient as sender, its sender as recipient,
// "ReceiptFailed=Yes", "ReceiptMessageId=" the request's message id and the
// text "id:<id> sub:001 dlvrd:000 submit date:<yyMMddhhmm> done
// date:<yyMMddhhmm> stat:REJECTD err:<code %03X> text:<first 19
// characters>" (dates in local time: the request's creation, now).
platform::Status writeFailureReceipt(const queue::SMSMessage& m, std::string_view message_id,
                                     std::string_view link, uint32_t error_code,
                                     platform::SystemTime created);
std::string rejectionReceiptText(std::string_view message_id, const platform::CalendarTime& submit,
                                 const platform::CalendarTime& done, uint32_t error_code,
                                 std::string_view text);

// The receive side of an SMPP link.
void registerReceiveCallback(std::string_view link);
// Starts the separate receiver connection of instance `instance`.
void startReceiverConnection(std::string_view link, unsigned link_number, int instance);
// Starts `count` asynchronous receive workers and waits up to 60 s until
// they are ready. True when they are.
bool startAsyncReceiveWorkers(std::string_view link, int count);
// At thread end: tells the receiver connection and the workers of `link`
// to stop and waits up to 15 s for each.
void stopReceivers(std::string_view link, int instance);

}  // namespace vek::links
