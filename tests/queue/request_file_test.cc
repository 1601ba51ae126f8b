#include "queue/request_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/unique_fd.h"
#include "support/test_support.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::TempDir;
using vek::testing::writeText;

std::string noRoute(std::string_view name) {
  return "route-of-" + std::string(name);
}

SMSMessage parse(std::string_view text) {
  SMSMessage m;
  parseSMSMessage(text, &m, noRoute);
  return m;
}

TEST(RequestFileTest, EdgeCasesLoadAsTheLayoutSays) {
  struct Case {
    std::string text;
    std::string phone, sender, data, route, local_user;
    int pid;
  } cases[] = {
      {"[SMS]\r\nphonenumber=111\r\n", "111", "", "", "", "", 0},
      {"[sms]\r\nPHONENUMBER=222\r\n", "222", "", "", "", "", 0},
      {"[SMS]\r\nData=one\ttwo\r\nSender=s\r\n", "", "s", "one", "", "", 0},
      {"[SMS]\r\npid=7F\r\n", "", "", "", "", "", 0x7F},
      {"[SMS]\r\npid=17F\r\n", "", "", "", "", "", 0x7F},
      {"[SMS]\r\npid=G\r\n", "", "", "", "", "", 0},
      {"[SMS]\r\npid=3g5\r\n", "", "", "", "", "", 0x3},
      {"[SMS]\r\nSMSCRoute=localuser:bob\r\n", "", "", "", "", "bob", 0},
      {"[SMS]\r\nSMSCRoute=LocalUser:Ann\r\n", "", "", "", "", "Ann", 0},
      {"[SMS]\r\nSMSCRoute=UK-Bulk\r\n", "", "", "", "UK-Bulk", "", 0},
      {"\x1a[SMS]\r\nPhoneNumber=1\r\n", "", "", "", "", "", 0},
      {" \r\n\x1a\r\n[SMS]\r\nPhoneNumber=1\r\n", "", "", "", "", "", 0},
      {"  \r\n\r\n   [SMS]\n   Sender=x\n\nPhoneNumber=9", "9", "x", "", "", "", 0},
      {"[SMS]\r\nSender=a\r\nSender=b\r\n", "", "b", "", "", "", 0},
      {"[SMS]\r\n[Other]\r\nSender=x\r\n", "", "", "", "", "", 0},
      {"Sender=before\r\n[SMS]\r\nPhoneNumber=5", "5", "", "", "", "", 0},
      {"[ErrorDetail]\r\nRetryCount=3\r\nPhoneNumber=1\r\n", "", "", "", "", "", 0},
      {std::string("[SMS]\0Sender=nul\0PhoneNumber=7", 30), "7", "nul", "", "", "", 0},
      {"[SMS]\r\nData=a\\r\\nb\\\\nc\\x\r\n", "", "", "a\r\nb\\\nc\\x", "", "", 0},
      {"[SMS]\r\nSender=has = sign \r\n", "", "has = sign ", "", "", "", 0},
      {"[SMS]\r\nSende", "", "", "", "", "", 0},
      {"[SMS]\r\nSender =x\r\nUnknown=1\r\nSender\r\n", "", "", "", "", "", 0},
      {"[SMS]\r\nSender=caf\xc3\xa9\r\n", "", "caf\xc3\xa9", "", "", "", 0},
  };
  for (const Case& c : cases) {
    SMSMessage m = parse(c.text);
    EXPECT_EQ(m.PhoneNumber, c.phone) << c.text;
    EXPECT_EQ(m.Sender, c.sender) << c.text;
    EXPECT_EQ(m.Data, c.data) << c.text;
    EXPECT_EQ(m.SMSCRoute, c.route) << c.text;
    EXPECT_EQ(m.RouteToLocalUser, c.local_user) << c.text;
    EXPECT_EQ(m.pid, c.pid) << c.text;
  }
}

