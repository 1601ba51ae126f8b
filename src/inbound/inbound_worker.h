// The inbound threads (ThreadProcessInboundSMS): they work the files in the
// inbound directory (and its batch sub-directories) one at a time.
//
// Kinds: 0 works "*.IN"; 1 works "*.IN" and after each pass joins the
// segments of long messages (queue/inbound_segments.h); 2 works "*.REC"
// (receipts that carry the gateway's id). Start-up runs one thread of kind
// 1, one of kind 2 and, for `2WaySMSThreadCount` n above 1, n - 1 further
// pairs of kinds 0 and 2.
//
// A pass (only while `ReceiveSMS` is yes; otherwise files stay untouched):
// each file is claimed (open + flock; a file another thread holds is
// skipped) and loaded. A file without sender and destination is deleted. A
// file that failed before waits for the "2Way" retry schedule
// (inbound_retry.h). Otherwise the message is worked:
//
//  1. data coding 0x11 and 0xF1 count as 0;
//  2. unless it is a two-way copy, has neither destination nor local user,
//     or addresses the WAP push port 2948 on a link that receives MMS:
//     InboundRouting picks a local account (or "~SMSIN"), which gets it
//     through RouteInboundToLocalUser (with DuplicateUserMessagesFor2Way, a
//     two-way copy goes back to the inbound directory): complete;
//  3. a segment of a long message is stored for joining: complete (a
//     header that cannot be read gives the file up);
//  4. an application port is logged ("UDH Dest Port = %u");
//  5. 8-bit data whose coding says GSM 7-bit or UCS-2 becomes text;
//  6. the two-way commands (two_way.h) answer it; what no command takes is
//     set aside as ".SMS". A command that failed or met an error status is
//     retried by the schedule, one whose web server could not be reached
//     without a limit.
//
// Finishing: complete files are emptied and deleted under the claim
// ("Processing complete %s..."); a failure rewrites the "[ErrorDetail]"
// block ("Processing incomplete %s...") until the retry schedule is
// exhausted; given-up files are copied with their time stamp into the
// dated set-aside directory as ".BAD", unhandled ones as ".SMS", and then
// deleted. Nothing is deleted before its copy is on disk.
//
// When a pass completed nothing, the thread waits up to 5 s for its wake-up
// event (A for kinds 0 and 1, B for kind 2). Each InboundWorker is owned by
// one thread; several workers share the directory safely through the
// claims.
#pragma once

#include <string>

#include "inbound/two_way.h"
#include "platform/clock.h"
#include "queue/request_file.h"

namespace vek::inbound {

enum InboundThreadKind : int {
  kInboundMessages = 0,
  kInboundMessagesAndJoining = 1,
  kInboundReceipts = 2,
};

struct PassResult {
  bool receiving = true;  // `ReceiveSMS` was on
  unsigned completed = 0;
  unsigned set_aside = 0;  // as ".SMS" or ".BAD"
  unsigned retried = 0;
  unsigned skipped = 0;  // held elsewhere, or not yet due
  unsigned joined = 0;   // long messages joined after the pass (kind 1)
  // Files finished one way or another: the thread looks again at once.
  unsigned finished() const { return completed + set_aside + joined; }
};

class InboundWorker {
 public:
  explicit InboundWorker(int kind, TwoWayOptions two_way = {});
  InboundWorker(const InboundWorker&) = delete;
  InboundWorker& operator=(const InboundWorker&) = delete;

  // One pass over the inbound directory.
  PassResult runPass();
  // Between passes: the two-way web connection is dropped when it went bad.
  void closeIdleConnection() { two_way_.closeIfBad(); }

 private:
  // kFailedNoLimit: retried whatever the schedule's attempt limit says.
  enum class Outcome { kComplete, kSetAside, kGiveUp, kFailed, kFailedNoLimit, kNotDue };
  void workFile(const std::string& directory, const std::string& relative, PassResult* result);
  Outcome workMessage(queue::SMSMessage& msg, const std::string& text, const std::string& path,
                      const std::string& directory, platform::SystemTime modified);

  const int kind_;
  const char* pattern_;
  TwoWayRunner two_way_;
};

// 8-bit data whose data coding says GSM 7-bit (packed septets) or UCS-2
// turned into UTF-8 text; other messages stay as they are.
void binaryToText(queue::SMSMessage* msg);

// The thread body (argument: the kind).
void ThreadProcessInboundSMS(int kind);

// Pairs of inbound threads to run: `2WaySMSThreadCount` (decimal; 0 and 1
// both mean one pair; at most 32); when it is empty and a two-way command
// `ReceiveSMSCommand1` is configured, 2.
int inboundThreadPairs();

}  // namespace vek::inbound
