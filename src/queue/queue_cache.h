// The queue cache: one thread lists the outbound queue tree four times a
// second so that many link threads need not each list large directories.
//
// Each pass lists the queue root and its direct sub-directories for
// "*.REQ" files, removes sub-directories that have been empty for more than
// a minute, and publishes the result as one immutable listing: the
// directories that hold at least one file (the root as "."), in scan order,
// and every file's path relative to the root, grouped by directory.
// Readers take the listing whole and copy what they need; they never see a
// half-built one and need no lock while iterating.
//
// The ready signal is set after the first complete pass; start-up waits for
// it (polling queueCacheReady() every 100 ms) before it starts the links.
//
// queueSubDirectories() / queueFiles() are what senders call: the cached
// listing when `UseQCache` is on, the cache is ready and it lists that
// root; else a direct listing of the directory.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/snapshot.h"

namespace vek::queue {

// The name of the root in directory lists.
constexpr std::string_view kQueueRootName = ".";

struct QueueListing {
  struct Directory {
    std::string name;  // "." for the root
    size_t first = 0;  // index of its first file in `files`
    size_t count = 0;
  };
  std::string root;  // the listed directory, ending in '/'
  std::vector<Directory> directories;
  std::vector<std::string> files;  // "name" in the root, "sub/name" elsewhere
};

// Builds one listing of `root` (and removes stale empty sub-directories).
QueueListing buildQueueListing(const std::string& root);

class QueueCache {
 public:
  // One pass over `root`: build, publish, set ready.
  void refresh(const std::string& root);
  bool ready() const { return ready_.load(std::memory_order_acquire); }
  std::shared_ptr<const QueueListing> listing() const { return listing_.get(); }
  // Directory names holding files, in scan order ("." for the root).
  std::vector<std::string> subDirectories() const;
  // File names (without directory) of one directory of the listing, the
  // name compared without regard to case ("." or "" for the root).
  std::vector<std::string> files(std::string_view sub_directory) const;
  // Tests: back to "never refreshed".
  void clear();

 private:
  platform::Snapshot<QueueListing> listing_;
  std::atomic<bool> ready_{false};
};

// The process-wide cache.
QueueCache& queueCache();
bool queueCacheReady();

// The queue cache thread body: a pass every 250 ms until shutdown.
void ThreadProcessQCache(int unused);

// For senders: the directories of the queue root to look at, root first
// ("."), and the "*.REQ" file names of one of them.
std::vector<std::string> queueSubDirectories(const std::string& root);
std::vector<std::string> queueFiles(const std::string& root, std::string_view sub_directory);

}  // namespace vek::queue