TEST(RequestFileTest, EveryTextKeyIsCutAtItsLimit) {
  struct Case {
    const char* key;
    size_t limit;
    std::string SMSMessage::*field;
  } cases[] = {
      {"PhoneNumber", kLimitPhoneNumber, &SMSMessage::PhoneNumber},
      {"Sender", kLimitSender, &SMSMessage::Sender},
      {"Data", kLimitData, &SMSMessage::Data},
      {"UDH", kLimitUDH, &SMSMessage::UDH},
      {"SubmittedBy", kLimitSubmittedBy, &SMSMessage::SubmittedBy},
      {"SubmitUser", kLimitSubmitUser, &SMSMessage::SubmitUser},
      {"ServiceType", kLimitServiceType, &SMSMessage::ServiceType},
      {"RouteToLocalUser", kLimitRouteToLocalUser, &SMSMessage::RouteToLocalUser},
      {"SMSCRoute", kLimitSMSCRoute, &SMSMessage::SMSCRoute},
      {"ModemName", kLimitModemName, &SMSMessage::ModemName},
      {"SMPPOptions", kLimitSMPPOptions, &SMSMessage::SMPPOptions},
      {"ReceivedSMSC", kLimitReceivedSMSC, &SMSMessage::ReceivedSMSC},
      {"Validity", kLimitValidity, &SMSMessage::Validity},
      {"BillingInfo", kLimitBillingInfo, &SMSMessage::BillingInfo},
      {"AcctInfo", kLimitAcctInfo, &SMSMessage::AcctInfo},
      {"ReceiptMessageId", kLimitReceiptMessageId, &SMSMessage::ReceiptMessageId},
  };
  for (const Case& c : cases) {
    for (size_t len : {c.limit - 1, c.limit, c.limit + 1, c.limit + 1000}) {
      std::string value(len, 'v');
      SMSMessage m = parse("[SMS]\r\n" + std::string(c.key) + "=" + value + "\r\n");
      EXPECT_EQ(m.*c.field, value.substr(0, c.limit)) << c.key << " " << len;
    }
  }
  // The resolved route of a long link name is cut too.
  SMSMessage m = parse("[SMS]\r\nModemName=" + std::string(200, 'm') + "\r\n");
  EXPECT_EQ(m.ModemRoute.size(), kLimitModemRoute);
}

TEST(RequestFileTest, FlagsAndRetrySection) {
  struct Case {
    std::string keys;
    uint32_t flags;
  } cases[] = {
      {"ReplyRequested=Yes", kFlagReplyRequested},
      {"ReceiptRequested=1", kFlagReceiptRequested},
      {"ReceiptDelivered=yes", kFlagIsReceipt | kFlagReceiptDelivered},
      {"ReceiptIntransit=TRUE", kFlagIsReceipt | kFlagReceiptInTransit},
      {"ReceiptFailed=On", kFlagIsReceipt | kFlagReceiptFailed},
      {"NonDelReceiptRequested=Y", kFlagNonDelReceiptRequested},
      {"ReplyRequested=No", 0},
      {"ReplyRequested=enabled", 0},
      {"ReplyRequested=Yes\r\nReplyRequested=No", 0},
      {"ReceiptDelivered=Yes\r\nReceiptFailed=No", kFlagIsReceipt | kFlagReceiptDelivered},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse("[SMS]\r\n" + c.keys + "\r\n").MessageFlags, c.flags) << c.keys;
  }

  SMSMessage m = parse(
      "[SMS-IN]\r\nRecombineFlag=Yes\r\nDuplicateMessageFor2Way=Yes\r\nBinary=1\r\ndcs=F5\r\n"
      "[ErrorDetail]\r\nRetryCount=4\r\nLastRetryTime=20261208143005\r\n"
      "FirstAttemptTime=2026120814300\r\nLastErrorInfo=x -- y\r\n[Next]\r\nRetryCount=9\r\n");
  EXPECT_TRUE(m.Inbound);
  EXPECT_TRUE(m.RecombineFlag);
  EXPECT_TRUE(m.DuplicateMessageFor2Way);
  EXPECT_TRUE(m.Binary);
  EXPECT_EQ(m.dcs, 0xF5);
  EXPECT_TRUE(m.HasErrorDetail);
  EXPECT_EQ(m.RetryCount, 4u);
  EXPECT_EQ(m.LastRetryTime, (RequestTime{2026, 12, 8, 14, 30, 5}));
  // Not 14 digits: 1 January 2000.
  EXPECT_EQ(m.FirstAttemptTime, kRequestTimeFallback);
  for (const char* bad :
       {"", "2026120814300a", "202612081430051", " 20261208143005", "-0261208143005"})
    EXPECT_EQ(parseRequestTime(bad), kRequestTimeFallback) << bad;
}

