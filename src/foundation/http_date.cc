#include "foundation/http_date.h"

#include "platform/strings.h"

namespace vek::foundation {

std::string httpDate(const platform::CalendarTime& utc) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const char* month = utc.month >= 1 && utc.month <= 12 ? kMonths[utc.month - 1] : kMonths[0];
  const char* day = utc.weekday >= 0 && utc.weekday <= 6 ? kDays[utc.weekday] : kDays[0];
  return platform::format("%s, %02d %s %d %02d:%02d:%02d GMT", day, utc.day, month, utc.year,
                          utc.hour, utc.minute, utc.second);
}

std::string httpDateNow() {
  return httpDate(platform::toUtc(platform::clock().now()));
}

}  // namespace vek::foundation
