// The SMPP server's rules without a connection: throughput settings, the
// login decision and re-validation, the back-off, the per-account
// connection count and pacing, the unbound limits, the flag file name and
// the verdicts on delivery answers.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "platform/files.h"
#include "protocols/smpp/status_codes.h"
#include "smpp_server/account_state.h"
#include "smpp_server/active_flag.h"
#include "smpp_server/delivery.h"
#include "smpp_server/login.h"
#include "smpp_server/unbound_limits.h"
#include "support/test_support.h"

namespace vek::smpp_server {
namespace {

using namespace std::chrono_literals;
namespace status = smpp::status;

TEST(ThroughputTest, SettingGivesIntervalAndConnectionCap) {
  struct Case {
    const char* text;
    long long interval_ms;
    int connections;
  } cases[] = {
      {"", 0, 0},        {"0", 0, 0},          {"0/5/3", 0, 3},  {"10", 100, 0},
      {"3/2", 666, 0},   {"5/1/2", 200, 2},    {"1/0", 1000, 0}, {"x/y/z", 0, 0},
      {"-5/1/-1", 0, 0}, {" 2 / 4 ", 2000, 0}, {"100000", 0, 0}, {"1/3600/1", 3600000, 1},
  };
  for (const Case& c : cases) {
    Throughput t = parseThroughput(c.text);
    EXPECT_EQ(t.min_interval.count(), c.interval_ms) << c.text;
    EXPECT_EQ(t.max_connections, c.connections) << c.text;
  }
}

TEST(LoginTest, AcceptsOnlyAnExistingEnabledSmppAccountWithItsPasswordFromAnAllowedAddress) {
  hostlib::Account base;
  base.name = "alice";
  base.password = "Secret";
  base.smpp_login = true;
  auto with = [&](auto change) {
    hostlib::Account a = base;
    change(a);
    return std::optional<hostlib::Account>(a);
  };
  struct Case {
    const char* what;
    std::optional<hostlib::Account> account;
    const char* password;
    const char* peer;
    LoginCheck expected;
  } cases[] = {
      {"fine", base, "Secret", "10.0.0.1", LoginCheck::kAccepted},
      {"password case", base, "sECRET", "10.0.0.1", LoginCheck::kAccepted},
      {"unknown", std::nullopt, "Secret", "10.0.0.1", LoginCheck::kUnknownAccount},
      {"disabled", with([](auto& a) { a.disabled = true; }), "Secret", "10.0.0.1",
       LoginCheck::kDisabled},
      {"no smpp", with([](auto& a) { a.smpp_login = false; }), "Secret", "10.0.0.1",
       LoginCheck::kNoSmppAccess},
      {"wrong password", base, "Secret2", "10.0.0.1", LoginCheck::kBadPassword},
      {"empty given", base, "", "10.0.0.1", LoginCheck::kBadPassword},
      {"empty both", with([](auto& a) { a.password.clear(); }), "", "10.0.0.1",
       LoginCheck::kBadPassword},
      {"address listed", with([](auto& a) { a.addresses = "192.168.1.5, 10.0.*.*"; }), "Secret",
       "10.0.7.1", LoginCheck::kAccepted},
      {"address not listed", with([](auto& a) { a.addresses = "192.168.1.5;10.1.*.*"; }), "Secret",
       "10.0.7.1", LoginCheck::kAddressRestricted},
      {"ipv6 against a list", with([](auto& a) { a.addresses = "10.*.*.*"; }), "Secret", "::1",
       LoginCheck::kAddressRestricted},
  };
  for (const Case& c : cases)
    EXPECT_EQ(checkLogin(c.account, c.password, c.peer), c.expected) << c.what;

  EXPECT_EQ(refusalStatus(LoginCheck::kUnknownAccount), status::kInvPaswd);
  EXPECT_EQ(refusalStatus(LoginCheck::kBadPassword), status::kInvPaswd);
  EXPECT_EQ(refusalStatus(LoginCheck::kNoSmppAccess), status::kBindFail);

  // The same checks end a connection later, each with its own text.
  EXPECT_EQ(revalidationFailure(base, "secret", "10.0.0.1"), nullptr);
  EXPECT_STREQ(revalidationFailure(std::nullopt, "secret", "10.0.0.1"),
               "Connection terminated - user account deleted");
  EXPECT_STREQ(
      revalidationFailure(with([](auto& a) { a.smpp_login = false; }), "secret", "1.1.1.1"),
      "Connection terminated - SMPP access is not enabled for account");
  EXPECT_STREQ(revalidationFailure(with([](auto& a) { a.password = "new"; }), "secret", "1.1.1.1"),
               "Connection terminated - account password is no longer valid");
  EXPECT_STREQ(
      revalidationFailure(with([](auto& a) { a.addresses = "2.2.2.2"; }), "secret", "1.1.1.1"),
      "Connection terminated - IP address restrictions have changed");
}

TEST(LoginTest, BackoffGrowsByASecondPerRejectionUpToItsCapAndResets) {
  RejectionBackoff b;
  EXPECT_EQ(b.next(), 6s);
  EXPECT_EQ(b.next(), 7s);
  EXPECT_EQ(b.next(), 8s);  // the third wrong password in a row
  for (int i = 0; i < 200; ++i) b.next();
  EXPECT_EQ(b.next(), 105s);
  b.reset();
  EXPECT_EQ(b.next(), 6s);
}

TEST(AccountStateTest, ConnectionCapAdmitsExactlyTheMaximumUnderContention) {
  AccountRegistry registry;
  constexpr int kThreads = 16;
  std::barrier start(kThreads);
  std::atomic<int> admitted{0};
  std::vector<std::optional<ConnectionSlot>> slots(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      // The account name's case does not make a second record.
      slots[i] = registry.admit(i % 2 ? "Alice" : "alice", 4);
      if (slots[i]) ++admitted;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(admitted.load(), 4);
  EXPECT_EQ(registry.record("ALICE")->connections(), 4);
  EXPECT_FALSE(registry.admit("alice", 4));  // the fifth at 4
  for (auto& s : slots)
    if (s) {
      s.reset();
      break;
    }
  EXPECT_TRUE(registry.admit("alice", 4));  // the place that was given back (released again here)
  slots.clear();
  EXPECT_EQ(registry.record("alice")->connections(), 0);
}

TEST(AccountStateTest, PacingSharesTheIntervalBetweenConnections) {
  AccountRecord r;
  const platform::SteadyTime t0{};
  EXPECT_EQ(r.reserveSlot(t0, 0ms), t0);  // no pacing: at once, nothing reserved
  EXPECT_EQ(r.reserveSlot(t0, 100ms), t0);
  EXPECT_EQ(r.reserveSlot(t0, 100ms), t0 + 100ms);  // a second connection, same moment
  EXPECT_EQ(r.reserveSlot(t0 + 50ms, 100ms), t0 + 200ms);
  EXPECT_EQ(r.reserveSlot(t0 + 1s, 100ms), t0 + 1s);  // idle long enough: at once
}

TEST(UnboundLimitsTest, CapsPerAddressAndInTotalAndForgetsIdleAddresses) {
  UnboundLimits limits;
  std::vector<UnboundTicket> held;
  for (int i = 0; i < 3; ++i) held.push_back(limits.admit("10.0.0.1", 3, 5));
  EXPECT_TRUE(held.back().held());
  EXPECT_FALSE(limits.admit("10.0.0.1", 3, 5).held());  // the address is full
  held.push_back(limits.admit("10.0.0.2", 3, 5));
  held.push_back(limits.admit("10.0.0.3", 3, 5));
  EXPECT_EQ(limits.total(), 5);
  held[1].release();
  held[1].release();  // twice is once
  EXPECT_EQ(limits.of("10.0.0.1"), 2);
  held[1] = limits.admit("10.0.0.4", 3, 5);  // released again at once
  EXPECT_TRUE(held[1].held());
  held.clear();
  EXPECT_EQ(limits.total(), 0);
  EXPECT_EQ(limits.of("10.0.0.2"), 0);
}

// All places taken: a newcomer from an address holding fewer than the
// busiest one takes the place of that address's oldest connection; one
// holding as many is refused, and only so many may be leaving at once.
TEST(UnboundLimitsTest, ANewcomerTakesThePlaceOfTheBusiestAddressesOldest) {
  UnboundLimits limits;
  std::vector<UnboundTicket> busy, other;
  for (int i = 0; i < 8; ++i) busy.push_back(limits.admit("10.0.0.1", 8, 16));
  for (int i = 0; i < 8; ++i) other.push_back(limits.admit("10.0.1." + std::to_string(i), 8, 16));
  EXPECT_EQ(limits.total(), 16);

  UnboundTicket first = limits.admit("10.0.0.9", 8, 16);
  ASSERT_TRUE(first.held());
  EXPECT_TRUE(busy[0].evicted());  // the oldest of the busiest
  EXPECT_FALSE(busy[1].evicted());
  EXPECT_EQ(limits.of("10.0.0.1"), 7);
  UnboundTicket second = limits.admit("10.0.0.8", 8, 16);
  ASSERT_TRUE(second.held());
  EXPECT_TRUE(busy[1].evicted());
  EXPECT_EQ(limits.total(), 18);  // two leaving: 16 / 8
  EXPECT_FALSE(limits.admit("10.0.0.7", 8, 16).held());
  busy[0].release();
  busy[1].release();
  EXPECT_EQ(limits.total(), 16);
  // An address holding as many as the busiest is refused.
  std::vector<UnboundTicket> fair;
  for (int i = 0; i < 5; ++i) {
    fair.push_back(limits.admit("10.0.0.9", 8, 16));
    for (auto& t : busy)
      if (t.evicted()) t.release();  // their sessions end
  }
  EXPECT_EQ(limits.of("10.0.0.9"), 4);  // no other address holds more
  EXPECT_EQ(limits.of("10.0.0.1"), 3);
  EXPECT_FALSE(fair.back().held());
  EXPECT_EQ(limits.total(), 16);
  busy.clear();
  other.clear();
  fair.clear();
  first.release();
  second.release();
  EXPECT_EQ(limits.total(), 0);
}

TEST(ActiveFlagTest, NameUsesTheStoredAccountAndNeverLeavesItsDirectory) {
  EXPECT_EQ(activeFlagName("10.1.2.3", 40000, 2, "Alice"), "10.1.2.3-40000-S-Alice.FLG");
  EXPECT_EQ(activeFlagName("::1", 5, 9, "bob"), "--1-5-T-bob.FLG");
  EXPECT_EQ(activeFlagName("10.1.2.3", 1, 1, "../../etc/x"), "10.1.2.3-1-R-..-..-etc-x.FLG");

  vek::testing::TempDir dir;
  const std::string flags = dir.path() + "SMPPData/ActiveUsers/";
  {
    ActiveFlag flag;
    ASSERT_TRUE(flag.create(flags, "10.1.2.3", 1, 1, "../x").ok());
    EXPECT_EQ(flag.path(), flags + "10.1.2.3-1-R-..-x.FLG");
    EXPECT_TRUE(platform::isRegularFile(flag.path()));
  }
  EXPECT_TRUE(platform::listDirectory(flags).empty());  // gone with the connection
}

TEST(DeliveryRulesTest, AnswersDecideTheQueuedFile) {
  struct Case {
    uint32_t result;
    Verdict verdict;
  } cases[] = {
      {status::kOk, Verdict::kDelivered},
      {status::kSysErr, Verdict::kRetry},
      {status::kRxTAppn, Verdict::kRetry},
      {status::kMsgQFul, Verdict::kRetryLater},
      {status::kThrottled, Verdict::kRetryLater},
      {status::kTimeout, Verdict::kRetryLater},
      {status::kConnectionLost, Verdict::kRetryLater},
      {status::kBadResponse, Verdict::kRetryLater},
      {status::kInvDstAdr, Verdict::kFailed},
      {status::kRxPAppn, Verdict::kFailed},
      {status::kDeliveryFailure, Verdict::kFailed},
  };
  for (const Case& c : cases) EXPECT_EQ(verdictFor(c.result), c.verdict) << std::hex << c.result;

  queue::SMSMessage m;
  EXPECT_EQ(deliveryParams(m), "");
  m.SMPPOptions = "SMPPOption_user_message_reference=7";
  m.ServiceType = "WAP";
  m.ModemName = "SMPP - centre";
  m.ReceiptMessageId = "00000A1B";
  EXPECT_EQ(deliveryParams(m),
            "SMPPOption_user_message_reference=7; ServiceType=WAP; SMSCRouteInfo=SMPP - centre");
  m.MessageFlags = queue::kFlagIsReceipt;
  EXPECT_EQ(deliveryParams(m),
            "SMPPOption_user_message_reference=7; ServiceType=WAP; SMSCRouteInfo=SMPP - centre; "
            "ReceiptMessageId=00000A1B");
  // A receipt keeps the centre's receipted_message_id among its options:
  // the client gets the gateway's id instead.
  m.SMPPOptions = "SMPPOption_receipted_message_id=17;SMPPOption_message_state=2";
  EXPECT_EQ(deliveryParams(m),
            "SMPPOption_message_state=2; ServiceType=WAP; SMSCRouteInfo=SMPP - centre; "
            "ReceiptMessageId=00000A1B");
  m.MessageFlags = 0;  // not a receipt: the options pass as they are
  EXPECT_EQ(deliveryParams(m).rfind("SMPPOption_receipted_message_id=17;", 0), 0u);
}

}  // namespace
}  // namespace vek::smpp_server
