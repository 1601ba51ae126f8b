// IdleWorkers: the pool of parked plain-connection threads (with
// `EnableThreadPool`). A connection thread that has finished parks here
// for up to 30 seconds; the listener hands a new connection to the thread
// that parked first, and starts a new thread only when none is waiting.
//
// At most 401 threads park (a thread parks while the list holds 400 or
// fewer). A hand-off and a thread giving up both happen under the list's
// lock, so a connection is either taken by a live thread or not handed
// off at all. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/event.h"
#include "platform/unique_fd.h"

namespace vek::http {

// An accepted connection on its way to a connection thread.
struct Handoff {
  platform::UniqueFd fd;
  std::string address;
  uint16_t port = 0;
  uint64_t slot = 0;  // its entry in the connection table
};

class IdleWorkers {
 public:
  static constexpr size_t kMaxListed = 400;

  // Gives `h` to the thread parked longest. False (h untouched) when no
  // thread is waiting.
  bool offer(Handoff& h);
  // Parks the calling thread for up to `timeout` (the stop flag ends it
  // early). The connection handed to it, or nullopt.
  std::optional<Handoff> park(std::chrono::milliseconds timeout);
  // Ends every parked thread's wait without a connection (shutdown).
  void wakeAll();
  size_t parked() const;

 private:
  struct Parked {
    platform::Event wake;
    bool waiting = true;
    std::optional<Handoff> handoff;
  };
  mutable std::mutex mu_;
  std::deque<std::shared_ptr<Parked>> list_;
};

IdleWorkers& idleWorkers();

}  // namespace vek::http
