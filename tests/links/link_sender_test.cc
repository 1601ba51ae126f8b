// The link sender over a scripted link kind: what happens to request files
// for every kind of answer, unsound files, segments, the asynchronous
// window and the end of a connection.
#include "links/link_sender.h"

#include <gtest/gtest.h>

#include <set>

#include "hostlib/accounts.h"
#include "inbound/local_accounts.h"
#include "link_env.h"
#include "links/async_window.h"
#include "links/outcome.h"
#include "links/segment_lock.h"
#include "platform/strings.h"
#include "queue/request_file.h"

namespace vek::links {
namespace {

using namespace std::chrono_literals;

std::string errorText(uint32_t code) {
  return "Error " + std::to_string(code);
}

class SenderTest : public LinkEnv {
 protected:
  void SetUp() override {
    LinkEnv::SetUp();
    link_.k.command_timeout = 300ms;
    link_.k.throttle_delay = 0ms;
  }
  void TearDown() override {
    sender_.reset();
    window_.reset();
    LinkEnv::TearDown();
  }
  LinkSender& sender() {
    if (!sender_) {
      window_ = std::make_unique<AsyncWindow>(outcomes_, &errorText);
      LinkSender::Options o;
      o.queue_root = root_;
      o.link_number = 1;
      sender_ = std::make_unique<LinkSender>(link_, outcomes_, *locks_, *window_, state_, o);
    }
    return *sender_;
  }
  PassStats pass() {
    PassStats s;
    end_ = sender().runPass(&s);
    return s;
  }
  std::vector<std::string> recipients() const {
    std::vector<std::string> out;
    for (const auto& s : link_.sent) out.push_back(s.request.recipient);
    return out;
  }
  std::string storedLocalId(const std::string& smsc_id) {
    auto r = hostlib::SMSCMessageIdGet(kFakeLink, smsc_id);
    return r ? r->local_id : std::string();
  }

  FakeLink link_;
  std::shared_ptr<SegmentLocks> locks_ = std::make_shared<SegmentLocks>(kFakeLink);
  std::shared_ptr<Outcomes> outcomes_ =
      std::make_shared<Outcomes>(kFakeLink, foundation::LinkKind::kSmpp, locks_);
  std::unique_ptr<AsyncWindow> window_;
  SenderState state_;
  std::unique_ptr<LinkSender> sender_;
  ConnectionEnd end_ = ConnectionEnd::kNone;
};

TEST_F(SenderTest, EveryFileGoesOnceAndLeavesOnlyWithItsIdStored) {
  for (int window : {0, 3}) {
    SCOPED_TRACE(window);
    link_.sent.clear();
    link_.k.window = window;
    sender_.reset();
    std::set<std::string> want;
    for (int i = 0; i < 7; ++i) {
      std::string r = "+4470000" + std::to_string(window * 10 + i);
      request(platform::format("W%dM%d.req", window, i), message(r));
      want.insert(r);
    }
    for (int i = 0; i < 3 && link_.sent.size() < want.size(); ++i) pass();
    sender().finish(ConnectionEnd::kStop);
    auto got = recipients();
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), want);
    EXPECT_EQ(got.size(), want.size());
    for (const auto& s : link_.sent) {
      std::string local = storedLocalId(s.id);
      EXPECT_FALSE(local.empty()) << s.id;
      EXPECT_FALSE(queued(local + ".req")) << local;
    }
  }
}

