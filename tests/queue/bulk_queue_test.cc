// The bulk queue on real directories: expansion into partitions, crashes at
// every step, write failures, pacing against a consumer, job ownership and
// completion, and damaged or hostile jobs.
#include "queue/bulk_queue.h"

#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "foundation/debug_log.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_env.h"

namespace vek::queue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vek::testing::readText;
using vek::testing::writeText;

platform::SystemTime localTime(int y, int mo, int d, int h, int mi) {
  platform::CalendarTime c;
  c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi;
  return platform::fromLocal(c);
}

// What the queue holds: every visible request file by its path below the
// root, the size of each partition, and anything hidden left behind.
struct QueueView {
  std::map<std::string, std::string> files;
  std::map<std::string, size_t> partitions;
  std::vector<std::string> hidden;
  // Recipient -> how many files name it.
  std::map<std::string, int> recipients;
};

class BulkQueueTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    bulk_ = dir_.path() + "BULKQ/";
    foundation::DebugLogConfig c;
    c.enabled = true;
    c.directory = dir_.path() + "logs/";
    c.echo_to_stderr = false;
    foundation::configureDebugLog(c);
  }
  void TearDown() override {
    foundation::configureDebugLog(foundation::DebugLogConfig{});
    QueueTestBase::TearDown();
  }

  BulkQueueConfig config(uint64_t max_entries = 10000) {
    BulkQueueConfig c;
    c.bulk_directory = bulk_;
    c.queue_directory = root_;
    c.max_dir_entries = max_entries;
    c.pace = false;
    c.on_queued = [this](uint32_t n) { counted_ += n; };
    return c;
  }

  // A job directory with templates M1.REQ... and lists R0000001.BLK...
  std::string job(const std::string& name, const std::vector<std::string>& templates,
                  const std::vector<std::string>& lists) {
    std::string d = bulk_ + name + "/";
    EXPECT_TRUE(platform::makeDirectories(d).ok());
    for (size_t i = 0; i < templates.size(); ++i)
      writeText(d + platform::format("M%zu.REQ", i + 1), templates[i]);
    for (size_t i = 0; i < lists.size(); ++i)
      writeText(d + platform::format("R%07zu.BLK", i + 1), lists[i]);
    return d;
  }

  // `n` lines "<prefix><i>.req=<first + i>".
  static std::string list(int first, int n, const std::string& name_prefix = "F") {
    std::string out;
    for (int i = 0; i < n; ++i)
      out += name_prefix + std::to_string(first + i) + "@@CTR@@.req=" + std::to_string(first + i) +
             "\r\n";
    return out;
  }

  QueueView view() const {
    QueueView v;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::string rel = it->path().string().substr(root_.size());
      if (it->path().filename().string()[0] == '.') {
        v.hidden.push_back(rel);
        it.disable_recursion_pending();
        continue;
      }
      if (it->is_directory()) {
        v.partitions[rel] += 0;
        continue;
      }
      std::string text = readText(it->path().string());
      v.files[rel] = text;
      v.partitions[it->path().parent_path().string().substr(root_.size())]++;
      size_t at = text.find("PhoneNumber=");
      if (at != std::string::npos)
        v.recipients[text.substr(at + 12, text.find("\r\n", at) - at - 12)]++;
    }
    return v;
  }

  std::string debugLog() const { return readText(dir_.path() + "logs/SMSDEBUG.LOG"); }

  std::string bulk_;
  uint64_t counted_ = 0;
};

