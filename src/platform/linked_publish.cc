#include "platform/linked_publish.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/directory_sync.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace vek::platform {
namespace {

// Cleared the first time the unnamed route turns out not to work here.
std::atomic<bool> g_linking{true};

bool unsupported(int err) {
  return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

}  // namespace

Status publishFileLinked(const std::string& path, std::string_view data, bool sync, mode_t mode) {
  if (!g_linking.load(std::memory_order_relaxed)) return publishFile(path, data, sync, mode);
  const std::string dir = parentDirectory(path);
  UniqueFd fd(::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!fd) {
    int err = errno;
    if (!unsupported(err)) return Status::fromErrno(err, "create", path);
    g_linking.store(false, std::memory_order_relaxed);
    return publishFile(path, data, sync, mode);
  }
  Status st = writeAll(fd.get(), data);
  if (!st.ok()) return st;
  if (sync && ::fsync(fd.get()) != 0) return Status::fromErrno("fsync", path);
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd.get());
  if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    int err = errno;
    if (err == ENOENT && ::access(proc, F_OK) != 0) {
      // No /proc: the link cannot be made this way.
      g_linking.store(false, std::memory_order_relaxed);
      return publishFile(path, data, sync, mode);
    }
    return Status::fromErrno(err, "publish", path);
  }
  if (sync) return syncDirectory(dir.empty() ? "." : dir);
  return Status();
}

}  // namespace vek::platform
