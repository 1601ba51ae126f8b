#include "inbound/inbound_worker.h"

#include <gtest/gtest.h>

#include <set>

#include "foundation/thread_registry.h"
#include "inbound/inbound_env.h"
#include "inbound/inbound_retry.h"
#include "inbound/process_inbound.h"
#include "queue/request_writer.h"

namespace vek::inbound {
namespace {

using namespace std::chrono_literals;
using vek::testing::readText;
using vek::testing::writeText;

class InboundWorkerTest : public InboundTest {
 protected:
  // Publishes an inbound file with these keys; returns its path.
  std::string drop(const std::string& name, const std::string& sender, const std::string& to,
                   const std::string& data, const std::string& more = "") {
    queue::RequestWriter w("[SMS-IN]");
    w.textIfSet("Sender", sender).textIfSet("PhoneNumber", to).data(data);
    std::string text = w.str() + more;
    EXPECT_TRUE(platform::makeDirectories(inboundDir()).ok());
    EXPECT_TRUE(platform::publishFile(inboundDir() + name, text).ok());
    return inboundDir() + name;
  }
  PassResult pass(int kind = kInboundMessagesAndJoining) { return InboundWorker(kind).runPass(); }
  std::vector<std::string> texts(const std::string& dir) {
    std::vector<std::string> out;
    for (const std::string& f : files(dir, "*.req")) out.push_back(load(f).Data);
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(InboundWorkerTest, FilesReachTheTablesAccountsAndTheRestIsSetAside) {
  account("alice");
  account("bob");
  configure("ReceiveSMS=No", "[Inbound SMS Routing]\r\nalice=44*\r\nbob=447*\r\n");
  drop("00000001.in", "+1", "4471234", "for bob");
  drop("00000002.IN", "+2", "4481234", "for alice");
  const std::string nobody = drop("00000003.in", "+3", "999", "for nobody");
  drop("00000004.in", "", "", "empty");
  drop("00000005.rec", "+5", "4481234", "a receipt", "ReceiptDelivered=Yes\r\n");
  ASSERT_TRUE(platform::setModifiedTime(nobody, platform::SystemTime(1700000000s)).ok());

  EXPECT_FALSE(pass().receiving);
  EXPECT_EQ(files(inboundDir()).size(), 5u);  // ReceiveSMS off: untouched

  configure("", "[Inbound SMS Routing]\r\nalice=44*\r\nbob=447*\r\n");
  PassResult r = pass();
  EXPECT_EQ(r.completed, 3u);
  EXPECT_EQ(r.set_aside, 1u);
  EXPECT_EQ(texts(queueOf("bob")), std::vector<std::string>{"for bob"});
  EXPECT_EQ(texts(queueOf("alice")), std::vector<std::string>{"for alice"});
  auto aside = files(inboundDir(), "00000003.SMS");
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(platform::statPath(aside[0])->modified, platform::SystemTime(1700000000s));
  EXPECT_EQ(files(inboundDir(), "*.in").size(), 0u);

  EXPECT_EQ(pass(kInboundReceipts).completed, 1u);
  queue::SMSMessage receipt = load(files(queueOf("alice"), "*.req").back());
  EXPECT_EQ(receipt.MessageFlags, queue::kFlagIsReceipt | queue::kFlagReceiptDelivered);
}

TEST(InboundRetryTest, ScheduleGrowsIsCappedAndSurvivesAbsurdTimes) {
  InboundRetryPolicy p;
  std::vector<int64_t> delays;
  for (uint32_t n = 1; n <= 4; ++n) delays.push_back(p.delayAfter(n).count());
  EXPECT_EQ(delays, (std::vector<int64_t>{0, 30, 60, 90}));
  p.max_delay_seconds = 45;
  EXPECT_EQ(p.delayAfter(9).count(), 45);
  p.multiplier = 2147483647;
  p.delay_seconds = 2147483647;
  p.max_delay_seconds = 0;
  EXPECT_GT(p.delayAfter(4000000000u).count(), 0);  // saturates, never wraps
  const platform::SystemTime now = platform::clock().now();
  EXPECT_FALSE(p.due(3, queue::requestTimeNow(), now));
  for (const char* stamp : {"10001033462781", "99991231235959"})
    EXPECT_TRUE(p.due(3, queue::parseRequestTime(stamp), now)) << stamp;
  EXPECT_TRUE(p.exhausted(20));
  EXPECT_FALSE(p.exhausted(19));
}

TEST_F(InboundWorkerTest, FailuresRetryUntilWritableAndAreSetAsideWhenExhausted) {
  account("alice", true);
  const std::string more = "[Modem - 2Way]\r\nRetryDelay=0\r\nRetryMaxAttempts=2\r\n";
  configure("", more);
  writeText(data_ + "USERS/alice/Q", "blocks the queue directory");
  const std::string later = drop("00000001.in", "+1", "2", "later", "RouteToLocalUser=alice\r\n");
  EXPECT_EQ(pass().retried, 1u);
  EXPECT_EQ(pass().retried, 1u);
  queue::SMSMessage m = load(later);
  EXPECT_EQ(m.RetryCount, 2u);
  EXPECT_EQ(m.Data, "later");
  EXPECT_EQ(pass().set_aside, 1u);  // the third failure is final
  auto bad = files(inboundDir(), "00000001.BAD");
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(load(bad[0]).Data, "later");

  drop("00000002.in", "+1", "2", "kept", "RouteToLocalUser=alice\r\n");
  EXPECT_EQ(pass().retried, 1u);
  ASSERT_TRUE(platform::removeFile(data_ + "USERS/alice/Q").ok());
  EXPECT_EQ(pass().completed, 1u);
  EXPECT_EQ(texts(queueOf("alice")), std::vector<std::string>{"kept"});
}

TEST_F(InboundWorkerTest, LongMessagesJoinAndHostileSegmentsStayBounded) {
  drop("00000001.in", "+44", "1", "three", "UDH=050003A70303\r\n");
  drop("00000002.in", "+44", "1", "one ", "UDH=050003A70301\r\n");
  drop("00000003.in", "+44", "1", "two ", "UDH=050003A70302\r\n");
  drop("00000004.in", "../x\r\n", "1", "other sender", "UDH=050003A70301\r\n");
  drop("00000005.in", "+45", "1", "claims 255", "UDH=050003B1FF01\r\n");
  PassResult r = pass();
  EXPECT_EQ(r.completed, 5u);
  EXPECT_EQ(r.joined, 1u);
  auto joined = files(inboundDir(), "*.in");
  ASSERT_EQ(joined.size(), 1u);
  queue::SMSMessage m = load(joined[0]);
  EXPECT_EQ(m.Data, "one two three");
  EXPECT_EQ(m.Sender, "+44");
  EXPECT_TRUE(m.RecombineFlag);
  EXPECT_EQ(files(inboundDir(), "*.SAR").size(), 2u);
  for (const std::string& f : everything()) EXPECT_EQ(f.rfind(data_, 0), 0u) << f;

  // Sets that never complete are joined with what they have once they
  // waited five minutes; the 255-part claim costs files only briefly.
  platform::FakeClock clock(platform::clock().now() + 6min);
  platform::ScopedClock scoped(&clock);
  r = pass();
  EXPECT_EQ(r.joined, 2u);
  EXPECT_EQ(files(inboundDir(), "*.SAR").size(), 0u);
  std::set<std::string> data;
  for (const std::string& f : files(inboundDir(), "*.in")) data.insert(load(f).Data);
  EXPECT_EQ(data, (std::set<std::string>{"other sender", "claims 255"}));
}

TEST_F(InboundWorkerTest, TwoWayCopyOfAnAccountsMessageIsNeverRoutedAgain) {
  account("alice", true);
  configure("DuplicateUserMessagesFor2Way=Yes");
  drop("00000001.in", "+1", "2", "hi", "RouteToLocalUser=alice\r\n");
  EXPECT_EQ(pass().completed, 1u);
  auto copies = files(inboundDir(), "*.in");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(load(copies[0]).DuplicateMessageFor2Way);
  EXPECT_EQ(pass().set_aside, 1u);  // no two-way command takes it
  EXPECT_EQ(files(queueOf("alice"), "*.req").size(), 1u);
}

TEST_F(InboundWorkerTest, ThreadsDeliverABurstExactlyOnce) {
  account("alice");
  configure("", "[Inbound SMS Routing]\r\nalice=*\r\n");
  for (int kind : {kInboundMessagesAndJoining, kInboundMessages, kInboundReceipts}) {
    ASSERT_TRUE(foundation::startWorkerThread("ThreadProcessInboundSMS",
                                              [kind] { ThreadProcessInboundSMS(kind); }));
  }
  constexpr int kMessages = 600;
  std::vector<std::string> expected;
  for (int i = 0; i < kMessages; ++i) {
    InboundSMS m;
    m.sender = "+1";
    m.recipient = "2";
    m.data = "m" + std::to_string(i);
    if (i % 3 == 0) {
      m.flags = queue::kFlagIsReceipt | queue::kFlagReceiptFailed;
      m.receipt_message_id = "id" + std::to_string(i);
    }
    ASSERT_TRUE(ProcessInboundSMS(m).ok());
    expected.push_back(m.data);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(vek::testing::waitUntil(
      [&] { return files(queueOf("alice"), "*.req").size() >= kMessages; }, 30s));
  platform::requestShutdown();
  foundation::inboundEventA().set();
  foundation::inboundEventB().set();
  EXPECT_TRUE(foundation::waitForWorkers(10s));
  EXPECT_EQ(texts(queueOf("alice")), expected);
}

}  // namespace
}  // namespace vek::inbound
