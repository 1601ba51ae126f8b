// The whole link thread against a small message centre that misbehaves:
// whatever the centre does, the link logs it, reconnects after its back-off
// and every message reaches the centre once it behaves again. Also the
// link-down and link-restored alerts, and the thread's argument and roles.
#include "links/sender_thread.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "foundation/thread_registry.h"
#include "hostlib/message_ids.h"
#include "link_env.h"
#include "platform/event_log.h"
#include "platform/strings.h"
#include "queue/link_status.h"
#include "tiny_smsc.h"

namespace vek::links {
namespace {

using namespace std::chrono_literals;
using testing::TinySmsc;

class SenderThreadTest : public LinkEnv {
 protected:
  void TearDown() override {
    stop();
    // The window's result helpers end on their own after the thread; none
    // may outlive the test.
    EXPECT_TRUE(foundation::waitForWorkers(std::chrono::seconds(15)));
    LinkEnv::TearDown();
  }
  std::string linkFor(const TinySmsc& c) { return "SMPP - 127.0.0.1:" + std::to_string(c.port()); }
  // The centre sees only the sending connection (ReceiverCount=0): the
  // receiver connection is checked from outside against the simulator.
  void configure(const std::string& link, int window) {
    vek::testing::writeText(dir_.file("SMSGW.INI"),
                            "[SMSGW]\r\nModem1=" + link +
                                "\r\nInitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=1\r\n"
                                "[" +
                                link + "]\r\nCommandTimeout=1\r\nReceiverCount=0\r\nWindowSize=" +
                                std::to_string(window) + "\r\n");
    hostlib::smsIni().invalidate();
    (void)queue::ReloadRouteTable();
  }
  void start() {
    thread_ = std::thread(
        [this] { ThreadProcessModem(dir_.file("ROUTE-1-1.LCK") + ",1,1", platform::UniqueFd()); });
  }
  void stop() {
    if (!thread_.joinable()) return;
    platform::requestShutdown();
    thread_.join();
    platform::resetShutdownForTesting();
  }
  size_t queuedCount() { return platform::listDirectory(root_, "*.req").size(); }

  std::thread thread_;
};

TEST_F(SenderThreadTest, AMisbehavingCentreLosesNoMessage) {
  struct Case {
    TinySmsc::Mode mode;
    int window;
  };
  const Case cases[] = {
      {TinySmsc::Mode::kGarbage, 0},        {TinySmsc::Mode::kLate, 3},
      {TinySmsc::Mode::kCloseMidAnswer, 3}, {TinySmsc::Mode::kGenericNack, 0},
      {TinySmsc::Mode::kUnknownCommand, 3}, {TinySmsc::Mode::kSilent, 0},
      {TinySmsc::Mode::kSilent, 3},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::format("mode %d window %d", static_cast<int>(c.mode), c.window));
    TinySmsc smsc(c.mode);
    std::string link = linkFor(smsc);
    configure(link, c.window);
    std::set<std::string> want;
    for (int i = 0; i < 3; ++i) {
      std::string r = platform::format("4470%02d%d", round, i);
      request(platform::format("R%02d%d.req", round, i), message("+" + r));
      want.insert(r);
    }
    ++round;
    start();
    ASSERT_TRUE(vek::testing::waitUntil([&] { return smsc.submitsSeen() > 0; }, 20s));
    smsc.setMode(TinySmsc::Mode::kGood);
    ASSERT_TRUE(vek::testing::waitUntil([&] { return queuedCount() == 0; }, 30s))
        << queuedCount() << " still queued";
    stop();
    // Each message reached the centre, and the id of an answer that came
    // through is in the store (an answer given too late may lead to a
    // second copy: that one's id is stored).
    auto got = smsc.accepted();
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), want);
    std::set<std::string> stored;
    for (size_t i = 0; i < got.size(); ++i)
      if (hostlib::SMSCMessageIdGet(link, "T" + std::to_string(i + 1))) stored.insert(got[i]);
    EXPECT_EQ(stored, want);
    EXPECT_TRUE(platform::listDirectory(root_, "*.ERR").empty());
  }
}

