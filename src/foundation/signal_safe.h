// Building blocks for code that runs inside a crash signal handler: no
// locks, no allocation, only async-signal-safe system calls. Used by the
// last-chance handler and the debug log's crash line.
//
// Local time in a handler cannot go through localtime_r (it locks and may
// read the zone file), so the UTC offset last seen in a normal context is
// remembered and applied to CLOCK_REALTIME. After a daylight-saving change
// the offset is refreshed by the next debug line or date text.
#pragma once

#include <cstddef>
#include <string_view>

namespace vek::foundation {

struct SafeTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int weekday = 0;  // 0 = Sunday
};

// Called from normal contexts whenever a local time was computed.
void rememberUtcOffset(long seconds_east);
// Learns the offset now (localtime_r); not for signal handlers.
void refreshUtcOffset();
// The current local time with the remembered offset. Async-signal-safe.
SafeTime safeLocalNow();
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(long long days, int* year, int* month, int* day);

// A fixed buffer that silently drops what does not fit. Async-signal-safe.
class SafeBuffer {
 public:
  SafeBuffer& add(std::string_view s);
  SafeBuffer& add(char c);
  // Decimal, zero-padded to `width` digits.
  SafeBuffer& addUnsigned(unsigned long long v, int width = 0);
  const char* data() const { return buf_; }
  size_t size() const { return len_; }

 private:
  char buf_[1024];
  size_t len_ = 0;
};

// write(2) until done or an error other than EINTR.
void safeWriteAll(int fd, const char* data, size_t size);

}  // namespace vek::foundation
