#include "foundation/date_text.h"

#include <stdlib.h>
#include <time.h>

#include "support/test_support.h"

namespace vek::foundation {
namespace {

class DateTextTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  static void zone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
};

// 2026-12-08 14:03:09 UTC, a Tuesday.
const platform::SystemTime kInstant = platform::fromUnix(1796738589);

TEST_F(DateTextTest, MailDateCarriesTheZoneInForce) {
  struct Case {
    const char* tz;
    const char* expected;
  } cases[] = {
      {"UTC0", "Tue, 8 Dec 2026 14:03:09 +0000"},
      {"EST5", "Tue, 8 Dec 2026 09:03:09 -0500"},      // five hours west
      {"IST-5:30", "Tue, 8 Dec 2026 19:33:09 +0530"},  // half-hour east
      {"NST3:30", "Tue, 8 Dec 2026 10:33:09 -0330"},   // half-hour west
      {"CET-1CEST,M3.5.0,M10.5.0/3", "Tue, 8 Dec 2026 15:03:09 +0100"},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", "Wed, 9 Dec 2026 01:03:09 +1100"},  // daylight bias
  };
  for (const Case& c : cases) {
    zone(c.tz);
    EXPECT_EQ(mailDate(platform::toLocal(kInstant)), c.expected) << c.tz;
  }
}

TEST_F(DateTextTest, HttpDatesAreUtc) {
  zone("EST5");
  platform::CalendarTime local = platform::toLocal(kInstant);
  EXPECT_EQ(httpDateFromLocal(local), "Tue, 08 Dec 2026 14:03:09 GMT");
  EXPECT_EQ(httpDate(kInstant), "Tue, 08 Dec 2026 14:03:09 GMT");

  platform::CalendarTime utc = platform::toUtc(kInstant);
  EXPECT_EQ(httpDateFromUtc(utc), "Tue, 08 Dec 2026 14:03:09 GMT");
  // Out-of-range fields fall back to the first names, never past the tables.
  utc.month = 13;
  utc.weekday = 9;
  EXPECT_EQ(httpDateFromUtc(utc), "Sun, 08 Jan 2026 14:03:09 GMT");
  utc.month = 0;
  utc.weekday = -1;
  EXPECT_EQ(httpDateFromUtc(utc), "Sun, 08 Jan 2026 14:03:09 GMT");
}

TEST_F(DateTextTest, LongDateAndShortTime) {
  zone("UTC0");
  platform::CalendarTime t = platform::toLocal(kInstant);
  EXPECT_EQ(longLocalDate(t), "December 8, 2026");
  EXPECT_EQ(shortLocalTime(t), "14:03");
  t.hour = 7;
  t.minute = 5;
  EXPECT_EQ(shortLocalTime(t), "07:05");
}

}  // namespace
}  // namespace vek::foundation
