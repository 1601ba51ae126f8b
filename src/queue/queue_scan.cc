#include "queue/queue_scan.h"

#include <chrono>

#include "foundation/directories.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"

namespace vek::queue {
namespace {

constexpr auto kStaleDirectoryAge = std::chrono::minutes(1);

uint64_t countMatching(const std::string& dir, std::string_view pattern) {
  uint64_t n = 0;
  platform::forEachEntry(dir, pattern, platform::ListOptions{}, [&](const platform::DirEntry&) {
    ++n;
    return true;
  });
  return n;
}

}  // namespace

std::vector<std::string> listQueueSubDirectories(const std::string& directory, bool all_entries) {
  std::vector<std::string> out;
  platform::ListOptions opts;
  opts.files = false;
  opts.directories = true;
  platform::forEachEntry(directory, "*", opts, [&](const platform::DirEntry& e) {
    if (all_entries || e.name.find('.') == std::string::npos) out.push_back(e.name);
    return true;
  });
  return out;
}

bool removeStaleEmptyDirectory(const std::string& path) {
  auto info = platform::statPath(path);
  if (!info || !info->directory) return false;
  if (platform::clock().now() - info->modified <= kStaleDirectoryAge) return false;
  return platform::removeDirectory(path).ok();
}

QueueScan::QueueScan(std::string directory, std::string pattern, bool all_entries)
    : directory_(platform::withTrailingSlash(directory)), pattern_(std::move(pattern)) {
  sub_directories_.push_back(std::string());
  for (std::string& name : listQueueSubDirectories(directory_, all_entries))
    sub_directories_.push_back(std::move(name));
}

bool QueueScan::openNextDirectory() {
  // The directory just finished has no more matching files.
  if (!current_prefix_.empty()) removeStaleEmptyDirectory(directory_ + current_prefix_);
  current_prefix_.clear();
  if (next_sub_ >= sub_directories_.size()) return false;
  const std::string& sub = sub_directories_[next_sub_++];
  if (!sub.empty()) current_prefix_ = sub + "/";
  files_.clear();
  next_file_ = 0;
  platform::forEachEntry(directory_ + current_prefix_, pattern_, platform::ListOptions{},
                         [&](const platform::DirEntry& e) {
                           files_.push_back(e.name);
                           return true;
                         });
  return true;
}

bool QueueScan::next(std::string* relative) {
  while (next_file_ >= files_.size()) {
    if (!openNextDirectory()) return false;
  }
  *relative = current_prefix_ + files_[next_file_++];
  return true;
}

uint64_t countOutboundQueue(const std::string& queue_root) {
  const std::string root = platform::withTrailingSlash(queue_root);
  uint64_t n = countMatching(root, "*.REQ");
  for (const std::string& sub : listQueueSubDirectories(root)) {
    if (platform::startsWithNoCase(sub, kMMSQueuePrefix)) continue;
    n += countMatching(root + sub, "*.REQ");
  }
  return n;
}

QueueCounts countQueues(const std::string& queue_root, const std::string& inbound_directory) {
  QueueCounts c;
  c.outbound = countOutboundQueue(queue_root);
  c.in = countMatching(inbound_directory, "*.IN");
  c.rec = countMatching(inbound_directory, "*.REC");
  c.rct = countMatching(inbound_directory, "*.RCT");
  return c;
}

QueueCounts CountQueues() {
  return countQueues(foundation::queueDirectory(), foundation::inboundDirectory());
}

}  // namespace vek::queue
