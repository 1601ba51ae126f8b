#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include <unistd.h>

#include <dirent.h>

#include "platform/files.h"
#include "support/shared_views.h"
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

// Every name in `dir`, hidden ones included.
std::vector<std::string> allNames(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
    ::closedir(d);
  }
  return out;
}

// A view of a shared directory has neither O_TMPFILE nor RENAME_NOREPLACE,
// like an NFS mount: publishing there goes by link() + unlink(), while the
// local file system keeps its own route.
TEST(PublishTest, SharedFileSystemPublishesByLinkAndOnlyThere) {
  vek::testing::TempDir dir;
  vek::testing::SharedDirectoryViews views(dir.path(), 1);
  VEK_REQUIRE_SHARED_VIEWS(views);
  const std::string local = dir.file("local/");
  ASSERT_TRUE(makeDirectories(local).ok());

  const std::string path = views.view(0) + "0000AB12.req";
  ASSERT_TRUE(publishFile(path, "[SMS]\r\nData=first\r\n").ok());
  EXPECT_EQ(publishFile(path, "second").code(), EEXIST);
  EXPECT_EQ(vek::testing::readText(views.source() + "0000AB12.req"), "[SMS]\r\nData=first\r\n");
  EXPECT_STREQ(publishRouteFor(views.view(0)), "link");

  ASSERT_TRUE(publishFile(local + "1.req", "x").ok());
  EXPECT_STREQ(publishRouteFor(local), "unnamed") << "decided per file system";

  std::atomic<int> won{0}, taken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      Status st =
          publishFile(views.view(0) + "same.req", std::string(3000, static_cast<char>('a' + t)));
      if (st.ok()) ++won;
      if (st.code() == EEXIST) ++taken;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(won.load(), 1);
  EXPECT_EQ(taken.load(), 5);
  EXPECT_EQ(vek::testing::readText(views.source() + "same.req").size(), 3000u);
  std::vector<std::string> names = allNames(views.source());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"0000AB12.req", "same.req"})) << "no temporary left";
}

// Two gateways on two hosts may share a process id; the random part, drawn
// per process, keeps their temporary names apart.
TEST(PublishTest, TemporaryNamesDifferAcrossProcessesBeyondTheProcessId) {
  const std::string mine = temporaryNameFor("/q/A.req");
  EXPECT_NE(temporaryNameFor("/q/A.req"), mine);
  EXPECT_EQ(mine.rfind("/q/.~tmp-", 0), 0u) << mine;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    std::string theirs = temporaryNameFor("/q/A.req");
    ssize_t ignored = ::write(fds[1], theirs.data(), theirs.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  char buf[256];
  ssize_t n = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  ASSERT_GT(n, 0);
  // ".~tmp-<host>-<pid>-<random>-<counter>": compare without pid and counter.
  auto salt = [](const std::string& name) {
    size_t end = name.rfind('-');
    size_t begin = name.rfind('-', end - 1);
    return name.substr(begin, end - begin);
  };
  std::string theirs(buf, static_cast<size_t>(n));
  EXPECT_NE(salt(theirs), salt(mine)) << theirs << " / " << mine;
  EXPECT_EQ(salt(mine).size(), 17u) << "16 hex digits";
}

}  // namespace
}  // namespace vek::platform
