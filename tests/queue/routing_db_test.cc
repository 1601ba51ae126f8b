#include "queue/routing_db.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/strings.h"
#include "support/test_support.h"

namespace vek::queue {
namespace {

std::string key(int i) {
  return platform::format("RT_-_r_-_/%08X.req", i);
}

// An allocator that runs out on demand.
std::atomic<size_t> g_fail_allocate_from{SIZE_MAX};  // sizes at or above fail
std::atomic<bool> g_fail_reallocate{false};
void* testAllocate(size_t bytes) {
  return bytes >= g_fail_allocate_from ? nullptr : std::calloc(1, bytes);
}
// The enlarged tail comes back dirty: the table must clear it itself.
void* testReallocate(void* block, size_t old_bytes, size_t bytes) {
  if (g_fail_reallocate) return nullptr;
  void* bigger = std::realloc(block, bytes);
  if (bigger != nullptr)
    std::memset(static_cast<char*>(bigger) + old_bytes, 0xA5, bytes - old_bytes);
  return bigger;
}
void testRelease(void* block) {
  std::free(block);
}
const RoutingAllocator kTestAllocator{testAllocate, testReallocate, testRelease};

class RoutingDbTest : public ::testing::Test {
 protected:
  void TearDown() override {
    g_fail_allocate_from = SIZE_MAX;
    g_fail_reallocate = false;
  }
  static void fill(RoutingDatabase& db, int from, int to) {
    for (int i = from; i < to; ++i) ASSERT_TRUE(db.add(key(i), "*=r" + std::to_string(i))) << i;
  }
  static void expectAll(const RoutingDatabase& db, int n) {
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(db.lookup(key(i)).value_or("?"), "*=r" + std::to_string(i)) << i;
  }
};

TEST_F(RoutingDbTest, SizesComeFromThePrimeListAndTheFirstGrowIsAtThe4000thEntry) {
  for (auto [requested, buckets] : {std::pair<size_t, uint32_t>{0, 53}, {53, 97}, {3078, 3079}}) {
    RoutingDatabase db;
    ASSERT_TRUE(db.create(requested));
    EXPECT_EQ(db.bucketCount(), buckets) << requested;
  }
  RoutingDatabase too_big;
  EXPECT_FALSE(too_big.create(kRoutingDbMaxRequest + 1));
  EXPECT_FALSE(too_big.add("a", "b")) << "no table, no entries";

  RoutingDatabase db;
  ASSERT_TRUE(db.create());
  EXPECT_EQ(db.bucketCount(), 6151u);
  EXPECT_EQ(db.growThreshold(), 3999u);
  fill(db, 0, 3999);
  EXPECT_EQ(db.bucketCount(), 6151u);
  fill(db, 3999, 4000);
  EXPECT_EQ(db.bucketCount(), 12289u);
  EXPECT_EQ(db.growThreshold(), 7988u);
  expectAll(db, 4000);
  db.reset(std::chrono::milliseconds(0));
  EXPECT_EQ(db.count(), 0u);
  EXPECT_EQ(db.bucketCount(), 6151u);
  EXPECT_FALSE(db.lookup(key(1))) << "nothing survives a reset";
}

TEST_F(RoutingDbTest, AddNeverReplacesAndRemoveReportsWhatItDid) {
  RoutingDatabase db;
  ASSERT_TRUE(db.create());
  EXPECT_TRUE(db.add("a.req", "*=first"));
  EXPECT_FALSE(db.add("a.req", "*=second"));
  EXPECT_EQ(db.lookup("a.req").value_or(""), "*=first");
  EXPECT_FALSE(db.remove("absent.req"));
  EXPECT_EQ(db.count(), 1u);
  EXPECT_TRUE(db.remove("a.req"));
  EXPECT_FALSE(db.remove("a.req"));
  EXPECT_EQ(db.count(), 0u);
  using namespace std::string_literals;
  EXPECT_TRUE(db.add("b\0hidden"s, "v\0w"s));
  EXPECT_EQ(db.lookup("b").value_or("?"), "v") << "keys and values end at a NUL";
}

TEST_F(RoutingDbTest, KeysDifferingInCaseAreOneEntryOnlyWhenTheirHashesMatch) {
  EXPECT_EQ(routingKeyRawHash("\xff"
                              "a"),
            97u + 255u * 65599u)
      << "bytes are unsigned";
  RoutingDatabase db;
  ASSERT_TRUE(db.create());
  EXPECT_TRUE(db.add("ABCD.req", "*=upper"));
  EXPECT_TRUE(db.add("abcd.req", "*=lower"));
  EXPECT_EQ(db.lookup("abcd.req").value_or(""), "*=lower");
  // Two case variants with the same hash (found by search).
  const std::string a = "RT_-_abCDEFghijklMNopqrstuvwxyz_-_/0000ABCD.req";
  const std::string b = "RT_-_ABcdefghIJKLmnopqrstuvwxyz_-_/0000ABCD.req";
  ASSERT_EQ(routingKeyHash(a), routingKeyHash(b));
  EXPECT_TRUE(db.add(a, "*=a"));
  EXPECT_FALSE(db.add(b, "*=b"));
  EXPECT_EQ(db.lookup(b).value_or(""), "*=a");
}

TEST_F(RoutingDbTest, GrowFallsBackToEnlargingInPlaceAndElseLeavesTheTable) {
  RoutingDatabase db(&kTestAllocator);
  ASSERT_TRUE(db.create());
  fill(db, 0, 3999);
  g_fail_allocate_from = 12289 * sizeof(void*);  // no new bucket array
  g_fail_reallocate = true;
  fill(db, 3999, 4500);
  EXPECT_EQ(db.bucketCount(), 6151u) << "no memory at all: unchanged, inserts go on";
  g_fail_reallocate = false;
  fill(db, 4500, 8000);
  EXPECT_EQ(db.bucketCount(), 24593u) << "grown twice, in place";
  expectAll(db, 8000);
  g_fail_allocate_from = 0;  // not even an entry
  EXPECT_FALSE(db.add("new.req", "x"));
  EXPECT_EQ(db.count(), 8000u);
}

TEST_F(RoutingDbTest, ConcurrentAddersInsertEachKeyOnce) {
  RoutingDatabase db;
  ASSERT_TRUE(db.create());
  constexpr int kKeys = 3000;
  std::atomic<int> inserted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kKeys; ++i) {
        if (db.add(key(i), "t" + std::to_string(t))) ++inserted;
        (void)db.lookup(key(kKeys - 1 - i));
        if (i % 4 == t) (void)db.remove(key(i + kKeys));  // absent keys
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(inserted.load(), kKeys);
  EXPECT_EQ(db.count(), static_cast<uint32_t>(kKeys));
}

}  // namespace
}  // namespace vek::queue