TEST_F(SenderThreadTest, ThreeFailedLoginsRaiseLinkDownAndTheNextLoginRestoresIt) {
  platform::openEventLog(dir_.file("EVENTS.LOG"));
  TinySmsc smsc(TinySmsc::Mode::kRefuseBind);
  std::string link = linkFor(smsc);
  configure(link, 0);
  start();
  auto events = [&] { return vek::testing::readText(dir_.file("EVENTS.LOG")); };
  const std::string down =
      "Error initializing SMSC Interface '" + link + "'.  Interface is not available.";
  ASSERT_TRUE(vek::testing::waitUntil([&] { return smsc.binds() >= 3; }, 20s));
  ASSERT_TRUE(
      vek::testing::waitUntil([&] { return events().find(down) != std::string::npos; }, 5s));
  EXPECT_EQ(smsc.binds(), 3);  // raised after the third failure, not before
  EXPECT_NE(queue::linkStatusText(link).find(
                "SMPP Failure -- Unable to login to SMPP server with specified parameters:  "),
            std::string::npos);
  smsc.setMode(TinySmsc::Mode::kGood);
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] {
        return events().find("SMSC Interface '" + link + "' successfully initiaized.") !=
               std::string::npos;
      },
      20s));
  EXPECT_FALSE(queue::linkIsDown(link));
  stop();
  platform::openEventLog("");
}

TEST_F(SenderThreadTest, ABackupLinkWorksOnlyWhileItsPrimaryIsDown) {
  TinySmsc smsc(TinySmsc::Mode::kGood);
  const std::string backup = linkFor(smsc), primary = "SMPP - primary.example:2775";
  vek::testing::writeText(dir_.file("SMSGW.INI"),
                          "[SMSGW]\r\nModem1=" + backup + "\r\nModem2=" + primary +
                              "\r\nInitRetryDelay=1\r\n[" + backup +
                              "]\r\nBackupForRoute=" + primary + "\r\nReceiverCount=0\r\n");
  hostlib::smsIni().invalidate();
  (void)queue::ReloadRouteTable();
  ASSERT_TRUE(queue::setLinkStatus(primary, "SMPP Failure -- Unable to connect").ok());
  request("B1.req", message("+447700900401"));
  start();
  ASSERT_TRUE(vek::testing::waitUntil([&] { return smsc.accepted().size() == 1; }, 20s));
  // The primary works again: the backup unbinds and leaves the queue alone.
  ASSERT_TRUE(queue::clearLinkStatus(primary).ok());
  ASSERT_TRUE(vek::testing::waitUntil([&] { return smsc.unbinds() == 1; }, 20s));
  request("B2.req", message("+447700900402"));
  EXPECT_EQ(smsc.binds(), 1);
  ASSERT_TRUE(queue::setLinkStatus(primary, "SMPP Failure -- Unable to connect").ok());
  ASSERT_TRUE(vek::testing::waitUntil([&] { return smsc.accepted().size() == 2; }, 20s));
  EXPECT_EQ(smsc.binds(), 2);
}

TEST(SenderThreadPlanTest, ArgumentsAndRoles) {
  ThreadArgument a;
  ASSERT_TRUE(parseThreadArgument("/s/ROUTE,1-2.LCK,12,3", &a));
  EXPECT_EQ(a.marker, "/s/ROUTE,1-2.LCK");
  EXPECT_EQ(a.link, 12u);
  EXPECT_EQ(a.instance, 3);
  for (const char* bad : {"", "x", "m,1", "m,x,1", "m,1,-2", ",1,1"})
    EXPECT_FALSE(parseThreadArgument(bad, &a)) << bad;

  struct Case {
    int transmitters, receivers;
    bool single;
    int instance;
    bool stop;
    LinkRole role;
    bool receiver;
  };
  const Case cases[] = {
      {1, 1, false, 1, false, LinkRole::kTransmitter, true},
      {1, 2, false, 2, false, LinkRole::kReceiveOnly, false},  // takes no request files
      {1, 2, false, 3, true, LinkRole::kTransmitter, false},
      {2, 1, false, 2, false, LinkRole::kTransmitter, false},
      {1, 1, true, 1, false, LinkRole::kTransceiver, false},
      {1, 1, false, 0, false, LinkRole::kTransmitter, true},
  };
  for (const Case& c : cases) {
    LinkKnobs k;
    k.transmitters = c.transmitters;
    k.receivers = c.receivers;
    k.single_connection = c.single;
    RolePlan p = planRole(k, c.instance);
    SCOPED_TRACE(platform::format("T%d R%d single %d instance %d", c.transmitters, c.receivers,
                                  c.single, c.instance));
    EXPECT_EQ(p.stop, c.stop);
    if (c.stop) continue;
    EXPECT_EQ(p.role, c.role);
    EXPECT_EQ(p.start_receiver, c.receiver);
  }
}

}  // namespace
}  // namespace vek::links
