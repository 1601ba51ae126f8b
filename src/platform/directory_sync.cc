#include "platform/directory_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/unique_fd.h"

namespace vek::platform {

Status syncDirectory(const std::string& dir) {
  const std::string path = dir.empty() ? std::string(".") : dir;
  UniqueFd d(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!d) return Status::fromErrno("open", path);
  if (::fsync(d.get()) != 0) return Status::fromErrno("fsync", path);
  return Status();
}

}  // namespace vek::platform
