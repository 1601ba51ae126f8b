#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <ctime>

namespace vek::platform {
namespace {

class SystemClock final : public Clock {
 public:
  SystemTime now() const override { return std::chrono::system_clock::now(); }
};

const SystemClock kSystemClock;
std::atomic<const Clock*> g_clock{&kSystemClock};

CalendarTime fromTm(const struct tm& tm, int ms) {
  CalendarTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec;
  c.millisecond = ms;
  c.weekday = tm.tm_wday;
  c.yday = tm.tm_yday;
  c.utc_offset_seconds = tm.tm_gmtoff;
  c.dst = tm.tm_isdst > 0;
  c.zone = tm.tm_zone ? tm.tm_zone : "";
  return c;
}

struct tm toTm(const CalendarTime& c) {
  struct tm tm = {};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  return tm;
}

void split(SystemTime t, time_t* secs, int* ms) {
  auto total = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  long long s = total / 1000;
  long long rem = total % 1000;
  if (rem < 0) {
    rem += 1000;
    --s;
  }
  *secs = static_cast<time_t>(s);
  *ms = static_cast<int>(rem);
}

}  // namespace

const Clock& clock() {
  return *g_clock.load(std::memory_order_acquire);
}

const Clock* setClock(const Clock* c) {
  const Clock* prev = g_clock.exchange(c ? c : &kSystemClock, std::memory_order_acq_rel);
  return prev == &kSystemClock ? nullptr : prev;
}

SteadyTime monotonicNow() {
  return clock().monotonicNow();
}

SteadyTime realMonotonicNow() {
  return std::chrono::steady_clock::now();
}

SteadyTime deadlineAfter(std::chrono::milliseconds d) {
  SteadyTime now = monotonicNow();
  if (d.count() <= 0) return now;
  auto room = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyTime::max() - now);
  return d >= room ? SteadyTime::max() : now + d;
}

int pollTimeoutMs(SteadyTime deadline) {
  if (deadline == SteadyTime::max()) return -1;
  const Clock& c = clock();
  SteadyTime now = c.monotonicNow();
  if (deadline <= now) return 0;
  if (FakeClock* fake = c.fake()) {
    // Fake time moves only by advance(): look at it again soon.
    if (fake->skipTo(deadline)) return 0;
    return 5;
  }
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<int>(std::min<long long>(left, INT_MAX));
}

// FakeClock

FakeClock::FakeClock(SystemTime t) : wall_(t), mono_(std::chrono::steady_clock::now()) {}

FakeClock::~FakeClock() = default;

SystemTime FakeClock::now() const {
  std::scoped_lock lk(mu_);
  return wall_;
}

SteadyTime FakeClock::monotonicNow() const {
  std::scoped_lock lk(mu_);
  return mono_;
}

void FakeClock::set(SystemTime t) {
  std::scoped_lock lk(mu_);
  wall_ = t;
}

void FakeClock::advance(std::chrono::milliseconds d) {
  {
    std::scoped_lock lk(mu_);
    wall_ += d;
    mono_ += d;
  }
  // Taking each waiter's mutex before the notification closes the window
  // between its look at the clock and its wait.
  std::scoped_lock lk(waiters_mu_);
  for (Waiter* w : waiters_) {
    std::scoped_lock wl(*w->mu);
    w->cv->notify_all();
  }
}

void FakeClock::setAutoAdvance(bool on) {
  std::scoped_lock lk(mu_);
  auto_advance_ = on;
}

bool FakeClock::autoAdvance() const {
  std::scoped_lock lk(mu_);
  return auto_advance_;
}

bool FakeClock::skipTo(SteadyTime deadline) {
  std::scoped_lock lk(mu_);
  if (!auto_advance_ || deadline == SteadyTime::max()) return false;
  if (deadline > mono_) {
    auto d = deadline - mono_;
    wall_ += std::chrono::duration_cast<SystemTime::duration>(d);
    mono_ = deadline;
  }
  return true;
}

size_t FakeClock::waiters() const {
  std::scoped_lock lk(waiters_mu_);
  return waiters_.size();
}

bool FakeClock::awaitWaiters(size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock lk(waiters_mu_);
  return waiters_cv_.wait_for(lk, bound, [&] { return waiters_.size() >= n; });
}

void FakeClock::addWaiter(Waiter* w) {
  {
    std::scoped_lock lk(waiters_mu_);
    waiters_.push_back(w);
  }
  waiters_cv_.notify_all();
}

void FakeClock::removeWaiter(Waiter* w) {
  std::scoped_lock lk(waiters_mu_);
  waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), w), waiters_.end());
}

namespace detail {

// The waiter registers with its own mutex released (advance() takes the
// clock's list lock first and the waiter's mutex second, so the waiter must
// never take them the other way round). The predicate is evaluated again
// after every such gap.
bool waitUntilFake(FakeClock& fake, std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                   SteadyTime deadline, const std::function<bool()>& pred) {
  FakeClock::Waiter w{lk.mutex(), &cv};
  for (;;) {
    if (pred()) return true;
    if (fake.monotonicNow() >= deadline) return false;
    if (fake.skipTo(deadline)) continue;
    lk.unlock();
    fake.addWaiter(&w);
    lk.lock();
    while (!pred() && fake.monotonicNow() < deadline) cv.wait(lk);
    lk.unlock();
    fake.removeWaiter(&w);
    lk.lock();
  }
}

}  // namespace detail

CalendarTime toLocal(SystemTime t) {
  time_t secs;
  int ms;
  split(t, &secs, &ms);
  struct tm tm;
  if (localtime_r(&secs, &tm) == nullptr) return CalendarTime{};
  return fromTm(tm, ms);
}

CalendarTime toUtc(SystemTime t) {
  time_t secs;
  int ms;
  split(t, &secs, &ms);
  struct tm tm;
  if (gmtime_r(&secs, &tm) == nullptr) return CalendarTime{};
  return fromTm(tm, ms);
}

CalendarTime localNow() {
  return toLocal(clock().now());
}

SystemTime fromLocal(const CalendarTime& c) {
  struct tm tm = toTm(c);
  time_t secs = mktime(&tm);
  return std::chrono::system_clock::from_time_t(secs) + std::chrono::milliseconds(c.millisecond);
}

SystemTime fromUtc(const CalendarTime& c) {
  struct tm tm = toTm(c);
  tm.tm_isdst = 0;
  time_t secs = timegm(&tm);
  return std::chrono::system_clock::from_time_t(secs) + std::chrono::milliseconds(c.millisecond);
}

int64_t toUnix(SystemTime t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

int64_t unixNow() {
  return toUnix(clock().now());
}

SystemTime fromUnix(int64_t seconds) {
  return SystemTime{} + std::chrono::seconds(seconds);
}

std::string dateStamp(const CalendarTime& c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", c.year, c.month, c.day);
  return buf;
}

}  // namespace vek::platform
