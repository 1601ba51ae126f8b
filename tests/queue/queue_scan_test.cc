#include "queue/queue_scan.h"

#include <chrono>
#include <set>
#include <thread>

#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "queue/queue_cache.h"
#include "queue/queue_env.h"

namespace vek::queue {
namespace {

using Names = std::set<std::string>;

class QueueScanTest : public QueueTestBase {
 protected:
  void put(const std::string& relative) {
    std::string path = root_ + relative;
    ASSERT_TRUE(platform::makeDirectories(platform::parentDirectory(path)).ok());
    vek::testing::writeText(path, "[SMS]\r\n");
  }
  std::vector<std::string> scan(bool all_entries = true) {
    QueueScan s(root_, "*.REQ", all_entries);
    std::vector<std::string> out;
    std::string rel;
    for (int guard = 0; guard < 1000 && s.next(&rel); ++guard) out.push_back(rel);
    return out;
  }
  void TearDown() override {
    queueCache().clear();
    QueueTestBase::TearDown();
  }
};

TEST_F(QueueScanTest, FindsMatchesInTheRootThenItsDirectSubDirectoriesIgnoringCase) {
  for (const char* f : {"a.req", "B.REQ", "notes.txt", ".~tmp-1-1", "sub/c.Req", "sub/deeper/d.req",
                        "RT_-_smsc.example_-_/e.req"})
    put(f);
  auto found = scan();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(Names(found.begin(), found.begin() + 2), (Names{"a.req", "B.REQ"})) << "the root first";
  EXPECT_EQ(Names(found.begin() + 2, found.end()),
            (Names{"sub/c.Req", "RT_-_smsc.example_-_/e.req"}));
  auto plain = scan(false);
  EXPECT_EQ(Names(plain.begin(), plain.end()), (Names{"a.req", "B.REQ", "sub/c.Req"}))
      << "sub-directories among names without an extension only";
}

TEST_F(QueueScanTest, EmptySubDirectoriesGoOnceUnchangedForAMinute) {
  put("full/a.req");
  put("writing/.~tmp-2-2");
  ASSERT_TRUE(platform::makeDirectories(root_ + "empty").ok());
  scan();
  EXPECT_TRUE(platform::isDirectory(root_ + "empty")) << "changed just now: kept";
  platform::FakeClock later(platform::clock().now() + std::chrono::seconds(61));
  platform::ScopedClock scoped(&later);
  scan();
  EXPECT_FALSE(platform::isDirectory(root_ + "empty"));
  EXPECT_TRUE(platform::isDirectory(root_ + "full"));
  EXPECT_TRUE(platform::isDirectory(root_ + "writing")) << "a temporary inside keeps it";
  ASSERT_TRUE(platform::makeDirectories(root_ + "empty2").ok());
  buildQueueListing(root_);
  EXPECT_FALSE(platform::isDirectory(root_ + "empty2")) << "the cache pass removes them too";
}

TEST_F(QueueScanTest, CountsLeaveOutMMSQueuesAndTheDelayArea) {
  for (const char* f : {"a.req", "sub/b.REQ", "sub/c.err", "MMSQ__acct/m.req", "mmsq__x/m.req",
                        "DELAYQ/20261209/0905/d.req", "../SMS-IN/1.in", "../SMS-IN/2.IN",
                        "../SMS-IN/3.rec", "../SMS-IN/4.RCT", "../SMS-IN/6.txt"})
    put(f);
  QueueCounts c = countQueues(root_, dir_.path() + "SMS-IN/");
  EXPECT_EQ(c.outbound, 2u);
  EXPECT_EQ(c.in, 2u);
  EXPECT_EQ(c.rec, 1u);
  EXPECT_EQ(c.rct, 1u);
}

TEST_F(QueueScanTest, SendersSeeTheCachedListingOnlyWhenTheCacheIsOn) {
  for (const char* f : {"r1.req", "Sub/s1.req", "Sub/s2.REQ", "other/x.txt"}) put(f);
  queueCache().refresh(root_);
  put("r2.req");
  settings([](foundation::Settings& s) { s.UseQCache = true; });
  EXPECT_EQ(queueSubDirectories(root_), (std::vector<std::string>{".", "Sub"}))
      << "only those with files";
  EXPECT_EQ(queueFiles(root_, "."), std::vector<std::string>{"r1.req"}) << "as of the last pass";
  auto sub = queueFiles(root_, "sub");
  EXPECT_EQ(Names(sub.begin(), sub.end()), (Names{"s1.req", "s2.REQ"}));
  EXPECT_TRUE(queueFiles(root_, "Su").empty()) << "a directory name is matched whole";
  EXPECT_TRUE(queueFiles(dir_.path(), ".").empty()) << "another root is listed directly";
  settings([](foundation::Settings& s) { s.UseQCache = false; });
  EXPECT_EQ(queueFiles(root_, ".").size(), 2u);
  EXPECT_EQ(queueSubDirectories(root_).size(), 3u);
}

TEST_F(QueueScanTest, CacheThreadSignalsReadyAfterItsFirstPassAndStopsOnShutdown) {
  ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
  hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  hostlib::MMSCIniSetFilename(dir_.file("MMSC.INI"));
  put("a.req");
  platform::resetShutdownForTesting();
  std::thread t(ThreadProcessQCache, 0);
  EXPECT_TRUE(vek::testing::waitUntil([] { return queueCacheReady(); }, std::chrono::seconds(10)));
  EXPECT_EQ(queueCache().listing()->root, root_);
  EXPECT_EQ(queueCache().listing()->files, std::vector<std::string>{"a.req"});
  platform::requestShutdown();
  t.join();
  platform::resetShutdownForTesting();
}

}  // namespace
}  // namespace vek::queue
