// Where the link sender hands work to other parts of the gateway: one
// function per hand-over, so that each part plugs in here when it lands.
//
//   deliverToLocalUser   a request whose recipient is a local account
//                        (RouteToLocalUser) goes through the inbound entry
//                        (ProcessInboundSMS) like a received message;
//   writeFailureReceipt  a message that failed for good and asked for a
//                        receipt gets a rejection receipt (".rec" file);
//   receive hooks        the receive callback, the separate receiver
//                        connection and the asynchronous receive workers
//                        of an SMPP link.
//
// Thread-safe.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "queue/request_file.h"

namespace vek::links {

// Hands `m` to ProcessInboundSMS with "RouteToLocalUser=<account>": the
// account's queue when inbound routing confirms the account, else where
// the routing table says. The caller deletes the request only when this
// succeeded (the message is then on disk).
platform::Status deliverToLocalUser(const queue::SMSMessage& m, std::string_view message_id);

// The rejection receipt of a message that failed for good and asked for one
// (inbound/rejection_receipt.h): `fd` and `path` the claimed request file.
platform::Status writeFailureReceipt(int fd, const std::string& path, const queue::SMSMessage& m,
                                     std::string_view link, uint32_t error_code);

// The receive side of an SMPP link (smpp_receiver.h).
// Makes the SMPP engine hand what it receives to the inbound processing.
void registerReceiveCallback(std::string_view link);
// Starts the separate receiver connection of instance `instance`.
void startReceiverConnection(std::string_view link, unsigned link_number, int instance);
// Starts `count` asynchronous receive workers and waits up to 60 s until
// they are ready. True when they are.
bool startAsyncReceiveWorkers(std::string_view link, int instance, int count);
// At thread end: tells the receiver connection and the workers of `link`
// and `instance` to stop and waits up to `bound` for each. True when all ended.
bool stopReceivers(std::string_view link, int instance, std::chrono::milliseconds bound);

}  // namespace vek::links
