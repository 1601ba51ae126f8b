#include "foundation/debug_log.h"

#include <stdlib.h>
#include <time.h>

#include <future>
#include <regex>
#include <thread>
#include <vector>

#include "foundation/thread_registry.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

using platform::CalendarTime;
using platform::FakeClock;
using platform::ScopedClock;
using vek::testing::readText;
using vek::testing::TempDir;

platform::SystemTime utcAt(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  CalendarTime c;
  c.year = y;
  c.month = mo;
  c.day = d;
  c.hour = h;
  c.minute = mi;
  c.second = s;
  c.millisecond = ms;
  return platform::fromUtc(c);
}

std::vector<std::string> lines(const std::string& text) {
  return platform::split(text, "\n");
}

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
  }
  void TearDown() override { configureDebugLog(DebugLogConfig{}); }

  void configure(bool enabled, uint64_t max_bytes = 0) {
    DebugLogConfig c;
    c.enabled = enabled;
    c.detailed = true;
    c.max_bytes = max_bytes;
    c.directory = dir_.path();
    c.echo_to_stderr = false;
    c.rotation_pause = std::chrono::milliseconds(0);
    configureDebugLog(c);
  }
  std::string log() const { return dir_.file("SMSDEBUG.LOG"); }
  std::string bak() const { return dir_.file("SMSDEBUG.BAK"); }

  TempDir dir_;
};

TEST_F(DebugLogTest, DebugOffWritesNothingAndOpensNoFile) {
  configure(false);
  DebugLog("main", "hello");
  DebugLogf("main", "%d", 1);
  Debug2Log("main", "detail");
  EXPECT_FALSE(platform::pathExists(log()));
  EXPECT_TRUE(platform::listDirectory(dir_.path(), "*").empty());
}

TEST_F(DebugLogTest, LineCarriesTimeThreadNumberTagAndText) {
  FakeClock fake(utcAt(2026, 12, 8, 14, 3, 9, 42));
  ScopedClock scoped(&fake);
  configure(true);
  DebugLog("main", "unregistered");
  std::thread([] {
    WorkerScope scope("ThreadTestLine");
    DebugLogf("ThreadTestLine", "value %d", 7);
  }).join();
  std::string text = readText(log());
  EXPECT_NE(text.find("14:03:09:042 [0] main:  unregistered\r\n"), std::string::npos) << text;
  EXPECT_TRUE(std::regex_search(text, std::regex("14:03:09:042 \\[[1-9][0-9]*\\] "
                                                 "ThreadTestLine:  value 7\r\n")))
      << text;
}

TEST_F(DebugLogTest, FirstLineOfANewDateRotatesTheLog) {
  // Same day of the month a month later: the whole date decides.
  struct Case {
    platform::SystemTime first, second;
    bool rotates;
  } cases[] = {
      {utcAt(2026, 12, 8, 23, 59, 59, 900), utcAt(2026, 12, 9, 0, 0, 0, 100), true},
      {utcAt(2026, 1, 8, 12, 0, 0), utcAt(2026, 2, 8, 12, 0, 0), true},
      {utcAt(2026, 12, 8, 0, 0, 0), utcAt(2026, 12, 8, 23, 59, 59), false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    FakeClock fake(c.first);
    ScopedClock scoped(&fake);
    DebugLogConfig config;
    config.enabled = true;
    config.directory = dir.path();
    config.echo_to_stderr = false;
    config.rotation_pause = std::chrono::milliseconds(0);
    configureDebugLog(config);
    DebugLog("main", "before");
    fake.set(c.second);
    DebugLog("main", "after");
    configureDebugLog(DebugLogConfig{});
    std::string now = readText(dir.file("SMSDEBUG.LOG"));
    std::string old = readText(dir.file("SMSDEBUG.BAK"));
    if (c.rotates) {
      EXPECT_NE(old.find("main:  before"), std::string::npos) << old;
      EXPECT_EQ(now.find("before"), std::string::npos) << now;
    } else {
      EXPECT_FALSE(platform::pathExists(dir.file("SMSDEBUG.BAK")));
      EXPECT_NE(now.find("before"), std::string::npos);
    }
    EXPECT_NE(now.find("after"), std::string::npos);
  }
}

TEST_F(DebugLogTest, SizeLimitRotatesAtFirstLineAfterPassingIt) {
  configure(true, 1048576);
  vek::testing::writeText(bak(), "previous backup");
  const std::string text(1000, 'x');
  uint64_t written = 0;
  while (written <= 1048576) {
    DebugLog("main", text);
    written = static_cast<uint64_t>(platform::statPath(log())->size);
  }
  EXPECT_EQ(readText(bak()), "previous backup") << "rotated before the limit was passed";
  DebugLog("main", "first after the limit");
  EXPECT_EQ(static_cast<uint64_t>(platform::statPath(bak())->size), written);
  std::vector<std::string> now = lines(readText(log()));
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now[0].find("first after the limit"), std::string::npos);
}

TEST_F(DebugLogTest, LogBegunOnAnotherDayIsRotatedWhenOpened) {
  vek::testing::writeText(log(), "from an earlier run\r\n");
  // The file was born today (real clock); the gateway now stands two days on.
  FakeClock fake(platform::clock().now() + std::chrono::hours(48));
  {
    ScopedClock scoped(&fake);
    configure(true);
    DebugLog("main", "started");
  }
  EXPECT_EQ(readText(bak()), "from an earlier run\r\n");
  EXPECT_EQ(readText(log()).find("from an earlier run"), std::string::npos);

  // Reopened on the day it was born: appended to.
  closeDebugLog();
  DebugLog("main", "again");
  std::string now = readText(log());
  EXPECT_NE(now.find("started"), std::string::npos);
  EXPECT_NE(now.find("again"), std::string::npos);
}

TEST_F(DebugLogTest, LinesFromManyThreadsNeverInterleave) {
  configure(true);
  constexpr int kThreads = 4, kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string body(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) DebugLog("Worker", body);
    });
  }
  for (auto& t : threads) t.join();
  std::vector<std::string> all = lines(readText(log()));
  ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kLines));
  std::regex shape("\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d \\[\\d+\\] Worker:  ([a-d])\\1{199}\r");
  for (const std::string& l : all) ASSERT_TRUE(std::regex_match(l, shape)) << l;
}

}  // namespace
}  // namespace vek::foundation
