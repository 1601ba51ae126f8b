// SendJob: one claimed request file on its way through a link: the claim
// (the open, locked file), the loaded message, what goes on the wire, and
// where the file lives. The claim is held from the moment the file is
// taken until its outcome is written (sent: deleted; retry: the
// "[ErrorDetail]" block rewritten; failed for good: copied and deleted;
// cancelled: left as it was), so no other link can send it meanwhile.
//
// A job is handled by one thread at a time: the sender thread that made
// it, then (in the asynchronous window) the thread that handles its answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "links/link_protocol.h"
#include "platform/clock.h"
#include "queue/queue_claim.h"
#include "queue/request_file.h"

namespace vek::links {

struct SendJob {
  queue::QueueClaim claim;
  // Further segments that go out in the same submission (WDP merging);
  // they share this job's outcome.
  std::vector<queue::QueueClaim> merged;
  queue::SMSMessage msg;
  std::string directory;   // the file's queue directory, ending in '/'
  std::string relative;    // path relative to the queue root (routing-database key)
  std::string name;        // file name
  std::string message_id;  // file name without extension
  SubmitRequest request;
  bool segment = false;             // a long message's segment
  uint32_t throttle_resubmits = 0;  // times it came back through the throttle-resubmit queue
};

}  // namespace vek::links
