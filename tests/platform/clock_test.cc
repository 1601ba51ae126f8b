// The fake clock: time passes only when a test moves it, and moving it wakes
// exactly the waits whose deadline it passes.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/socket_pair.h"

namespace vek::platform {
namespace {

using namespace std::chrono_literals;

TEST(ClockTest, AdvanceWakesEachWaitWhenItsDeadlinePasses) {
  resetShutdownForTesting();
  FakeClock fake;
  ScopedClock use(&fake);
  Event never;
  auto short_sleep = std::async(std::launch::async, [] { return sleepFor(1000ms); });
  auto long_sleep = std::async(std::launch::async, [] { return sleepFor(3000ms); });
  auto event_wait = std::async(std::launch::async, [&] { return never.wait(2000ms); });
  ASSERT_TRUE(fake.awaitWaiters(3, 5s));

  fake.advance(999ms);
  fake.advance(1ms);
  ASSERT_EQ(short_sleep.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(short_sleep.get()) << "slept its full time";
  ASSERT_TRUE(fake.awaitWaiters(2, 5s));
  EXPECT_EQ(fake.waiters(), 2u) << "the others still wait";

  fake.advance(1000ms);
  ASSERT_EQ(event_wait.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(event_wait.get()) << "timed out";
  fake.advance(1000ms);
  ASSERT_EQ(long_sleep.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(long_sleep.get());
  EXPECT_EQ(fake.waiters(), 0u);
}

TEST(ClockTest, AWaitEndsOnItsEventWhateverTheClock) {
  FakeClock fake;
  ScopedClock use(&fake);
  Event e;
  auto waited = std::async(std::launch::async, [&] { return e.wait(1h); });
  ASSERT_TRUE(fake.awaitWaiters(1, 5s));
  e.set();
  ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(waited.get());
}

TEST(ClockTest, AutoAdvanceJumpsToEachDeadline) {
  resetShutdownForTesting();
  FakeClock fake(fromUnix(1800000000));
  fake.setAutoAdvance(true);
  ScopedClock use(&fake);
  const SteadyTime start = monotonicNow();
  EXPECT_TRUE(sleepFor(1500ms));
  Event e;
  EXPECT_FALSE(e.wait(250ms));
  EXPECT_EQ(monotonicNow() - start, 1750ms);
  EXPECT_EQ(clock().now(), fromUnix(1800000000) + 1750ms) << "the wall clock moves along";
  // A poll deadline is jumped to as well.
  auto pair = socketPair();
  ASSERT_TRUE(pair.ok());
  EXPECT_EQ(waitReadable(pair->first.get(), 60000), 0);
  EXPECT_EQ(monotonicNow() - start, 61750ms);
}

TEST(ClockTest, SetMovesTheWallClockOnlyAndPollsSeeAdvance) {
  FakeClock fake(fromUnix(1000));
  ScopedClock use(&fake);
  const SteadyTime start = monotonicNow();
  fake.set(fromUnix(5000));
  EXPECT_EQ(unixNow(), 5000);
  EXPECT_EQ(monotonicNow(), start) << "a wall-clock jump is no interval";

  auto pair = socketPair();
  ASSERT_TRUE(pair.ok());
  auto polled =
      std::async(std::launch::async, [&] { return waitReadable(pair->first.get(), 30000); });
  // A poll is no registered waiter: move on until it has seen 30 s pass.
  for (int i = 0; i < 500 && polled.wait_for(10ms) != std::future_status::ready; ++i)
    fake.advance(30s);
  ASSERT_EQ(polled.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(polled.get(), 0) << "timed out by the advance";
}

}  // namespace
}  // namespace vek::platform
