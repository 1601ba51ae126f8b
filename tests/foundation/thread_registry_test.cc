#include "foundation/thread_registry.h"

#include <unistd.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/debug_log.h"
#include "foundation/last_chance.h"
#include "platform/clock.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;

class ThreadRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DebugLogConfig c;
    c.enabled = true;
    c.detailed = true;
    c.directory = dir_.path();
    c.echo_to_stderr = false;
    c.rotation_pause = std::chrono::milliseconds(0);
    configureDebugLog(c);
  }
  void TearDown() override { configureDebugLog(DebugLogConfig{}); }
  std::string log() const { return readText(dir_.file("SMSDEBUG.LOG")); }

  TempDir dir_;
};

TEST_F(ThreadRegistryTest, WorkerIsNumberedWhileRunningAndWaitedFor) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<unsigned> number;
  ASSERT_TRUE(startWorkerThread("ThreadHoldOn", [&, released] {
    number.set_value(currentThreadNumber());
    released.wait();
  }));
  unsigned n = number.get_future().get();
  ASSERT_NE(n, 0u);
  EXPECT_EQ(threadDescription(n), "ThreadHoldOn");
  EXPECT_GE(runningWorkerCount(), 1);
  {
    platform::FakeClock fake;
    fake.setAutoAdvance(true);  // the bound passes at once
    platform::ScopedClock use(&fake);
    EXPECT_FALSE(waitForWorkers(std::chrono::seconds(60)));
  }

  release.set_value();
  ASSERT_TRUE(waitForWorkers(std::chrono::seconds(10)));
  EXPECT_EQ(runningWorkerCount(), 0);
  EXPECT_EQ(threadDescription(n), "");
  std::string text = log();
  EXPECT_NE(text.find("AssignThreadNumber:  ThreadHoldOn\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ReleaseThreadNumber:  ThreadHoldOn\r\n"), std::string::npos) << text;
}

// The process ends as for a crash; a worker that merely ended would leave
// the child running on to the exit status 0.
TEST_F(ThreadRegistryTest, ExceptionInWorkerIsLoggedAndEndsTheProcessAsACrash) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child keeps this test's log
  EXPECT_EXIT(
      {
        startWorkerThread("ThreadThrows", [] { throw std::runtime_error("disk gone"); });
        waitForWorkers(std::chrono::seconds(30));
        ::_exit(0);
      },
      ::testing::ExitedWithCode(kExceptionExitCode & 0xFF), "");
  EXPECT_NE(log().find("ThreadThrows:  Unhandled exception: disk gone\r\n"), std::string::npos);
}

// Descriptions change while other threads (a status page, the crash
// handler) read them: a reader sees a whole description, never a mixture.
TEST_F(ThreadRegistryTest, DescriptionsReadWhileThreadsComeAndGoAreWhole) {
  configureDebugLog(DebugLogConfig{});  // the lines themselves are not the point
  std::atomic<bool> done{false};
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w) {
    writers.emplace_back([&, w] {
      const std::string a(60, static_cast<char>('a' + w)), b(90, static_cast<char>('A' + w));
      for (int i = 0; i < 2000; ++i) {
        AssignThreadNumber(a);
        AssignThreadNumber(b);  // same slot, new description
        ReleaseThreadNumber();
      }
    });
  }
  std::thread reader([&] {
    while (!done.load()) {
      for (unsigned n = 1; n <= 16; ++n) {
        std::string d = threadDescription(n);
        if (d.empty()) continue;
        EXPECT_EQ(d, std::string(d.size(), d[0])) << "torn description";
        EXPECT_TRUE(d.size() == 60 || d.size() == 90) << d.size();
      }
    }
  });
  for (auto& w : writers) w.join();
  done = true;
  reader.join();
}

TEST_F(ThreadRegistryTest, SecondAssignKeepsTheSlotAndDescriptionIsCut) {
  std::thread([] {
    unsigned first = AssignThreadNumber("ThreadFirstName");
    ASSERT_NE(first, 0u);
    std::string long_name(150, 'd');
    EXPECT_EQ(AssignThreadNumber(long_name), first);
    EXPECT_EQ(threadDescription(first), std::string(kThreadDescriptionMax, 'd'));
    EXPECT_EQ(ReleaseThreadNumber(), first);
    EXPECT_EQ(ReleaseThreadNumber(), 0u);
    EXPECT_EQ(currentThreadNumber(), 0u);
  }).join();
}

}  // namespace
}  // namespace vek::foundation
