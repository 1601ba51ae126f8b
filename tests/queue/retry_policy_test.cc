#include "queue/retry_policy.h"

#include <fcntl.h>
#include <unistd.h>

#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/files.h"
#include "queue/queue_claim.h"
#include "queue/routing_db.h"
#include "queue_env.h"

namespace vek::queue {
namespace {

using foundation::LinkKind;

constexpr const char* kSmpp = "SMPP - smsc.example:2775";

class RetryPolicyTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    clock_.set(platform::fromUnix(1'800'000'000));
    scoped_ = std::make_unique<platform::ScopedClock>(&clock_);
    ASSERT_TRUE(routingDatabase().create());
  }
  void TearDown() override {
    routingDatabase().destroy();
    scoped_.reset();
    QueueTestBase::TearDown();
  }
  std::string writeRequest(const std::string& name, const std::string& text) {
    std::string path = root_ + name;
    EXPECT_TRUE(platform::makeDirectories(platform::parentDirectory(path)).ok());
    vek::testing::writeText(path, text);
    return path;
  }
  RequestTime secondsAgo(int64_t s) {
    return requestTimeFromLocal(platform::toLocal(clock_.now() - std::chrono::seconds(s)));
  }

  platform::FakeClock clock_;
  std::unique_ptr<platform::ScopedClock> scoped_;
};

TEST_F(RetryPolicyTest, DelaysGrowByTheSettingsAndStayBounded) {
  struct Case {
    const char* name;
    RetrySettings s;
    std::vector<uint64_t> attempts;
    std::vector<int64_t> delays;
  };
  RetrySettings defaults;
  RetrySettings capped;
  capped.RetryDelayMax = 60;
  RetrySettings flat;
  flat.RetryDelayMultiplier = 0;
  flat.RetryDelay = 120;
  RetrySettings huge;
  huge.RetryDelay = INT32_MAX;
  huge.RetryDelayMultiplier = INT32_MAX;
  RetrySettings negative;
  negative.RetryDelay = -30;
  negative.RetryDelayMultiplier = -2;
  negative.RetryDelayAfterAttempts = -5;
  RetrySettings late;
  late.RetryDelayAfterAttempts = 4;
  Case cases[] = {
      {"defaults", defaults, {1, 2, 3, 4, 20}, {0, 30, 60, 90, 570}},
      {"cap of 60", capped, {1, 2, 3, 4, 50}, {0, 30, 60, 60, 60}},
      {"multiplier 0", flat, {1, 2, 3, 10}, {0, 120, 120, 120}},
      {"delays start late", late, {1, 3, 4, 5}, {0, 0, 30, 60}},
      {"huge values saturate",
       huge,
       {2, UINT32_MAX, UINT64_MAX},
       {kMaxRetryDelaySeconds, kMaxRetryDelaySeconds, kMaxRetryDelaySeconds}},
      {"negatives count as 0", negative, {1, 2, 100}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    for (size_t i = 0; i < c.attempts.size(); ++i)
      EXPECT_EQ(retryDelaySeconds(c.attempts[i], c.s), c.delays[i]) << c.name << " #" << i;
  }
}

TEST_F(RetryPolicyTest, RetryIsDueAfterTheDelayEvenWhenTheClockWentBack) {
  RetrySettings s;
  EXPECT_TRUE(RetryDue(0, secondsAgo(0), s));
  EXPECT_TRUE(RetryDue(5, RequestTime{}, s));
  EXPECT_TRUE(RetryDue(1, secondsAgo(0), s));  // first delay is 0
  EXPECT_FALSE(RetryDue(2, secondsAgo(29), s));
  EXPECT_TRUE(RetryDue(2, secondsAgo(30), s));
  // Written an hour "later" than now: the clock was set back, so the
  // record is not trusted and the message goes now.
  EXPECT_TRUE(RetryDue(2, secondsAgo(-3600), s));
  // A little ahead (within the delay): it waits at most the delay more.
  RequestTime ahead = secondsAgo(-10);
  EXPECT_FALSE(RetryDue(2, ahead, s));
  clock_.advance(std::chrono::seconds(39));
  EXPECT_FALSE(RetryDue(2, ahead, s));
  clock_.advance(std::chrono::seconds(1));
  EXPECT_TRUE(RetryDue(2, ahead, s));
  RetrySettings endless;
  endless.RetryDelay = INT32_MAX;
  endless.RetryDelayMultiplier = INT32_MAX;
  EXPECT_FALSE(RetryDue(UINT32_MAX, secondsAgo(kMaxRetryDelaySeconds - 1), endless));
  EXPECT_TRUE(RetryDue(UINT32_MAX, secondsAgo(kMaxRetryDelaySeconds), endless));
}

TEST_F(RetryPolicyTest, RejectCodeLists) {
  struct Case {
    const char* list;
    int32_t code;
    bool smpp, decimal;
  } cases[] = {
      {"0x000B; 45", 0x0B, true, false},
      {"0x000B; 45", 0x45, true, false},
      {"0x000B; 45", 45, false, true},
      {"0x000B; 45", 0x04, false, false},
      {"0x0, 1", 0, true, false},
      {"0b", 0x0B, true, false},
      {"All", 0x45, true, true},
      {"all", kErrorQueueFull, false, true},
      {"All", kErrorThrottled, false, true},
      {"All", -1, false, false},
      {"All", -3, false, false},
      {"020", 20, false, false},
      {" 20 ;", 20, false, true},
      {" 20 ;", 0x20, true, false},
      {"", 0x45, false, false},
      {",;, ;", 0, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(smppRejectCode(c.list, c.code), c.smpp) << c.list << " " << c.code;
    EXPECT_EQ(decimalRejectCode(c.list, c.code), c.decimal) << c.list << " " << c.code;
  }
}

TEST_F(RetryPolicyTest, DecisionAfterAFailedSubmission) {
  RetrySettings s;
  RetrySettings reject_all;
  reject_all.SMPPRejectErrorCodes = "All";
  reject_all.UCPRejectErrorCodes = "7";
  struct Case {
    const char* name;
    LinkKind kind;
    int32_t code;
    uint32_t retries;
    bool expired;
    const RetrySettings& s;
    FailureOutcome outcome;
  } cases[] = {
      {"first failures retried", LinkKind::kSmpp, 0x45, 0, false, s, FailureOutcome::kRetry},
      {"twentieth retried", LinkKind::kSmpp, 0x45, 19, false, s, FailureOutcome::kRetry},
      {"twenty-first final", LinkKind::kSmpp, 0x45, 20, false, s, FailureOutcome::kMaxAttempts},
      {"throttling never runs out", LinkKind::kSmpp, kErrorThrottled, 1000, false, s,
       FailureOutcome::kRetry},
      {"queue full never runs out", LinkKind::kSmpp, kErrorQueueFull, 1000, false, s,
       FailureOutcome::kRetry},
      {"throttled but too old", LinkKind::kSmpp, kErrorThrottled, 0, true, s,
       FailureOutcome::kExpired},
      {"never sendable", LinkKind::kSmpp, kErrorInvalidSource, 0, false, s,
       FailureOutcome::kUnsendable},
      {"all spares throttling", LinkKind::kSmpp, kErrorThrottled, 0, false, reject_all,
       FailureOutcome::kRetry},
      {"all spares queue full", LinkKind::kSmpp, kErrorQueueFull, 0, false, reject_all,
       FailureOutcome::kRetry},
      {"all rejects the rest", LinkKind::kSmpp, 0x45, 0, false, reject_all,
       FailureOutcome::kRejected},
      {"ucp listed code", LinkKind::kUcp, 7, 0, false, reject_all, FailureOutcome::kRejected},
      {"ucp 0x0B is just a failure", LinkKind::kUcp, kErrorInvalidSource, 0, false, s,
       FailureOutcome::kRetry},
      {"cimd too old", LinkKind::kCimd, 1, 0, true, s, FailureOutcome::kExpired},
      {"modem too old is retried", LinkKind::kModem, 1, 0, true, s, FailureOutcome::kRetry},
      {"modem message never sendable", LinkKind::kIpModem, kErrorModemUnsendable, 0, false, s,
       FailureOutcome::kUnsendable},
      {"modem CMS 10 is just a failure", LinkKind::kModem, 10, 0, false, s, FailureOutcome::kRetry},
      {"http at the maximum", LinkKind::kHttp, 1, 20, false, s, FailureOutcome::kMaxAttempts},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decideFailure(c.kind, c.code, c.retries, c.expired, c.s), c.outcome) << c.name;
}

TEST_F(RetryPolicyTest, OldMessageFailsAtItsFirstFailure) {
  std::string path = writeRequest("00000001.req", "[SMS]\r\nPhoneNumber=1\r\n");
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd.valid());
  auto born = platform::statFd(fd.get())->born;
  clock_.set(born + std::chrono::hours(23));
  RetrySettings s;
  EXPECT_FALSE(RetryExpired(fd.get(), s));
  clock_.set(born + std::chrono::hours(25));
  EXPECT_TRUE(RetryExpired(fd.get(), s));
  EXPECT_EQ(decideFailure(LinkKind::kSmpp, 0x45, 0, RetryExpired(fd.get(), s), s),
            FailureOutcome::kExpired);
  RetrySettings zero;
  zero.RetryMaxAge = 0;
  clock_.set(born);
  EXPECT_TRUE(RetryExpired(fd.get(), zero));
}

TEST_F(RetryPolicyTest, SettingsComeFromTheLinkThenTheGateway) {
  auto ini = hostlib::IniFile::parse(
      "[SMSGW]\r\nRetryDelay=10\r\nRetryMaxAttempts=5\r\nInitRetryDelay=7\r\n"
      "SMPPRejectErrorCodes=1\r\n[" +
      std::string(kSmpp) +
      "]\r\nRetryDelay=\r\nRetryMaxAttempts=abc\r\nSMPPRejectErrorCodes=2\r\n"
      "[Modem - 2Way]\r\nRetryDelay=99\r\n");
  RetrySettings link = loadRetrySettings(ini, kSmpp);
  EXPECT_EQ(link.RetryDelay, 10);       // empty in the link: the gateway's
  EXPECT_EQ(link.RetryMaxAttempts, 0);  // not a number: 0, final at once
  EXPECT_EQ(link.SMPPRejectErrorCodes, "2");
  EXPECT_TRUE(link.InitRetryDelaySet);
  EXPECT_EQ(decideFailure(LinkKind::kSmpp, 0x45, 0, false, link), FailureOutcome::kMaxAttempts);
  EXPECT_EQ(loadRetrySettings(ini, "2Way").RetryDelay, 99);
  RetrySettings gateway = loadRetrySettings(ini, "");
  EXPECT_EQ(gateway.RetryMaxAttempts, 5);
  EXPECT_EQ(gateway.RetryMaxAge, 1440);
}

TEST_F(RetryPolicyTest, ConnectionBackOff) {
  RetrySettings simple;
  RetrySettings uncapped;
  uncapped.InitRetryDelayMax = 0;
  RetrySettings rule;
  rule.InitRetryDelaySet = true;
  rule.InitRetryDelay = 10;
  rule.InitRetryDelayMultiplier = 2;
  rule.InitRetryDelayAfterAttempts = 3;
  rule.InitRetryDelayMax = 100;
  struct Case {
    const char* name;
    const RetrySettings& s;
    uint64_t failures;
    int64_t delay;
  } cases[] = {
      {"none yet", simple, 0, 0},
      {"4 failures", simple, 4, 80},
      {"15 failures", simple, 15, 300},
      {"40 failures", simple, 40, 300},
      {"cap 0 is no cap", uncapped, 40, 800},
      {"huge count", uncapped, UINT64_MAX, kMaxRetryDelaySeconds},
      {"rule before A", rule, 2, 0},
      {"rule first", rule, 3, 20},
      {"rule grows", rule, 4, 40},
      {"rule capped", rule, 9, 100},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(connectDelaySeconds(c.failures, c.s), c.delay) << c.name;
    EXPECT_EQ(NextConnectTime(c.failures, c.s), platform::unixNow() + c.delay) << c.name;
  }
}

TEST_F(RetryPolicyTest, RetryRecordReplacesTheEarlierOne) {
  std::string path = writeRequest("RT_-_uk_-_/00000002.req", "[SMS]\r\nPhoneNumber=+4477\r\n");
  for (uint32_t n = 0; n < 2; ++n) {
    auto claim = QueueClaim::claim(root_, "RT_-_uk_-_/00000002.req");
    ASSERT_TRUE(claim.ok());
    ASSERT_TRUE(recordRetry(claim.value(), n, n == 0 ? "" : "Timeout", kSmpp).ok());
  }
  std::string text = vek::testing::readText(path);
  EXPECT_EQ(text.find("[ErrorDetail]"), text.rfind("[ErrorDetail]")) << text;
  EXPECT_NE(text.find("RetryCount=2\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("LastErrorInfo=Timeout -- " + std::string(kSmpp) + "\r\n"), std::string::npos)
      << text;
  SMSMessage m;
  ASSERT_TRUE(LoadSMSMessageFile(path, &m, noRoute));
  EXPECT_EQ(m.RetryCount, 2u);
  EXPECT_EQ(m.LastRetryTime, requestTimeNow());
  EXPECT_EQ(retryDetail(UINT32_MAX, "x", "l").RetryCount, UINT32_MAX);
  EXPECT_EQ(finalFailureText("", "L"), "ERROR -- L");
  EXPECT_EQ(failureAlertText("+4477", "L", "E"), "SMS message could not be sent to +4477 (L), E");
  EXPECT_EQ(noRouteAlertText("+4477", kNoRouteError),
            "SMS message could not be sent to +4477, Error:  No SMSC defined to route message");
}

TEST_F(RetryPolicyTest, ErrorCopyKeepsTheWholeFileAndThePosition) {
  std::string body = "[SMS]\r\nPhoneNumber=+4477\r\nData=" + std::string(70000, 'x') + "\r\n";
  std::string path = writeRequest("dir.v2/00000003.req", body);
  platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd.valid());
  ASSERT_EQ(::lseek(fd.get(), 17, SEEK_SET), 17);
  vek::testing::writeText(root_ + "dir.v2/00000003.ERR", std::string(100000, 'o'));  // older copy
  ASSERT_TRUE(keepErrorCopy(fd.get(), path, false).ok());
  EXPECT_EQ(vek::testing::readText(root_ + "dir.v2/00000003.ERR"), body);
  EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 17);

  struct Case {
    const char* path;
    const char* copy;
  } paths[] = {
      {"Q/a.req", "Q/a.ERR"},
      {"Q/RT_-_a.b_-_/0001", "Q/RT_-_a.b_-_/0001.ERR"},
      {"Q/x.y.req", "Q/x.y.ERR"},
      {"noext", "noext.ERR"},
  };
  for (const Case& c : paths) EXPECT_EQ(errorCopyPath(c.path), c.copy) << c.path;
  EXPECT_FALSE(keepErrorCopy(fd.get(), root_ + "x.ERR", false).ok());  // never onto itself

  std::string off = writeRequest("00000004.req", "[SMS]\r\n");
  platform::UniqueFd fd2(::open(off.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(keepErrorCopy(fd2.get(), off, true).ok());
  EXPECT_FALSE(platform::pathExists(root_ + "00000004.ERR"));

  struct Days {
    const char* value;
    bool off;
    int32_t days;
  } days[] = {{"", false, 3},    {"0", true, 0},   {"00", true, 0}, {"7", false, 7},
              {"abc", false, 3}, {"-2", false, 3}, {" 0 ", true, 0}};
  for (const Days& d : days) {
    EXPECT_EQ(errorCopiesOff(d.value), d.off) << d.value;
    EXPECT_EQ(errorRetainDays(d.value), d.days) << d.value;
  }
}

TEST_F(RetryPolicyTest, HourlyRetentionRemovesOldCopiesAndStaleLocks) {
  auto now = platform::clock().now();
  struct File {
    const char* name;
    std::chrono::minutes age;
    bool removed;
  } files[] = {
      {"old.ERR", std::chrono::hours(24 * 3 + 1), true},
      {"young.err", std::chrono::hours(24 * 3 - 1), false},
      {"RT_-_uk_-_/deep.ERR", std::chrono::hours(24 * 4), true},
      {"DELAYQ/20270101/0905/x.ERR", std::chrono::hours(24 * 4), true},
      {"SAR-1-2-3.LCK", std::chrono::minutes(241), true},
      {"SAR-4-5-6.LCK", std::chrono::minutes(239), false},
      {"old.REQ", std::chrono::hours(24 * 30), false},
  };
  for (const File& f : files) {
    std::string path = writeRequest(f.name, "x");
    ASSERT_TRUE(platform::setModifiedTime(path, now - f.age).ok());
  }
  EXPECT_EQ(purgeQueueFiles(root_, 3, now), 4u);
  for (const File& f : files) EXPECT_EQ(!platform::pathExists(root_ + f.name), f.removed) << f.name;
  EXPECT_EQ(purgeQueueFiles(root_, 0, now), 1u);  // "0": every copy goes
  EXPECT_FALSE(platform::pathExists(root_ + "young.err"));
  EXPECT_EQ(purgeQueueFiles(root_ + "absent/", 3, now), 0u);
}

TEST_F(RetryPolicyTest, MinutesCheck) {
  EXPECT_TRUE(MinutesElapsed(0, secondsAgo(0)));
  EXPECT_TRUE(MinutesElapsed(10, RequestTime{}));
  EXPECT_FALSE(MinutesElapsed(10, secondsAgo(599)));
  EXPECT_TRUE(MinutesElapsed(10, secondsAgo(600)));
  EXPECT_FALSE(MinutesElapsed(INT64_MAX, secondsAgo(600)));
}

}  // namespace
}  // namespace vek::queue
