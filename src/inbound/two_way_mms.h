// Two-way MMS (ThreadProcess2WayMMS): received MMS messages posted to a web
// address. Every second, while `ReceiveMMS` is yes and `2WayMMSPostURL` is
// set (section SMSGW), the thread looks for "*.HDR" files in the inbound
// MMS directory (`MMSDir`, "MMS-IN"). The inbound MMS side writes one per
// message, its parts in the directory of the same base name:
//
//   X-VekMMS-RCPT-TO: +447700900123
//   Message-Type: m-retrieve-conf
//   From: +447700900456/TYPE=PLMN
//   To: ...   Subject: ...   Status: ...   X-Mms-Read-Status: ...
//   Message-ID: ...
//   X-VekMMS-Content-Location: 0000A1B2/text.txt;text/plain    one per part
//
// Values are cut at 250 characters, addresses lose a "/TYPE=..." suffix;
// "To:" gives the phone number unless "X-VekMMS-RCPT-TO:" did, and for an
// "m-delivery-ind" the sender instead. A message with neither sender,
// phone number nor subject is not posted.
//
// The post is one multipart/form-data request (boundary
// "---mImE-bOUNdarY-------3x78ayu--"): the fields "MMSMessageType" (not for
// "m-retrieve-conf"), "MMSStatus", "MMSMessageID", "MMSFrom", "PhoneNumber",
// "MMSSubject" when known, then each part as "MMSFile[]" with its file name,
// type ("application/octet-stream" when none) and length. It goes over its
// own connection (TLS for "https://"), "Connection: close", and waits up to
// 120 s for the answer.
//
// Outcomes: a 2xx answer ("OK"): the header file and its part directory
// are deleted. No answer, a connection or TLS failure, or an answer of 5xx,
// 408 or 429 (the server asks to come back): the files stay and are posted
// again, after 1, 2, 4, ... seconds, at most every 5 minutes. Any other
// answer ("2Way MMS Post - got unknown response - HTTP Status: "), a part
// path that would leave the MMS directory, a missing or oversized part, or
// a message with nothing to post: the header is set aside as ".BAD" with
// its parts kept, never deleted.
//
// One thread; a TwoWayMmsWorker is owned by it.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace vek::inbound {

inline constexpr std::string_view kMmsBoundary = "---mImE-bOUNdarY-------3x78ayu--";

struct MmsHeader {
  std::string message_type;
  std::string sender;
  std::string phone_number;
  std::string subject;
  std::string status;  // "Status:", else "X-Mms-Read-Status:"
  std::string message_id;
  struct Part {
    std::string path;  // relative to the MMS directory
    std::string type;
  };
  std::vector<Part> parts;
  bool postable() const { return !sender.empty() || !phone_number.empty() || !subject.empty(); }
};

MmsHeader parseMmsHeader(std::string_view text);

// The request body, reading the parts below `mms_directory`. False (and
// `*error`) when a part path leaves the directory, a part is missing, or
// the parts pass `max_bytes` together.
bool buildMmsPostBody(const MmsHeader& header, const std::string& mms_directory, std::string* body,
                      std::string* error, size_t max_bytes = 32u << 20);

enum class MmsPostOutcome { kDone, kRetry, kSetAside };
// Posts `body` to `url`. `*detail` says what happened.
MmsPostOutcome postMms(const std::string& url, const std::string& body, std::string* detail,
                       std::chrono::seconds answer_timeout = std::chrono::seconds(120));

class TwoWayMmsWorker {
 public:
  // One scan of `mms_directory` posting to `url`. Returns the headers
  // finished (posted or set aside).
  unsigned runPass(const std::string& url, const std::string& mms_directory);

 private:
  struct Backoff {
    unsigned failures = 0;
    platform::SteadyTime next{};
  };
  std::map<std::string, Backoff> backoff_;  // by header file name
};

void ThreadProcess2WayMMS(int);

}  // namespace vek::inbound
