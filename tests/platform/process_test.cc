#include "platform/process.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST(ProcessTest, TimeLimitKillsTheChildAndItsChildren) {
  ProcessOptions o;
  o.argv = {"sh", "-c", "echo started; sleep 30 & sleep 30"};
  o.time_limit = std::chrono::milliseconds(300);
  auto start = std::chrono::steady_clock::now();
  auto r = runProcess(o);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.output, "started\n");
}

TEST(ProcessTest, CancelFlagStopsTheWait) {
  std::atomic<bool> cancel{false};
  ProcessOptions o;
  o.argv = {"sleep", "30"};
  o.cancel = &cancel;
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel = true;
  });
  auto r = runProcess(o);
  t.join();
  EXPECT_TRUE(r.cancelled);
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
