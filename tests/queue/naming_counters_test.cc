#include "queue/naming_counters.h"

#include <cerrno>
#include <set>

#include "platform/clock.h"
#include "platform/files.h"
#include "queue/queue_env.h"
#include "queue/unique_id.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::writeText;

class NamingCountersTest : public QueueTestBase {};

TEST_F(NamingCountersTest, CountersStartFromTheClockAndStep) {
  platform::FakeClock clock(platform::fromUnix(0x6512A3FE));
  platform::ScopedClock scoped(&clock);
  ConcatReferenceCounter refs;
  EXPECT_EQ(refs.next(), 0xFE);
  EXPECT_EQ(refs.next(), 0xFF);
  EXPECT_EQ(refs.next(), 0x00) << "wraps at 256";
  RandomNameCounter names;
  EXPECT_EQ(names.next(), 0x6512A3FEu);
  EXPECT_EQ(names.next(), 0x6512A3FEu * 1345u + 9876543u);
}

TEST_F(NamingCountersTest, TemporaryFilesTakeRandomNamesAndNeverTheRoot) {
  const std::string dir = root_ + "work";  // made by the first attempt
  auto path = CreateTemporaryFile(dir, "tmp", "x");
  ASSERT_TRUE(path.ok()) << path.status().message();
  EXPECT_EQ(path->substr(0, dir.size() + 1), dir + "/");
  EXPECT_EQ(path->size(), dir.size() + 1 + 8 + 4) << *path;
  EXPECT_EQ(readText(*path), "x");
  EXPECT_EQ(CreateTemporaryFile("", "tmp", "x").status().code(), EINVAL);
}

// A short "UID.DAT" (a torn file from some earlier tool) starts the ids at
// the clock; the full mark written before the first id keeps a restart,
// even one whose clock went back, above every id of that run.
TEST_F(NamingCountersTest, UniqueIdsSurviveAShortFileAndAnUnsavedRestart) {
  const std::string path = dir_.file("UID.DAT");
  writeText(path, std::string("\x01\x02", 2));
  platform::FakeClock clock(platform::fromUnix(1800000000));
  platform::ScopedClock scoped(&clock);
  std::set<uint32_t> seen;
  {
    UniqueIdCounter ids(path);
    for (int i = 0; i < 1500; ++i) ASSERT_TRUE(seen.insert(ids.next()).second);
    EXPECT_EQ(readText(path).size(), 4u);
  }
  clock.set(platform::fromUnix(1700000000));
  UniqueIdCounter restarted(path);
  for (int i = 0; i < 1500; ++i) {
    const uint32_t id = restarted.next();
    ASSERT_TRUE(seen.insert(id).second) << "repeated " << id;
    ASSERT_GT(id, 1800000000u + 1499);
  }
}

}  // namespace
}  // namespace vek::queue
