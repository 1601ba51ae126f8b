#include "platform/random_bytes.h"

#include <sys/random.h>

#include <cerrno>

namespace vek::platform {

Result<std::string> secureRandomBytes(size_t count) {
  std::string out(count, '\0');
  size_t got = 0;
  while (got < count) {
    ssize_t n = ::getrandom(out.data() + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::fromErrno("getrandom", "");
    }
    got += static_cast<size_t>(n);
  }
  return out;
}

}  // namespace vek::platform
