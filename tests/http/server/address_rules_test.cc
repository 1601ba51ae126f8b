#include "http/server/address_rules.h"

#include <gtest/gtest.h>

#include "hostlib/host.h"
#include "http/server/listeners.h"
#include "support/test_support.h"

namespace vek::http {
namespace {

TEST(AddressRulesTest, PatternsMatchComponentByComponent) {
  struct Case {
    const char* pattern;
    const char* address;
    bool match;
  } cases[] = {
      {"192.168.*.*", "192.168.5.7", true},
      {"192.168", "192.168.0.0", true},
      {"192.168", "192.168.5.7", false},
      {"  10.*.3.4 \r", "10.200.3.4", true},
      {"300.1.1.1", "44.1.1.1", false},
      {"1.2.3.4.5", "1.2.3.4", false},
      {"1.2.3.x", "1.2.3.4", false},
      {"1..3.4", "1.0.3.4", false},
      {"*", "8.8.8.8", false},  // "*" stands for *.0.0.0
      {"*", "8.0.0.0", true},
      {"127.0.0.*", "::1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(addressMatchesPattern(c.pattern, c.address), c.match)
        << c.pattern << " " << c.address;
}

class AddressListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }
  void TearDown() override {
    testing::writeText(dir_.file("SMSGW.INI"), "");
    LoadAllowedList();
    LoadBlockedList();
  }
  void configure(const std::string& ini) {
    testing::writeText(dir_.file("SMSGW.INI"), ini);
    hostlib::smsIni().invalidate();
  }
  testing::TempDir dir_;
};

TEST_F(AddressListTest, AdmissionAndReload) {
  configure("[IPRestrictions]\nBlocked1=127.0.0.*\nBlocked2=10.1.*.*\n");
  EXPECT_FALSE(LoadAllowedList());  // unchanged (empty)
  EXPECT_TRUE(LoadBlockedList());
  EXPECT_FALSE(LoadBlockedList());  // same entries: not rebuilt
  auto held = blockedAddresses();   // a reader's snapshot survives reloads

  EXPECT_TRUE(addressAdmitted("127.0.0.1"));  // always, even when blocked
  EXPECT_FALSE(addressAdmitted("127.0.0.2"));
  EXPECT_FALSE(addressAdmitted("10.1.2.3"));
  EXPECT_TRUE(addressAdmitted("10.2.2.3"));  // empty allow list admits the rest

  configure("[IPRestrictions]\nBlocked1=127.0.0.*\nAllowed1=192.168.*.*\nAllowed3=10.2.2.3\n");
  EXPECT_TRUE(LoadAllowedList());
  EXPECT_TRUE(LoadBlockedList());  // one entry fewer
  EXPECT_TRUE(addressAdmitted("192.168.1.1"));
  EXPECT_FALSE(addressAdmitted("10.2.2.3"));  // numbering stops at the first gap
  EXPECT_EQ(held->entries.size(), 2u);
}

TEST_F(AddressListTest, AdminListAndOwnAddresses) {
  configure("[SMSGW]\nAdminIPAddressList= 10.0.0.* ; 192.168.1.1,\n");
  EXPECT_TRUE(adminAddressAllowed("10.0.0.9"));
  EXPECT_TRUE(adminAddressAllowed("192.168.1.1"));
  EXPECT_FALSE(adminAddressAllowed("192.168.1.2"));
  configure("[SMSGW]\nAdminIPAddressList=\n");
  EXPECT_TRUE(adminAddressAllowed("1.2.3.4"));

  EXPECT_TRUE(isOwnAddress("127.0.0.1"));
  EXPECT_TRUE(isOwnAddress("127.3.4.5"));
  EXPECT_FALSE(isOwnAddress("192.0.2.77"));  // TEST-NET-1, never an interface here
}

}  // namespace
}  // namespace vek::http
