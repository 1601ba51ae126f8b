#include "foundation/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shutdown.h"

namespace vek::foundation {
namespace {

// One open attempt. With `exclusive`, O_TRUNC waits until the lock is held,
// so that a file another thread holds is never truncated under it.
platform::UniqueFd openOnce(const std::string& path, const CreateFileOptions& o) {
  int flags = o.access | O_CLOEXEC;
  bool truncate = false;
  switch (o.disposition) {
    case Disposition::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case Disposition::kCreateAlways:
      flags |= O_CREAT;
      truncate = true;
      break;
    case Disposition::kOpenExisting:
      break;
    case Disposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case Disposition::kTruncateExisting:
      truncate = true;
      break;
  }
  if (truncate && !o.exclusive) flags |= O_TRUNC;
  platform::UniqueFd fd(::open(path.c_str(), flags, o.mode));
  if (!fd) return fd;
  if (o.exclusive && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    fd.reset();
    errno = err;
    return fd;
  }
  if (truncate && o.exclusive && ::ftruncate(fd.get(), 0) != 0) {
    int err = errno;
    fd.reset();
    errno = err;
  }
  return fd;
}

// Repeats `step(done)`, one read(2)- or write(2)-like call for the bytes
// after the first `*done`, until `length` bytes are done or a call returns
// 0 (end of file); EINTR is retried. False with errno set on failure.
template <typename Step>
bool transferAll(size_t length, size_t* done, Step step) {
  while (*done < length) {
    const ssize_t n = step(*done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    *done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool isNoResourcesError(int err) {
  return err == ENOMEM || err == ENOBUFS || err == EAGAIN;
}

bool retryOnNoResources(std::string_view tag, const std::function<bool()>& attempt) {
  unsigned retries = 0;
  bool ok = false;
  int err = 0;
  for (unsigned call = 1;; ++call) {
    ok = attempt();
    if (ok) break;
    err = errno;
    // No pause after the last call: nothing follows it.
    if (!isNoResourcesError(err) || call >= kNoResourcesMaxCalls) break;
    ++retries;
    (void)platform::sleepFor(kNoResourcesPauseUnit * retries);
  }
  if (retries > 0) {
    if (ok) {
      DebugLogf(tag, "Debug:  ERROR_NO_SYSTEM_RESOURCES triggered %u retry attempt%s", retries,
                retries == 1 ? "" : "s");
    } else {
      DebugLog(tag, "Debug:  ERROR_NO_SYSTEM_RESOURCES failed");
    }
  }
  if (!ok) errno = err;
  return ok;
}

bool ReadFileWithRetry(int fd, void* buffer, size_t length, size_t* done) {
  size_t got = 0;
  auto* p = static_cast<char*>(buffer);
  bool ok = retryOnNoResources("ReadFileWithRetry", [&] {
    return transferAll(length, &got, [&](size_t d) { return ::read(fd, p + d, length - d); });
  });
  if (done) *done = got;
  return ok;
}

bool WriteFileWithRetry(int fd, const void* buffer, size_t length, size_t* done) {
  size_t put = 0;
  const auto* p = static_cast<const char*>(buffer);
  bool ok = retryOnNoResources("WriteFileWithRetry", [&] {
    return transferAll(length, &put, [&](size_t d) { return ::write(fd, p + d, length - d); });
  });
  if (done) *done = put;
  return ok;
}

size_t WriteText(int fd, std::string_view text) {
  size_t done = 0;
  if (!WriteFileWithRetry(fd, text.data(), text.size(), &done)) return 0;
  return done;
}

size_t WriteTextOneLine(int fd, std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return WriteText(fd, line);
}

bool readWholeFile(int fd, std::string* out, size_t max_bytes) {
  out->clear();
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  size_t expected = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
  if (expected > max_bytes) {
    errno = EFBIG;
    return false;
  }
  // One byte more than the size, so that a file that grew is noticed
  // without a second round trip for the usual case.
  out->resize(expected + 1);
  size_t got = 0;
  bool ok = retryOnNoResources("ReadFileWithRetry", [&] {
    for (;;) {
      const bool transferred = transferAll(out->size(), &got, [&](size_t d) {
        return ::pread(fd, out->data() + d, out->size() - d, static_cast<off_t>(d));
      });
      if (!transferred) return false;
      if (got < out->size()) return true;  // end of file
      if (out->size() > max_bytes) {
        errno = EFBIG;
        return false;
      }
      out->resize(std::min(max_bytes + 1, out->size() * 2 + 4096));
    }
  });
  if (ok && got > max_bytes) {
    errno = EFBIG;
    ok = false;
  }
  out->resize(ok ? got : 0);
  return ok;
}

platform::Status replaceFileTail(int fd, uint64_t offset, std::string_view text) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return platform::Status::fromErrno("fstat", "claimed file");
  while (::ftruncate(fd, static_cast<off_t>(offset)) != 0) {
    if (errno != EINTR) return platform::Status::fromErrno("truncate", "claimed file");
  }
  size_t put = 0;
  bool ok = retryOnNoResources("WriteFileWithRetry", [&] {
    return transferAll(text.size(), &put, [&](size_t d) {
      return ::pwrite(fd, text.data() + d, text.size() - d, static_cast<off_t>(offset + d));
    });
  });
  if (!ok) return platform::Status::fromErrno("write", "claimed file");
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = st.st_mtim;
  if (::futimens(fd, times) != 0) return platform::Status::fromErrno("futimens", "claimed file");
  return platform::Status();
}

platform::Result<platform::UniqueFd> CreateFileWithRetry(const std::string& path,
                                                         const CreateFileOptions& options) {
  const auto start = platform::monotonicNow();
  int err = 0;
  for (bool first = true;; first = false) {
    if (!first) (void)platform::sleepFor(std::chrono::milliseconds(1));
    platform::UniqueFd fd = openOnce(path, options);
    if (!fd && options.disposition != Disposition::kOpenExisting) {
      (void)platform::makeDirectories(platform::parentDirectory(path));
      fd = openOnce(path, options);
    }
    if (fd) return fd;
    err = errno;
    if (platform::monotonicNow() - start >= options.time_limit) break;
    if (!platform::pathExists(path)) break;
  }
  return platform::Status::fromErrno(err, "create", path);
}

}  // namespace vek::foundation