TEST_F(SenderTest, FailuresAreRetriedOrFinalByTheirCodeAndCount) {
  struct Case {
    uint32_t code;
    int retries_before;
    bool final_failure;
  };
  const Case cases[] = {
      {0x45, 0, false},  // a temporary failure
      {0x45, 20, true},  // ... after RetryMaxAttempts
      {0x0A, 0, true},   // never sendable, at the first attempt
      {0x0B, 0, true},   {0x66, 0, true},
      {0x58, 40, false},  // throttling never reaches the maximum
      {0x14, 40, false},  // nor does a full queue
  };
  link_.answer = [&](const SubmitRequest& r) {
    return static_cast<uint32_t>(std::stoul(r.recipient.substr(3), nullptr, 16));
  };
  for (const Case& c : cases) {
    std::string name = platform::format("F%X-%d.req", c.code, c.retries_before);
    std::string detail = c.retries_before ? platform::format(
                                                "[ErrorDetail]\r\nRetryCount=%d\r\nLastRetryTime="
                                                "20000101000000\r\n",
                                                c.retries_before)
                                          : std::string();
    request(name, message(platform::format("+44%X", c.code), detail));
  }
  pass();
  for (const Case& c : cases) {
    std::string name = platform::format("F%X-%d", c.code, c.retries_before);
    SCOPED_TRACE(name);
    EXPECT_EQ(queued(name + ".req"), !c.final_failure);
    EXPECT_EQ(platform::isRegularFile(root_ + name + ".ERR"), c.final_failure);
    if (!c.final_failure) {
      std::string t = text(name + ".req");
      EXPECT_NE(t.find(platform::format("RetryCount=%d\r\n", c.retries_before + 1)),
                std::string::npos)
          << t;
      EXPECT_NE(t.find("LastErrorInfo=Error " + std::to_string(c.code) + " -- " + kFakeLink),
                std::string::npos);
    }
  }
}

TEST_F(SenderTest, ASecondFailureReplacesTheRetryRecord) {
  link_.answer = [](const SubmitRequest&) { return 0x45u; };
  request("again.req", message("+447700900001"));
  pass();
  pass();  // the first retry is due at once
  ASSERT_EQ(link_.sent.size(), 2u);
  queue::SMSMessage m;
  std::string t = text("again.req");
  queue::parseSMSMessage(t, &m);
  EXPECT_EQ(m.RetryCount, 2u);
  EXPECT_EQ(t.find("[ErrorDetail]"), t.rfind("[ErrorDetail]")) << t;
  pass();  // the second waits RetryDelay
  EXPECT_EQ(link_.sent.size(), 2u);
}

TEST_F(SenderTest, UnsoundFilesAreSetAsideAndTheLinkGoesOn) {
  const std::pair<const char*, std::string> bad[] = {
      {"empty", ""},
      {"junk", std::string("\x01\x02\x00\xFF\xFE junk\r\n", 12)},
      {"truncated", "[SMS]\r\nPhoneNumber=+447700900002\r\nData=hel"},
      {"longrecipient", message("+" + std::string(300, '4'))},
      {"nosection", "PhoneNumber=+447700900003\r\nData=x\r\n"},
      {"inbound", "[SMS-IN]\r\nPhoneNumber=+447700900004\r\nData=x\r\n"},
      {"norecipient", "[SMS]\r\nData=nobody\r\n"},
  };
  for (const auto& [name, content] : bad) request(std::string(name) + ".req", content);
  // An empty file is set aside only once it has stayed empty for a while
  // (one being copied in is empty for a moment).
  ASSERT_TRUE(platform::setModifiedTime(root_ + "empty.req",
                                        platform::clock().now() - std::chrono::minutes(1))
                  .ok());
  request("fresh.req", "");
  request("good.req", message("+447700900009"));
  pass();
  EXPECT_TRUE(queued("fresh.req"));
  ASSERT_EQ(link_.sent.size(), 1u);
  EXPECT_EQ(link_.sent[0].request.recipient, "+447700900009");
  for (const auto& [name, content] : bad) {
    EXPECT_FALSE(queued(std::string(name) + ".req")) << name;
    EXPECT_EQ(vek::testing::readText(root_ + name + ".BAD"), content) << name;
  }
}

