#include "platform/clock.h"

#include <atomic>
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
