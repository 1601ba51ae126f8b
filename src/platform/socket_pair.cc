#include "platform/socket_pair.h"

#include <sys/socket.h>

namespace vek::platform {

Result<std::pair<UniqueFd, UniqueFd>> socketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
    return Status::fromErrno("socketpair", "AF_UNIX");
  return std::make_pair(UniqueFd(fds[0]), UniqueFd(fds[1]));
}

}  // namespace vek::platform
