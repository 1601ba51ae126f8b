// Clock: every read of the time of day in the gateway goes through here, so
// that tests can stand at midnight, 1 March or 31 December without touching
// the system clock. Local time follows TZ / localtime_r.
//
// The current clock is process-wide. setClock() is meant for tests and must
// not race with readers being destroyed: install it before the code under
// test starts and remove it after it stopped. Reading is lock-free.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace vek::platform {

using SystemTime = std::chrono::system_clock::time_point;
using SteadyTime = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual SystemTime now() const = 0;
};

// The clock in force: the system clock unless a test installed another.
const Clock& clock();
// Installs `c` (nullptr restores the system clock). Returns the previous one.
const Clock* setClock(const Clock* c);

// A clock that stands still until moved. Thread-safe.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(SystemTime t = SystemTime{}) : t_(t) {}
  SystemTime now() const override {
    std::scoped_lock lk(mu_);
    return t_;
  }
  void set(SystemTime t) {
    std::scoped_lock lk(mu_);
    t_ = t;
  }
  void advance(std::chrono::milliseconds d) {
    std::scoped_lock lk(mu_);
    t_ += d;
  }

 private:
  mutable std::mutex mu_;
  SystemTime t_;
};

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
// Monotonic time for intervals and deadlines (never faked).
inline SteadyTime monotonicNow() {
  return std::chrono::steady_clock::now();
}

}  // namespace vek::platform
