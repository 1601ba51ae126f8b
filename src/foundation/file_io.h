// File I/O helpers shared by every component.
//
// - Reads and writes ride out a temporary lack of system resources: a call
//   that fails with ENOMEM, ENOBUFS or EAGAIN is repeated after a pause that
//   grows by 100 ms per attempt, at most 20 calls in all. When a retry
//   happened, the debug log says how it ended ("ReadFileWithRetry" or
//   "WriteFileWithRetry").
// - Create with retry waits, up to a time limit, for a file that another
//   thread holds locked, and creates missing directories of the path.
// - Whole-file reads and in-place tail rewrites for queued files that are
//   held open by their claimant.
//
// Functions keep no state; all are thread-safe.
// The retry pauses run in the caller's thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::foundation {

constexpr unsigned kNoResourcesMaxCalls = 20;

// The pause unit between attempts: attempt i waits i units (through the
// clock, so a test's fake clock skips them).
constexpr std::chrono::milliseconds kNoResourcesPauseUnit{100};
// ENOMEM, ENOBUFS and EAGAIN: the system may have what we need shortly.
bool isNoResourcesError(int err);

// Calls `attempt` (true on success; false with errno set on failure) until
// it succeeds, fails with another error, or was called 20 times. Writes
// "Debug:  ERROR_NO_SYSTEM_RESOURCES triggered %u retry attempt%s" or
// "... failed" under `tag` when at least one retry happened. errno is the
// last failure's when false is returned.
bool retryOnNoResources(std::string_view tag, const std::function<bool()>& attempt);

// read(2) from the current position until `length` bytes or end of file;
// `*done` gets the count. EINTR is retried silently.
bool ReadFileWithRetry(int fd, void* buffer, size_t length, size_t* done);
// write(2) until all `length` bytes are out; `*done` gets the count.
bool WriteFileWithRetry(int fd, const void* buffer, size_t length, size_t* done);
// Writes `text`; the bytes written, 0 on failure.
size_t WriteText(int fd, std::string_view text);
// The same with every CR and LF turned into a blank (one-line records).
size_t WriteTextOneLine(int fd, std::string_view text);

// The whole file from offset 0, whatever the descriptor's position.
// False with errno set on failure (EFBIG above `max_bytes`).
bool readWholeFile(int fd, std::string* out, size_t max_bytes = 64u << 20);
// Cuts the file at `offset` and writes `text` there, then restores the
// modification time it had (it stands in for the creation time where the
// file system keeps none).
platform::Status replaceFileTail(int fd, uint64_t offset, std::string_view text);

// How CreateFileWithRetry treats an existing or missing file.
enum class Disposition {
  kCreateNew,         // fails when it exists
  kCreateAlways,      // created or truncated
  kOpenExisting,      // fails when missing
  kOpenAlways,        // opened or created
  kTruncateExisting,  // fails when missing; truncated
};

struct CreateFileOptions {
  int access = 0;  // O_RDONLY, O_WRONLY or O_RDWR, plus O_APPEND if wanted
  // No sharing: an exclusive flock taken without waiting; a holder makes the
  // attempt fail (and the loop wait while the file exists).
  bool exclusive = false;
  Disposition disposition = Disposition::kOpenExisting;
  mode_t mode = 0640;
  std::chrono::milliseconds time_limit{0};
};

// Opens or creates `path`: after a failure other than for an existing-only
// open, the missing directories of the path are created and the open is
// tried once more. Repeats every millisecond until it succeeds, the time
// limit has passed, or the file no longer exists (a held file is waited
// for, a missing one is not).
platform::Result<platform::UniqueFd> CreateFileWithRetry(const std::string& path,
                                                         const CreateFileOptions& options);

}  // namespace vek::foundation
