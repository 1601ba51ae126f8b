// Receipts: the receipt thread's translation through the message-id store,
// its retries for ids not known yet, where each receipt ends, and the
// receipts the gateway makes itself for rejected messages.
#include <gtest/gtest.h>

#include "foundation/thread_registry.h"
#include "hostlib/message_ids.h"
#include "inbound/inbound_env.h"
#include "inbound/inbound_queue.h"
#include "inbound/inbound_worker.h"
#include "inbound/modem_receipt_keys.h"
#include "inbound/process_inbound.h"
#include "inbound/receipt_worker.h"
#include "inbound/rejection_receipt.h"
#include "queue/request_writer.h"

namespace vek::inbound {
namespace {

using namespace std::chrono_literals;
using vek::testing::readText;

constexpr std::string_view kLink = "SMPP - smsc.example:2775";
// 8 December 2026, 14:30:00 UTC (the fixture's TZ).
const platform::SystemTime kNow = platform::fromUnix(1796740200);

class ReceiptTest : public InboundTest {
 protected:
  void SetUp() override {
    InboundTest::SetUp();
    clock_.set(kNow);
  }
  void TearDown() override {
    hostlib::closeAllMessageIdStores();
    InboundTest::TearDown();
  }
  // A receipt as a link's receive path writes it.
  std::string dropReceipt(const std::string& id, const std::string& link = std::string(kLink),
                          const std::string& more = "", const std::string& name = "00000001.rct") {
    queue::RequestWriter w("[SMS-IN]");
    w.text("ModemName", link)
        .text("Sender", "+447700900001")
        .text("PhoneNumber", "12345")
        .data("id:" + id +
              " sub:001 dlvrd:001 submit date:2612081429 done date:2612081430 "
              "stat:DELIVRD err:000 text:hello")
        .yes("ReceiptDelivered")
        .text("ReceiptMessageId", id);
    EXPECT_TRUE(platform::makeDirectories(inboundDir()).ok());
    EXPECT_TRUE(platform::publishFile(inboundDir() + name, w.str() + more).ok());
    return inboundDir() + name;
  }
  ReceiptPass pass() { return worker_.runPass(); }
  std::vector<std::string> setAside(const std::string& pattern) {
    std::vector<std::string> out;
    for (const std::string& f : files(inboundDir(), pattern))
      if (f.find("/SMS-IN/2") != std::string::npos) out.push_back(f);
    return out;
  }

