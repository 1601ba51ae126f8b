#include "foundation/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;
using vek::testing::writeText;

class FileIoTest : public ::testing::Test {
 protected:
  // The pauses are the real ones (100 ms units); the clock skips them.
  void SetUp() override {
    clock_.setAutoAdvance(true);
    DebugLogConfig c;
    c.enabled = true;
    c.directory = dir_.path() + "logs/";
    c.echo_to_stderr = false;
    configureDebugLog(c);
  }
  void TearDown() override { configureDebugLog(DebugLogConfig{}); }
  std::chrono::milliseconds elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(platform::monotonicNow() - start_);
  }
  std::string log() const { return readText(dir_.path() + "logs/SMSDEBUG.LOG"); }

  TempDir dir_;
  platform::FakeClock clock_;
  platform::ScopedClock use_clock_{&clock_};
  platform::SteadyTime start_ = platform::monotonicNow();
};

TEST_F(FileIoTest, RetryOnlyForLackOfResourcesAndSayHowItEnded) {
  struct Case {
    int failures;  // attempts that fail before one succeeds (-1: never succeeds)
    int err;
    bool ok;
    int calls;
    int paused_ms;     // 100, 200, ... after each failed call but the last
    const char* line;  // nullptr: no line
  } cases[] = {
      {0, 0, true, 1, 0, nullptr},
      {1, ENOMEM, true, 2, 100, "ERROR_NO_SYSTEM_RESOURCES triggered 1 retry attempt\r\n"},
      {2, ENOBUFS, true, 3, 300, "ERROR_NO_SYSTEM_RESOURCES triggered 2 retry attempts\r\n"},
      {19, EAGAIN, true, 20, 19000, "ERROR_NO_SYSTEM_RESOURCES triggered 19 retry attempts\r\n"},
      {-1, EAGAIN, false, 20, 19000, "ERROR_NO_SYSTEM_RESOURCES failed\r\n"},
      {-1, EBADF, false, 1, 0, nullptr},
  };
  for (const Case& c : cases) {
    start_ = platform::monotonicNow();
    configureDebugLog(DebugLogConfig{});
    (void)platform::removeFile(dir_.path() + "logs/SMSDEBUG.LOG");
    DebugLogConfig config;
    config.enabled = true;
    config.directory = dir_.path() + "logs/";
    config.echo_to_stderr = false;
    configureDebugLog(config);

    int calls = 0;
    bool ok = retryOnNoResources("ReadFileWithRetry", [&] {
      ++calls;
      if (c.failures >= 0 && calls > c.failures) return true;
      errno = c.err;
      return false;
    });
    EXPECT_EQ(ok, c.ok) << c.failures;
    EXPECT_EQ(calls, c.calls) << c.failures;
    EXPECT_EQ(elapsed().count(), c.paused_ms) << c.failures;
    if (!c.ok) {
      EXPECT_EQ(errno, c.err);
    }
    std::string text = log();
    if (c.line) {
      EXPECT_NE(text.find(std::string("ReadFileWithRetry:  Debug:  ") + c.line), std::string::npos)
          << text;
    } else {
      EXPECT_EQ(text.find("ERROR_NO_SYSTEM_RESOURCES"), std::string::npos) << text;
    }
  }
}

TEST_F(FileIoTest, WriteToAFullPipeIsRetriedThenFails) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  platform::UniqueFd r(fds[0]), w(fds[1]);
  std::string chunk(4096, 'p');
  while (::write(w.get(), chunk.data(), chunk.size()) > 0) {
  }
  size_t done = 99;
  EXPECT_FALSE(WriteFileWithRetry(w.get(), "x", 1, &done));
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(done, 0u);
  EXPECT_NE(log().find("WriteFileWithRetry:  Debug:  ERROR_NO_SYSTEM_RESOURCES failed"),
            std::string::npos);
}

TEST_F(FileIoTest, WholeAndPartialReadsStopAtTheEndOrTheLimit) {
  const std::string text(10000, 'r');
  writeText(dir_.file("f"), text);
  platform::UniqueFd fd(::open(dir_.file("f").c_str(), O_RDWR | O_CLOEXEC));
  char buf[16];
  size_t done = 0;
  ASSERT_EQ(::lseek(fd.get(), 9990, SEEK_SET), 9990);
  EXPECT_TRUE(ReadFileWithRetry(fd.get(), buf, sizeof buf, &done));
  EXPECT_EQ(done, 10u) << "a short read at the end of the file";
  std::string whole;
  EXPECT_TRUE(readWholeFile(fd.get(), &whole));
  EXPECT_EQ(whole, text) << "from offset 0, whatever the position";
  EXPECT_FALSE(readWholeFile(fd.get(), &whole, 9999));
  EXPECT_EQ(errno, EFBIG);
  ASSERT_TRUE(replaceFileTail(fd.get(), 4, "tail").ok());
  EXPECT_EQ(readText(dir_.file("f")), "rrrrtail");
  // A file that reports no size (as /proc does) is read by growing the buffer.
  platform::UniqueFd proc(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(readWholeFile(proc.get(), &whole));
  EXPECT_EQ(whole.rfind("Name:", 0), 0u) << whole.substr(0, 40);
}

TEST_F(FileIoTest, CreateMakesMissingDirectoriesButOpenExistingDoesNot) {
  CreateFileOptions o;
  o.access = O_RDWR;
  o.disposition = Disposition::kOpenExisting;
  o.time_limit = std::chrono::seconds(5);
  auto missing = CreateFileWithRetry(dir_.file("a/b/c.req"), o);
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().code(), ENOENT);
  EXPECT_EQ(elapsed().count(), 0) << "waited for a missing file";
  EXPECT_FALSE(platform::pathExists(dir_.file("a")));

  o.disposition = Disposition::kCreateNew;
  auto made = CreateFileWithRetry(dir_.file("a/b/c.req"), o);
  ASSERT_TRUE(made.ok()) << made.status().message();
  EXPECT_TRUE(platform::isRegularFile(dir_.file("a/b/c.req")));
}

TEST_F(FileIoTest, FileHeldElsewhereIsWaitedForAndNeverTruncated) {
  std::string path = dir_.file("held.req");
  writeText(path, "[SMS]\r\nPhoneNumber=1\r\n");
  platform::UniqueFd holder(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);

  CreateFileOptions o;
  o.access = O_RDWR;
  o.exclusive = true;
  o.disposition = Disposition::kCreateAlways;
  o.time_limit = std::chrono::milliseconds(100);
  auto fd = CreateFileWithRetry(path, o);
  EXPECT_FALSE(fd.ok());
  EXPECT_EQ(elapsed().count(), 100) << "tried every millisecond until the limit";
  EXPECT_EQ(readText(path), "[SMS]\r\nPhoneNumber=1\r\n");

  holder.reset();
  auto again = CreateFileWithRetry(path, o);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(readText(path), "");
}

}  // namespace
}  // namespace vek::foundation
