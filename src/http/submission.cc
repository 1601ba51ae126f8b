#include "http/submission.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/interface_events.h"
#include "http/bulk_job.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "queue/routing_db.h"
#include "queue/segment_set.h"
#include "queue/unique_id.h"

namespace vek::http {
namespace {

constexpr const char* kTag = "ThreadProcessConnection";
constexpr std::string_view kLocalUserRoute = "localuser:";

std::string withoutExtension(const std::string& path) {
  std::string name = platform::baseName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// A new single-message request file "<dir><prefix><id %08X>.<ext>".
platform::Result<std::string> createRequestFile(const std::string& directory,
                                                std::string_view extension, std::string_view text) {
  return queue::CreateQueueFile(directory, extension, text);
}

struct Placement {
  std::string root;
  bool route_queues = true;
  bool route_cache = false;  // enter routed files in the routing database
  bool bulk = true;
  uint64_t max_entries = 10000;
};

Placement placementFromSettings(const Submission& s) {
  auto settings = foundation::settings();
  Placement p;
  p.root = platform::withTrailingSlash(s.queue_root.empty() ? foundation::queueDirectory()
                                                            : s.queue_root);
  p.route_queues = settings->UseRouteQueues;
  p.route_cache = settings->UseRouteCache && settings->UseRouteCacheOnSubmit;
  p.bulk = settings->EnableBulkQ;
  p.max_entries =
      settings->MaxQDirEntries > 0 ? static_cast<uint64_t>(settings->MaxQDirEntries) : 10000u;
  return p;
}

bool inDelayArea(const std::string& dir, const Placement& p) {
  return platform::startsWithNoCase(
      std::string_view(dir).substr(std::min(p.root.size(), dir.size())), queue::kDelayDirectory);
}

// The routing database learns the route of a file that does not lie in its
// route's partition (route queues off); link senders ask it before sending.
void noteRoute(const QueuedFile& f, const Placement& p) {
  if (f.route.empty() || f.delayed || !p.route_cache || p.route_queues) return;
  if (platform::startsWithNoCase(f.route, kLocalUserRoute)) return;
  std::string key = f.path.substr(std::min(p.root.size(), f.path.size()));
  if (queue::routingDatabase().add(key, "*=" + f.route)) {
    foundation::DebugLog("MessageRoutesAdd", key);
    foundation::DebugLog("MessageRoutesAdd", "*=" + f.route);
  }
}

void queueOutbound(const Submission& s, const Placement& p, SubmissionResult* result,
                   const std::function<void(const QueuedFile&)>& written) {
  const auto& parts = s.content.parts;
  std::vector<std::string> heads;
  std::string heads_route;
  for (size_t i = 0; i < s.recipients.size(); ++i) {
    const std::string& recipient = s.recipients[i];
    const std::string& route = routeOf(s, i);
    if (heads.empty() || route != heads_route) {
      heads.clear();
      for (const ContentPart& part : parts) heads.push_back(requestFileHead(s.keys, part, route));
      heads_route = route;
    }
    const std::string dir = queue::QueueDirectoryIn(
        p.root, route, s.sub_directory, i * parts.size(), s.delay ? &*s.delay : nullptr);
    const bool delayed = inDelayArea(dir, p);
    std::vector<QueuedFile> files;
    if (parts.size() == 1) {
      auto path = createRequestFile(dir, "req", requestFileText(heads[0], recipient));
      if (path.ok())
        files.push_back(QueuedFile{withoutExtension(*path), recipient, route, *path, 0, delayed});
    } else {
      const uint32_t id = queue::NextUniqueMessageId();
      const unsigned total = static_cast<unsigned>(parts.size());
      std::vector<queue::SegmentFileText> set;
      set.reserve(parts.size());
      for (unsigned n = 0; n < total; ++n) {
        set.push_back({queue::segmentFileName(recipient, id, total, n + 1, "req"),
                       requestFileText(heads[n], recipient)});
      }
      auto paths = queue::PublishSegmentSet(dir, set);
      if (paths.ok()) {
        for (size_t n = 0; n < paths->size(); ++n)
          files.push_back(
              QueuedFile{withoutExtension((*paths)[n]), recipient, route, (*paths)[n], n, delayed});
      }
    }
    if (files.empty()) {
      foundation::DebugLogf(kTag, "Unable to queue the message for %s in %s", recipient.c_str(),
                            dir.c_str());
      result->failed_recipients.push_back(recipient);
      continue;
    }
    for (QueuedFile& f : files) {
      noteRoute(f, p);
      if (!f.route.empty() && !f.delayed) hostlib::SetEventForInterface("SmppSubmitAsync", f.route);
      if (written) written(f);
      result->files.push_back(std::move(f));
    }
  }
}

void queueInbound(const Submission& s, SubmissionResult* result,
                  const std::function<void(const QueuedFile&)>& written) {
  const std::string dir = platform::withTrailingSlash(
      s.inbound_directory.empty() ? foundation::inboundDirectory() : s.inbound_directory);
  const char* ext = s.target == SubmissionTarget::kReceipt ? "rec" : "in";
  for (size_t i = 0; i < s.recipients.size(); ++i) {
    const std::string& recipient = s.recipients[i];
    bool ok = true;
    for (size_t n = 0; n < s.content.parts.size(); ++n) {
      std::string head = requestFileHead(s.keys, s.content.parts[n], routeOf(s, i));
      auto path = createRequestFile(dir, ext, requestFileText(head, recipient));
      if (!path.ok()) {
        foundation::DebugLogf(kTag, "Unable to write the inbound message for %s in %s: %s",
                              recipient.c_str(), dir.c_str(), path.status().message().c_str());
        ok = false;
        continue;
      }
      QueuedFile f{withoutExtension(*path), recipient, routeOf(s, i), *path, n, false};
      if (written) written(f);
      result->files.push_back(std::move(f));
    }
    if (!ok) result->failed_recipients.push_back(recipient);
  }
  if (!result->files.empty()) foundation::inboundEventA().set();
}

}  // namespace

const std::string& routeOf(const Submission& s, size_t i) {
  if (i < s.recipient_routes.size() && !s.recipient_routes[i].empty()) return s.recipient_routes[i];
  return s.route;
}

SubmissionResult queueSubmission(const Submission& s,
                                 const std::function<void(const QueuedFile&)>& written) {
  SubmissionResult result;
  if (s.content.parts.empty()) return result;
  if (s.target != SubmissionTarget::kOutbound) {
    queueInbound(s, &result, written);
    return result;
  }
  const Placement p = placementFromSettings(s);
  if (p.bulk && s.recipients.size() > p.max_entries &&
      s.content.parts.size() <= kMaxBulkTemplates) {
    result.bulk = true;
    BulkJobPlan plan;
    plan.directory = s.bulk_directory.empty() ? foundation::bulkQueueDirectory() : s.bulk_directory;
    plan.recipients_per_block = p.max_entries;
    auto files = writeBulkJob(s, plan);
    if (!files.ok()) {
      foundation::DebugLogf(kTag, "Unable to write the bulk job for %zu recipients: %s",
                            s.recipients.size(), files.status().message().c_str());
      result.failed_recipients = s.recipients;
      return result;
    }
    for (QueuedFile& f : *files) {
      if (written) written(f);
      result.files.push_back(std::move(f));
    }
    return result;
  }
  queueOutbound(s, p, &result, written);
  return result;
}

}  // namespace vek::http
