#include "queue/queue_tree.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_env.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::writeText;

class QueueTreeTest : public QueueTestBase {};

platform::CalendarTime local(int y, int mo, int d, int h, int mi, int s = 0) {
  platform::CalendarTime c;
  c.year = y, c.month = mo, c.day = d, c.hour = h, c.minute = mi, c.second = s;
  return platform::toLocal(platform::fromLocal(c));
}

TEST_F(QueueTreeTest, DirectoryFollowsRouteSubDirectoryAndCount) {
  struct Case {
    const char* route;
    const char* sub;
    uint64_t count;
    const char* want;  // below the root
  } cases[] = {
      {"", "", 10000, ""},  // equal to MaxQDirEntries, nothing else: the root
      {"", "", 25000, "###0002/"},
      {"smsc1", "", 10000, "RT_-_smsc1_-_###0001/"},
      {"smsc:2775", "", 0, "RT_-_smsc-2775_-_/"},
      {"a/b\\c", "acct", 0, "RT_-_a-b-c_-_acct/"},
      {"LocalUser:bob", "", 0, ""},
      {"localuser:bob", "q", 0, "q/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QueueDirectoryIn(root_, c.route, c.sub, c.count), root_ + c.want)
        << c.route << "/" << c.sub;
  }
  settings([](foundation::Settings& s) { s.UseRouteQueues = false; });
  EXPECT_EQ(QueueDirectoryIn(root_, "smsc1"), root_) << "no route queues: the root, never \"Q//\"";
}

TEST_F(QueueTreeTest, ScheduledMessagesGoToTheDelayAreaOnlyWhenLater) {
  platform::FakeClock clock(platform::fromLocal(local(2026, 12, 8, 14, 30, 20)));
  platform::ScopedClock scoped(&clock);
  platform::CalendarTime tomorrow = local(2026, 12, 9, 9, 5);
  std::string dir = QueueDirectoryIn(root_, "smsc", "", 0, &tomorrow);
  EXPECT_EQ(dir, root_ + "DELAYQ/20261209/0905/RT_-_smsc_-_/");
  EXPECT_TRUE(platform::isDirectory(root_ + "DELAYQ/20261209/0905/"));
  platform::CalendarTime past = local(2026, 12, 8, 14, 29),
                         same_minute = local(2026, 12, 8, 14, 30, 59);
  EXPECT_EQ(QueueDirectoryIn(root_, "", "", 0, &past), root_);
  EXPECT_EQ(QueueDirectoryIn(root_, "", "", 0, &same_minute), root_) << "compared to the minute";
  // A delay area that cannot be made leaves the message in the normal queue.
  std::string blocked = dir_.path() + "Q3/";
  ASSERT_TRUE(platform::makeDirectories(blocked).ok());
  writeText(blocked + "DELAYQ", "a file in the way");
  EXPECT_EQ(QueueDirectoryIn(blocked, "", "", 0, &tomorrow), blocked);
}

TEST_F(QueueTreeTest, HostileNamesStayInsideTheRoot) {
  using namespace std::string_literals;
  const std::string hostile[] = {
      "..",      "../../etc", "/etc",         ".",      ".hidden",
      "\\..\\x", "x\0/../y"s, "\x01\x1f\x7f", "..\n..", std::string(400, '.'),
      ""};
  ASSERT_TRUE(platform::makeDirectories(root_).ok());
  char buf[PATH_MAX];
  ASSERT_NE(::realpath(root_.c_str(), buf), nullptr);
  const std::string real_root = std::string(buf) + "/";
  for (const std::string& bad : hostile) {
    for (int variant = 0; variant < 3; ++variant) {  // as route, sub-directory, prefix
      settings([&](foundation::Settings& s) { s.MessageIDPrefix = variant == 2 ? bad : ""; });
      std::string dir =
          QueueDirectoryIn(root_, variant == 0 ? bad : "", variant == 1 ? bad : "", 20000);
      ASSERT_EQ(dir.compare(0, root_.size(), root_), 0) << dir;
      std::string below = dir.substr(root_.size());
      EXPECT_EQ(below.find('/'), below.size() - 1) << "exactly one level: " << below;
      EXPECT_NE(below.front(), '.') << below;
      auto made = CreateQueueFile(dir, "req", "[SMS]\r\n");
      ASSERT_TRUE(made.ok()) << made.status().message();
      EXPECT_EQ(platform::parentDirectory(*made), dir) << *made;
      EXPECT_NE(platform::baseName(*made).front(), '.') << "a hidden file is never scanned";
      ASSERT_NE(::realpath(made->c_str(), buf), nullptr) << *made;
      EXPECT_EQ(std::string(buf).compare(0, real_root.size(), real_root), 0) << buf;
      for (char c : *made) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << *made;
    }
  }
}

TEST_F(QueueTreeTest, QueueFilesTakeFreshNamesAndGiveUpAfterAThousandAttempts) {
  settings([](foundation::Settings& s) { s.MessageIDPrefix = "GW1-"; });
  writeText(dir_.file("UID.DAT"), std::string("\x10\x00\x00\x00", 4));
  resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
  std::string part = root_ + "RT_-_x_-_/";
  ASSERT_TRUE(platform::makeDirectories(part).ok());
  writeText(part + "GW1-000003F8.req", "old");  // 0x10 + 1000 is taken
  auto a = CreateQueueFile(part, "req", "[SMS]\r\n");
  auto b = CreateQueueFile(root_ + "new/", "", "x");
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(*a, part + "GW1-000003F9.req");
  EXPECT_EQ(*b, root_ + "new/GW1-000003FA") << "taken name skipped, directory made, no dot";
  EXPECT_EQ(readText(part + "GW1-000003F8.req"), "old");

  EXPECT_EQ(CreateQueueFile("", "req", "x").status().code(), EINVAL)
      << "never the file system's root";
  writeText(dir_.file("blocker"), "");  // a file where a directory should be
  uint32_t before = NextUniqueMessageId();
  EXPECT_FALSE(CreateQueueFile(dir_.file("blocker") + "/sub/", "req", "x").ok());
  EXPECT_EQ(NextUniqueMessageId() - before, static_cast<uint32_t>(kCreateAttempts))
      << "1000 attempts, the first retry with the same name";
}

TEST_F(QueueTreeTest, ConcurrentWritersNeverShareAName) {
  std::mutex mu;
  std::set<std::string> names;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        auto made = CreateQueueFile(root_, "req", "[SMS]\r\n");
        std::scoped_lock lk(mu);
        names.insert(made.ok() ? *made : "failed");
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(names.size(), 1000u);
  EXPECT_EQ(platform::listDirectory(root_, "*.REQ").size(), 1000u);
}

TEST_F(QueueTreeTest, SegmentNamesAndRoutePartitions) {
  settings([](foundation::Settings& s) { s.MessageIDPrefix = "P"; });
  EXPECT_EQ(segmentFileName("+44?*:/\\|\nx", 0x1f, 258, 2, "req"), "SAR-P+44!!!!!!!x-1f-2-2.req");
  EXPECT_EQ(segmentFileName(std::string(80, '9'), 1, 1, 1, ""),
            "SAR-P" + std::string(50, '9') + "-1-1-1");
  auto first = CreateSegmentFile(root_ + "sub/", "447700", 0xab, 2, 1, "req", "one");
  ASSERT_TRUE(first.ok()) << first.status().message();
  ASSERT_TRUE(CreateSegmentFile(root_ + "sub/", "447700", 0xab, 2, 1, "req", "two").ok());
  EXPECT_EQ(readText(*first), "two") << "an older segment of that name is replaced";

  const std::vector<std::string> link = {"SMPP - smsc.example:2775", "Route-A"};
  struct Case {
    std::string dir;
    bool open;
  } cases[] = {
      {platform::baseName(QueueDirectoryIn(root_, link[0])), true},
      {"rt_-_route-a_-_acct###0001", true},
      {"RT_-_Route-A", true},  // no closing mark: the rest is the route
      {"RT_-_Route-AB_-_", false},
      {"acct", true},
  };
  for (const Case& c : cases) EXPECT_EQ(routePartitionOpenTo(c.dir, link), c.open) << c.dir;
}

}  // namespace
}  // namespace vek::queue
