// Events, the shutdown flag, the single-instance guard, sockets and the clock.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/event_log.h"
#include "platform/shutdown.h"
#include "platform/single_instance.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::platform {
namespace {

using namespace std::chrono_literals;

TEST(RuntimeTest, AutoResetWakesOneWaiterManualResetStaysSet) {
  FakeClock fake;
  fake.setAutoAdvance(true);  // a time-out passes at once
  ScopedClock use(&fake);
  Event a(Event::Mode::kAutoReset);
  a.set();
  EXPECT_TRUE(a.wait(0ms));
  EXPECT_FALSE(a.wait(10ms));  // consumed
  Event m(Event::Mode::kManualReset);
  m.set();
  EXPECT_TRUE(m.wait(0ms));
  EXPECT_TRUE(m.wait(0ms));
  m.reset();
  EXPECT_FALSE(m.wait(10ms));
  fake.setAutoAdvance(false);
  std::thread t([&] { a.set(); });
  EXPECT_TRUE(a.wait(5000ms));
  t.join();
}

TEST(RuntimeTest, ShutdownWakesSleepersAtOnce) {
  resetShutdownForTesting();
  FakeClock fake;  // time stands still: only the stop can end the sleep
  ScopedClock use(&fake);
  std::atomic<int> slept{-1};
  std::thread t([&] { slept = sleepFor(10000ms) ? 1 : 0; });
  ASSERT_TRUE(fake.awaitWaiters(1, 5s));
  requestShutdown();
  t.join();
  EXPECT_EQ(slept, 0) << "ended early";
  EXPECT_FALSE(sleepFor(10000ms)) << "a stop already requested ends a sleep before it starts";
  resetShutdownForTesting();
}

TEST(RuntimeTest, SingleInstanceGuardsOneDirectoryAndCarriesTheStopByte) {
  vek::testing::TempDir dir;
  auto first = SingleInstance::acquire(dir.path());
  ASSERT_TRUE(first.ok());
  // Another process (the guard is per open file description, so a child
  // that opens the file anew is a fair stand-in for a second gateway).
  pid_t pid = ::fork();
  if (pid == 0) {
    auto second = SingleInstance::acquire(dir.path());
    ::_exit(!second.ok() && second.status().code() == EWOULDBLOCK ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_FALSE((*first)->stopRequested());
  ASSERT_TRUE(SingleInstance::requestStop(dir.path()).ok());
  EXPECT_TRUE((*first)->stopRequested());
  first.value().reset();
  EXPECT_TRUE(SingleInstance::acquire(dir.path()).ok()) << "released with its owner";
}

TEST(RuntimeTest, LoopbackSocketsTransferAndTimeOut) {
  auto listener = listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  uint16_t port = localPort(listener->get());
  ASSERT_NE(port, 0);
  auto client = connectTcp("127.0.0.1", port, 2000);
  ASSERT_TRUE(client.ok());
  std::string peer;
  auto server = acceptConnection(listener->get(), 2000, &peer);
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(peer, "127.0.0.1");
  EXPECT_FALSE(peerGoneOrChatty(server->get()));
  ASSERT_EQ(sendAll(client->get(), "ping", 1000), IoStatus::kOk);
  char buf[4];
  ASSERT_EQ(recvExact(server->get(), buf, 4, 1000), IoStatus::kOk);
  EXPECT_EQ(std::string(buf, 4), "ping");
  size_t got;
  {
    FakeClock fake;
    fake.setAutoAdvance(true);
    ScopedClock use(&fake);
    const SteadyTime before = monotonicNow();
    EXPECT_EQ(recvSome(server->get(), buf, 4, 20000, &got), IoStatus::kTimeout);
    EXPECT_EQ(monotonicNow() - before, 20s) << "timed out by the clock, not by waiting";
  }
  client->reset();
  EXPECT_TRUE(peerGoneOrChatty(server->get()));
  EXPECT_EQ(recvSome(server->get(), buf, 4, 1000, &got), IoStatus::kClosed);
  auto none = acceptConnection(listener->get(), 10);
  EXPECT_EQ(none.status().code(), EAGAIN);
  EXPECT_FALSE(connectTcp("127.0.0.1", port == 1 ? 2 : 1, 1000).ok());
}

TEST(RuntimeTest, EachEventIsOneLineOfTheEventLog) {
  vek::testing::TempDir dir;
  openEventLog(dir.file("EVENTS.LOG"));
  reportEvent(EventType::kSuccess, "Gateway service started.\n  Using web port 8800.\r\n");
  reportEvent(EventType::kError, "bad\r\ninput\x1b[2J");
  std::string text = vek::testing::readText(dir.file("EVENTS.LOG"));
  openEventLog("");
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_NE(text.find(" - Info: Gateway service started.   Using web port 8800.\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" - Error: bad  input [2J\n"), std::string::npos) << text;
}

TEST(RuntimeTest, FakeClockDrivesLocalTime) {
  ::setenv("TZ", "EST5", 1);
  ::tzset();
  FakeClock fake(fromUnix(86400 - 1));  // 1970-01-01 23:59:59 UTC = 18:59:59 EST
  ScopedClock use(&fake);
  CalendarTime t = localNow();
  EXPECT_EQ(t.hour, 18);
  EXPECT_EQ(t.utc_offset_seconds, -5 * 3600);
  fake.advance(std::chrono::hours(5) + 1s);
  EXPECT_EQ(dateStamp(localNow()), "19700102");
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace vek::platform
