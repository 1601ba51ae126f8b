// Queueing a submission: one request file per recipient and part, in the
// right directory, under the right name; or, for a recipient list above
// MaxQDirEntries, one bulk job that the bulk queue expands later.
//
// Outbound files go to the queue directory of their route and the user's
// queue (queue_tree.h: route partition, user sub-directory, overflow
// partitions by the file's number in this submission, the delay area for
// a later `DelayUntil`). A single message gets a unique name
// ("<prefix><id %08X>.req"); a long message's segments get "SAR-" names and
// are published as one set per recipient, all or none. Injected inbound
// messages (".in") and receipts (".rec") go to the inbound directory and
// wake the inbound threads.
//
// A file that cannot be written costs only its recipient: the others are
// still queued, and the result names the recipients that failed. Files
// with a route are entered in the routing database when they do not lie in
// their route's partition, and wake the route's links.
//
// Thread-safe: names rest on the unique id counter and exclusive creation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "http/request_text.h"
#include "http/sms_content.h"
#include "platform/clock.h"

namespace vek::http {

enum class SubmissionTarget {
  kOutbound,  // ".req" in the outbound queue
  kInbound,   // ".in" in the inbound directory
  kReceipt,   // ".rec" in the inbound directory
};

struct Submission {
  RequestKeys keys;
  EncodedContent content;
  std::vector<std::string> recipients;
  std::string route;                          // the request's SMSCRoute
  std::vector<std::string> recipient_routes;  // empty, or one per recipient ("" : `route`)
  std::string sub_directory;                  // the user's queue ("" none)
  std::optional<platform::CalendarTime> delay;
  std::string delay_text;  // "%04d%02d%02d%02d%02d" of `delay`
  SubmissionTarget target = SubmissionTarget::kOutbound;
  // Directories; empty means the configured ones.
  std::string queue_root;
  std::string inbound_directory;
  std::string bulk_directory;
};

struct QueuedFile {
  std::string message_id;  // the file's base name without extension
  std::string recipient;
  std::string route;
  std::string path;
  size_t part = 0;       // index into content.parts
  bool delayed = false;  // in the delay area (or a bulk job with a start time)
  bool bulk = false;     // named in a bulk job: the bulk queue writes it later
};

struct SubmissionResult {
  std::vector<QueuedFile> files;
  std::vector<std::string> failed_recipients;
  bool bulk = false;
};

// Queues `s`; `written` is called for each file once it is in place.
SubmissionResult queueSubmission(const Submission& s,
                                 const std::function<void(const QueuedFile&)>& written);

// The route of recipient `i`.
const std::string& routeOf(const Submission& s, size_t i);

}  // namespace vek::http