TEST_F(BulkQueueTest, TemplatesAndRoutesBecomeOneFilePerRecipientAndTemplate) {
  std::string d = job("0000A001", {"[SMS]\r\nData=part one\r\n", "[SMS]\r\nData=part two\r\n"},
                      {"SAR-1-@@CTR@@.req=111;UK Route\r\nSAR-2-@@CTR@@.req=222\r\n"});
  EXPECT_EQ(processBulkQueue(config()), 4u);
  QueueView v = view();
  ASSERT_EQ(v.files.size(), 4u);
  ASSERT_EQ(v.partitions.size(), 1u);
  const std::string p = v.partitions.begin()->first;
  EXPECT_EQ(p.rfind("####", 0), 0u);
  EXPECT_EQ(p.size(), 8u);
  EXPECT_EQ(v.files[p + "/SAR-1-1.req"],
            "[SMS]\r\nData=part one\r\nPhoneNumber=111\r\nSMSCRoute=UK Route\r\n");
  EXPECT_EQ(v.files[p + "/SAR-1-2.req"],
            "[SMS]\r\nData=part two\r\nPhoneNumber=111\r\nSMSCRoute=UK Route\r\n");
  EXPECT_EQ(v.files[p + "/SAR-2-2.req"], "[SMS]\r\nData=part two\r\nPhoneNumber=222\r\n");
  EXPECT_TRUE(v.hidden.empty());
  EXPECT_EQ(counted_, 4u);
  EXPECT_FALSE(platform::pathExists(d)) << "a finished job is removed";
}

TEST_F(BulkQueueTest, NoPartitionEverHoldsMoreThanHalfOfMaxQDirEntries) {
  struct Case {
    uint64_t max_entries;
    size_t templates;
    size_t biggest;  // the largest partition allowed
  };
  for (const Case& c : std::vector<Case>{{10, 1, 5}, {10, 2, 4}, {7, 1, 3}, {2, 1, 1}, {4, 3, 3}}) {
    fs::remove_all(root_);
    std::vector<std::string> templates(c.templates, "[SMS]\r\nData=x\r\n");
    job("J", templates, {list(100, 10), list(200, 10), list(300, 3)});
    counted_ = 0;
    processBulkQueue(config(c.max_entries));
    QueueView v = view();
    EXPECT_EQ(v.files.size(), 23 * c.templates) << c.max_entries << "/" << c.templates;
    EXPECT_EQ(v.recipients.size(), 23u);
    for (const auto& [r, n] : v.recipients) EXPECT_EQ(n, static_cast<int>(c.templates)) << r;
    for (const auto& [p, n] : v.partitions) EXPECT_LE(n, c.biggest) << p << " " << c.max_entries;
    EXPECT_EQ(counted_, 23 * c.templates);
  }
}

// Kills the expansion before each change to the file system in turn, then
// lets a fresh pass resume: every recipient ends up in the queue exactly
// once per template, with nothing hidden left over.
TEST_F(BulkQueueTest, CrashAtAnyStepNeitherLosesNorDuplicatesARecipient) {
  auto setup = [&] {
    fs::remove_all(root_);
    fs::remove_all(bulk_);
    job("J", {"[SMS]\r\nData=1\r\n", "[SMS]\r\nData=2\r\n"},
        {list(100, 4) + "junk line\r\n" + list(104, 3), list(200, 5)});
  };
  setup();
  int steps = 0;
  BulkQueueConfig counting = config(10);
  counting.before_step = [&](std::string_view) {
    ++steps;
    return true;
  };
  processBulkQueue(counting);
  ASSERT_GT(steps, 20);
  ASSERT_EQ(view().files.size(), 24u);

  for (int crash_at = 1; crash_at <= steps; ++crash_at) {
    setup();
    int n = 0;
    BulkQueueConfig crashing = config(10);
    crashing.before_step = [&](std::string_view) { return ++n < crash_at; };
    processBulkQueue(crashing);
    // The resumed passes see the job directory more than a minute later,
    // as after a restart.
    platform::FakeClock later(platform::clock().now() + 2min);
    platform::ScopedClock scoped(&later);
    for (int pass = 0; pass < 3 && platform::pathExists(bulk_ + "J"); ++pass)
      processBulkQueue(config(10));
    QueueView v = view();
    EXPECT_EQ(v.files.size(), 24u) << "crash at step " << crash_at;
    EXPECT_EQ(v.recipients.size(), 12u) << "crash at step " << crash_at;
    for (const auto& [r, count] : v.recipients) EXPECT_EQ(count, 2) << r << " at " << crash_at;
    for (const auto& [p, count] : v.partitions) EXPECT_LE(count, 5u) << p << " at " << crash_at;
    EXPECT_TRUE(v.hidden.empty()) << v.hidden.front() << " at " << crash_at;
    EXPECT_FALSE(platform::pathExists(bulk_ + "J")) << "crash at step " << crash_at;
  }
}

