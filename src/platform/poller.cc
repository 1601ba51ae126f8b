#include "platform/poller.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

namespace vek::platform {
namespace {

// The token of the wake-up descriptor; connection tokens start at 1.
constexpr uint64_t kWakeToken = 0;

}  // namespace

Poller::Poller()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!valid()) return;
  struct epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeToken;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &ev) != 0) wake_.reset();
}

Status Poller::add(int fd, uint64_t token) {
  struct epoll_event ev = {};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.u64 = token;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0)
    return Status::fromErrno("epoll_ctl", "add");
  return Status();
}

void Poller::remove(int fd) {
  struct epoll_event ev = {};
  (void)::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, &ev);
}

void Poller::wait(SteadyTime deadline, std::vector<PollEvent>* out, size_t max) {
  out->clear();
  if (events_.size() < max) events_.resize(max);
  int n =
      ::epoll_wait(epoll_.get(), events_.data(), static_cast<int>(max), pollTimeoutMs(deadline));
  for (int i = 0; i < n; ++i) {
    const struct epoll_event& e = events_[static_cast<size_t>(i)];
    if (e.data.u64 == kWakeToken) {
      uint64_t count = 0;
      while (::read(wake_.get(), &count, sizeof count) > 0) {
      }
      continue;
    }
    PollEvent p;
    p.token = e.data.u64;
    p.readable = (e.events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    p.writable = (e.events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0;
    p.hangup = (e.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    out->push_back(p);
  }
}

void Poller::wake() {
  uint64_t one = 1;
  ssize_t n = ::write(wake_.get(), &one, sizeof one);
  (void)n;  // a full counter is awake already
}

IoStatus recvNow(int fd, void* buf, size_t len, size_t* got) {
  *got = 0;
  for (;;) {
    ssize_t n = ::recv(fd, buf, len, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (n == 0) return IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kTimeout;
    return errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
  }
}

void setReceiveWait(int fd, int timeout_ms) {
  struct timeval tv = {};
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

IoStatus recvWaiting(int fd, void* buf, size_t len, size_t* got) {
  *got = 0;
  ssize_t n = ::recv(fd, buf, len, 0);
  if (n > 0) {
    *got = static_cast<size_t>(n);
    return IoStatus::kOk;
  }
  if (n == 0) return IoStatus::kClosed;
  if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::kTimeout;
  return errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
}

IoStatus sendNow(int fd, std::string_view data, size_t* sent) {
  *sent = 0;
  while (*sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + *sent, data.size() - *sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoStatus::kOk;
    return (n < 0 && (errno == EPIPE || errno == ECONNRESET)) ? IoStatus::kClosed
                                                              : IoStatus::kError;
  }
  return IoStatus::kOk;
}

}  // namespace vek::platform
