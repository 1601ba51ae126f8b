#include "foundation/link_name.h"

#include "hostlib/host.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

TEST(LinkNameTest, SectionNameFollowsThePrefixAndBracketRule) {
  struct Case {
    const char* link;
    const char* section;
  } cases[] = {
      {"COM3 [USB]", "Modem - COM3 \\x5BUSB\\x5D"},
      {"COM1:", "Modem - COM1:"},
      {"SMPP - smsc.example:2775", "SMPP - smsc.example:2775"},
      {"smpp - smsc.example:2775", "smpp - smsc.example:2775"},
      {"UCP - 10.0.0.1:5000", "UCP - 10.0.0.1:5000"},
      {"CIMD - host:9971", "CIMD - host:9971"},
      {"HTTP - [::1]:80", "HTTP - \\x5B::1\\x5D:80"},
      {"IPModem - 192.0.2.7:23", "IPModem - 192.0.2.7:23"},
      {"SDKLink - App", "Modem - SDKLink - App"},  // not among the own-section kinds
      {"SMPP-nospace", "Modem - SMPP-nospace"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(linkSectionName(c.link), c.section) << c.link;
    std::string back = unescapeLinkSection(c.section);
    EXPECT_NE(back.find(c.link), std::string::npos) << c.section;
  }
}

TEST(LinkNameTest, LinksAndRouteNamesComeFromTheConfiguration) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("SMSGW.INI"),
                          "[SMSGW]\r\nModem1=COM3 [USB]\r\nModem3=SMPP - a:1\r\n"
                          "Modem200=COM9:\r\nModem202=UCP - b:2\r\nModem204=COM7:\r\n"
                          "[Modem - COM3 \\x5BUSB\\x5D]\r\nRouteName=UK\r\n"
                          "[SMPP - a:1]\r\nRouteName=\r\n");
  hostlib::SMSIniSetFilename(dir.file("SMSGW.INI"));

  std::vector<ConfiguredLink> links = configuredLinks();
  ASSERT_EQ(links.size(), 4u);
  EXPECT_EQ(links[0].number, 1u);
  EXPECT_EQ(links[0].name, "COM3 [USB]");
  EXPECT_EQ(links[1].number, 3u);
  EXPECT_EQ(links[2].number, 200u);
  EXPECT_EQ(links[3].number, 202u);  // 204 lies past the first gap after 201

  EXPECT_EQ(linkRouteName("COM3 [USB]"), "UK");
  EXPECT_EQ(linkRouteName("com3 [usb]"), "UK");
  EXPECT_EQ(linkRouteName("SMPP - a:1"), "SMPP - a:1");
  EXPECT_EQ(linkRouteName("COM9:"), "COM9:");
  hostlib::SMSIniSetFilename("");
}

}  // namespace
}  // namespace vek::foundation
