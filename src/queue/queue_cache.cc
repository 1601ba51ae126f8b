#include "queue/queue_cache.h"

#include <chrono>

#include "foundation/directories.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/queue_scan.h"

namespace vek::queue {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(250);
constexpr std::string_view kRequestPattern = "*.REQ";

bool isRoot(std::string_view name) {
  return name.empty() || name == kQueueRootName;
}

void appendDirectory(QueueListing* out, const std::string& path, const std::string& name,
                     const std::string& prefix) {
  QueueListing::Directory d;
  d.name = name;
  d.first = out->files.size();
  platform::forEachEntry(path, kRequestPattern, platform::ListOptions{},
                         [&](const platform::DirEntry& e) {
                           out->files.push_back(prefix + e.name);
                           return true;
                         });
  d.count = out->files.size() - d.first;
  if (d.count > 0) out->directories.push_back(std::move(d));
}

std::vector<std::string> directFiles(const std::string& root, std::string_view sub) {
  std::string dir = platform::withTrailingSlash(root);
  if (!isRoot(sub)) dir += std::string(sub) + "/";
  std::vector<std::string> out;
  platform::forEachEntry(dir, kRequestPattern, platform::ListOptions{},
                         [&](const platform::DirEntry& e) {
                           out.push_back(e.name);
                           return true;
                         });
  return out;
}

// The cached listing of `root` when senders should use it, else null.
std::shared_ptr<const QueueListing> cachedListing(const std::string& root) {
  if (!foundation::settings()->UseQCache || !queueCache().ready()) return nullptr;
  auto l = queueCache().listing();
  return l->root == platform::withTrailingSlash(root) ? l : nullptr;
}

std::vector<std::string> directoryNames(const QueueListing& l) {
  std::vector<std::string> out;
  out.reserve(l.directories.size());
  for (const auto& d : l.directories) out.push_back(d.name);
  return out;
}

std::vector<std::string> filesOf(const QueueListing& l, std::string_view sub) {
  std::string_view wanted = isRoot(sub) ? kQueueRootName : sub;
  std::vector<std::string> out;
  for (const auto& d : l.directories) {
    if (!platform::equalsNoCase(d.name, wanted)) continue;
    size_t strip = isRoot(wanted) ? 0 : d.name.size() + 1;
    out.reserve(d.count);
    for (size_t i = d.first; i < d.first + d.count; ++i) out.push_back(l.files[i].substr(strip));
    break;
  }
  return out;
}

}  // namespace

QueueListing buildQueueListing(const std::string& root_in) {
  const std::string root = platform::withTrailingSlash(root_in);
  QueueListing out;
  out.root = root;
  appendDirectory(&out, root, std::string(kQueueRootName), std::string());
  for (const std::string& sub : listQueueSubDirectories(root)) {
    size_t before = out.directories.size();
    appendDirectory(&out, root + sub, sub, sub + "/");
    if (out.directories.size() == before) removeStaleEmptyDirectory(root + sub);
  }
  return out;
}

void QueueCache::refresh(const std::string& root) {
  listing_.publish(buildQueueListing(root));
  ready_.store(true, std::memory_order_release);
}

std::vector<std::string> QueueCache::subDirectories() const {
  return directoryNames(*listing());
}

std::vector<std::string> QueueCache::files(std::string_view sub) const {
  return filesOf(*listing(), sub);
}

void QueueCache::clear() {
  listing_.publish(QueueListing{});
  ready_.store(false, std::memory_order_release);
}

QueueCache& queueCache() {
  static QueueCache cache;
  return cache;
}

bool queueCacheReady() {
  return queueCache().ready();
}

void ThreadProcessQCache(int) {
  while (!platform::shutdownRequested()) {
    queueCache().refresh(foundation::queueDirectory());
    if (!platform::sleepFor(kPassInterval)) break;
  }
}

std::vector<std::string> queueSubDirectories(const std::string& root) {
  if (auto l = cachedListing(root)) return directoryNames(*l);
  std::vector<std::string> out{std::string(kQueueRootName)};
  for (std::string& sub : listQueueSubDirectories(platform::withTrailingSlash(root)))
    out.push_back(std::move(sub));
  return out;
}

std::vector<std::string> queueFiles(const std::string& root, std::string_view sub) {
  if (auto l = cachedListing(root)) return filesOf(*l, sub);
  return directFiles(root, sub);
}

}  // namespace vek::queue
