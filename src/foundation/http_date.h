// HTTP dates: "Sun, 06 Nov 1994 08:49:37 GMT". Pure functions; thread-safe.
#pragma once

#include <string>

#include "platform/clock.h"

namespace vek::foundation {

// From a time already in UTC. A month outside 1..12 prints as "Jan", a
// weekday outside 0..6 as "Sun".
std::string httpDate(const platform::CalendarTime& utc);
// From a local time, converted to UTC first; a time that cannot be
// converted gives the current UTC time.
std::string httpDateFromLocal(const platform::CalendarTime& local);
// The current time of the gateway's clock.
std::string httpDateNow();

}  // namespace vek::foundation
