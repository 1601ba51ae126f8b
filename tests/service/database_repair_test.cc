#include "service/database_repair.h"

#include <gtest/gtest.h>

#include <fstream>

#include "foundation/directories.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/test_support.h"

namespace vek::service {
namespace {

class DatabaseRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::findProgram("sqlite3")) GTEST_SKIP() << "sqlite3 program not installed";
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
    hostlib::smsIni().invalidate();
    today_ = hostlib::messageIdDirectory() + platform::dateStamp(platform::localNow()) + ".DB";
  }
  void TearDown() override { hostlib::closeAllMessageIdStores(); }

  // A database with many rows, then garbage written over pages in its middle.
  void makeCorrupt(const std::string& path) {
    platform::ProcessOptions o;
    o.argv = {"sqlite3", path};
    std::string sql = "CREATE TABLE t(a TEXT); BEGIN;";
    for (int i = 0; i < 3000; ++i)
      sql += "INSERT INTO t VALUES('row " + std::to_string(i) + " padding padding');";
    sql += "COMMIT;";
    o.stdin_data = sql;
    ASSERT_TRUE(platform::runProcess(o).exitedWith(0));
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4096 * 3);
    std::string junk(4096 * 2, '\x5a');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  vek::testing::TempDir dir_;
  std::string today_;
};

TEST_F(DatabaseRepairTest, CorruptFileIsMovedAsideAndRebuilt) {
  makeCorrupt(today_);
  ASSERT_FALSE(hostlib::testDatabaseOK(today_));
  EXPECT_EQ(CheckDatabaseIntegrity(true), 1);
  auto damaged = platform::listDirectory(hostlib::messageIdDirectory(), "*.damaged");
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_TRUE(hostlib::testDatabaseOK(today_)) << "rebuilt from the dump";
  EXPECT_FALSE(platform::pathExists(today_ + ".tmp"));
  EXPECT_EQ(CheckDatabaseIntegrity(false), 0);
}

TEST_F(DatabaseRepairTest, AnOpenStoreIsNeverRenamedUnderIt) {
  ASSERT_TRUE(
      hostlib::SMSCMessageIdAdd("L", "1", "local", "acct", "s", "r"));  // opens today's file
  ASSERT_TRUE(hostlib::messageIdStoreHasOpen(today_));
  // Another day's file in a sub-directory is checked too; the open one stays.
  std::string sub = hostlib::messageIdDirectory() + "old/";
  ASSERT_TRUE(platform::makeDirectories(sub).ok());
  makeCorrupt(sub + "20200101.DB");
  std::ofstream(today_, std::ios::binary | std::ios::in | std::ios::out).write("garbage!", 8);
  CheckDatabaseIntegrity(false);
  EXPECT_TRUE(platform::pathExists(today_));
  EXPECT_TRUE(platform::listDirectory(hostlib::messageIdDirectory(), "*.damaged").empty());
  EXPECT_EQ(platform::listDirectory(sub, "*.damaged").size(), 1u);
}

// The store and the start-up check find the same folder for every spelling
// of the setting: relative to the data directory, backslashes, with or
// without the trailing separator.
TEST_F(DatabaseRepairTest, StoreAndCheckShareTheTrackingDirectory) {
  const std::string abs = dir_.path() + "elsewhere";
  const struct {
    std::string value, expected;
  } cases[] = {
      {"ids", dir_.path() + "ids/"},
      {"ids\\by day\\", dir_.path() + "ids/by day/"},
      {abs, abs + "/"},
      {abs + "/", abs + "/"},
  };
  for (const auto& c : cases) {
    vek::testing::writeText(dir_.file("SMSGW.INI"),
                            "[SMSGW]\r\nMessageIDTrackingDir=" + c.value + "\r\n");
    hostlib::smsIni().invalidate();
    ASSERT_EQ(hostlib::messageIdDirectory(), c.expected) << c.value;
    EXPECT_EQ(foundation::messageIdTrackingDirectory(), c.expected) << c.value;
    const std::string day = c.expected + platform::dateStamp(platform::localNow()) + ".DB";
    makeCorrupt(day);
    EXPECT_EQ(CheckDatabaseIntegrity(true), 1) << c.value;
    EXPECT_TRUE(hostlib::testDatabaseOK(day)) << c.value;
    ASSERT_TRUE(platform::removeFile(day).ok());
  }
}

}  // namespace
}  // namespace vek::service
