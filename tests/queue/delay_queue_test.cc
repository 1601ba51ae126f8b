// The delay queue on real directories with an injected clock: what is due,
// where it lands, daylight-saving gaps and repeats, names already taken,
// the copying move under crashes at every step, and junk in the area.
#include "queue/delay_queue.h"

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <map>
#include <vector>

#include "foundation/debug_log.h"
#include "platform/files.h"
#include "queue/queue_env.h"

namespace vek::queue {
namespace {

namespace fs = std::filesystem;
using vek::testing::readText;
using vek::testing::writeText;

platform::SystemTime localTime(int y, int mo, int d, int h, int mi) {
  platform::CalendarTime c;
  c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi;
  return platform::fromLocal(c);
}

platform::SystemTime utcTime(int y, int mo, int d, int h, int mi) {
  platform::CalendarTime c;
  c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi;
  return platform::fromUtc(c);
}

class DelayQueueTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    foundation::DebugLogConfig c;
    c.enabled = true;
    c.directory = dir_.path() + "logs/";
    c.echo_to_stderr = false;
    foundation::configureDebugLog(c);
  }
  void TearDown() override {
    foundation::configureDebugLog(foundation::DebugLogConfig{});
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    QueueTestBase::TearDown();
  }

  DelayQueueConfig config() {
    DelayQueueConfig c;
    c.queue_directory = root_;
    c.on_queued = [this](uint32_t n) { counted_ += n; };
    return c;
  }
  // A delayed file below the delay area ("20261209/0905/a.req").
  void delayed(const std::string& rel, const std::string& text = "[SMS]\r\nPhoneNumber=1\r\n") {
    std::string path = root_ + "DELAYQ/" + rel;
    ASSERT_TRUE(platform::makeDirectories(platform::parentDirectory(path)).ok());
    writeText(path, text);
  }
  bool queued(const std::string& rel) const { return platform::isRegularFile(root_ + rel); }
  // Every file below the root outside the delay area, hidden ones included.
  std::map<std::string, std::string> queueFiles() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      std::string rel = e.path().string().substr(root_.size());
      if (e.is_regular_file() && rel.rfind("DELAYQ/", 0) != 0)
        out[rel] = readText(e.path().string());
    }
    return out;
  }
  std::string debugLog() const { return readText(dir_.path() + "logs/SMSDEBUG.LOG"); }

  uint64_t counted_ = 0;
};

TEST_F(DelayQueueTest, DueMinutesGoToTheSamePlaceInTheQueue) {
  platform::FakeClock clock(localTime(2026, 12, 9, 9, 4));
  platform::ScopedClock scoped(&clock);
  delayed("20261209/0905/a.req");
  delayed("20261209/0905/RT_-_smsc-1_-_/b.req");
  delayed("20261208/2359/c.req");
  delayed("20261201/0000/acct###0001/d.req");
  delayed("20261210/0000/e.req");

  EXPECT_EQ(processDelayQueue(config()), 2u);
  EXPECT_TRUE(queued("c.req"));
  EXPECT_TRUE(queued("acct###0001/d.req"));
  EXPECT_FALSE(queued("a.req")) << "not before 09:05";
  EXPECT_FALSE(platform::pathExists(root_ + "DELAYQ/20261208"));

  clock.set(localTime(2026, 12, 9, 9, 5));
  EXPECT_EQ(processDelayQueue(config()), 2u);
  EXPECT_TRUE(queued("a.req"));
  EXPECT_EQ(readText(root_ + "RT_-_smsc-1_-_/b.req"), "[SMS]\r\nPhoneNumber=1\r\n");
  EXPECT_FALSE(platform::pathExists(root_ + "DELAYQ/20261209/0905"));
  // Today's date stays for writers adding later times; past dates go.
  EXPECT_TRUE(platform::isDirectory(root_ + "DELAYQ/20261209"));
  EXPECT_TRUE(platform::isRegularFile(root_ + "DELAYQ/20261210/0000/e.req"));
  EXPECT_EQ(counted_, 4u);

  // The area's name in another case is the same area.
  fs::rename(root_ + "DELAYQ", root_ + "DelayQ");
  clock.set(localTime(2026, 12, 10, 0, 0));
  EXPECT_EQ(processDelayQueue(config()), 1u);
  EXPECT_TRUE(queued("e.req"));
}

TEST_F(DelayQueueTest, DaylightSavingGapsAndRepeatsReleaseOnceAtTheFirstMinuteAtOrAfter) {
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  platform::FakeClock clock;
  platform::ScopedClock scoped(&clock);
  // 29 March 2026: 02:00 CET jumps to 03:00 CEST; 02:30 never happens.
  delayed("20260329/0230/gap.req");
  clock.set(utcTime(2026, 3, 29, 0, 59));  // 01:59 CET
  EXPECT_EQ(processDelayQueue(config()), 0u);
  clock.set(utcTime(2026, 3, 29, 1, 0));  // 03:00 CEST
  EXPECT_EQ(processDelayQueue(config()), 1u);
  EXPECT_TRUE(queued("gap.req"));

  // 25 October 2026: 03:00 CEST goes back to 02:00 CET; 02:30 happens twice.
  delayed("20261025/0230/twice.req");
  clock.set(utcTime(2026, 10, 25, 0, 29));  // 02:29 CEST
  EXPECT_EQ(processDelayQueue(config()), 0u);
  clock.set(utcTime(2026, 10, 25, 0, 30));  // 02:30 CEST, the first time
  EXPECT_EQ(processDelayQueue(config()), 1u);
  fs::remove(root_ + "twice.req");  // sent
  for (int m : {10, 30, 59}) {
    clock.set(utcTime(2026, 10, 25, 1, m));  // 02:mm CET, the second time
    EXPECT_EQ(processDelayQueue(config()), 0u) << m;
  }
  EXPECT_FALSE(queued("twice.req"));
}

