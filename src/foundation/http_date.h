// HTTP dates: "Sun, 06 Nov 1994 08:49:37 GMT". Pure functions; thread-safe.
#pragma once

#include <string>

#include "foundation/date_text.h"
#include "platform/clock.h"

namespace vek::foundation {

// From a time already in UTC. A month outside 1..12 prints as "Jan", a
// weekday outside 0..6 as "Sun".
std::string httpDate(const platform::CalendarTime& utc);
// From a local time: httpDateFromLocal() of date_text.h, the one definition.
// The current time of the gateway's clock.
std::string httpDateNow();

}  // namespace vek::foundation
