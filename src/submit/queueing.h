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

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "submit/message.h"
#include "submit/request_file.h"

namespace vek::submit {

struct QueueOptions {
  // Directories; empty means the configured ones.
  std::string queue_root;
  std::string inbound_directory;
  std::string bulk_directory;
  FileLayout layout = FileLayout::kSubmission;  // bulk jobs: kSubmission only
  const char* log_tag = "ThreadProcessConnection";
};

struct QueuedFile {
  std::string message_id;  // the file's base name without extension
  std::string recipient;
  size_t recipient_index = 0;  // into Message::recipients
  std::string route;
  std::string path;
  size_t part = 0;       // index into EncodedMessage::parts
  bool delayed = false;  // in the delay area (or a bulk job with a start time)
  bool bulk = false;     // named in a bulk job: the bulk queue writes it later
};

struct QueueResult {
  std::vector<QueuedFile> files;
  std::vector<std::string> failed_recipients;
  bool bulk = false;
};

// Queues `m` with its encoded `content`; `written` is called for each
// file once it is in place.
QueueResult queueMessage(const Message& m, const EncodedMessage& content,
                         const QueueOptions& options,
                         const std::function<void(const QueuedFile&)>& written);

}  // namespace vek::submit
