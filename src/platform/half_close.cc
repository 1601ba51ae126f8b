#include "platform/half_close.h"

#include <sys/socket.h>

namespace vek::platform {

void shutdownSending(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_WR);
}

}  // namespace vek::platform
