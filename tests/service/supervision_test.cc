// Pieces of the service tested in-process: the trigger comparison, the
// command line and the link-thread gap rules.
#include <gtest/gtest.h>

#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "service/command_line.h"
#include "service/link_threads.h"
#include "service/service.h"
#include "support/test_support.h"

namespace vek::service {
namespace {

TEST(SupervisionTest, TriggerComparesNumbersAsNumbers) {
  struct {
    const char* stored;
    const char* next;
    bool raised;
  } cases[] = {
      {"1", "2", true},   {"2", "1", false},    {"9", "10", true}, {"10", "9", false},
      {"007", "8", true}, {"", "1", true},      {"1", "", false},  {"a", "B", true},
      {"b", "A", false},  {"v9", "v10", false}, {"2", "2", false}, {"x", "x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(triggerRaised(c.stored, c.next), c.raised) << c.stored << " -> " << c.next;
}

TEST(SupervisionTest, CommandLine) {
  auto cl = parseCommandLine({"--data-dir", "/d", "--stop"});
  EXPECT_EQ(cl.action, CommandLine::Action::kStop);
  EXPECT_EQ(cl.data_dir, "/d");
  cl = parseCommandLine({"user", "add", "bob", "--data-dir", "/x", "--password", "p"});
  EXPECT_EQ(cl.action, CommandLine::Action::kUser);
  EXPECT_EQ(cl.data_dir, "/x");
  EXPECT_EQ(cl.user_args, (std::vector<std::string>{"add", "bob", "--password", "p"}));
  EXPECT_EQ(parseCommandLine({"extra"}).action, CommandLine::Action::kError);
  EXPECT_EQ(parseCommandLine({"--data-dir"}).action, CommandLine::Action::kError);
  EXPECT_EQ(parseCommandLine({}).action, CommandLine::Action::kRun);
}

TEST(SupervisionTest, MinuteScanStopsAtTheFirstGapStartupDoesNot) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path()).ok());
  hostlib::SMSIniSetFilename(dir.file("SMSGW.INI"));
  // A local modem's settings live in its "Modem - " section; a section
  // named like the bare link is not its own.
  vek::testing::writeText(
      dir.file("SMSGW.INI"),
      "[SMSGW]\nModem1=L1\nModem3=L3\nModem5=L5\n[Modem - L3]\nReceiverCount= 3\n"
      "[L1]\nTransmitterCount=7\n[SMPP - S]\nTransmitterCount=2\n"
      "[Modem - COM3 \\x5BUSB\\x5D]\nTransmitterCount=4\n");
  hostlib::smsIni().invalidate();
  EXPECT_EQ(linkThreadCount("L3"), 3);
  EXPECT_EQ(linkThreadCount("L1"), 1);
  EXPECT_EQ(linkThreadCount("SMPP - S"), 2);
  EXPECT_EQ(linkThreadCount("COM3 [USB]"), 4);

  EXPECT_EQ(StartLinkThreads(false), 1) << "stops at the gap at 2";
  EXPECT_EQ(StartLinkThreads(true), 4) << "1 is running; 3 (three threads) and 5 start";
  // A modem link sends over one connection: its second and third threads
  // stop at once and free their locks, so they alone may start again.
  EXPECT_LE(StartLinkThreads(true), 2) << "a held lock is never started twice";
  platform::requestShutdown();
  EXPECT_TRUE(foundation::waitForWorkers(std::chrono::seconds(10)));
  platform::resetShutdownForTesting();
  EXPECT_TRUE(platform::listDirectory(dir.path() + "private/STATS/", "*.LCK").empty());
}

}  // namespace
}  // namespace vek::service
