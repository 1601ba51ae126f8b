#include "queue/request_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/unique_fd.h"
#include "support/test_support.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;
using vek::testing::writeText;

std::string sameName(std::string_view name) {
  return std::string(name);
}

SMSMessage load(const std::string& text) {
  SMSMessage m;
  parseSMSMessage(text, &m, sameName);
  return m;
}

const RequestTime kWhen{2026, 12, 8, 14, 30, 5};

// The HTTP submission interface: its keys in its order.
std::string httpSubmission(const SMSMessage& m, bool use_modem) {
  RequestWriter w(m.Inbound ? "[SMS-IN]" : "[SMS]");
  w.text("SubmitUser", m.SubmitUser).text("SubmittedBy", m.SubmittedBy);
  w.text("PhoneNumber", m.PhoneNumber).text("Sender", m.Sender);
  w.yes("ReplyRequested").yes("ReceiptRequested").yes("ReceiptDelivered");
  w.text("ReceiptMessageID", m.ReceiptMessageId).text("RouteToLocalUser", m.RouteToLocalUser);
  w.text("Validity", m.Validity).text("ServiceType", m.ServiceType);
  w.text("BillingInfo", m.BillingInfo).text("AcctInfo", m.AcctInfo);
  if (use_modem) {
    w.text("ModemName", m.ModemName);
  } else {
    w.text("SMSCRoute", m.SMSCRoute);
  }
  w.text("SMPPOptions", m.SMPPOptions).text("UDH", m.UDH).data(m.Data);
  w.hex2("pid", m.pid).hex2("dcs", m.dcs).yes("Binary", m.Binary);
  return w.str();
}

// A received message stored for later processing, in its order.
std::string storedReceived(const SMSMessage& m) {
  RequestWriter w(m.Inbound ? "[SMS-IN]" : "[SMS]");
  w.text("ModemName", m.ModemName).text("Sender", m.Sender);
  w.textIfSet("PhoneNumber", m.PhoneNumber).textIfSet("UDH", m.UDH);
  if (m.pid != 0) w.hex("pid", m.pid);
  if (m.dcs != 0) w.hex("dcs", m.dcs);
  w.data(m.Data);
  if (m.Binary) w.number("Binary", 1);
  w.yes("ReceiptRequested", m.MessageFlags & kFlagReceiptRequested);
  w.yes("NonDelReceiptRequested", m.MessageFlags & kFlagNonDelReceiptRequested);
  w.yes("ReceiptFailed", m.MessageFlags & kFlagReceiptFailed);
  w.textIfSet("ReceiptMessageId", m.ReceiptMessageId);
  w.textIfSet("ServiceType", m.ServiceType).textIfSet("SMPPOptions", m.SMPPOptions);
  w.textIfSet("RouteToLocalUser", m.RouteToLocalUser).textIfSet("ReceivedSMSC", m.ReceivedSMSC);
  w.yes("DuplicateMessageFor2Way", m.DuplicateMessageFor2Way);
  return w.str();
}

SMSMessage submitted(bool inbound) {
  SMSMessage m;
  m.Inbound = inbound;
  m.SubmitUser = "alice";
  m.SubmittedBy = "HTTP 192.0.2.1";
  m.PhoneNumber = "+447700900123";
  m.Sender = "Shop";
  m.MessageFlags =
      kFlagReplyRequested | kFlagReceiptRequested | kFlagIsReceipt | kFlagReceiptDelivered;
  m.ReceiptMessageId = "ABC123";
  m.RouteToLocalUser = "bob";
  m.Validity = "1440";
  m.ServiceType = "CMT";
  m.BillingInfo = "bill";
  m.AcctInfo = "acct";
  m.SMSCRoute = "UK";
  m.SMPPOptions = "SMPPOption_1403=ab; SMPPOption_1404=cd";
  m.UDH = "050003A10201";
  m.Data = "Line one\r\nLine two, caf\xc3\xa9";
  m.pid = 0x7F;
  m.dcs = 0xF5;
  m.Binary = true;
  return m;
}

