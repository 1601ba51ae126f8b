// Outcomes: what happens to a request file after its send attempt. The same
// code serves synchronous submits, the asynchronous window's answers and
// the files that never reach the wire.
//
//   sent       the ids of all jobs go into the message-id store in one
//              transaction first; only then is each job logged ("OK --
//              <link>"), counted, reported to accounting ("SMSOut", with
//              `AccountingExtended`) and its file deleted. A crash before
//              the store commits leaves the files queued (they go out again:
//              the only way a message is sent twice).
//   failed     "Error:  <text>" to the debug log; decideFailure() of
//              retry_policy.h. Retry: one fresh "[ErrorDetail]" block
//              (RetryCount n + 1), the first retry counted, "Retry Pending
//              - <text> -- <link>" logged; the file stays. Final: "<text>
//              -- <link>" logged and reported, the warning "SMS message
//              could not be sent to <recipient> (<link>), <text>", the
//              ".ERR" copy, a rejection receipt when one was asked for,
//              counted as failed, the file deleted.
//   noRoute    final failure with "Error:  No SMSC defined to route message".
//   cancelled  no answer will come (the connection ended, or shutdown):
//              the file is let go unchanged and goes out again later.
//   setAside   an unreadable or unsound file: renamed to ".BAD" in its
//              directory, logged (debug log, message log, event-log
//              warning); never retried, never sent half-read.
//   local      a request for a local account becomes an inbound file, then
//              the request is deleted.
//
// Thread-safe: the sender thread and its result helpers call it at once;
// each job is handled by one of them. Settings are a snapshot replaced by
// the sender between passes.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "foundation/link_name.h"
#include "links/message_prep.h"
#include "links/send_job.h"
#include "platform/snapshot.h"
#include "queue/retry_policy.h"

namespace vek::links {

class SegmentLocks;

struct OutcomeSettings {
  queue::RetrySettings retry;
  bool accounting_extended = true;
  bool sync_writes = false;  // `SyncQueueWrites`: the id store syncs each commit
};

class Outcomes {
 public:
  // `locks` may be null (no segment locks).
  Outcomes(std::string link, foundation::LinkKind kind, std::shared_ptr<SegmentLocks> locks);

  void setSettings(OutcomeSettings s) { settings_.publish(std::move(s)); }
  const std::string& link() const { return link_; }

  // `smsc_ids[i]` is the centre's id of `jobs[i]`.
  void sent(std::span<SendJob* const> jobs, std::span<const std::string> smsc_ids);
  // True when the failure was final (the file is gone).
  bool failed(SendJob& job, uint32_t code, const std::string& error_text);
  void noRoute(SendJob& job);
  void cancelled(SendJob& job);
  void setAside(SendJob& job, std::string_view why);
  // False when the inbound file could not be written (the request stays).
  bool local(SendJob& job);

 private:
  void finalFailure(SendJob& job, uint32_t code, const std::string& error_text,
                    const std::string& alert_text);
  void releaseAll(SendJob& job);

  const std::string link_;
  const foundation::LinkKind kind_;
  const std::shared_ptr<SegmentLocks> locks_;
  platform::Snapshot<OutcomeSettings> settings_;
};

}  // namespace vek::links
