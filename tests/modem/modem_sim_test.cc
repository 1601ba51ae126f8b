// The driver against the modem simulator (modem-sim.js): as an IP modem
// over TCP and as a serial port over a pseudo-terminal. Every wait of the
// dialogue runs at a twentieth of its real length.
#include <gtest/gtest.h>

#include "hostlib/host.h"
#include "modem_sim.h"
#include "support/test_support.h"

namespace vek::modem {
namespace {

using testing::fastOptions;
using testing::jsonString;
using testing::ModemSim;

class ModemSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }
  vek::testing::TempDir dir_;
};

TEST_F(ModemSimTest, InitialisesAndSendsOverTcp) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {});
  ASSERT_TRUE(sim.ready());
  Modem m(fastOptions(sim.linkName()));
  ASSERT_TRUE(m.open().ok());
  auto s = m.initialise();
  ASSERT_TRUE(s.ok()) << s.message();
  OutboundSms msg;
  msg.recipient = "+46701234567";
  msg.data = "Hello world";
  SendResult r = m.send(msg);
  EXPECT_TRUE(r.sent()) << r.error;
  m.close();
  auto lines = sim.logLines("submit");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(jsonString(lines[0], "text"), "Hello world");
}

}  // namespace
}  // namespace vek::modem