TEST_F(DelayQueueTest, AQueuedFileOfTheSameNameIsNeverOverwritten) {
  platform::FakeClock clock(localTime(2026, 12, 9, 9, 5));
  platform::ScopedClock scoped(&clock);
  delayed("20261209/0905/a.req", "delayed");
  writeText(root_ + "a.req", "queued earlier");
  for (bool copy : {false, true}) {
    DelayQueueConfig c = config();
    c.force_copy = copy;
    EXPECT_EQ(processDelayQueue(c), 0u);
    EXPECT_EQ(readText(root_ + "a.req"), "queued earlier");
  }
  EXPECT_NE(debugLog().find("Unable to move " + root_ + "DELAYQ/20261209/0905/a.req"),
            std::string::npos);
  fs::remove(root_ + "a.req");  // sent
  EXPECT_EQ(processDelayQueue(config()), 1u);
  EXPECT_EQ(readText(root_ + "a.req"), "delayed");
  EXPECT_FALSE(platform::pathExists(root_ + "DELAYQ/20261209/0905"));
}

// The copying move, killed before each of its changes in turn and then
// resumed: each message is in the queue exactly once, whole, and nothing
// hidden is left.
TEST_F(DelayQueueTest, CopyAcrossFileSystemsSurvivesACrashAtEveryStep) {
  platform::FakeClock clock(localTime(2026, 12, 9, 9, 5));
  platform::ScopedClock scoped(&clock);
  auto setup = [&] {
    fs::remove_all(root_);
    delayed("20261209/0905/a.req", "text a");
    delayed("20261209/0900/RT_-_r_-_/b.req", "text b");
  };
  setup();
  int steps = 0;
  DelayQueueConfig counting = config();
  counting.force_copy = true;
  counting.before_step = [&](std::string_view) {
    ++steps;
    return true;
  };
  EXPECT_EQ(processDelayQueue(counting), 2u);
  ASSERT_GE(steps, 8);
  const std::map<std::string, std::string> want = {{"a.req", "text a"},
                                                   {"RT_-_r_-_/b.req", "text b"}};
  EXPECT_EQ(queueFiles(), want);

  platform::ListOptions dirs;
  dirs.directories = true;
  dirs.hidden = true;
  for (int crash_at = 1; crash_at <= steps; ++crash_at) {
    setup();
    int n = 0;
    DelayQueueConfig crashing = config();
    crashing.force_copy = true;
    crashing.before_step = [&](std::string_view) { return ++n < crash_at; };
    processDelayQueue(crashing);
    EXPECT_LE(queueFiles().size(), 2u + 2u) << "at most the two hidden copies besides";
    DelayQueueConfig resumed = config();
    resumed.force_copy = true;
    processDelayQueue(resumed);
    EXPECT_EQ(queueFiles(), want) << "crash at step " << crash_at;
    EXPECT_TRUE(platform::listDirectory(root_ + "DELAYQ/20261209", "*", dirs).empty())
        << "crash at " << crash_at;
  }
}

TEST_F(DelayQueueTest, JunkInTheDelayAreaIsLeftAlone) {
  platform::FakeClock clock(localTime(2026, 12, 9, 9, 5));
  platform::ScopedClock scoped(&clock);
  delayed("2026120/0900/short-date.req");
  delayed("abcdefgh/0900/letters.req");
  delayed("202612091/0900/long-date.req");
  delayed("20261209/x900/bad-time.req");
  delayed("20261209/stray.req");
  delayed("stray.req");
  delayed("20261209/0900/deep/deeper/deep.req");
  delayed("20261209/0900/.~tmp-1-2");  // a writer's temporary
  delayed("20261209/0900ab/ok.req");   // the first four characters count
  fs::create_directory_symlink(dir_.path(), root_ + "DELAYQ/20261209/0900/link");
  writeText(dir_.path() + "secret.req", "outside");
  fs::create_symlink(dir_.path() + "secret.req", root_ + "DELAYQ/20261209/0900/file-link.req");

  EXPECT_EQ(processDelayQueue(config()), 1u);
  EXPECT_TRUE(queued("ok.req"));
  EXPECT_FALSE(queued("secret.req"));
  EXPECT_FALSE(queued("file-link.req"));
  EXPECT_FALSE(queued("link/secret.req"));
  EXPECT_TRUE(platform::isRegularFile(dir_.path() + "secret.req"));
  for (const char* left :
       {"2026120/0900/short-date.req", "abcdefgh/0900/letters.req", "202612091/0900/long-date.req",
        "20261209/x900/bad-time.req", "20261209/stray.req", "stray.req",
        "20261209/0900/deep/deeper/deep.req", "20261209/0900/.~tmp-1-2"})
    EXPECT_TRUE(platform::isRegularFile(root_ + "DELAYQ/" + left)) << left;
  EXPECT_NE(debugLog().find("is a symbolic link; left in place"), std::string::npos);
}

}  // namespace
}  // namespace vek::queue
