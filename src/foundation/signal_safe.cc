#include "foundation/signal_safe.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vek::foundation {
namespace {

std::atomic<long> g_utc_offset{0};
static_assert(std::atomic<long>::is_always_lock_free, "read from a signal handler");

}  // namespace

void rememberUtcOffset(long seconds_east) {
  if (g_utc_offset.load(std::memory_order_relaxed) != seconds_east)
    g_utc_offset.store(seconds_east, std::memory_order_relaxed);
}

void refreshUtcOffset() {
  time_t now = ::time(nullptr);
  struct tm tm;
  if (localtime_r(&now, &tm) != nullptr) rememberUtcOffset(tm.tm_gmtoff);
}

void civilFromDays(long long days, int* year, int* month, int* day) {
  // Howard Hinnant's days_from_civil inverse: eras of 400 years.
  days += 719468;
  long long era = (days >= 0 ? days : days - 146096) / 146097;
  long long doe = days - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

SafeTime safeLocalNow() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  long long secs = static_cast<long long>(ts.tv_sec) + g_utc_offset.load(std::memory_order_relaxed);
  long long days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  long long rest = secs - days * 86400;
  SafeTime t;
  civilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  long long wd = (days + 4) % 7;  // 1970-01-01 was a Thursday
  t.weekday = static_cast<int>(wd < 0 ? wd + 7 : wd);
  return t;
}

SafeBuffer& SafeBuffer::add(std::string_view s) {
  for (char c : s) add(c);
  return *this;
}

SafeBuffer& SafeBuffer::add(char c) {
  if (len_ < sizeof buf_) buf_[len_++] = c;
  return *this;
}

SafeBuffer& SafeBuffer::addUnsigned(unsigned long long v, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 24);
  for (int i = n; i < width; ++i) add('0');
  while (n > 0) add(digits[--n]);
  return *this;
}

void safeWriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace vek::foundation
