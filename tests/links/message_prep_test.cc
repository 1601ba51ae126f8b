// The per-message steps: which files are unsound, which sender goes out,
// the parameter string, the skip list and the segment locks.
#include "links/message_prep.h"

#include <gtest/gtest.h>

#include "links/segment_lock.h"
#include "links/skip_list.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace vek::links {
namespace {

queue::SMSMessage parsed(const std::string& text) {
  queue::SMSMessage m;
  queue::parseSMSMessage(text, &m, [](std::string_view) { return std::string(); });
  return m;
}

TEST(MessagePrepTest, UnsoundFilesAreRecognised) {
  const std::pair<std::string, FileFault> cases[] = {
      {"[SMS]\r\nPhoneNumber=+4477\r\nData=hi\r\n", FileFault::kSound},
      {"[SMS]\r\nPhoneNumber=+4477\r\nData=hi\r\n\x1A", FileFault::kSound},
      {"", FileFault::kEmpty},
      {" \r\n\t\r\n", FileFault::kEmpty},
      {"\x1A[SMS]\r\nPhoneNumber=1\r\n", FileFault::kEmpty},
      {std::string("[SMS]\r\nPhoneNumber=+44\0\r\n", 23), FileFault::kBinaryJunk},
      {"[SMS]\r\nPhoneNumber=+4477\r\nData=hal", FileFault::kTruncated},
      {"PhoneNumber=+4477\r\n", FileFault::kNoSection},
      {"[SMS-IN]\r\nPhoneNumber=+4477\r\n", FileFault::kNoSection},
      {"[SMS]\r\nData=nobody\r\n", FileFault::kNoRecipient},
      {"[SMS]\r\nPhoneNumber=+" + std::string(300, '4') + "\r\n", FileFault::kValueTooLong},
      {"[SMS]\r\nPhoneNumber=+44\r\nData=" + std::string(9000, 'x') + "\r\n",
       FileFault::kValueTooLong},
  };
  for (const auto& [text, want] : cases)
    EXPECT_EQ(examineRequestText(text, parsed(text)), want) << text.substr(0, 40);
}

TEST(MessagePrepTest, SenderChoiceAndParameters) {
  foundation::LinkCommonSettings link;
  link.SenderAddressList = "1234, 5678";
  link.SenderAddress = "1234";
  struct Case {
    bool override_on;
    const char* own;
    const char* want;
  };
  const Case senders[] = {
      {true, "999", "999"}, {false, "999", "1234"}, {false, "5678", "5678"},
      {true, "", "1234"},   {false, "", "1234"},
  };
  for (const Case& c : senders) {
    link.SenderAddressOverride = c.override_on;
    EXPECT_EQ(chooseSender(c.own, link), c.want) << c.own << " " << c.override_on;
  }

  queue::SMSMessage m = parsed(
      "[SMS]\r\nPhoneNumber=+447700900123\r\nSender=+4412\r\nSubmitUser=alice\r\n"
      "ServiceType=WAP\r\nBillingInfo=b1\r\nReceiptRequested=Yes\r\n"
      "SMPPOptions=SMPPOption_a=1; SMPPOption_b=2\r\nData=x\r\n");
  EXPECT_EQ(buildParams(foundation::LinkKind::kSmpp, m, "ID1", "1d"),
            "SMPPOption_a=1; SMPPOption_b=2; LocalUser=alice; ServiceType=WAP; Validity=1d");
  EXPECT_EQ(buildParams(foundation::LinkKind::kUcp, m, "ID1", "1d"),
            "BillingInfo=b1; LocalUser=alice; OurMsgId=ID1");

  link.SenderAddressOverride = true;
  link.OutRecipPrefixConvert = "+44:0";
  link.OutSenderPrefixConvert = "+44:44";
  link.DisableDeliveryReceipt = true;
  SubmitRequest r = buildSubmitRequest(foundation::LinkKind::kSmpp, m, "ID1", link, "");
  EXPECT_EQ(r.recipient, "07700900123");
  EXPECT_EQ(r.sender, "4412");
  EXPECT_EQ(r.flags & queue::kFlagsFailureReceiptWanted, 0u);
  EXPECT_EQ(r.request_file, "ID1");
  EXPECT_EQ(messageIdOf("RT_-_x_-_/SAR-1-2a-3-1.req"), "SAR-1-2a-3-1");
}

TEST(SkipListTest, KeepsWhatWasSeenAndDropsWhatLeft) {
  SkipList s;
  s.startPass();
  s.add("b.req");
  s.add("a.req");
  s.add(std::string(48, 'x'));  // too long to be entered
  EXPECT_EQ(s.size(), 2u);
  s.endPass(false);
  s.startPass();
  EXPECT_TRUE(s.contains("a.req"));
  s.endPass(true);  // a connection error keeps everything
  EXPECT_EQ(s.size(), 2u);
  s.startPass();
  EXPECT_TRUE(s.contains("a.req"));
  s.endPass(false);
  EXPECT_EQ(s.size(), 1u);
  EXPECT_FALSE(s.contains("b.req"));
  for (int i = 0; i < 2500; ++i) s.add("f" + std::to_string(i));
  EXPECT_GE(s.room(), 2501u);
  s.startPass();
  s.endPass(false);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_LE(s.room(), 1000u);
}

TEST(SegmentLockTest, OneLinkOwnsALongMessageUntilItsSegmentsAreGone) {
  vek::testing::TempDir dir;
  const std::string seg1 = "SAR-+4477-1f-2-1.req", seg2 = "SAR-+4477-1f-2-2.req";
  vek::testing::writeText(dir.file(seg2), "[SMS]\r\n");
  SegmentLocks a("SMPP - a:1"), b("SMPP - b:1");
  EXPECT_TRUE(a.acquire(dir.path(), seg1));
  EXPECT_EQ(vek::testing::readText(dir.file("SAR-+4477-1f.LCK")), "Pending:SMPP - a:1");
  EXPECT_FALSE(b.acquire(dir.path(), seg1));
  a.confirm(dir.path(), seg1);
  EXPECT_EQ(vek::testing::readText(dir.file("SAR-+4477-1f.LCK")), "SMPP - a:1");
  EXPECT_FALSE(b.acquire(dir.path(), seg2));
  EXPECT_TRUE(a.acquire(dir.path(), seg2));
  EXPECT_TRUE(a.acquire(dir.path(), "plain.req"));  // no lock for ordinary files

  auto now = platform::monotonicNow();
  a.scheduleRemoval(dir.path(), seg1, now, std::chrono::milliseconds(0));
  a.removeDue(now);  // segment 2 is still queued: the lock stays
  EXPECT_TRUE(platform::isRegularFile(dir.file("SAR-+4477-1f.LCK")));
  ASSERT_TRUE(platform::removeFile(dir.file(seg2)).ok());
  a.scheduleRemoval(dir.path(), seg2, now, std::chrono::seconds(15));
  a.removeDue(now);
  EXPECT_TRUE(platform::isRegularFile(dir.file("SAR-+4477-1f.LCK")));  // not yet
  a.removeDue(now + std::chrono::seconds(16));
  EXPECT_FALSE(platform::isRegularFile(dir.file("SAR-+4477-1f.LCK")));
  EXPECT_TRUE(b.acquire(dir.path(), seg1));
}

}  // namespace
}  // namespace vek::links
