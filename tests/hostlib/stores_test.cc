// The account store, the message-id store, the MMS notification filter and
// the interface events.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "hostlib/interface_events.h"
#include "hostlib/message_ids.h"
#include "hostlib/mms_notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace vek::hostlib {
namespace {

class StoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(setDataDirectory(dir_.path()).ok());
    SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }
  void TearDown() override {
    closeAllMessageIdStores();
    closeMMSNotificationStore();
  }
  vek::testing::TempDir dir_;
};

TEST_F(StoresTest, AccountsAreCaseInsensitiveUniqueAndPrivate) {
  std::string path = dir_.file("USERS.DB");
  auto store = AccountStore::open(path);
  ASSERT_TRUE(store.ok());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Account a;
  a.name = "Alice";
  a.password = "pw";
  a.receive = true;
  a.daily_limit = 5;
  ASSERT_TRUE((*store)->add(a).ok());
  Account dup = a;
  dup.name = "ALICE";
  EXPECT_EQ((*store)->add(dup).code(), EEXIST);
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a:b", "a\nb"}) {
    Account b;
    b.name = bad;
    EXPECT_EQ((*store)->add(b).code(), EINVAL) << bad;
  }
  auto found = (*store)->find("alice");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->name, "Alice");
  EXPECT_TRUE(found->receive);
  EXPECT_EQ(found->daily_limit, 5);
}

TEST_F(StoresTest, FieldUpdatesDoNotUndoEachOther) {
  auto store = AccountStore::open(dir_.file("USERS.DB"));
  ASSERT_TRUE(store.ok());
  Account a;
  a.name = "bob";
  ASSERT_TRUE((*store)->add(a).ok());
  // Two administrators change different fields at the same moment.
  std::thread t1([&] { EXPECT_TRUE((*store)->update("bob", {{"daily_limit", "10"}}).ok()); });
  std::thread t2([&] {
    EXPECT_TRUE((*store)->update("BOB", {{"senders", "+111"}, {"admin", "1"}}).ok());
  });
  t1.join();
  t2.join();
  auto b = (*store)->find("bob");
  EXPECT_EQ(b->daily_limit, 10);
  EXPECT_EQ(b->senders, "+111");
  EXPECT_TRUE(b->admin);
  EXPECT_EQ((*store)->update("bob", {{"name; DROP TABLE accounts", "x"}}).code(), EINVAL);
  EXPECT_EQ((*store)->update("nobody", {{"admin", "1"}}).code(), ENOENT);
  EXPECT_EQ((*store)->count(), 1u);
  EXPECT_TRUE((*store)->at(0).has_value());
  EXPECT_FALSE((*store)->at(1).has_value());
  EXPECT_TRUE((*store)->remove("Bob").ok());
  EXPECT_EQ((*store)->count(), 0u);
}

TEST_F(StoresTest, MessageIdsAreFoundOnLaterDaysAndKeepTheirExactText) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  platform::FakeClock fake(platform::fromUnix(1796083200));  // 2026-12-01 00:00 UTC
  platform::ScopedClock use(&fake);
  ASSERT_TRUE(SMSCMessageIdAdd("SMPP - Main", "0A1B", "00001A2B", "alice", "+111", "+222"));
  ASSERT_TRUE(SMSCMessageIdAdd("SMPP - Main", "2587", "00001A2C", "bob", "+333", "+444"));
  EXPECT_TRUE(platform::isRegularFile(messageIdDirectory() + "20261201.DB"));
  fake.advance(std::chrono::hours(24 * 3));
  auto r = SMSCMessageIdGet2("smpp - main", "0A1B");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->local_id, "00001A2B");
  EXPECT_EQ(r->account, "alice");
  EXPECT_EQ(r->recipient, "+222");
  EXPECT_FALSE(SMSCMessageIdGet("SMPP - Main", "0a1b").has_value()) << "ids compare exactly";
  EXPECT_FALSE(SMSCMessageIdGet("Other", "0A1B").has_value());
  fake.advance(std::chrono::hours(24 * 20));  // beyond the retention age
  EXPECT_FALSE(SMSCMessageIdGet("SMPP - Main", "2587").has_value());
  ::unsetenv("TZ");
  ::tzset();
}

TEST_F(StoresTest, CorruptDatabaseIsDetected) {
  std::string path = dir_.file("bad.DB");
  vek::testing::writeText(path, std::string("SQLite format 3\0", 16) + std::string(4000, '\x55'));
  EXPECT_FALSE(testDatabaseOK(path));
  ASSERT_TRUE(SMSCMessageIdAdd("L", "1", "2", "a", "s", "r"));
  closeAllMessageIdStores();
  std::string good = messageIdDirectory() + platform::dateStamp(platform::localNow()) + ".DB";
  EXPECT_TRUE(testDatabaseOK(good));
}

TEST_F(StoresTest, MMSNotificationFilterAddsOnce) {
  EXPECT_FALSE(MMSNotificationExist("Modem A", "http://mmsc/1"));
  EXPECT_TRUE(MMSNotificationAddIfNew("Modem A", "http://mmsc/1"));
  EXPECT_FALSE(MMSNotificationAddIfNew("modem a", "http://mmsc/1"));
  EXPECT_TRUE(MMSNotificationExist("MODEM A", "http://mmsc/1"));
  EXPECT_TRUE(MMSNotificationAddIfNew("Modem A", "http://mmsc/2"));
}

TEST_F(StoresTest, InterfaceEventsAreSharedByName) {
  EXPECT_FALSE(SetEventForInterface("SmppSubmitAsync", "link1"));
  auto e = CreateEventForInterface("SmppSubmitAsync", "Link1");
  EXPECT_EQ(OpenEventForInterface("smppsubmitasync", "LINK1"), e);
  EXPECT_TRUE(SetEventForInterface("SmppSubmitAsync", "link1"));
  EXPECT_TRUE(e->wait(std::chrono::milliseconds(0)));
  EXPECT_EQ(OpenEventForInterface("SmppReceiveAsync", "link1"), nullptr);
}

}  // namespace
}  // namespace vek::hostlib
