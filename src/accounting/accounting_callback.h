// The accounting callback as the submission paths call it: pre-authorise a
// submission before anything is queued ("SMSSend" asked), then report each
// queued message ("SMSSend" told).
//
// PLACEHOLDER: the HTTP requests to `SMSAccountingURL` come with the
// accounting issue. Until then the callback behaves as with an empty URL:
// every submission is accepted unchanged (no route, charge or user data is
// named) and reports are dropped.
//
// Thread-safe (no state yet).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vek::accounting {

// What a submission looks like to the accounting service.
struct SubmissionInfo {
  std::string type = "SMSSend";
  std::string from;                     // submitting account ("" anonymous)
  std::vector<std::string> recipients;  // all of them, in order
  uint32_t message_count = 0;           // recipients x segments
  std::string submit_address;           // the client's address
  std::string route;                    // requested SMSCRoute
  std::string sender;
  bool binary = false;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;   // hexadecimal
  std::string data;  // the text, or hexadecimal data when binary
  bool receipt_requested = false;
  std::string service_type;
  std::string validity;
  std::string acct_info;
  std::string smpp_options;  // "SMPPOption_name=value; ..."
};

// The answer to a pre-authorisation. `code` 0 accepts; anything else
// refuses with `error_text`. The per-recipient vectors are either empty
// (nothing named) or as long as the recipient list.
struct PreAuthorisation {
  int code = 0;
  std::string error_text;
  std::vector<std::string> routes;  // per recipient: a route the service chose ("" none)
  std::vector<std::string> route_charges;
  std::vector<std::string> user_data;
};

PreAuthorisation preAuthoriseSubmission(const SubmissionInfo& submission);

// One queued message, reported after it was written.
struct QueuedMessageReport {
  std::string type = "SMSSend";
  std::string from;
  std::string to;
  std::string message_id;
  std::string submit_address;
  std::string sender;
  bool binary = false;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;
  std::string data;
  bool receipt_requested = false;
  std::string service_type;
  std::string validity;
  std::string route;
  std::string acct_info;
  std::string route_charge;
  std::string user_data;
  std::string smpp_options;
};

void reportQueuedMessage(const QueuedMessageReport& report);

}  // namespace vek::accounting
