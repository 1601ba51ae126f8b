// The request files the submission interface writes, key by key in its
// fixed order:
//
//   [SMS] (or [SMS-IN] for a message injected as received)
//   SubmitUser          authenticated user only
//   SubmittedBy         the client's address
//   Sender
//   ReplyRequested=Yes, ReceiptRequested=Yes, ReceiptDelivered=Yes,
//   ReceiptFailed=Yes, ReceiptIntransit=Yes   when set
//   ReceiptMessageID
//   RouteToLocalUser
//   Validity, ServiceType, BillingInfo, AcctInfo
//   SMSCRoute           (ModemName for injected inbound messages)
//   SMPPOptions
//   Data, UDH
//   pid, dcs            "%02X" each
//   Binary=1            binary content
//   <ExtraHttpArgList parameters>
//   PhoneNumber         last, so one head serves every recipient (and the
//                       bulk queue's templates are the head itself)
//
// Values are cleaned to one line by the writer (request_writer.h); the
// send path refuses control characters in them before this point.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/sms_content.h"

namespace vek::http {

struct RequestKeys {
  bool inbound = false;
  std::string submit_user;
  std::string submitted_by;
  std::string sender;
  bool reply_requested = false;
  bool receipt_requested = false;
  bool receipt_delivered = false;
  bool receipt_failed = false;
  bool receipt_intransit = false;
  std::string receipt_message_id;
  std::string route_to_local_user;
  std::string validity;
  std::string service_type;
  std::string billing_info;
  std::string acct_info;
  std::string smpp_options;
  uint8_t pid = 0;
  std::vector<std::pair<std::string, std::string>> extra_args;
};

// Everything but the recipient; ends with a line end.
std::string requestFileHead(const RequestKeys& keys, const ContentPart& part,
                            std::string_view route);
// The whole file: the head and "PhoneNumber=<recipient>".
std::string requestFileText(std::string_view head, std::string_view recipient);

}  // namespace vek::http
