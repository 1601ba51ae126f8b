// The unique message id: a process-wide 32-bit counter that names queue
// files ("%08X") and long messages, persisted in "UID.DAT" in the private
// data directory so that ids stay unique across restarts.
//
// "UID.DAT" holds 4 bytes, least significant first. Start value: the stored
// value plus 1000; the current time in seconds when the file is missing or
// shorter than 4 bytes. Each call hands out the next value (+1, wrapping at
// 2^32).
//
// A restart must never hand out an id the previous run already used, even
// after a kill -9 or a power cut: before an id is handed out, the file holds
// a mark no more than 999 below it, so that the restart value mark + 1000
// lies above every id ever handed out. The mark is written ahead (the id
// plus 9000), so the file is written once per 10000 ids, not per id; a
// crash costs at most that many unused ids. An orderly shutdown saves the
// last id handed out. The file is replaced atomically (temporary file,
// fsync, rename), so it is never seen short. Should the mark not be
// writable, ids are still handed out (uniqueness within the run holds, and
// publishing never replaces an existing file); the write is retried with
// the next id.
//
// Thread-safe: one lock guards the counter and its file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/status.h"

namespace vek::queue {

class UniqueIdCounter {
 public:
  // `path` is the "UID.DAT" file; it is read at the first next().
  explicit UniqueIdCounter(std::string path);
  UniqueIdCounter(const UniqueIdCounter&) = delete;
  UniqueIdCounter& operator=(const UniqueIdCounter&) = delete;

  uint32_t next();
  // Writes the last id handed out, when the counter has been used and the
  // file holds another value.
  platform::Status save();
  const std::string& path() const { return path_; }

 private:
  void loadLocked();
  platform::Status writeLocked(uint32_t value);

  std::mutex mu_;
  const std::string path_;
  bool loaded_ = false;
  bool used_ = false;
  uint32_t next_ = 0;          // the id the next call hands out
  bool stored_valid_ = false;  // the file is known to hold stored_
  uint32_t stored_ = 0;
  bool write_failure_logged_ = false;
};

// The process-wide counter over GetPrivateDataDirectory() + "UID.DAT"
// (bound at its first use).
uint32_t NextUniqueMessageId();
// Shutdown and the periodic work call this.
platform::Status SaveUniqueMessageId();
// Tests: a fresh process-wide counter over `path`.
void resetUniqueMessageIdsForTesting(const std::string& path);

}  // namespace vek::queue
