// QueueScan: walks one queue directory and its direct sub-directories for
// files that match a pattern, returning each path relative to the
// directory ("00001A2B.req", "RT_-_smsc_-_/00001A2C.req"). One owner
// thread; it lists names and never opens files (claiming is QueueClaim's).
//
// Order: the directory itself first, then each sub-directory in the order
// the file system lists them; within a directory, the listing order.
// Patterns match without regard to case ("*.REQ" finds "x.req"); hidden
// names (temporaries being written) are never returned. A file that
// vanishes after it was listed is still returned: its claim fails and the
// caller skips it.
//
// A sub-directory that has no (more) matching file is removed when its last
// change is more than a minute old; removal fails harmlessly when it still
// holds anything (a temporary being written included).
//
// Also here: the queue counts taken at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::queue {

class QueueScan {
 public:
  // `all_entries`: sub-directories are found among all names; otherwise
  // only among names without an extension (no '.').
  QueueScan(std::string directory, std::string pattern, bool all_entries = true);
  QueueScan(const QueueScan&) = delete;
  QueueScan& operator=(const QueueScan&) = delete;

  // The next matching file's relative path; false at the end.
  bool next(std::string* relative);

 private:
  bool openNextDirectory();

  const std::string directory_;  // ends in '/'
  const std::string pattern_;
  std::vector<std::string> sub_directories_;  // "" is the directory itself
  size_t next_sub_ = 0;
  std::string current_prefix_;  // "" (the directory itself) or "<sub>/"
  std::vector<std::string> files_;
  size_t next_file_ = 0;
};

// The sub-directories of `directory` (names only), as a scan finds them.
std::vector<std::string> listQueueSubDirectories(const std::string& directory,
                                                 bool all_entries = true);
// Removes the directory `path` when it is empty and unchanged for more than
// a minute (by the injectable clock). True when it was removed.
bool removeStaleEmptyDirectory(const std::string& path);

struct QueueCounts {
  uint64_t outbound = 0;  // ".REQ" in the root and its direct sub-directories but "MMSQ__*"
  uint64_t in = 0;        // "*.IN" in the inbound directory
  uint64_t rec = 0;       // "*.REC"
  uint64_t rct = 0;       // "*.RCT"
};
uint64_t countOutboundQueue(const std::string& queue_root);
QueueCounts countQueues(const std::string& queue_root, const std::string& inbound_directory);
// The same for the configured queue and inbound directories.
QueueCounts CountQueues();

}  // namespace vek::queue
