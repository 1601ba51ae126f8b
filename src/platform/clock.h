// Clock: every read of the time in the gateway goes through here: the time
// of day (clock().now(), for dates, names and stamps) and the monotonic time
// of intervals and deadlines (monotonicNow()). Tests install a FakeClock to
// stand at midnight, 1 March or 31 December, and to let minutes pass without
// waiting for them. Local time follows TZ / localtime_r.
//
// Waiting for time to pass goes through the clock too, never through
// sleep_for, wait_for/wait_until or a poll() timeout of one's own:
//   - a pause: platform::sleepFor(d) (shutdown.h), which a stop ends early;
//   - an event with a time-out: platform::Event::wait(timeout) (event.h);
//   - a condition variable of one's own: platform::waitUntil/waitFor below;
//   - poll(): pass pollTimeoutMs(deadline) and compare monotonicNow() with
//     the deadline after each return (under a fake clock poll() then wakes
//     every few milliseconds to look at the clock).
// Under the system clock these are the plain system waits. Under a FakeClock
// time stands still until the test calls advance(), which wakes every waiter
// whose deadline it passes; in auto-advance mode a wait that would block
// moves the clock to its deadline at once (for single-threaded code under
// test: retry pauses, rotation pauses).
//
// The current clock is process-wide. setClock() is meant for tests and must
// not race with readers being destroyed: install it before the code under
// test starts and remove it after it stopped. Reading is lock-free.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vek::platform {

using SystemTime = std::chrono::system_clock::time_point;
using SteadyTime = std::chrono::steady_clock::time_point;

class FakeClock;

class Clock {
 public:
  virtual ~Clock() = default;
  // The time of day.
  virtual SystemTime now() const = 0;
  // Monotonic time: never jumps, only for differences and deadlines.
  virtual SteadyTime monotonicNow() const { return std::chrono::steady_clock::now(); }
  // This clock as a fake one, nullptr for a real one.
  virtual FakeClock* fake() const { return nullptr; }
};

// The clock in force: the system clock unless a test installed another.
const Clock& clock();
// Installs `c` (nullptr restores the system clock). Returns the previous one.
const Clock* setClock(const Clock* c);

// Monotonic time for intervals and deadlines, from the clock in force.
SteadyTime monotonicNow();
// The real monotonic time whatever clock is installed. Only for bounds
// that concern the world outside the process (how stale a file that
// another process writes may look), never for the gateway's own intervals.
SteadyTime realMonotonicNow();
// The deadline `d` from now; a duration that would overflow gives "never".
SteadyTime deadlineAfter(std::chrono::milliseconds d);

// Waits on `cv` (whose mutex `lk` holds) until `pred()` holds or the
// monotonic `deadline` passes; returns pred(). Like
// condition_variable::wait_until with a predicate.
template <class Pred>
bool waitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, SteadyTime deadline,
               Pred pred);
template <class Pred>
bool waitFor(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
             std::chrono::milliseconds d, Pred pred) {
  return waitUntil(lk, cv, deadlineAfter(d), std::move(pred));
}

// The timeout for poll() on the way to `deadline`: the milliseconds left
// (0 when passed), or under a fake clock a short slice after which the
// caller looks at the clock again.
int pollTimeoutMs(SteadyTime deadline);

// A clock that stands still until moved. Thread-safe.
class FakeClock final : public Clock {
 public:
  // Starts at `t` (wall) and at the real monotonic time of its creation.
  explicit FakeClock(SystemTime t = SystemTime{});
  ~FakeClock() override;
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  SystemTime now() const override;
  SteadyTime monotonicNow() const override;
  FakeClock* fake() const override { return const_cast<FakeClock*>(this); }

  // Sets the time of day only (a jump of the wall clock; intervals go on).
  void set(SystemTime t);
  // Lets `d` pass: both times move and every waiter looks at the clock.
  void advance(std::chrono::milliseconds d);
  // In auto-advance mode a wait that would block moves the clock to its
  // deadline instead.
  void setAutoAdvance(bool on);
  bool autoAdvance() const;
  // Threads blocked in a wait on this clock right now.
  size_t waiters() const;
  // For tests that advance another thread's wait: blocks (really) until at
  // least `n` threads wait on this clock, at most `bound`. True when they do.
  bool awaitWaiters(size_t n, std::chrono::milliseconds bound) const;

  // The waiting machinery behind waitUntil(); not for direct use.
  struct Waiter {
    std::mutex* mu;
    std::condition_variable* cv;
  };
  void addWaiter(Waiter* w);
  void removeWaiter(Waiter* w);
  // When auto-advancing, moves the clock to `deadline` (no wake-ups: the
  // caller is the only thread that runs) and returns true.
  bool skipTo(SteadyTime deadline);

 private:
  mutable std::mutex mu_;  // the two times and the mode
  SystemTime wall_;
  SteadyTime mono_;
  bool auto_advance_ = false;
  mutable std::mutex waiters_mu_;  // taken before any waiter's mutex, never after
  mutable std::condition_variable waiters_cv_;
  std::vector<Waiter*> waiters_;
};

namespace detail {
bool waitUntilFake(FakeClock& fake, std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   SteadyTime deadline, const std::function<bool()>& pred);
}  // namespace detail

template <class Pred>
bool waitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, SteadyTime deadline,
               Pred pred) {
  if (FakeClock* fake = clock().fake())
    return detail::waitUntilFake(*fake, lk, cv, deadline, std::function<bool()>(std::ref(pred)));
  if (deadline == SteadyTime::max()) {
    cv.wait(lk, std::move(pred));
    return true;
  }
  return cv.wait_until(lk, deadline, std::move(pred));
}

// Installs a clock for the life of the scope.
class ScopedClock {
 public:
  explicit ScopedClock(const Clock* c) : prev_(setClock(c)) {}
  ~ScopedClock() { setClock(prev_); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  const Clock* prev_;
};

// Broken-down time. month 1-12, weekday 0 = Sunday, yday 0-365.
struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int weekday = 0, yday = 0;
  long utc_offset_seconds = 0;  // east of UTC positive, daylight bias included
  bool dst = false;
  std::string zone;  // abbreviation, e.g. "CET"
};

CalendarTime toLocal(SystemTime t);
CalendarTime toUtc(SystemTime t);
CalendarTime localNow();
// A local calendar time back to an instant (mktime; fields may overflow).
SystemTime fromLocal(const CalendarTime& c);
SystemTime fromUtc(const CalendarTime& c);
// Seconds since the epoch of the current clock.
int64_t unixNow();
int64_t toUnix(SystemTime t);
SystemTime fromUnix(int64_t seconds);
// "%04d%02d%02d" of a local date: the stamp in dated file names.
std::string dateStamp(const CalendarTime& c);

}  // namespace vek::platform
