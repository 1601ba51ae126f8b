#include "submit/queueing.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/interface_events.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "queue/routing_db.h"
#include "queue/segment_set.h"
#include "queue/unique_id.h"
#include "submit/bulk_job.h"

namespace vek::submit {
namespace {

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

Placement placementFromSettings(const QueueOptions& o) {
  auto settings = foundation::settings();
  Placement p;
  p.root = platform::withTrailingSlash(o.queue_root.empty() ? foundation::queueDirectory()
                                                            : o.queue_root);
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

// The files of one recipient; the heads of the kSubmission layout are
// made once per route, not once per recipient.
class FileTexts {
 public:
  FileTexts(const Message& m, const EncodedMessage& content, FileLayout layout)
      : m_(m), content_(content), layout_(layout) {}

  std::string text(size_t part, const std::string& route, const std::string& recipient) {
    if (layout_ != FileLayout::kSubmission)
      return requestFileText(m_, content_.parts[part], route, recipient, layout_);
    if (heads_.empty() || route != heads_route_) {
      heads_.clear();
      for (const Part& p : content_.parts) heads_.push_back(requestFileHead(m_, p, route));
      heads_route_ = route;
    }
    return requestFileText(heads_[part], recipient);
  }

 private:
  const Message& m_;
  const EncodedMessage& content_;
  const FileLayout layout_;
  std::vector<std::string> heads_;
  std::string heads_route_;
};

void queueOutbound(const Message& m, const EncodedMessage& content, const QueueOptions& o,
                   const Placement& p, QueueResult* result,
                   const std::function<void(const QueuedFile&)>& written) {
  const auto& parts = content.parts;
  FileTexts texts(m, content, o.layout);
  for (size_t i = 0; i < m.recipients.size(); ++i) {
    const std::string& recipient = m.recipients[i];
    const std::string& route = m.routeOf(i);
    const std::string dir = queue::QueueDirectoryIn(p.root, route, m.queue_user, i * parts.size(),
                                                    m.delay_until ? &*m.delay_until : nullptr);
    const bool delayed = inDelayArea(dir, p);
    std::vector<QueuedFile> files;
    if (parts.size() == 1) {
      auto path = createRequestFile(dir, "req", texts.text(0, route, recipient));
      if (path.ok())
        files.push_back(
            QueuedFile{withoutExtension(*path), recipient, i, route, *path, 0, delayed});
    } else {
      const uint32_t id = queue::NextUniqueMessageId();
      const unsigned total = static_cast<unsigned>(parts.size());
      std::vector<queue::SegmentFileText> set;
      set.reserve(parts.size());
      for (unsigned n = 0; n < total; ++n) {
        set.push_back({queue::segmentFileName(recipient, id, total, n + 1, "req"),
                       texts.text(n, route, recipient)});
      }
      auto paths = queue::PublishSegmentSet(dir, set);
      if (paths.ok()) {
        for (size_t n = 0; n < paths->size(); ++n)
          files.push_back(QueuedFile{withoutExtension((*paths)[n]), recipient, i, route,
                                     (*paths)[n], n, delayed});
      }
    }
    if (files.empty()) {
      foundation::DebugLogf(o.log_tag, "Unable to queue the message for %s in %s",
                            recipient.c_str(), dir.c_str());
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

void queueInbound(const Message& m, const EncodedMessage& content, const QueueOptions& o,
                  QueueResult* result, const std::function<void(const QueuedFile&)>& written) {
  const std::string dir = platform::withTrailingSlash(
      o.inbound_directory.empty() ? foundation::inboundDirectory() : o.inbound_directory);
  const char* ext = m.target == Target::kReceipt ? "rec" : "in";
  FileTexts texts(m, content, o.layout);
  for (size_t i = 0; i < m.recipients.size(); ++i) {
    const std::string& recipient = m.recipients[i];
    bool ok = true;
    for (size_t n = 0; n < content.parts.size(); ++n) {
      auto path = createRequestFile(dir, ext, texts.text(n, m.routeOf(i), recipient));
      if (!path.ok()) {
        foundation::DebugLogf(o.log_tag, "Unable to write the inbound message for %s in %s: %s",
                              recipient.c_str(), dir.c_str(), path.status().message().c_str());
        ok = false;
        continue;
      }
      QueuedFile f{withoutExtension(*path), recipient, i, m.routeOf(i), *path, n, false};
      if (written) written(f);
      result->files.push_back(std::move(f));
    }
    if (!ok) result->failed_recipients.push_back(recipient);
  }
  if (!result->files.empty()) foundation::inboundEventA().set();
}

}  // namespace

QueueResult queueMessage(const Message& m, const EncodedMessage& content,
                         const QueueOptions& options,
                         const std::function<void(const QueuedFile&)>& written) {
  QueueResult result;
  if (content.parts.empty()) return result;
  if (m.target != Target::kOutbound) {
    queueInbound(m, content, options, &result, written);
    return result;
  }
  const Placement p = placementFromSettings(options);
  if (p.bulk && options.layout == FileLayout::kSubmission && m.recipients.size() > p.max_entries &&
      content.parts.size() <= kMaxBulkTemplates) {
    result.bulk = true;
    BulkJobPlan plan;
    plan.directory =
        options.bulk_directory.empty() ? foundation::bulkQueueDirectory() : options.bulk_directory;
    plan.recipients_per_block = p.max_entries;
    auto files = writeBulkJob(m, content, plan);
    if (!files.ok()) {
      foundation::DebugLogf(options.log_tag, "Unable to write the bulk job for %zu recipients: %s",
                            m.recipients.size(), files.status().message().c_str());
      result.failed_recipients = m.recipients;
      return result;
    }
    for (QueuedFile& f : *files) {
      if (written) written(f);
      result.files.push_back(std::move(f));
    }
    return result;
  }
  queueOutbound(m, content, options, p, &result, written);
  return result;
}

}  // namespace vek::submit
