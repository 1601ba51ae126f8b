// Date texts of the gateway's logs and protocol headers.
//
//   mail date         "Tue, 8 Dec 2026 14:03:09 +0100"  (local time and its zone)
//   long local date   "December 8, 2026"
//   short local time  "14:03"
//   HTTP date         "Tue, 08 Dec 2026 13:03:09 GMT"
//
// Out-of-range calendar fields never index past the name tables: a month
// outside 1-12 is taken as January, a weekday outside 0-6 as Sunday.
// Pure functions apart from the *Now() forms, which read the injectable
// clock. Thread-safe.
#pragma once

#include <string>

#include "platform/clock.h"

namespace vek::foundation {

// "Sun".."Sat", "Jan".."Dec", "January".."December"; indexes are clamped.
const char* dayName(int weekday);
const char* monthName(int month);
const char* longMonthName(int month);

std::string mailDate(const platform::CalendarTime& local);
std::string mailDateNow();
std::string longLocalDate(const platform::CalendarTime& local);
std::string shortLocalTime(const platform::CalendarTime& local);
// From a local time: converted to UTC first; the current UTC time when the
// conversion fails.
std::string httpDateFromLocal(const platform::CalendarTime& local);
// From a UTC time, used as given.
std::string httpDateFromUtc(const platform::CalendarTime& utc);
std::string httpDate(platform::SystemTime t);

}  // namespace vek::foundation
