#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/directory_sync.h"
#include "support/test_support.h"

namespace vek::platform {
namespace {

using vek::testing::TempDir;

TEST(FilesTest, PublishRefusesATakenNameAndLeavesNoTemporary) {
  TempDir dir;
  std::string path = dir.file("00001A2B.REQ");
  ASSERT_TRUE(publishFile(path, "first").ok());
  Status again = publishFile(path, "second");
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(again.code(), EEXIST);
  EXPECT_EQ(*readFile(path), "first");
  // Only the published file is there: the temporaries are gone and hidden.
  ListOptions all;
  EXPECT_EQ(listDirectory(dir.path(), "*", all).size(), 1u);
}

TEST(FilesTest, SyncedWritesSyncTheirDirectory) {
  TempDir dir;
  ASSERT_TRUE(publishFile(dir.file("A.REQ"), "a", true).ok());
  ASSERT_TRUE(writeFileAtomic(dir.file("A.REQ"), "b", true).ok());
  EXPECT_EQ(*readFile(dir.file("A.REQ")), "b");
  EXPECT_TRUE(syncDirectory("").ok()) << "the working directory";
  EXPECT_EQ(syncDirectory(dir.file("missing/")).code(), ENOENT);
  EXPECT_EQ(syncDirectory(dir.file("A.REQ")).code(), ENOTDIR);
}

TEST(FilesTest, ConcurrentPublishersOfOneNameHaveExactlyOneWinner) {
  TempDir dir;
  std::atomic<int> winners{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      if (publishFile(dir.file("SAME.REQ"), "writer " + std::to_string(t)).ok()) ++winners;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(winners.load(), 1);
}

TEST(FilesTest, PatternsMatchWithoutRegardToCase) {
  TempDir dir;
  for (const char* n : {"00001A2B.req", "B.REQ", "c.Req", "d.ERR", "R0000001.blk"})
    ASSERT_TRUE(publishFile(dir.file(n), "x").ok());
  ASSERT_TRUE(makeDirectories(dir.file("DelayQ")).ok());
  ListOptions opts;
  opts.sorted = true;
  auto reqs = listDirectory(dir.path(), "*.REQ", opts);
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[0].name, "00001A2B.req");
  EXPECT_EQ(listDirectory(dir.path(), "r*.BLK").size(), 1u);
  ListOptions dirs;
  dirs.files = false;
  dirs.directories = true;
  EXPECT_EQ(listDirectory(dir.path(), "delayq", dirs).size(), 1u);
  EXPECT_EQ(*findNameNoCase(dir.path(), "D.err"), "d.ERR");
  EXPECT_EQ(resolvePathNoCase(dir.path(), "missing.txt"), dir.file("missing.txt"));
}

TEST(FilesTest, ClaimIsExclusiveAcrossThreadsAndFailsOnReleasedFile) {
  TempDir dir;
  std::string path = dir.file("M.REQ");
  ASSERT_TRUE(publishFile(path, "[SMS]\r\n").ok());
  auto first = claimFile(path);
  ASSERT_TRUE(first.ok());
  std::thread other([&] {
    auto second = claimFile(path);
    EXPECT_FALSE(second.ok());
    EXPECT_EQ(second.status().code(), EWOULDBLOCK);
  });
  other.join();
  EXPECT_TRUE(isLockedElsewhere(path));

  // A rival opened the file before the release and locks it after: it must
  // notice that it holds a dead file.
  UniqueFd rival(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(rival.valid());
  ASSERT_TRUE(releaseClaimedFile(path, std::move(first.value())).ok());
  EXPECT_FALSE(pathExists(path));
  auto late = claimFile(path);
  EXPECT_FALSE(late.ok());
  EXPECT_FALSE(isLockedElsewhere(path));
}

TEST(FilesTest, ReadFileRefusesOversizedFiles) {
  TempDir dir;
  ASSERT_TRUE(writeFileAtomic(dir.file("big"), std::string(5000, 'x')).ok());
  EXPECT_FALSE(readFile(dir.file("big"), 4096).ok());
  EXPECT_EQ(readFile(dir.file("big"))->size(), 5000u);
  EXPECT_FALSE(readFile(dir.file("absent")).ok());
}

TEST(FilesTest, PathHelpers) {
  EXPECT_EQ(joinPath("/a/b/", "c"), "/a/b/c");
  EXPECT_EQ(joinPath("/a/b", "c"), "/a/b/c");
  EXPECT_EQ(withTrailingSlash("/q"), "/q/");
  EXPECT_EQ(withTrailingSlash("/q//"), "/q/");
  EXPECT_EQ(parentDirectory("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(baseName("/a/b/c.txt"), "c.txt");
}

TEST(FilesTest, BirthTimeIsReportedAndModifiedTimeCanBeRestored) {
  TempDir dir;
  std::string path = dir.file("f");
  ASSERT_TRUE(writeFileAtomic(path, "x").ok());
  auto info = statPath(path);
  ASSERT_TRUE(info.has_value());
  EXPECT_NE(info->born.time_since_epoch().count(), 0);
  SystemTime past = fromUnix(1000000000);
  ASSERT_TRUE(setModifiedTime(path, past).ok());
  EXPECT_EQ(toUnix(statPath(path)->modified), 1000000000);
}

TEST(FilesTest, ClaimSkipsAFileLeftEmptyByAReleaseWhoseUnlinkFailed) {
  TempDir dir;
  std::string path = dir.file("M.REQ");
  ASSERT_TRUE(publishFile(path, "[SMS]\r\n").ok());
  {
    auto first = claimFile(path);
    ASSERT_TRUE(first.ok());
    ASSERT_EQ(::ftruncate(first->get(), 0), 0);  // released, but the name stayed
  }
  auto late = claimFile(path);
  EXPECT_FALSE(late.ok()) << "an empty file was claimed and would be sent";
  EXPECT_EQ(late.status().code(), ENOENT);
}

// What a kill -9 leaves of a publish through a hidden name goes at the next
// start, unless it may still be a live writer's (of this or another host).
TEST(FilesTest, StaleTemporariesAreRemovedYoungOnesAndOthersStay) {
  TempDir dir;
  FakeClock clock(fromUnix(1800000000));
  ScopedClock use(&clock);
  const SystemTime old = fromUnix(1800000000) - std::chrono::minutes(11);
  const SystemTime young = fromUnix(1800000000) - std::chrono::minutes(9);
  const struct {
    const char* path;
    SystemTime modified;
    bool removed;
  } files[] = {
      {".~tmp-host-12-0123456789abcdef-7", old, true},
      {"RT_-_R_-_/.00000001.req.part", old, true},
      {"DELAYQ/20261207/0905/.~tmp-1-2", old, true},
      {".~tmp-other-99-fedcba9876543210-1", young, false},  // maybe a live writer
      {"00000002.REQ", old, false},
      {".keep", old, false},
      {".hidden/.~tmp-1-2", old, false},    // below a hidden directory: not ours
      {"a/b/c/d/e/.~tmp-1-2", old, false},  // deeper than asked
  };
  for (const auto& f : files) {
    ASSERT_TRUE(makeDirectories(parentDirectory(dir.file(f.path))).ok());
    vek::testing::writeText(dir.file(f.path), "x");
    ASSERT_TRUE(setModifiedTime(dir.file(f.path), f.modified).ok());
  }
  EXPECT_EQ(removeStaleTemporaries(dir.path(), 4, std::chrono::minutes(10)), 3u);
  for (const auto& f : files) EXPECT_EQ(pathExists(dir.file(f.path)), !f.removed) << f.path;
}

TEST(FilesTest, NewFilesAndDirectoriesAreClosedToOthers) {
  TempDir dir;
  const mode_t previous = ::umask(0);  // whatever the process's mask, the modes hold
  EXPECT_TRUE(publishFile(dir.file("p.req"), "x").ok());
  EXPECT_TRUE(writeFileAtomic(dir.file("a.ini"), "x").ok());
  EXPECT_TRUE(appendToFile(dir.file("l.log"), "x").ok());
  EXPECT_TRUE(makeDirectories(dir.file("d/e")).ok());
  ::umask(previous);
  for (const char* name : {"p.req", "a.ini", "l.log", "d", "d/e"}) {
    struct stat st;
    ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 027, 0u) << name << " mode " << std::oct << (st.st_mode & 0777);
  }
}

}  // namespace
}  // namespace vek::platform
