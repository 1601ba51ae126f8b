// Poller: readiness of many sockets at once (epoll), for a thread that
// serves thousands of connections without a thread each, plus a wake-up
// that any other thread may ring (eventfd).
//
// Sockets are watched edge-triggered for reading and writing together: an
// event says that something changed, and the owner then reads (or writes)
// until the socket says "again" (IoStatus::kTimeout from recvSome/sendNow
// with a zero wait) before it waits once more. A socket stays registered
// until remove() or its close.
//
// One thread owns the poller (add, remove, wait); wake() is thread-safe.
#pragma once

#include <sys/epoll.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

struct PollEvent {
  uint64_t token = 0;
  bool readable = false;  // bytes or the end of the stream to read
  bool writable = false;
  bool hangup = false;  // the peer closed its sending side, or the socket failed
};

class Poller {
 public:
  Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // False when the kernel refused the epoll set or the wake-up.
  bool valid() const { return epoll_.valid() && wake_.valid(); }
  // Watches `fd` (non-blocking) for reading, writing and hang-up; its events
  // carry `token`.
  Status add(int fd, uint64_t token);
  void remove(int fd);
  // Waits for events until `deadline` (through pollTimeoutMs: under a fake
  // clock a short slice) or a wake(); returns what happened in `out`
  // (cleared first, at most `max` events). A wake() alone returns with
  // `out` empty.
  void wait(SteadyTime deadline, std::vector<PollEvent>* out, size_t max = 256);
  // Makes the current or next wait() return. Thread-safe.
  void wake();

 private:
  UniqueFd epoll_;
  UniqueFd wake_;
  std::vector<struct epoll_event> events_;
};

// Reads what is there right now, never waiting: kOk with *got > 0,
// kTimeout when nothing has arrived, kClosed at the end of the stream (or a
// reset), kError otherwise.
IoStatus recvNow(int fd, void* buf, size_t len, size_t* got);
// Lets recvWaiting() on `fd` wait up to `timeout_ms` (real time): the socket
// becomes blocking with that receive time-out. recvNow() and sendNow() pass
// their own "never wait" flag and behave as before.
void setReceiveWait(int fd, int timeout_ms);
// One read that waits for bytes up to the time-out set by
// setReceiveWait(); results as recvNow() (kTimeout when none came, or when
// a signal interrupted the wait).
IoStatus recvWaiting(int fd, void* buf, size_t len, size_t* got);
// Sends what the socket takes right now, never waiting: kOk with *sent (may
// be less than data.size(), even 0 when the socket's buffer is full),
// kClosed when the peer is gone, kError otherwise.
IoStatus sendNow(int fd, std::string_view data, size_t* sent);

}  // namespace vek::platform
