// The gateway program from outside: one instance per data directory, the
// ways it stops, the configuration trigger, link threads and bad input.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "gateway_process.h"
#include "hostlib/ini_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

class GatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  }
  // A data directory whose gateway listens on a free port of its own, so
  // that gateways of parallel tests never compete for the default 8800.
  std::string data(const std::string& sub = "d") {
    std::string d = dir_.path() + sub;
    EXPECT_TRUE(platform::makeDirectories(d).ok());
    config(d, "");
    return d;
  }
  void config(const std::string& d, const std::string& text) {
    writeText(d + "/SMSGW.INI",
              hostlib::iniSetValue(text, "SMSGW", "WebPort", std::to_string(freePort())));
  }
  static uint16_t freePort() {
    auto l = platform::listenTcp("127.0.0.1", 0);
    return l.ok() ? platform::localPort(l->get()) : 0;
  }
  TempDir dir_;
};

TEST_F(GatewayTest, OneInstancePerDataDirectory) {
  std::string d = data();
  GatewayProcess first(d);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(first.waitStarted());
  EXPECT_TRUE(platform::isRegularFile(d + "/SMSGW.INI"));
  EXPECT_TRUE(platform::isRegularFile(d + "/MMSC.INI"));
  struct stat st;
  ASSERT_EQ(::stat((d + "/private/VEK_SMSGW_ShMem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto second = runGateway({"--data-dir", d});
  EXPECT_EQ(second.exit_code, 255);
  EXPECT_NE(second.output.find("Vek SMS/MMS Gateway v"), std::string::npos);
  EXPECT_NE(second.output.find(" is already active on this workstation."), std::string::npos);

  GatewayProcess beside(data("other"));
  ASSERT_TRUE(beside.start());
  EXPECT_TRUE(beside.waitStarted());

  first.signal(SIGKILL);
  int code;
  ASSERT_TRUE(first.waitExit(5s, &code));
  GatewayProcess again(d);
  ASSERT_TRUE(again.start());
  EXPECT_TRUE(again.waitStarted()) << again.output();
}

TEST_F(GatewayTest, StopsInOrderOnTermIntAndStopButNotOnHup) {
  for (int sig : {SIGTERM, SIGINT, 0}) {
    std::string d = data("s" + std::to_string(sig));
    GatewayProcess g(d);
    ASSERT_TRUE(g.start());
    ASSERT_TRUE(g.waitStarted());
    g.signal(SIGHUP);
    auto start = platform::monotonicNow();
    if (sig != 0) {
      g.signal(sig);
    } else {
      auto stop = runGateway({"--stop", "--data-dir", d});
      EXPECT_TRUE(stop.exitedWith(0)) << stop.output;
    }
    int code = -1;
    ASSERT_TRUE(g.waitExit(10s, &code));
    EXPECT_LT(platform::monotonicNow() - start, 3s) << "signal " << sig;
    EXPECT_EQ(code, 0);
    EXPECT_NE(g.output().find("Shutdown complete!"), std::string::npos);
    std::string events = readText(d + "/private/EVENTS.LOG");
    EXPECT_NE(events.find("Vek SMS/MMS Gateway v"), std::string::npos);
    EXPECT_NE(events.find("service stopped."), std::string::npos);
  }
  auto none = runGateway({"--stop", "--data-dir", data("nothing-running")});
  EXPECT_NE(none.exit_code, 0);
}

TEST_F(GatewayTest, RaisingTheTriggerRestartsLoweringDoesNot) {
  std::string d = data();
  config(d, "[SMSGW]\r\nDebug=Yes\r\nConfigurationUpdateTriggerRestart=5\r\n");
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  config(d, "[SMSGW]\r\nDebug=Yes\r\nConfigurationUpdateTriggerRestart=4\r\n");
  int code;
  EXPECT_FALSE(g.waitExit(2500ms, &code)) << "a lower value does nothing";
  config(d,
         "[SMSGW]\r\nDebug=Yes\r\nConfigurationUpdateTriggerRestart=10\r\n");  // 10 > 5 as numbers
  ASSERT_TRUE(g.waitExit(9s, &code));
  EXPECT_EQ(code, 0);
  EXPECT_NE(readText(d + "/logs/SMSDEBUG.LOG").find("Restarting for configuration update"),
            std::string::npos);
}

TEST_F(GatewayTest, LinkThreadsHoldOneLockFileEach) {
  std::string d = data();
  config(d,
         "[SMSGW]\r\nModem1=SMPP - One\r\nModem3=SMPP - Three\r\n"
         "[SMPP - One]\r\nTransmitterCount=2\r\nReceiverCount=x\r\n[SMPP - Three]\r\n");
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  std::string stats = d + "/private/STATS/";
  ASSERT_TRUE(waitUntil([&] { return platform::listDirectory(stats, "*.LCK").size() == 3; }, 5s));
  platform::ListOptions sorted;
  sorted.sorted = true;
  auto locks = platform::listDirectory(stats, "*.LCK", sorted);
  ASSERT_EQ(locks.size(), 3u);
  EXPECT_EQ(locks[0].name, "ROUTE-1-1.LCK");
  EXPECT_EQ(locks[1].name, "ROUTE-1-2.LCK");
  EXPECT_EQ(locks[2].name, "ROUTE-3-1.LCK");
  g.signal(SIGTERM);
  int code;
  ASSERT_TRUE(g.waitExit(10s, &code));
  EXPECT_TRUE(platform::listDirectory(stats, "*.LCK").empty()) << "removed by their threads";
}

TEST_F(GatewayTest, JunkConfigurationStartsWithDefaults) {
  std::string d = data();
  std::string junk = std::string("\0\x01\x02[SMSGW\n", 10) +
                     "no equals here\n[SMSGW]\nDebug=Yes\n[SMSGW]\nDebug=No\n" +
                     "Huge=" + std::string(100 * 1024, 'x') + "\n\xff\xfe=\x80\n";
  config(d, junk);
  writeText(d + "/MMSC.INI", std::string(5000, '\0'));
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted()) << g.output();
  EXPECT_TRUE(platform::isRegularFile(d + "/logs/SMSDEBUG.LOG")) << "the first section's Debug=Yes";
  g.signal(SIGTERM);
  int code;
  ASSERT_TRUE(g.waitExit(10s, &code));
  EXPECT_EQ(code, 0);
}

TEST_F(GatewayTest, UnusableDataDirectoryIsAClearError) {
  writeText(dir_.file("plainfile"), "x");
  auto r = runGateway({"--data-dir", dir_.file("plainfile")});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("data directory"), std::string::npos);
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  auto bad = runGateway({"--frobnicate"});
  EXPECT_EQ(bad.exit_code, 2);
  auto version = runGateway({"--version"});
  EXPECT_EQ(version.output, "Vek SMS/MMS Gateway v2026.12.08\n");
}

TEST_F(GatewayTest, AccountToolRefusesBadNamesAndCollisions) {
  std::string d = data();
  EXPECT_TRUE(
      runGateway({"--data-dir", d, "user", "add", "Alice", "--password", "pw", "--receive", "yes"})
          .exitedWith(0));
  EXPECT_FALSE(
      runGateway({"--data-dir", d, "user", "add", "alice", "--password", "x"}).exitedWith(0));
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a:b", "a\tb"})
    EXPECT_FALSE(runGateway({"--data-dir", d, "user", "add", bad}).exitedWith(0)) << bad;
  EXPECT_TRUE(runGateway({"--data-dir", d, "user", "set", "ALICE", "--daily", "7"}).exitedWith(0));
  auto list = runGateway({"--data-dir", d, "user", "list"});
  EXPECT_NE(list.output.find("Alice: "), std::string::npos);
  EXPECT_NE(list.output.find("daily=7"), std::string::npos);
  EXPECT_NE(list.output.find("receive=yes"), std::string::npos);
  // A started gateway mirrors the receive option in RECV.FLG.
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  EXPECT_TRUE(platform::isRegularFile(d + "/USERS/Alice/RECV.FLG"));
  EXPECT_TRUE(runGateway({"--data-dir", d, "user", "del", "alice"}).exitedWith(0));
}

}  // namespace
}  // namespace vek::testing
