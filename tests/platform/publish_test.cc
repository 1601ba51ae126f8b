#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "support/test_support.h"

namespace vek::platform {
namespace {

TEST(PublishTest, PublishesWholeAndNeverReplaces) {
  vek::testing::TempDir dir;
  const std::string path = dir.file("0000AB12.req");
  for (bool sync : {false, true}) {
    (void)removeFile(path);
    ASSERT_TRUE(publishFile(path, "[SMS]\r\nData=first\r\n", sync).ok());
    EXPECT_EQ(vek::testing::readText(path), "[SMS]\r\nData=first\r\n");
    Status st = publishFile(path, "second", sync);
    EXPECT_EQ(st.code(), EEXIST);
    EXPECT_EQ(vek::testing::readText(path), "[SMS]\r\nData=first\r\n");
  }
  // Nothing but the published file is left in the directory.
  auto entries = listDirectory(dir.path(), "*", ListOptions{});
  EXPECT_EQ(entries.size(), 1u);

  EXPECT_EQ(publishFile(dir.file("missing/x.req"), "x").code(), ENOENT);
  struct stat st {};
  ASSERT_TRUE(publishFile(dir.file("private.key"), "k", false, 0600).ok());
  ASSERT_EQ(::stat(dir.file("private.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(PublishTest, ConcurrentWritersOfOneNameGetOneWinner) {
  vek::testing::TempDir dir;
  std::atomic<int> won{0}, taken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Status st = publishFile(dir.file("same.req"), std::string(1000, static_cast<char>('a' + t)));
      if (st.ok()) ++won;
      if (st.code() == EEXIST) ++taken;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(won.load(), 1);
  EXPECT_EQ(taken.load(), 7);
  EXPECT_EQ(vek::testing::readText(dir.file("same.req")).size(), 1000u);
}

}  // namespace
}  // namespace vek::platform