  platform::FakeClock clock_;
  platform::ScopedClock scoped_{&clock_};
  ReceiptWorker worker_{TwoWayOptions{2s, 5s}};
};

TEST_F(ReceiptTest, KnownIdsReachTheSubmittingAccountUnderItsOwnId) {
  account("alice", true);
  ASSERT_TRUE(
      hostlib::SMSCMessageIdAdd(kLink, "7731", "0000ABCD", "alice", "+4412", "+447700900001"));
  dropReceipt("7731");
  EXPECT_EQ(pass().completed, 1u);
  const auto got = files(queueOf("alice"), "*.req");
  ASSERT_EQ(got.size(), 1u);
  const queue::SMSMessage m = load(got[0]);
  EXPECT_EQ(m.ReceiptMessageId, "0000ABCD");
  EXPECT_EQ(m.Data.substr(0, 12), "id:0000ABCD ");
  EXPECT_NE(m.Data.find("stat:DELIVRD"), std::string::npos);
  EXPECT_EQ(m.PhoneNumber, "+447700900001");  // the stored recipient
  EXPECT_EQ(m.Sender, "+4412");               // the stored sender
  EXPECT_EQ(m.MessageFlags, queue::kFlagIsReceipt | queue::kFlagReceiptDelivered);
  EXPECT_TRUE(files(inboundDir(), "*.rct").empty());
}

TEST_F(ReceiptTest, UnknownIdsWaitOneToFourMinutesThenGoOnUnresolved) {
  const std::string path = dropReceipt("unknown-1");
  // Minutes after the previous try, and what the pass does.
  struct Step {
    std::chrono::seconds after;
    unsigned retried, skipped, set_aside;
  } steps[] = {
      {0s, 1, 0, 0},                   // count 1
      {59s, 0, 1, 0},  {1s, 1, 0, 0},  // count 2 after 1 minute
      {119s, 0, 1, 0}, {1s, 1, 0, 0},  // count 3 after 2
      {180s, 1, 0, 0},                 // count 4 after 3
      {239s, 0, 1, 0}, {1s, 0, 0, 1},  // fifth try: unresolved, no command
  };
  int i = 0;
  for (const Step& s : steps) {
    clock_.advance(s.after);
    const ReceiptPass p = pass();
    EXPECT_EQ(p.retried, s.retried) << "step " << i;
    EXPECT_EQ(p.skipped, s.skipped) << "step " << i;
    EXPECT_EQ(p.set_aside, s.set_aside) << "step " << i;
    ++i;
  }
  ASSERT_EQ(setAside("*.SMS").size(), 1u);
  const queue::SMSMessage kept = load(setAside("*.SMS")[0]);
  EXPECT_EQ(kept.ReceiptMessageId, "unknown-1");
  EXPECT_EQ(kept.RetryCount, 0u);
  EXPECT_FALSE(platform::pathExists(path));
}

TEST_F(ReceiptTest, AReceiptBeforeItsSubmissionIsMatchedOnALaterTry) {
  account("alice", true);
  dropReceipt("0A1B2C");  // the centre was faster than the submit answer
  EXPECT_EQ(pass().retried, 1u);
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd(kLink, "0A1B2C", "0000BEEF", "alice", "", ""));
  clock_.advance(60s);
  EXPECT_EQ(pass().completed, 1u);
  const auto got = files(queueOf("alice"), "*.req");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(load(got[0]).ReceiptMessageId, "0000BEEF");
  EXPECT_EQ(load(got[0]).PhoneNumber, "12345");  // nothing stored: the receipt's own
}

TEST_F(ReceiptTest, HttpLinksFindTheirOwnRecordsFirstThenTheSharedName) {
  const std::string link = "HTTP - provider.example:8080";
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd("HTTP", "abc", "00000001", "", "", ""));
  EXPECT_EQ(findReceiptOriginal(link, "abc")->local_id, "00000001");
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd(link, "abc", "00000002", "", "", ""));
  EXPECT_EQ(findReceiptOriginal(link, "abc")->local_id, "00000002");
  // Other kinds of link never look under the shared name.
  EXPECT_FALSE(findReceiptOriginal(kLink, "abc"));
  EXPECT_EQ(replaceReceiptTextId("id:7 sub:001", "0000A"), "id:0000A sub:001");
  EXPECT_EQ(replaceReceiptTextId("report 7", "0000A"), "report 7");
}

TEST_F(ReceiptTest, CommandsAnswerReceiptsAndFailuresAreKept) {
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd(kLink, "1", "0000AAAA", "", "", "+447700900001"));
  configure("ReceiveSMSCommand1=id:*\t/bin/echo @@RECEIPTMESSAGEID@@\tYes");
  dropReceipt("1");
  EXPECT_EQ(pass().completed, 1u);
  const auto replies = files(data_ + "Q/", "*.req");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(load(replies[0]).Data, "0000AAAA.req");

  // A command that cannot run: back to the inbound threads, resolved.
  configure("ReceiveSMSCommand1=id:*\t/nonexistent/prog\tNo");
  dropReceipt("1", std::string(kLink), "RouteToLocalUser=nobody\r\n", "00000002.rct");
  EXPECT_EQ(pass().handed_back, 1u);
  const auto back = files(inboundDir(), "*.rec");
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(load(back[0]).ReceiptMessageId, "0000AAAA");
  EXPECT_TRUE(files(inboundDir(), "*.rct").empty());
}

TEST_F(ReceiptTest, RejectionReceiptsCarryTheExactTextAndReachTheAccount) {
  account("alice", true);
  configure("DuplicateUserReceiptsFor2Way=Yes");
  RejectedMessage m;
  m.queue_file = "/q/0000C0DE.req";
  m.submitted = kNow - 61s;
  m.link_name = std::string(kLink);
  m.local_user = "alice";
  m.sender = "12345";
  m.recipient = "+447700900002";
  m.error_code = 0x1234B;
  m.text = "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC 1234567890123456789";  // été € ...
  m.validity = "1440";
  auto written = WriteRejectionReceipt(m);
  ASSERT_TRUE(written.ok());
  const std::string expected_text =
      "id:0000C0DE sub:001 dlvrd:000 submit date:2612081428 done date:2612081430 stat:REJECTD "
      "err:34B text:\xC3\xA9t\xC3\xA9 \xE2\x82\xAC 1234567890123";
  const queue::SMSMessage r = load(*written);
  EXPECT_EQ(r.Data, expected_text);
  EXPECT_EQ(r.ReceiptMessageId, "0000C0DE");
  EXPECT_EQ(r.Sender, "+447700900002");
  EXPECT_EQ(r.PhoneNumber, "12345");
  EXPECT_EQ(r.RouteToLocalUser, "alice");
  EXPECT_EQ(r.Validity, "1440");
  EXPECT_EQ(r.MessageFlags, queue::kFlagIsReceipt | queue::kFlagReceiptFailed);
  const auto recs = files(inboundDir(), "*.rec");
  ASSERT_EQ(recs.size(), 2u);  // and the two-way copy
  int copies = 0;
  for (const std::string& f : recs) copies += load(f).DuplicateMessageFor2Way ? 1 : 0;
  EXPECT_EQ(copies, 1);

  // The receipt-kind inbound thread hands it to the account.
  InboundWorker(kInboundReceipts).runPass();
  const auto got = files(queueOf("alice"), "*.req");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(load(got[0]).Data, expected_text);
}