TEST_F(SenderTest, SegmentsGoInOrderAndOnlyAfterTheirLowerSiblings) {
  std::vector<queue::QueueClaim> holds;
  for (int window : {0, 4}) {
    SCOPED_TRACE(window);
    link_.sent.clear();
    link_.k.window = window;
    sender_.reset();
    std::string key = platform::format("SAR-+44770090%d-1a", window);
    // Written highest first, so a directory listing does not hand them over in order.
    for (int n : {3, 2, 1})
      request(platform::format("%s-3-%d.req", key.c_str(), n),
              message(platform::format("+4477009%d%d", window, n), "UDH=050003010301\r\n"));
    // Segment 2 of another message whose segment 1 another thread holds.
    std::string held = platform::format("SAR-+44770091%d-2b-2-1.req", window);
    request(held, message("+441"));
    request(platform::format("SAR-+44770091%d-2b-2-2.req", window), message("+442"));
    auto claim = queue::QueueClaim::claim(root_, held);
    ASSERT_TRUE(claim.ok());
    holds.push_back(std::move(claim.value()));
    pass();
    sender().finish(ConnectionEnd::kStop);
    std::vector<std::string> want;
    for (int n : {1, 2, 3}) want.push_back(platform::format("+4477009%d%d", window, n));
    EXPECT_EQ(recipients(), want);
  }
}

TEST_F(SenderTest, WdpAdaptationSendsTheSegmentsOfABinaryMessageAsOne) {
  link_.k.wdp_merge = true;
  for (int n : {1, 2})
    request(platform::format("SAR-+4477-5-2-%d.req", n),
            message("+447700900300",
                    platform::format("Binary=Yes\r\nUDH=0B05041582000000030502%02d\r\n", n)) +
                "Data=" + (n == 1 ? "AABB" : "CCDD") + "\r\n");
  pass();
  ASSERT_EQ(link_.sent.size(), 1u);
  EXPECT_EQ(link_.sent[0].request.data, "AABBCCDD");
  EXPECT_EQ(link_.sent[0].request.udh, "06050415820000");  // the port element, no concatenation
  EXPECT_FALSE(queued("SAR-+4477-5-2-1.req"));
  EXPECT_FALSE(queued("SAR-+4477-5-2-2.req"));
}

TEST_F(SenderTest, TheWindowMatchesAnswersToTheirOwnFiles) {
  link_.k.window = 5;
  for (int i = 0; i < 12; ++i)
    request(platform::format("A%02d.req", i), message(platform::format("+4480%02d", i)));
  for (int i = 0; i < 3 && link_.sent.size() < 12; ++i) pass();
  sender().finish(ConnectionEnd::kStop);
  ASSERT_EQ(link_.sent.size(), 12u);
  // The fake answers in reverse order; each stored id must still lead to
  // the file whose recipient that submission carried.
  for (const auto& s : link_.sent) {
    auto rec = hostlib::SMSCMessageIdGet(kFakeLink, s.id);
    ASSERT_TRUE(rec) << s.id;
    EXPECT_EQ(rec->recipient, s.request.recipient);
    EXPECT_EQ(rec->local_id, s.request.request_file);
  }
}

TEST_F(SenderTest, StoppingWithAFullWindowLeavesTheUnansweredFilesAsTheyWere) {
  link_.k.window = 4;
  link_.hold = true;
  std::vector<std::string> texts;
  for (int i = 0; i < 4; ++i) {
    texts.push_back(message(platform::format("+4490%d", i)));
    request(platform::format("H%d.req", i), texts.back());
  }
  pass();
  ASSERT_EQ(link_.pending.size(), 4u);
  platform::requestShutdown();
  auto start = platform::monotonicNow();
  sender().finish(ConnectionEnd::kStop);
  EXPECT_LT(platform::monotonicNow() - start, 5s);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(text(platform::format("H%d.req", i)), texts[i]);
  // Let go: another claim succeeds.
  EXPECT_TRUE(queue::QueueClaim::claim(root_, "H0.req").ok());
}

