// Client submissions to request files: the keys each kind of message gets,
// the account's rules (sender list, routes, pacing), long messages written
// whole or not at all, and the refusals as command statuses.
#include "smpp_server/submission.h"

#include <gtest/gtest.h>

#include "server_env.h"

namespace vek::smpp_server::testing {
namespace {

class SubmissionTest : public ServerTest {
 protected:
  Submitter who(const std::string& name = "alice") {
    Submitter s;
    s.account = account(name);
    s.peer_address = "10.9.8.7";
    s.record = record_.get();
    return s;
  }
  protocols::InboundMessage text(const std::string& data) {
    protocols::InboundMessage m;
    m.link_name = "alice";
    m.sender = "1234";
    m.recipient = "+4470";
    m.data = data;
    return m;
  }
  std::vector<std::string> queued() { return files(data_ + "Q/", "*.req"); }

  std::shared_ptr<AccountRecord> record_ = std::make_shared<AccountRecord>();
};

TEST_F(SubmissionTest, EachKindOfMessageGetsTheKeysOfItsContent) {
  struct Case {
    const char* what;
    protocols::InboundMessage m;
    std::vector<std::string> lines;  // in the file, in this order
  };
  auto m = [&](auto change) {
    protocols::InboundMessage x = text("Hello");
    change(x);
    return x;
  };
  configure("", "[SMPPOptions]\r\nuser_message_reference=Yes\r\n");
  const Case cases[] = {
      {"text",
       m([](auto&) {}),
       {"[SMS]", "SubmittedBy=10.9.8.7", "SubmitUser=alice", "Sender=1234", "PhoneNumber=+4470",
        "Data=Hello", "pid=00", "dcs=00", "Binary=0", "ReceiptMessageId="}},
      {"UCS-2",
       m([](auto& x) {
         x.dcs = 8;
         x.type = protocols::kMessageBinary;
         x.data = "04160435";
       }),
       {"Data=04160435", "pid=00", "dcs=08", "Binary=1"}},
      {"7-bit segment with its header: packed after the header",
       m([](auto& x) {
         x.udh = "050003170201";
         x.data = "Hi";
       }),
       {"Data=9069\r\n", "UDH=050003170201", "dcs=00", "Binary=1"}},
      {"binary with a port header",
       m([](auto& x) {
         x.udh = "06050415811581";
         x.dcs = 0xF5;
         x.type = protocols::kMessageBinary;
         x.data = "CAFE";
       }),
       {"Data=CAFE", "UDH=06050415811581", "dcs=F5", "Binary=1"}},
      {"receipts, service type, validity, kept and dropped options",
       m([](auto& x) {
         x.pid = 0x41;
         x.flags =
             protocols::flag::kReceiptRequested | protocols::flag::kNonDeliveryReceiptRequested;
         x.extra =
             "ServiceType=WAP; Validity=000001000000000R; SMPPOption_user_message_reference=9; "
             "SMPPOption_0x1401=AB";
       }),
       {"pid=41", "Binary=0", "ReceiptRequested=Yes", "NonDelReceiptRequested=Yes",
        "ReceiptMessageId=", "ServiceType=WAP", "Validity=000001000000000R",
        "SMPPOptions=SMPPOption_user_message_reference=9"}},
  };
  for (const Case& c : cases) {
    for (const std::string& f : queued()) fs::remove(f);
    std::string id;
    ASSERT_EQ(submitClientMessage(who(), c.m, &id), status::kOk) << c.what;
    auto got = queued();
    ASSERT_EQ(got.size(), 1u) << c.what;
    EXPECT_EQ(got[0].rfind(data_ + "Q/alice/", 0), 0u) << got[0];
    const std::string file = vek::testing::readText(got[0]);
    size_t at = 0;
    for (const std::string& line : c.lines) {
      size_t found = file.find(line, at);
      ASSERT_NE(found, std::string::npos) << c.what << ": " << line << " in\n" << file;
      at = found + line.size();
    }
    EXPECT_EQ(load(got[0]).ReceiptMessageId, id) << c.what;  // the client's id is in the file
    EXPECT_EQ(file.find("0x1401"), std::string::npos) << c.what;
  }
}

TEST_F(SubmissionTest, ALongTextIsWrittenWholeOrNotAtAll) {
  const std::string long_text(400, 'x');
  std::string id;
  ASSERT_EQ(submitClientMessage(who(), text(long_text), &id), status::kOk);
  auto got = queued();
  ASSERT_EQ(got.size(), 3u);
  for (const std::string& f : got) {
    EXPECT_EQ(load(f).ReceiptMessageId, id) << f;  // one id for the client, in every part
    EXPECT_EQ(load(f).UDH.rfind("050003", 0), 0u) << f;
  }
  EXPECT_EQ(record_->submitted(), 3u);

  // The queue cannot be written: nothing of the message is left behind.
  for (const std::string& f : got) fs::remove(f);
  fs::remove_all(data_ + "Q/alice");
  vek::testing::writeText(data_ + "Q/alice", "a file where the directory would be");
  EXPECT_EQ(submitClientMessage(who(), text(long_text), &id), status::kSysErr);
  EXPECT_EQ(submitClientMessage(who(), text("short"), &id), status::kSysErr);
  EXPECT_TRUE(queued().empty());
}

TEST_F(SubmissionTest, SenderListAndRouteChoicesFollowTheAccountsRights) {
  configure("Modem1=SMPP - centre\r\n");
  protocols::InboundMessage m = text("Hi");
  m.sender = "Spoofed";
  m.extra = "RouteToLocalUser=bob; SMSCRouteInfo=SMPP - centre";

  Submitter plain = who();
  plain.account.senders = "Shop, Info";
  std::string id;
  ASSERT_EQ(submitClientMessage(plain, m, &id), status::kOk);
  auto got = queued();
  ASSERT_EQ(got.size(), 1u);
  queue::SMSMessage file = load(got[0]);
  EXPECT_EQ(file.Sender, "Shop");
  EXPECT_EQ(file.RouteToLocalUser, "");  // not for an account without the right
  EXPECT_EQ(file.SMSCRoute, "");
  fs::remove(got[0]);

  Submitter admin = who();
  admin.account.admin = true;
  admin.account.senders = "Shop, Spoofed";
  ASSERT_EQ(submitClientMessage(admin, m, &id), status::kOk);
  got = queued();
  ASSERT_EQ(got.size(), 1u);
  file = load(got[0]);
  EXPECT_EQ(file.Sender, "Spoofed");
  EXPECT_EQ(file.RouteToLocalUser, "bob");
  EXPECT_EQ(file.SMSCRoute, "SMPP - centre");

  // A route no link serves is refused, not queued where nothing sends it.
  m.extra = "SMPPOption_SMSCRouteInfo=nowhere";
  EXPECT_EQ(submitClientMessage(admin, m, &id), status::kInvOptParamVal);
}

TEST_F(SubmissionTest, RefusalsBecomeCommandStatuses) {
  protocols::InboundMessage m = text("Hi");
  std::string id = "unchanged";
  m.recipient.clear();
  EXPECT_EQ(submitClientMessage(who(), m, &id), status::kInvDstAdr);
  m = text("Hi");
  m.udh = "0700";  // its length octet counts more than there is
  EXPECT_EQ(submitClientMessage(who(), m, &id), status::kInvEsmClass);
  EXPECT_EQ(id, "unchanged");
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(commandStatusFor(submit::ErrorKind::kOverQuota), status::kThrottled);
  EXPECT_EQ(commandStatusFor(submit::ErrorKind::kAccountingRefused), status::kThrottled);
}

TEST_F(SubmissionTest, PacingWaitsForTheAccountsIntervalAndNoRateMeansNoWait) {
  std::vector<platform::SteadyTime> waits;
  SubmitEnvironment env;
  env.wait_until = [&](platform::SteadyTime t) {
    waits.push_back(t);
    return true;
  };
  Submitter s = who();
  std::string id;
  s.throughput = parseThroughput("0/1");  // N = 0: no pacing at all
  for (int i = 0; i < 3; ++i) ASSERT_EQ(submitClientMessage(s, text("a"), &id, env), status::kOk);
  EXPECT_TRUE(waits.empty());

  s.throughput = parseThroughput("2");  // 500 ms apart
  for (int i = 0; i < 3; ++i) ASSERT_EQ(submitClientMessage(s, text("b"), &id, env), status::kOk);
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_GE(waits[1] - waits[0], 500ms);
  EXPECT_GE(waits[2] - waits[1], 500ms);

  env.wait_until = [](platform::SteadyTime) { return false; };  // stopping
  EXPECT_EQ(submitClientMessage(s, text("c"), &id, env), status::kThrottled);
}

}  // namespace
}  // namespace vek::smpp_server::testing