TEST_F(BulkQueueTest, UnwritableQueueKeepsTheListForALaterPass) {
  std::string d = job("J", {"[SMS]\r\nData=x\r\n"}, {list(1, 6)});
  writeText(dir_.path() + "Q", "a file where the queue directory should be");
  EXPECT_EQ(processBulkQueue(config(4)), 0u);
  EXPECT_NE(debugLog().find("Unable to create"), std::string::npos);
  EXPECT_NE(debugLog().find("the recipient list is kept"), std::string::npos);
  EXPECT_TRUE(platform::isRegularFile(d + "R0000001.BLK"));
  EXPECT_FALSE(platform::pathExists(d + "LOCK.LCK")) << "the lock is released";

  fs::remove(dir_.path() + "Q");
  EXPECT_EQ(processBulkQueue(config(4)), 6u);
  EXPECT_EQ(view().recipients.size(), 6u);
  EXPECT_FALSE(platform::pathExists(d));
}

TEST_F(BulkQueueTest, PacingWaitsUntilTheLinksHaveTakenHalf) {
  job("J", {"[SMS]\r\nData=x\r\n"}, {list(1, 6), list(7, 6)});
  BulkQueueConfig c = config(4);  // two files a partition, wait at two or more
  c.pace = true;
  c.pace_step = 5ms;
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::atomic<size_t> biggest{0};
  // Stands in for the link senders: empties each partition it finds.
  std::thread consumer([&] {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
      platform::ListOptions dirs;
      dirs.files = false;
      dirs.directories = true;
      for (const auto& p : platform::listDirectory(root_, "####*", dirs)) {
        auto files = platform::listDirectory(root_ + p.name, "*.REQ");
        biggest = std::max(biggest.load(), files.size());
        for (const auto& f : files) {
          if (platform::removeFile(root_ + p.name + "/" + f.name).ok()) ++taken;
        }
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  EXPECT_EQ(processBulkQueue(c), 12u);
  ASSERT_TRUE(vek::testing::waitUntil([&] { return taken == 12; }, 10s));
  stop = true;
  consumer.join();
  EXPECT_LE(biggest.load(), 2u);
  std::string log = debugLog();
  EXPECT_NE(log.find("Waiting on q directory " + root_ + "####"), std::string::npos) << log;
  EXPECT_NE(log.find("Done waiting on q directory"), std::string::npos);
}

TEST_F(BulkQueueTest, WriterAndOtherThreadsKeepTheirJobs) {
  std::string d = job("J", {"[SMS]\r\nData=x\r\n"}, {list(1, 3)});
  {
    // Another bulk thread owns the job: this one leaves it alone.
    auto other = platform::openLocked(d + "LOCK.LCK", O_CREAT | O_RDWR);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(processBulkQueue(config()), 0u);
    EXPECT_TRUE(platform::isRegularFile(d + "R0000001.BLK"));
  }
  // The writer still holds BUILD.LCK: expand, but keep the directory.
  auto writer = platform::openLocked(d + "BUILD.LCK", O_CREAT | O_RDWR);
  ASSERT_TRUE(writer.ok());
  EXPECT_EQ(processBulkQueue(config()), 3u);
  EXPECT_TRUE(platform::isRegularFile(d + "BUILD.LCK"));
  writeText(d + "R0000002.BLK", list(4, 2));
  EXPECT_EQ(processBulkQueue(config()), 2u) << "lists added while building";
  writer->reset();
  EXPECT_EQ(processBulkQueue(config()), 0u);
  EXPECT_FALSE(platform::pathExists(d));
  EXPECT_EQ(view().recipients.size(), 5u);
}

TEST_F(BulkQueueTest, DamagedJobsAreRefusedWithALogLineAndNothingLeavesTheQueue) {
  platform::FakeClock clock(localTime(2026, 12, 9, 10, 0));
  platform::ScopedClock scoped(&clock);
  std::string none = job("none", {}, {list(1, 2)});
  std::vector<std::string> hundred;
  for (int k = 1; k <= 100; ++k) hundred.push_back("[SMS]\r\nData=" + std::to_string(k) + "\r\n");
  job("hundred", hundred, {"SAR-h-@@CTR@@.req=5\r\n"});
  std::string huge_line = "huge.req=" + std::string(10u << 20, '7') + "\r\n";
  job("junk", {"[SMS]\r\nData=j\r\n"},
      {"no equals here\r\n../escape.req=1\r\nok1.req=111\r\n" + huge_line +
       "sub/dir.req=3\r\n.hidden.req=4\r\nok2.req=222;\x01route\r\nplain.txt=5\r\n"});
  std::string junk_flag = job("junkflag", {"[SMS]\r\nData=f\r\n"}, {"flag.req=333\r\n"});
  writeText(junk_flag + "QDelay-soon.FLG", "\xff\xfe junk");
  std::string later = job("later", {"[SMS]\r\nData=l\r\n"}, {"later.req=444\r\n"});
  writeText(later + "QDelay-202612091001.FLG", "");
  std::string due = job("due", {"[SMS]\r\nData=d\r\n"}, {"due.req=555\r\n"});
  writeText(due + "QDelay-202612091000.FLG", "");
  // A job that is a link to a directory elsewhere is never touched.
  std::string outside = dir_.path() + "outside/";
  ASSERT_TRUE(platform::makeDirectories(outside).ok());
  writeText(outside + "M1.REQ", "[SMS]\r\n");
  writeText(outside + "R0000001.BLK", "out.req=9\r\n");
  fs::create_directory_symlink(outside, bulk_ + "linked");
  writeText(bulk_ + "stray file", "x");

  processBulkQueue(config());
  QueueView v = view();
  std::map<std::string, int> want = {{"5", 99}, {"111", 1}, {"222", 1}, {"333", 1}, {"555", 1}};
  EXPECT_EQ(v.recipients, want);
  bool routed = false;
  for (const auto& [path, text] : v.files)
    routed |= text.find("PhoneNumber=222\r\nSMSCRoute= route\r\n") != std::string::npos;
  EXPECT_TRUE(routed);

  std::string log = debugLog();
  for (const char* line : {"Bulk job none has no message template",
                           "Bulk job hundred: templates after M99.REQ are ignored",
                           "line 1 of R0000001.BLK refused (no '=' in the line",
                           "line 2 of R0000001.BLK refused (unusable file name",
                           "line 4 of R0000001.BLK refused (line too long, 10485769 bytes)",
                           "line 8 of R0000001.BLK refused (unusable file name",
                           "flag file QDelay-soon.FLG holds no valid time"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_FALSE(platform::pathExists(none));
  EXPECT_FALSE(platform::pathExists(junk_flag));
  EXPECT_FALSE(platform::pathExists(due));
  EXPECT_TRUE(platform::isRegularFile(later + "R0000001.BLK"));
  EXPECT_TRUE(platform::isRegularFile(later + "QDelay-202612091001.FLG"));
  EXPECT_FALSE(platform::pathExists(later + "LOCK.LCK"));
  EXPECT_TRUE(platform::isRegularFile(outside + "R0000001.BLK"));
  EXPECT_FALSE(platform::pathExists(dir_.path() + "escape.req"));
  EXPECT_FALSE(platform::pathExists(root_ + "../escape.req"));

  clock.set(localTime(2026, 12, 9, 10, 1));
  processBulkQueue(config());
  EXPECT_EQ(view().recipients["444"], 1);
  EXPECT_FALSE(platform::pathExists(later));
}

TEST_F(BulkQueueTest, ANameGivenTwiceStillReachesBothRecipients) {
  job("J", {"[SMS]\r\nData=x\r\n"}, {"same.req=1\r\nsame.req=2\r\n"});
  EXPECT_EQ(processBulkQueue(config()), 2u);
  QueueView v = view();
  EXPECT_EQ(v.recipients, (std::map<std::string, int>{{"1", 1}, {"2", 1}}));
  EXPECT_NE(debugLog().find("same.req is named twice"), std::string::npos);
}

}  // namespace
}  // namespace vek::queue
