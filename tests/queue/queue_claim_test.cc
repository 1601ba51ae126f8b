#include "queue/queue_claim.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_env.h"
#include "queue/queue_scan.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "queue/routing_db.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::writeText;

std::string sameName(std::string_view name) {
  return std::string(name);
}

class QueueClaimTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    ASSERT_TRUE(platform::makeDirectories(root_).ok());
    ASSERT_TRUE(routingDatabase().create());
  }
  void TearDown() override {
    routingDatabase().destroy();
    QueueTestBase::TearDown();
  }
};

TEST_F(QueueClaimTest, AHeldFileIsSkippedAndKeptWithOneNewRetryBlock) {
  writeText(root_ + "a.req", "[SMS]\r\nPhoneNumber=1\r\n[ErrorDetail]\r\nRetryCount=1\r\n");
  auto first = QueueClaim::claim(root_, "a.req");
  ASSERT_TRUE(first.ok()) << first.status().message();
  EXPECT_EQ(QueueClaim::claim(root_, "a.req").status().code(), EWOULDBLOCK);
  EXPECT_EQ(QueueClaim::claim(root_, "gone.req").status().code(), ENOENT);
  ErrorDetail d;
  d.RetryCount = 2;
  d.LastRetryTime = RequestTime{2026, 12, 8, 10, 0, 30};
  ASSERT_TRUE(first->keep(d).ok());
  EXPECT_FALSE(first->held());
  std::string text = readText(root_ + "a.req");
  EXPECT_EQ(text.find("[ErrorDetail]"), text.rfind("[ErrorDetail]")) << text;
  auto again = QueueClaim::claim(root_, "a.req");
  ASSERT_TRUE(again.ok()) << "kept files are claimable again";
  SMSMessage msg;
  ASSERT_TRUE(again->load(&msg, sameName));
  EXPECT_EQ(msg.RetryCount, 2u);
}

TEST_F(QueueClaimTest, ReleaseDeletesTheFileAndItsRoutingEntry) {
  ASSERT_TRUE(platform::makeDirectories(root_ + "RT_-_r_-_").ok());
  writeText(root_ + "RT_-_r_-_/a.req", "[SMS]\r\nPhoneNumber=+4477\r\n");
  ASSERT_TRUE(routingDatabase().add("RT_-_r_-_/a.req", "*=r"));
  ASSERT_TRUE(routingDatabase().add("other.req", "*=r"));
  auto claim = QueueClaim::claim(root_, "RT_-_r_-_/a.req");
  ASSERT_TRUE(claim.ok());
  ASSERT_TRUE(claim->release().ok());
  EXPECT_FALSE(platform::pathExists(root_ + "RT_-_r_-_/a.req"));
  EXPECT_FALSE(routingDatabase().lookup("RT_-_r_-_/a.req"));
  EXPECT_TRUE(routingDatabase().lookup("other.req"));
  EXPECT_FALSE(claim->release().ok()) << "released once only";
}

TEST_F(QueueClaimTest, ReleaseLeavesANewerFileOfTheSameNameAlone) {
  auto first = CreateSegmentFile(root_, "447700", 7, 2, 1, "req", "[SMS]\r\nData=old\r\n");
  ASSERT_TRUE(first.ok());
  std::string rel = platform::baseName(*first);
  auto claim = QueueClaim::claim(root_, rel);
  ASSERT_TRUE(claim.ok());
  ASSERT_TRUE(CreateSegmentFile(root_, "447700", 7, 2, 1, "req", "[SMS]\r\nData=new\r\n").ok());
  ASSERT_TRUE(claim->release().ok());
  EXPECT_EQ(readText(*first), "[SMS]\r\nData=new\r\n");
}

// 6000 files keep the run to a few seconds under the sanitizers on a busy
// machine; VEKSMS_QUEUE_STRESS_FILES=20000 runs the full load.
int stressFiles() {
  const char* v = std::getenv("VEKSMS_QUEUE_STRESS_FILES");
  int n = v ? static_cast<int>(platform::parseLeadingInt(v)) : 0;
  return n > 0 ? n : 6000;
}

// Writers publish while consumers scan and claim: every message is handled
// exactly once, none is lost, none is seen half-written.
TEST_F(QueueClaimTest, WritersAndConsumersHandleEveryFileExactlyOnce) {
  constexpr int kWriters = 4, kConsumers = 4;
  const int total = stressFiles() / kWriters * kWriters;
  const std::string payload(360, 'x');  // about 400 bytes per file
  const std::string destinations[] = {"", "smsc-a", "smsc:b"};
  std::atomic<int> writers_left{kWriters}, published{0}, released{0}, write_failures{0}, torn{0},
      repeats{0};
  std::mutex mu;
  std::set<std::string> seen;

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < total / kWriters; ++i) {
        std::string dir = QueueDirectoryIn(root_, destinations[i % 3]);
        RequestWriter text("[SMS]");
        text.text("PhoneNumber", platform::format("%d-%d", w, i))
            .data(payload)
            .text("Sender", "end");
        ++(CreateQueueFile(dir, "req", text.str()).ok() ? published : write_failures);
      }
      --writers_left;
    });
  }
  const auto deadline = platform::monotonicNow() + std::chrono::seconds(120);
  for (int c = 0; c < kConsumers; ++c) {
    threads.emplace_back([&, c] {
      std::vector<std::string> names;
      SMSMessage msg;
      while (platform::monotonicNow() < deadline) {
        int done = released.load();
        if (writers_left.load() == 0 && done == published.load()) break;
        if (done == published.load()) {  // nothing waiting: no listing
          std::this_thread::yield();
          continue;
        }
        names.clear();
        QueueScan scan(root_, "*.REQ");
        for (std::string rel; scan.next(&rel);) names.push_back(rel);
        // Each consumer starts at its own place, as senders on separate
        // links do; they still meet on every file.
        std::rotate(names.begin(), names.begin() + names.size() * c / kConsumers, names.end());
        for (const std::string& rel : names) {
          auto claim = QueueClaim::claim(root_, rel);
          if (!claim.ok()) continue;
          claim->load(&msg, sameName);
          if (msg.Sender != "end" || msg.Data != payload) ++torn;
          {
            std::scoped_lock lk(mu);
            if (!seen.insert(msg.PhoneNumber).second) ++repeats;
          }
          if (claim->release().ok()) ++released;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(write_failures.load(), 0);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(repeats.load(), 0);
  EXPECT_EQ(released.load(), total);
  EXPECT_EQ(seen.size(), static_cast<size_t>(total));
  EXPECT_EQ(countOutboundQueue(root_), 0u) << "nothing left behind";
}

}  // namespace
}  // namespace vek::queue