TEST_F(SenderTest, ThrottlingIsRetriedWithoutCountingAgainstTheMessage) {
  for (int window : {0, 2}) {
    SCOPED_TRACE(window);
    link_.sent.clear();
    link_.k.window = window;
    sender_.reset();
    int calls = 0;
    // Throttled twice, then accepted.
    link_.answer = [&](const SubmitRequest&) { return ++calls <= 2 ? 0x58u : 0u; };
    std::string name = platform::format("T%d.req", window);
    request(name, message("+4470070" + std::to_string(window)));
    for (int i = 0; i < 6 && queued(name); ++i) {
      pass();
      sender().idle(PassStats{});
    }
    sender().finish(ConnectionEnd::kStop);
    EXPECT_FALSE(queued(name));
    EXPECT_EQ(link_.sent.size(), 3u);
  }
}

TEST_F(SenderTest, RoutesDecideWhatThisLinkTakes) {
  config(
      "Modem2=SMPP - other.example:2775\r\n[SMPP - other.example:2775]\r\nRouteName=FR\r\n"
      "[SMSGW]\r\n");
  request("fr.req", message("+33600000001", "SMSCRoute=FR\r\n"));
  request("nowhere.req", message("+44700000001", "SMSCRoute=NOWHERE\r\n"));
  request("mine.req", message("+44700000002"));
  request("local.req", message("+44700000003", "SMSCRoute=localuser:alice\r\n"));
  // The local recipient is handed to inbound processing, which puts it in
  // the account's queue: the account exists and receives.
  ASSERT_TRUE(hostlib::openAccountStore(dir_.file("USERS.DB")).ok());
  hostlib::Account alice;
  alice.name = "alice";
  alice.receive = true;
  ASSERT_TRUE(hostlib::accountStore()->add(alice).ok());
  ASSERT_TRUE(platform::makeDirectories(dir_.path() + "USERS/alice").ok());
  vek::testing::writeText(dir_.path() + "USERS/alice/RECV.FLG", "");
  inbound::forgetCachedAccounts();
  pass();
  EXPECT_EQ(recipients(), std::vector<std::string>{"+44700000002"});
  EXPECT_TRUE(queued("fr.req"));  // left for the link that serves FR
  EXPECT_FALSE(queued("nowhere.req"));
  EXPECT_TRUE(platform::isRegularFile(root_ + "nowhere.ERR"));
  EXPECT_FALSE(queued("local.req"));
  const std::string alice_q = dir_.path() + "USERS/alice/Q/";
  auto in = platform::listDirectory(alice_q, "*.req");
  ASSERT_EQ(in.size(), 1u);
  queue::SMSMessage m;
  ASSERT_TRUE(queue::LoadSMSMessageFile(alice_q + in[0].name, &m));
  EXPECT_EQ(m.PhoneNumber, "+44700000003");
  EXPECT_EQ(m.Data, "hello +44700000003");
}

TEST_F(SenderTest, AFailureForGoodWritesTheRejectionReceiptWhenOneWasAsked) {
  link_.answer = [](const SubmitRequest&) { return 0x0Bu; };
  request("R1.req", message("+447700900100", "Sender=12345\r\nReceiptRequested=Yes\r\n"));
  request("R2.req", message("+447700900101", "Sender=12345\r\n"));
  pass();
  auto rec = platform::listDirectory(foundation::inboundDirectory(), "*.rec");
  ASSERT_EQ(rec.size(), 1u);
  queue::SMSMessage m;
  ASSERT_TRUE(queue::LoadSMSMessageFile(foundation::inboundDirectory() + rec[0].name, &m));
  EXPECT_EQ(m.ReceiptMessageId, "R1");
  EXPECT_EQ(m.Sender, "+447700900100");
  EXPECT_EQ(m.PhoneNumber, "12345");
  EXPECT_NE(m.Data.find("stat:REJECTD err:00B text:hello +447700"), std::string::npos) << m.Data;
}

}  // namespace
}  // namespace vek::links
