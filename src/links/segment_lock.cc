#include "links/segment_lock.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/segment_order.h"

namespace vek::links {
namespace {

constexpr std::string_view kPending = "Pending:";
constexpr size_t kLockFileMax = 4096;

bool namesLink(std::string_view content, std::string_view link) {
  content = platform::trim(content);
  if (content.empty()) return true;
  if (platform::startsWithNoCase(content, kPending)) content.remove_prefix(kPending.size());
  return platform::equalsNoCase(content, link);
}

std::string lockPath(const std::string& directory, std::string_view file_name) {
  std::string name = queue::segmentLockFileName(file_name);
  return name.empty() ? std::string() : platform::joinPath(directory, name);
}

}  // namespace

bool SegmentLocks::acquire(const std::string& directory, std::string_view file_name) {
  std::string path = lockPath(directory, file_name);
  if (path.empty()) return true;
  const std::string pending = std::string(kPending) + link_;
  platform::Status st = platform::publishFile(path, pending);
  if (st.ok()) return true;
  if (st.code() != EEXIST) {
    foundation::DebugLogf(link_, "Segment lock %s: %s", path.c_str(), st.message().c_str());
    return false;
  }
  auto content = platform::readFile(path, kLockFileMax);
  if (!content.ok()) return content.status().code() == ENOENT && acquire(directory, file_name);
  if (!namesLink(*content, link_)) return false;
  if (*content != pending) (void)platform::writeFileAtomic(path, pending);
  return true;
}

void SegmentLocks::confirm(const std::string& directory, std::string_view file_name) {
  std::string path = lockPath(directory, file_name);
  if (!path.empty()) (void)platform::writeFileAtomic(path, link_);
}

void SegmentLocks::scheduleRemoval(const std::string& directory, std::string_view file_name,
                                   platform::SteadyTime now, std::chrono::milliseconds delay) {
  queue::SegmentFileName seg;
  std::string base = platform::baseName(file_name);
  if (!queue::isOutboundSegmentName(base) || !queue::parseSegmentFileName(base, &seg)) return;
  std::string dir = platform::withTrailingSlash(
      platform::parentDirectory(platform::joinPath(directory, file_name)));
  std::string prefix = seg.messagePrefix();
  std::scoped_lock lk(mu_);
  for (auto& r : removals_) {
    if (r.directory == dir && r.message_prefix == prefix) {
      r.due = now + delay;
      return;
    }
  }
  removals_.push_back({std::move(dir), std::move(prefix), now + delay});
}

void SegmentLocks::removeDue(platform::SteadyTime now) {
  std::vector<Removal> due;
  {
    std::scoped_lock lk(mu_);
    for (auto it = removals_.begin(); it != removals_.end();) {
      if (it->due <= now) {
        due.push_back(std::move(*it));
        it = removals_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& r : due) {
    platform::ListOptions one;
    one.limit = 1;
    if (!platform::listDirectory(r.directory, r.message_prefix + "-*.REQ", one).empty()) continue;
    (void)platform::removeFile(r.directory + r.message_prefix + ".LCK");
  }
}

}  // namespace vek::links
