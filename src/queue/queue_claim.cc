#include "queue/queue_claim.h"

#include <cerrno>

#include "platform/files.h"
#include "queue/routing_db.h"

namespace vek::queue {

platform::Result<QueueClaim> QueueClaim::claim(const std::string& root,
                                               const std::string& relative) {
  std::string path = platform::joinPath(root, relative);
  auto fd = platform::claimFile(path);
  if (!fd.ok()) return fd.status();
  return QueueClaim(std::move(fd.value()), std::move(path), relative);
}

bool QueueClaim::load(SMSMessage* msg, ModemRouteResolver resolve) const {
  if (!held()) {
    msg->clear();
    return false;
  }
  return LoadSMSMessage(fd_.get(), msg, resolve);
}

platform::Status QueueClaim::release() {
  if (!held()) return platform::Status::error(path_ + ": not claimed", EBADF);
  platform::Status st;
  auto mine = platform::statFd(fd_.get());
  auto named = platform::statPath(path_);
  if (mine && named && mine->inode == named->inode) {
    st = platform::releaseClaimedFile(path_, std::move(fd_));
  } else {
    // The name was taken over by a newer file (or removed): that one stays.
    fd_.reset();
  }
  (void)routingDatabase().remove(relative_);
  return st;
}

platform::Status QueueClaim::keep(const ErrorDetail& detail) {
  if (!held()) return platform::Status::error(path_ + ": not claimed", EBADF);
  platform::Status st = rewriteErrorDetail(fd_.get(), detail);
  fd_.reset();
  return st;
}

}  // namespace vek::queue