TEST_F(ReceiptTest, TheSendersFailureReceiptComesFromItsClaimedFile) {
  const std::string path = dir_.file("0000F00D.req");
  queue::RequestWriter w("[SMS]");
  w.text("SubmitUser", "alice").text("Sender", "999").text("PhoneNumber", "+4477").data("hi");
  ASSERT_TRUE(platform::publishFile(path, w.str()).ok());
  auto fd = platform::claimFile(path);
  ASSERT_TRUE(fd.ok());
  queue::SMSMessage msg;
  ASSERT_TRUE(queue::LoadSMSMessage(fd->get(), &msg));
  auto written = writeFailureReceipt(fd->get(), path, msg, kLink, 0x45);
  ASSERT_TRUE(written.ok());
  const queue::SMSMessage r = load(*written);
  EXPECT_EQ(r.RouteToLocalUser, "alice");
  EXPECT_EQ(r.ReceiptMessageId, "0000F00D");
  EXPECT_NE(r.Data.find("stat:REJECTD err:045 text:hi"), std::string::npos);
}

TEST_F(ReceiptTest, ModemReportsFindTheirSubmissionByEitherKey) {
  EXPECT_EQ(modemMessageKey(17, "+447700900123"), "11-00900123");
  EXPECT_FALSE(RecordModemMessageId("Modem1", "+CMGS: 0", "00000001.req", "", "", "+4477009"));
  ASSERT_TRUE(RecordModemMessageId("Modem1", "+CMGS: 17\r\nOK", "00000011.req", "alice", "",
                                   "+447700900123"));
  EXPECT_EQ(FindModemMessageId("Modem1", "", 17, "447700900123")->local_id, "00000011");
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd("Modem1", "C9-00900123", "00000022", "", "", ""));
  EXPECT_EQ(FindModemMessageId("Modem1", "C9", 17, "447700900123")->local_id, "00000022");
  EXPECT_EQ(FindModemMessageId("Modem1", "D0", 17, "447700900123")->local_id, "00000011");
}

TEST_F(ReceiptTest, TheThreadsPassReceiptsOnAsTheyArrive) {
  account("alice", true);
  configure("ReceiveSMSCommand1=id:*\t/bin/echo @@RECEIPTMESSAGEID@@\tYes");
  for (auto body : {+[] { ThreadProcessInboundReceipts(1); },
                    +[] { ThreadProcessInboundSMS(kInboundMessagesAndJoining); }})
    ASSERT_TRUE(foundation::startWorkerThread("inbound", body));
  constexpr int kReceipts = 20;
  for (int i = 0; i < kReceipts; ++i) {
    const std::string id = std::to_string(9000 + i);
    // Half of them for alice, half for the command.
    ASSERT_TRUE(hostlib::SMSCMessageIdAdd(kLink, id, platform::format("0000%04X", i),
                                          i % 2 ? "alice" : "", "12345", "+4477"));
    InboundSMS r;
    r.link_name = std::string(kLink);
    r.sender = "+4477";
    r.recipient = "12345";
    r.data = "id:" + id + " stat:DELIVRD";
    r.flags = queue::kFlagIsReceipt | queue::kFlagReceiptDelivered;
    r.receipt_message_id = id;
    r.resolve_receipt_id = true;
    ASSERT_TRUE(ProcessInboundSMS(r).ok());
  }
  const bool all = vek::testing::waitUntil(
      [&] {
        return files(queueOf("alice"), "*.req").size() == kReceipts / 2 &&
               files(data_ + "Q/", "*.req").size() == kReceipts / 2;
      },
      20s);
  platform::requestShutdown();
  foundation::inboundEventA().set();
  receiptEvent().set();
  EXPECT_TRUE(foundation::waitForWorkers(20s));
  ASSERT_TRUE(all);
  EXPECT_TRUE(files(inboundDir(), "*.rct").empty());
}

}  // namespace
}  // namespace vek::inbound
