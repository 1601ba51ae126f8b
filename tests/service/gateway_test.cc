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
#include "platform/strings.h"
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

TEST_F(GatewayTest, StartUpLoadsTheRouteListsAndPurgesOldErrorCopies) {
  std::string d = data();
  config(d,
         "[SMSGW]\r\nDebug=Yes\r\nModem1=SMPP - One\r\n"
         "[SMPP - One]\r\nRoute1=44*\r\nSenderAddress=Shop\r\n");
  std::string q = d + "/Q/RT_-_uk_-_/";
  ASSERT_TRUE(platform::makeDirectories(q).ok());
  auto now = std::chrono::system_clock::now();
  writeText(q + "old.ERR", "x");
  writeText(q + "young.ERR", "x");
  ASSERT_TRUE(platform::setModifiedTime(q + "old.ERR", now - std::chrono::hours(24 * 4)).ok());
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted()) << g.output();
  EXPECT_TRUE(waitUntil([&] { return !platform::pathExists(q + "old.ERR"); }, 10s));
  EXPECT_TRUE(platform::pathExists(q + "young.ERR"));
  g.signal(SIGTERM);
  int code;
  ASSERT_TRUE(g.waitExit(10s, &code));
  std::string log = readText(d + "/logs/SMSDEBUG.LOG");
  EXPECT_NE(log.find("preferred routing = 44*,SMPP - One"), std::string::npos);
  EXPECT_NE(log.find("preferred sender = Shop,SMPP - One"), std::string::npos);
  EXPECT_NE(log.find("DeleteFilesOlderThan"), std::string::npos);
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

// The web port the fixture gave the gateway of `d`.
uint16_t webPort(const std::string& d) {
  auto ini = hostlib::IniFile::parse(readText(d + "/SMSGW.INI"));
  auto v = ini.get("SMSGW", "WebPort");
  return v ? static_cast<uint16_t>(std::stoi(std::string(*v))) : 0;
}

// Octal permission bits of `path` (-1 when missing).
int modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

// A first start in a terminal: the banner says where everything is, the
// stop says why; --quiet keeps both off.
TEST_F(GatewayTest, ForegroundBannerAndStopLineUnlessQuiet) {
  std::string d = data();
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  ASSERT_TRUE(waitUntil([&] { return g.output().find("  stop ") != std::string::npos; }, 10s))
      << g.output();
  std::string banner = g.output();
  std::string port = std::to_string(webPort(d));
  for (const std::string& expected : std::vector<std::string>{
           "Vek SMS/MMS Gateway v", "running", "data directory  " + d + "/", "web " + port,
           d + "/logs/", "EVENTS.LOG", "Ctrl-C", "veksms --stop --data-dir " + d + "/"})
    EXPECT_NE(banner.find(expected), std::string::npos) << expected << "\n" << banner;
  g.signal(SIGTERM);
  int code;
  ASSERT_TRUE(g.waitExit(10s, &code));
  EXPECT_NE(g.output().find("stopping (a stop signal)\n"), std::string::npos) << g.output();

  GatewayProcess quiet(data("quiet"));
  ASSERT_TRUE(quiet.start({"--quiet"}));
  ASSERT_TRUE(quiet.waitStarted());
  quiet.signal(SIGTERM);
  ASSERT_TRUE(quiet.waitExit(10s, &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(quiet.output(), "Shutdown complete!\n");
}

// Files of the gateway hold message texts, recipients and passwords: none
// of them is open to others. The web port takes IPv4 and IPv6 clients.
// Left-overs of interrupted publishes go at start-up, unless young.
TEST_F(GatewayTest, FilesClosedToOthersDualStackAndStaleTemporariesGone) {
  const std::string d = dir_.path() + "fresh";
  ASSERT_TRUE(runGateway({"--data-dir", d, "user", "list"}).exitedWith(0));
  EXPECT_EQ(modeOf(d), 0750) << "the data directory as created";
  config(d, "[SMSGW]\r\nDebug=Yes\r\n");
  ASSERT_TRUE(platform::makeDirectories(d + "/Q").ok());
  writeText(d + "/Q/.~tmp-otherhost-7-0123456789abcdef-1", "half");
  writeText(d + "/Q/.00000009.req.part", "half");
  writeText(d + "/Q/.~tmp-otherhost-7-0123456789abcdef-2", "being written");
  const auto hour_ago = platform::clock().now() - std::chrono::hours(1);
  ASSERT_TRUE(
      platform::setModifiedTime(d + "/Q/.~tmp-otherhost-7-0123456789abcdef-1", hour_ago).ok());
  ASSERT_TRUE(platform::setModifiedTime(d + "/Q/.00000009.req.part", hour_ago).ok());

  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted()) << g.output();
  EXPECT_FALSE(platform::pathExists(d + "/Q/.~tmp-otherhost-7-0123456789abcdef-1"));
  EXPECT_FALSE(platform::pathExists(d + "/Q/.00000009.req.part"));
  EXPECT_TRUE(platform::pathExists(d + "/Q/.~tmp-otherhost-7-0123456789abcdef-2"));

  std::string status = readText("/proc/" + std::to_string(g.pid()) + "/status");
  EXPECT_NE(status.find("Umask:\t0027"), std::string::npos) << status.substr(0, 200);
  uint16_t port = webPort(d);
  std::string v4 = httpGet("127.0.0.1", port, "/?PhoneNumber=%2B4411&Text=over+four");
  EXPECT_NE(v4.find("MessageID="), std::string::npos) << v4;
  std::string v6 = httpGet("::1", port, "/?PhoneNumber=%2B4466&Text=over+six");
  if (!platform::connectTcp("::1", port, 2000).ok()) {
    ADD_FAILURE() << "no IPv6 client reached the any-address listener";
  } else {
    EXPECT_NE(v6.find("MessageID="), std::string::npos) << v6;
  }
  for (const std::string& f :
       {d + "/MMSC.INI", d + "/logs", d + "/logs/SMSDEBUG.LOG", d + "/private",
        d + "/private/EVENTS.LOG", d + "/private/STATS", d + "/Q"}) {
    // Some appear only when their thread first runs.
    ASSERT_TRUE(waitUntil([&] { return modeOf(f) != -1; }, 10s)) << f;
    EXPECT_EQ(modeOf(f) & 027, 0) << f << " " << std::oct << modeOf(f);
  }
  auto queued = platform::listDirectory(d + "/Q/", "*.REQ");
  EXPECT_FALSE(queued.empty());
  for (const auto& q : queued) EXPECT_EQ(modeOf(d + "/Q/" + q.name) & 027, 0) << q.name;

  // One event, one line: every line of the event log starts with its date.
  std::string events = readText(d + "/private/EVENTS.LOG");
  size_t started = events.find("service started.");
  ASSERT_NE(started, std::string::npos);
  EXPECT_EQ(events.substr(started, events.find('\n', started) - started),
            "service started.  Using web port " + std::to_string(port) + ".");
  for (const auto& line : platform::split(events, "\n")) {
    EXPECT_EQ(line.rfind("20", 0), 0u) << line;
  }
}

}  // namespace
}  // namespace vek::testing
