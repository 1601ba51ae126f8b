#include "foundation/memory.h"

#include <cstring>

#include "foundation/debug_log.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

TEST(MemoryTest, BlocksAreZeroedCountedAndGrownWithZeroes) {
  vek::testing::TempDir dir;
  DebugLogConfig c;
  c.enabled = true;
  c.detailed = true;
  c.directory = dir.path();
  c.echo_to_stderr = false;
  configureDebugLog(c);

  uint32_t before = memoryBlockCount();
  auto* p = static_cast<unsigned char*>(GWmalloc(10));
  ASSERT_NE(p, nullptr);
  for (size_t i = 0; i < 10 + kBlockSlack; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(memoryBlockCount(), before + 1);

  std::memset(p, 'a', 10 + kBlockSlack);
  p = static_cast<unsigned char*>(GWrealloc(p, 100));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(memoryBlockCount(), before + 1);
  for (size_t i = 0; i < 10 + kBlockSlack; ++i) ASSERT_EQ(p[i], 'a') << i;
  for (size_t i = 10 + kBlockSlack; i < 100 + kBlockSlack; ++i) ASSERT_EQ(p[i], 0) << i;

  EXPECT_TRUE(GWfree(p));
  EXPECT_EQ(memoryBlockCount(), before);
  EXPECT_FALSE(GWfree(nullptr));
  EXPECT_EQ(memoryBlockCount(), before);

  std::string log = vek::testing::readText(dir.file("SMSDEBUG.LOG"));
  configureDebugLog(DebugLogConfig{});
  EXPECT_NE(log.find("GWmalloc:  Memory blocks = " + std::to_string(before + 1)),
            std::string::npos);
  EXPECT_NE(log.find("GWfree:  Memory blocks = " + std::to_string(before)), std::string::npos);
  EXPECT_NE(log.find("GWfree:  Error\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vek::foundation
