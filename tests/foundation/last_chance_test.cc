#include "foundation/last_chance.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <stdexcept>

#include "foundation/date_text.h"
#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;

// Paths the child's hook writes to; set before the fork.
char g_hook_marker[512];

void markHookRan() {
  int fd = ::open(g_hook_marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ssize_t ignored = ::write(fd, "hook", 4);
    (void)ignored;
    ::close(fd);
  }
}

[[noreturn]] void crashBySegfault() {
  // A page that may not be touched: a real fault, not a null store (which
  // the undefined-behaviour checks would catch first).
  void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  volatile int* forbidden = static_cast<volatile int*>(page);
  *forbidden = 1;
  std::abort();
}

[[noreturn]] void crashByAbort() {
  std::abort();
}

void throwThrough() noexcept(false) {
  throw std::logic_error("no handler");
}
[[noreturn]] void crashByTerminate() {
  // An exception leaving a noexcept function ends in std::terminate.
  [&]() noexcept { throwThrough(); }();
  std::abort();
}

[[noreturn]] void crashByFpe() {
  ::raise(SIGFPE);
  std::abort();
}

// An exception at the top of a worker thread: the worker's own crash.
[[noreturn]] void crashByWorkerException() {
  startWorkerThread("ThreadCrashTest", [] { throw std::runtime_error("listener gone"); });
  waitForWorkers(std::chrono::seconds(30));
  ::_exit(0);  // only reached when the worker just ended
}

class LastChanceTest : public ::testing::TestWithParam<void (*)()> {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "fast");
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    std::string marker = dir_.file("hook.ran");
    std::strncpy(g_hook_marker, marker.c_str(), sizeof g_hook_marker - 1);
  }

  // Runs in the forked child: the gateway's start-up, then the crash.
  void crashInChild(void (*crash)()) {
    DebugLogConfig c;
    c.enabled = true;
    c.directory = dir_.path();
    c.echo_to_stderr = false;
    configureDebugLog(c);
    installLastChanceHandler(dir_.path());
    addLastChanceHook(markHookRan);
    AssignThreadNumber("ThreadCrashTest");
    crash();
  }

  TempDir dir_;
};

TEST_P(LastChanceTest, CrashWritesExceptLogAndExitsWith45233) {
  std::string day_before = longLocalDate(platform::localNow());
  EXPECT_EXIT(crashInChild(GetParam()), ::testing::ExitedWithCode(kExceptionExitCode & 0xFF), "");
  std::string day_after = longLocalDate(platform::localNow());

  std::string text = readText(dir_.file("EXCEPT.LOG"));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(text, m,
                               std::regex("Exception occurred in thread #([1-9][0-9]*)\r\n"
                                          "Thread Description:  ThreadCrashTest\r\n"
                                          "([A-Za-z]+ [0-9]{1,2}, [0-9]{4}) @ [0-9]{2}:[0-9]{2}\r\n"
                                          "-------\r\n")))
      << text;
  EXPECT_TRUE(m[2] == day_before || m[2] == day_after) << m[2];
  EXPECT_NE(readText(dir_.file("SMSDEBUG.LOG"))
                .find("] UnhandledExceptionFilter:  Exception occurred in thread #" + m[1].str() +
                      "\r\n"),
            std::string::npos);
  EXPECT_EQ(readText(dir_.file("hook.ran")), "hook");
}

INSTANTIATE_TEST_SUITE_P(Crashes, LastChanceTest,
                         ::testing::Values(crashBySegfault, crashByAbort, crashByTerminate,
                                           crashByFpe, crashByWorkerException));

}  // namespace
}  // namespace vek::foundation