TEST(RequestFileTest, BadInputStaysBounded) {
  // A 100 KB line, thousands of repeated keys, a missing message section.
  std::string big = "[SMS]\r\nData=" + std::string(100000, 'd') + "\r\n";
  for (int i = 0; i < 5000; ++i) big += "Sender=" + std::to_string(i) + "\r\n";
  SMSMessage m = parse(big);
  EXPECT_EQ(m.Data.size(), kLimitData);
  EXPECT_EQ(m.Sender, "4999");
  EXPECT_EQ(parse("PhoneNumber=1\r\nSender=2\r\n"), SMSMessage{});
  EXPECT_EQ(parse(""), SMSMessage{});
  // A reused record starts empty again.
  parseSMSMessage("[SMS]\r\nPhoneNumber=1\r\n", &m, noRoute);
  EXPECT_EQ(m.Sender, "");
  EXPECT_EQ(m.Data, "");
}

class RequestFileOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    foundation::DebugLogConfig c;
    c.enabled = true;
    c.directory = dir_.path() + "logs/";
    c.echo_to_stderr = false;
    foundation::configureDebugLog(c);
  }
  void TearDown() override { foundation::configureDebugLog(foundation::DebugLogConfig{}); }
  std::string debugLog() const { return readText(dir_.path() + "logs/SMSDEBUG.LOG"); }

  TempDir dir_;
};

TEST_F(RequestFileOnDiskTest, FileAtTheBufferSizeLoadsLikeASmallOne) {
  const std::string head = "[SMS]\r\nPhoneNumber=+447700900123\r\nData=";
  for (size_t total : {size_t{100}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{20000}}) {
    std::string text = head + std::string(total - head.size() - 2, 'x') + "\r\n";
    ASSERT_EQ(text.size(), total);
    std::string path = dir_.file("f.req");
    writeText(path, text);
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    // The loader reads from the start whatever the position.
    ASSERT_GT(::lseek(fd.get(), 0, SEEK_END), 0);
    SMSMessage m;
    ASSERT_TRUE(LoadSMSMessage(fd.get(), &m, noRoute));
    EXPECT_EQ(m, parse(text)) << total;
    EXPECT_EQ(m.PhoneNumber, "+447700900123");
    EXPECT_EQ(m.Data.size(), std::min(total - head.size() - 2, kLimitData)) << total;
  }
}

TEST_F(RequestFileOnDiskTest, FailedReadMarksTheRecordUnsendable) {
  SMSMessage m;
  m.Sender = "left over";
  EXPECT_FALSE(LoadSMSMessage(-1, &m, noRoute));
  EXPECT_EQ(m.PhoneNumber, "ERROR");
  EXPECT_EQ(m.SMSCRoute, "ErrorLoadMessage");
  EXPECT_EQ(m.Sender, "");

  platform::UniqueFd dir(::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_FALSE(LoadSMSMessage(dir.get(), &m, noRoute));
  EXPECT_EQ(m.PhoneNumber, "ERROR");

  EXPECT_FALSE(LoadSMSMessageFile(dir_.file("missing.req"), &m, noRoute));
  std::string log = debugLog();
  EXPECT_NE(log.find("LoadSMSMessage:  Error 9 from GetFileSize\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("LoadSMSMessage:  Error 21 from ReadFile\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("LoadSMSMessage:  Error 2 from ReadFile\r\n"), std::string::npos) << log;
}

TEST_F(RequestFileOnDiskTest, ModemNameResolvesThroughTheLinkSection) {
  writeText(dir_.file("SMSGW.INI"),
            "[SMSGW]\r\nModem1=COM3 [USB]\r\n"
            "[Modem - COM3 \\x5BUSB\\x5D]\r\nRouteName=UK\r\n");
  hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  writeText(dir_.file("a.req"), "[SMS]\r\nModemName=COM3 [USB]\r\n");
  writeText(dir_.file("b.req"), "[SMS]\r\nModemName=SMPP - other:1\r\n");
  SMSMessage m;
  ASSERT_TRUE(LoadSMSMessageFile(dir_.file("a.req"), &m));
  EXPECT_EQ(m.ModemName, "COM3 [USB]");
  EXPECT_EQ(m.ModemRoute, "UK");
  ASSERT_TRUE(LoadSMSMessageFile(dir_.file("b.req"), &m));
  EXPECT_EQ(m.ModemRoute, "SMPP - other:1");
  ASSERT_TRUE(LoadSMSMessageFile(dir_.file("a.req"), &m, noRoute));
  EXPECT_EQ(m.ModemRoute, "route-of-COM3 [USB]");
  hostlib::SMSIniSetFilename("");
}

}  // namespace
}  // namespace vek::queue