namespace vek::smpp_server::testing {
namespace {

using SettingsTest = ServerTest;

TEST_F(SettingsTest, AbsentBlankAndZeroValuesMeanWhatEachKeySays) {
  ServerSettings d = loadServerSettings();
  EXPECT_EQ(d.enquire_link_seconds, 120);
  EXPECT_EQ(d.max_connections_per_user, 4);
  EXPECT_EQ(d.window, 0);
  configure(
      "SMPPPort=2775\r\nSMPPPortSSL=x\r\nSMPPServerEnquireLink=0\r\n"
      "SMPPServerMaxConnectionsPerUser=0\r\nSMPPServerValidateUserInterval=\r\n"
      "SMPPServerAsyncWindowSize=5000\r\nSMPPServerBindTimeout=-3\r\n",
      "[SMPPServerAsyncWindowSize]\r\nAlice=7\r\nbob=-1\r\n"
      "[SMPPOptions]\r\nuser_message_reference=Yes\r\nempty=\r\n");
  ServerSettings s = loadServerSettings();
  EXPECT_EQ(s.port, 2775u);
  EXPECT_EQ(s.ssl_port, 0u);
  EXPECT_EQ(s.enquire_link_seconds, 0);      // 0 is "never close", not the default
  EXPECT_EQ(s.max_connections_per_user, 4);  // 0 would lock everyone out
  EXPECT_EQ(s.validate_interval_seconds, 60);
  EXPECT_EQ(s.window, kMaxWindow);
  EXPECT_EQ(s.bind_timeout_seconds, 120);
  EXPECT_EQ(windowFor(s, "alice"), 7);
  EXPECT_EQ(windowFor(s, "bob"), 0);
  EXPECT_EQ(windowFor(s, "carol"), kMaxWindow);
  EXPECT_TRUE(optionKept("USER_MESSAGE_REFERENCE"));
  EXPECT_FALSE(optionKept("empty"));
  EXPECT_FALSE(optionKept("other"));
}

}  // namespace
}  // namespace vek::smpp_server::testing
