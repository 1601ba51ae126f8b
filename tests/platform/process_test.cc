#include "platform/process.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/clock.h"

#include "support/test_support.h"

namespace vek::platform {
namespace {

TEST(ProcessTest, CapturesOutputExitCodeAndFeedsInput) {
  ProcessOptions o;
  o.argv = {"sh", "-c", "cat; echo err >&2; exit 3"};
  o.stdin_data = std::string("hello\n");
  auto r = runProcess(o);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.output, "hello\nerr\n");
}

TEST(ProcessTest, ArgumentsAreNeverInterpretedByAShell) {
  ProcessOptions o;
  o.argv = {"echo", "a; touch /tmp/should-not-exist-veksms $(id)"};
  auto r = runProcess(o);
  EXPECT_EQ(r.output, "a; touch /tmp/should-not-exist-veksms $(id)\n");
  EXPECT_FALSE(isRegularFile("/tmp/should-not-exist-veksms"));
}

// The child touches `marker` once it runs; the clock moves only then.
TEST(ProcessTest, TimeLimitKillsTheChildAndItsChildren) {
  vek::testing::TempDir dir;
  const std::string marker = dir.file("running");
  FakeClock fake;
  ScopedClock use(&fake);
  ProcessOptions o;
  o.argv = {"sh", "-c", "echo started; touch \"$0\"; sleep 30 & sleep 30", marker};
  o.time_limit = std::chrono::seconds(300);
  auto result = std::async(std::launch::async, [&] { return runProcess(o); });
  ASSERT_TRUE(
      vek::testing::waitUntil([&] { return pathExists(marker); }, std::chrono::seconds(10)));
  fake.advance(std::chrono::seconds(300));
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  auto r = result.get();
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.output, "started\n");
}

TEST(ProcessTest, CancelFlagStopsTheWait) {
  vek::testing::TempDir dir;
  const std::string marker = dir.file("running");
  std::atomic<bool> cancel{false};
  ProcessOptions o;
  o.argv = {"sh", "-c", "touch \"$0\"; exec sleep 30", marker};
  o.cancel = &cancel;
  auto result = std::async(std::launch::async, [&] { return runProcess(o); });
  ASSERT_TRUE(
      vek::testing::waitUntil([&] { return pathExists(marker); }, std::chrono::seconds(10)));
  cancel = true;
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(result.get().cancelled);
}

TEST(ProcessTest, MissingProgramIsReportedNotStarted) {
  ProcessOptions o;
  o.argv = {"no-such-program-veksms"};
  auto r = runProcess(o);
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.error.ok());
}

TEST(ProcessTest, OutputAndInputCanBeFiles) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("in"), "line\n");
  ProcessOptions o;
  o.argv = {"cat"};
  o.stdin_path = dir.file("in");
  o.output_path = dir.file("out");
  auto r = runProcess(o);
  EXPECT_TRUE(r.exitedWith(0));
  EXPECT_EQ(vek::testing::readText(dir.file("out")), "line\n");
}

TEST(ProcessTest, OutputIsBounded) {
  ProcessOptions o;
  o.argv = {"sh", "-c", "head -c 100000 /dev/zero"};
  o.max_output = 1000;
  auto r = runProcess(o);
  EXPECT_TRUE(r.exitedWith(0));
  EXPECT_EQ(r.output.size(), 1000u);
}

}  // namespace
}  // namespace vek::platform