TEST(RequestWriterTest, EveryWriterReadsBackToTheSameRecord) {
  struct Case {
    const char* row;
    std::string text;
    SMSMessage expected;
  };
  std::vector<Case> cases;

  for (bool inbound : {false, true}) {
    SMSMessage m = submitted(inbound);
    cases.push_back({"HTTP submission with SMSCRoute", httpSubmission(m, false), m});
    m.SMSCRoute.clear();
    m.ModemName = "COM3 [USB]";
    m.ModemRoute = "COM3 [USB]";
    cases.push_back({"HTTP submission with ModemName", httpSubmission(m, true), m});
  }

  SMSMessage received;
  received.Inbound = true;
  received.ModemName = "SMPP - smsc:2775";
  received.ModemRoute = received.ModemName;
  received.Sender = "+447700900999";
  received.PhoneNumber = "60000";
  received.UDH = "0500030A0201";
  received.pid = 0x01;
  received.dcs = 0x08;
  received.Data = "00480069";
  received.Binary = true;
  received.MessageFlags = kFlagReceiptRequested | kFlagNonDelReceiptRequested;
  received.ServiceType = "WAP";
  received.SMPPOptions = "SMPPOption_0x1400=01";
  received.RouteToLocalUser = "carol";
  received.ReceivedSMSC = "SMPP - smsc:2775";
  received.DuplicateMessageFor2Way = true;
  cases.push_back({"stored received message", storedReceived(received), received});

  SMSMessage receipt;
  receipt.Inbound = true;
  receipt.ModemName = "COM1:";
  receipt.ModemRoute = "COM1:";
  receipt.Sender = "+447700900123";
  receipt.Data = "id:1 stat:UNDELIV";
  receipt.MessageFlags = kFlagIsReceipt | kFlagReceiptFailed;
  receipt.ReceiptMessageId = "0A1B";
  cases.push_back({"stored receipt", storedReceived(receipt), receipt});

  // Segments, two-way replies, SMPP submissions and bulk expansion write the
  // keys that apply through the shared record writer.
  SMSMessage all = submitted(false);
  all.MessageFlags |= kFlagNonDelReceiptRequested;
  all.ReceivedSMSC = "UCP - x:1";
  all.RecombineFlag = true;
  all.DuplicateMessageFor2Way = true;
  cases.push_back({"record writer", formatSMSMessage(all), all});
  SMSMessage bare;
  bare.PhoneNumber = "1";
  cases.push_back({"record writer, bare", formatSMSMessage(bare), bare});

  ErrorDetail link_retry;
  link_retry.RetryCount = 3;
  link_retry.LastRetryTime = kWhen;
  link_retry.ErrorText = "Throttled";
  link_retry.LinkName = "SMPP - smsc:2775";
  SMSMessage with_retry = submitted(false);
  with_retry.HasErrorDetail = true;
  with_retry.RetryCount = 3;
  with_retry.LastRetryTime = kWhen;
  cases.push_back({"link sender retry",
                   withErrorDetail(httpSubmission(submitted(false), false), link_retry),
                   with_retry});

  ErrorDetail mms_retry;
  mms_retry.RetryCount = 1;
  mms_retry.LastRetryTime = kWhen;
  mms_retry.HasFirstAttemptTime = true;
  mms_retry.FirstAttemptTime = RequestTime{2026, 12, 7, 23, 59, 59};
  SMSMessage mms = received;
  mms.HasErrorDetail = true;
  mms.RetryCount = 1;
  mms.LastRetryTime = kWhen;
  mms.FirstAttemptTime = mms_retry.FirstAttemptTime;
  cases.push_back(
      {"MMS notification retry", withErrorDetail(storedReceived(received), mms_retry), mms});

  for (const Case& c : cases) {
    EXPECT_EQ(load(c.text), c.expected) << c.row << "\n" << c.text;
  }
  EXPECT_EQ(formatErrorDetail(link_retry),
            "[ErrorDetail]\r\nRetryCount=3\r\nLastRetryTime=20261208143005\r\n"
            "LastErrorInfo=Throttled -- SMPP - smsc:2775\r\n");
}

TEST(RequestWriterTest, NoValueCanStartANewKeyLine) {
  RequestWriter w;
  w.text("Sender", "evil\nPhoneNumber=+1900");
  w.text("ServiceType",
         "a\x0b"
         "SMSCRoute=premium");
  w.text("PhoneNumber", "+447700900123");
  w.data("one\r\ntwo\tthree\x0bRouteToLocalUser=x\x1a");
  ErrorDetail d;
  d.ErrorText = "bad\r\n[SMS]";
  d.LinkName = "l\nRetryCount=99";
  std::string text = withErrorDetail(w.str(), d);
  for (char c : text) {
    bool control = static_cast<unsigned char>(c) < 32;
    ASSERT_TRUE(!control || c == '\r' || c == '\n') << text;
  }
  SMSMessage m = load(text);
  EXPECT_EQ(m.PhoneNumber, "+447700900123");
  EXPECT_EQ(m.Sender, "evil PhoneNumber=+1900");
  EXPECT_EQ(m.ServiceType, "a SMSCRoute=premium");
  EXPECT_EQ(m.SMSCRoute, "");
  EXPECT_EQ(m.RouteToLocalUser, "");
  EXPECT_EQ(m.Data, "one\r\ntwo three RouteToLocalUser=x ");
  EXPECT_EQ(m.RetryCount, 0u);
}

TEST(RequestWriterTest, RetryBlockIsReplacedInPlaceNeverDoubled) {
  TempDir dir;
  std::string path = dir.file("00000001.req");
  // An old file without its last line end and with two blocks, as a
  // crashed writer may have left it.
  writeText(path,
            "[SMS]\r\nPhoneNumber=1\r\nData=x\r\n[ErrorDetail]\r\nRetryCount=1\r\n"
            "[ErrorDetail]\r\nRetryCount=2\r\n");
  struct timespec old_times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
  platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  for (uint32_t count : {3u, 4u}) {
    ErrorDetail d;
    d.RetryCount = count;
    d.LastRetryTime = kWhen;
    d.ErrorText = "Timeout";
    d.LinkName = "COM1:";
    ASSERT_TRUE(rewriteErrorDetail(fd.get(), d).ok());
  }
  std::string text = readText(path);
  EXPECT_EQ(text,
            "[SMS]\r\nPhoneNumber=1\r\nData=x\r\n[ErrorDetail]\r\nRetryCount=4\r\n"
            "LastRetryTime=20261208143005\r\nLastErrorInfo=Timeout -- COM1:\r\n");
  EXPECT_EQ(platform::toUnix(platform::statPath(path)->modified), 1700000000);

  // A last line without its line end keeps its value.
  ErrorDetail d;
  d.RetryCount = 1;
  EXPECT_EQ(load(withErrorDetail("[SMS]\r\nPhoneNumber=5", d)).PhoneNumber, "5");
  EXPECT_EQ(load(withErrorDetail("[SMS]\r\nPhoneNumber=5", d)).RetryCount, 1u);
  // A block before the message section is not the message's: kept.
  EXPECT_EQ(errorDetailOffset("[ErrorDetail]\r\n[SMS]\r\nA=1\r\n"), 27u);
  EXPECT_EQ(errorDetailOffset("[SMS]\r\nA=1\r\n  [errordetail]\r\n"), 12u);
}

}  // namespace
}  // namespace vek::queue
