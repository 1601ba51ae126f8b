#include "foundation/date_text.h"

#include <cstdio>
#include <cstdlib>

namespace vek::foundation {
namespace {

const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

}  // namespace

const char* dayName(int weekday) {
  return kDays[(weekday >= 0 && weekday <= 6) ? weekday : 0];
}
const char* monthName(int month) {
  return kMonths[(month >= 1 && month <= 12) ? month - 1 : 0];
}
const char* longMonthName(int month) {
  return kLongMonths[(month >= 1 && month <= 12) ? month - 1 : 0];
}

std::string mailDate(const platform::CalendarTime& local) {
  // The zone is the offset in force at that instant, daylight bias included;
  // a zone at or east of UTC carries a plus sign.
  long offset_minutes = local.utc_offset_seconds / 60;
  char sign = offset_minutes >= 0 ? '+' : '-';
  long magnitude = std::labs(offset_minutes);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %d %s %02d %02d:%02d:%02d %c%04ld", dayName(local.weekday),
                local.day, monthName(local.month), local.year, local.hour, local.minute,
                local.second, sign, (magnitude / 60) * 100 + magnitude % 60);
  return buf;
}

std::string mailDateNow() {
  return mailDate(platform::localNow());
}

std::string longLocalDate(const platform::CalendarTime& local) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %d, %d", longMonthName(local.month), local.day, local.year);
  return buf;
}

std::string shortLocalTime(const platform::CalendarTime& local) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d", local.hour, local.minute);
  return buf;
}

std::string httpDateFromLocal(const platform::CalendarTime& local) {
  platform::CalendarTime whole = local;
  whole.millisecond = 0;
  platform::SystemTime t = platform::fromLocal(whole);
  // mktime reports an unrepresentable time as -1.
  if (platform::toUnix(t) == -1) t = platform::clock().now();
  return httpDateFromUtc(platform::toUtc(t));
}

std::string httpDateFromUtc(const platform::CalendarTime& utc) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %d %02d:%02d:%02d GMT", dayName(utc.weekday), utc.day,
                monthName(utc.month), utc.year, utc.hour, utc.minute, utc.second);
  return buf;
}

std::string httpDate(platform::SystemTime t) {
  return httpDateFromUtc(platform::toUtc(t));
}

}  // namespace vek::foundation
