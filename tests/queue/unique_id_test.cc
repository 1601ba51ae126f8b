#include "queue/unique_id.h"

#include <set>

#include "platform/clock.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;
using vek::testing::writeText;

std::string le(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

TEST(UniqueIdTest, AShortFileStartsFromTheClock) {
  TempDir dir;
  platform::FakeClock clock(platform::fromUnix(1765000000));
  platform::ScopedClock scoped(&clock);
  writeText(dir.file("UID.DAT"), "\x01\x02\x03");
  UniqueIdCounter ids(dir.file("UID.DAT"));
  EXPECT_EQ(ids.next(), 1765000000u);
  EXPECT_EQ(ids.next(), 1765000001u);
}

TEST(UniqueIdTest, ARestartStartsAThousandAboveTheSavedValue) {
  TempDir dir;
  std::string path = dir.file("UID.DAT");
  {
    UniqueIdCounter unused(path);
    ASSERT_TRUE(unused.save().ok());
    EXPECT_FALSE(platform::pathExists(path)) << "an unused counter writes nothing";
  }
  writeText(path, le(5000));
  uint32_t last = 0;
  {
    UniqueIdCounter ids(path);
    EXPECT_EQ(ids.next(), 6000u);
    EXPECT_EQ(readText(path), le(15000)) << "a mark ahead is written before the first id goes out";
    for (int i = 0; i < 10; ++i) last = ids.next();
    ASSERT_TRUE(ids.save().ok());
    EXPECT_EQ(readText(path), le(last)) << "the last id handed out";
  }
  UniqueIdCounter restarted(path);
  EXPECT_EQ(restarted.next(), last + 1000);
}

// A kill -9 never saves: the mark written ahead of the ids must still put a
// restart above every id the dead run handed out, also across 2^32.
TEST(UniqueIdTest, IdsNeverRepeatAfterAnUnsavedRestart) {
  TempDir dir;
  std::string path = dir.file("UID.DAT");
  writeText(path, le(0xFFFFF000));
  std::set<uint32_t> seen;
  for (int run = 0; run < 4; ++run) {
    UniqueIdCounter ids(path);
    for (int i = 0; i < (run == 2 ? 999 : 25000); ++i) {
      uint32_t id = ids.next();
      ASSERT_TRUE(seen.insert(id).second) << "run " << run << " repeated " << id;
    }
  }
}

}  // namespace
}  // namespace vek::queue
