// Event: a wake-up signal between threads, in auto-reset mode (one waiter
// consumes each set) or manual-reset mode (stays set until reset).
// Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vek::platform {

class Event {
 public:
  enum class Mode { kAutoReset, kManualReset };
  explicit Event(Mode mode = Mode::kAutoReset, bool initially_set = false)
      : mode_(mode), set_(initially_set) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // True when the event was set within `timeout` (and, in auto-reset mode,
  // consumes it); false on time-out.
  bool wait(std::chrono::milliseconds timeout);

 private:
  const Mode mode_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool set_;
};

}  // namespace vek::platform
