#include "foundation/link_settings.h"

#include <chrono>

#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

using hostlib::IniFile;

constexpr const char* kSmpp = "SMPP - smsc.example:2775";

IniFile ini(const std::string& text) {
  return IniFile::parse(text);
}

// "[SMSGW]\r\nModem1=<link>\r\n[<section>]\r\n<body>"
IniFile linkIni(std::string_view link, const std::string& body, const std::string& gateway = "") {
  return ini("[SMSGW]\r\nModem1=" + std::string(link) + "\r\n" + gateway + "[" +
             linkSectionName(link) + "]\r\n" + body);
}

TEST(LinkSettingsTest, KindFollowsTheNamePrefix) {
  struct Case {
    const char* name;
    LinkKind kind;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"SMPP - smsc.example:2775", LinkKind::kSmpp, "smsc.example", 2775},
      {"smpp - 10.0.0.1:99999", LinkKind::kSmpp, "10.0.0.1", 0},
      {"UCP - host:5000", LinkKind::kUcp, "host", 5000},
      {"CIMD - host", LinkKind::kCimd, "host", 0},
      {"HTTP - [::1]:8080", LinkKind::kHttp, "[::1]", 8080},
      {"SDKLink - App", LinkKind::kSdk, "", 0},
      {"IPModem - 192.0.2.7:23", LinkKind::kIpModem, "192.0.2.7", 23},
      {"COM3 [USB]", LinkKind::kModem, "", 0},
      {"SMPP-nospace:1", LinkKind::kModem, "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(linkKind(c.name), c.kind) << c.name;
    LinkAddress a = linkAddress(c.name);
    EXPECT_EQ(a.host, c.host) << c.name;
    EXPECT_EQ(a.port, c.port) << c.name;
  }
  EXPECT_EQ(linkNameOf(ini(""), 0), kVirtualLinkName);
  EXPECT_EQ(stripModemSectionPrefix("modem - COM1"), "COM1");
  EXPECT_EQ(stripModemSectionPrefix("SMPP - a:1"), "SMPP - a:1");
  EXPECT_EQ(parseLinkPorts("2000:2775").local, 2000);
  EXPECT_EQ(parseLinkPorts("2000:2775").remote, 2775);
  EXPECT_EQ(parseLinkPorts(":2775").local, 0);
  EXPECT_EQ(parseLinkPorts("x").local, 0);
}

TEST(LinkSettingsTest, SmppDefaultsAndTheirSpecialRules) {
  struct Case {
    const char* body;
    const char* gateway;
    int32_t keep_alive, transmitters, receivers, throttle_delay, command_timeout;
  } cases[] = {
      {"", "", 58, 1, 1, 5, 120},
      {"KeepAlive=\r\n", "", 58, 1, 1, 5, 120},
      {"KeepAlive=0\r\nCommandTimeout=0\r\n", "", 0, 1, 1, 5, 120},
      {"KeepAlive=30\r\nTransmitterCount=0\r\nReceiverCount=0\r\n", "", 30, 1, 1, 5, 120},
      {"TransmitterCount=abc\r\nReceiverCount=3\r\n", "", 58, 1, 3, 5, 120},
      {"TransmitterCount=0\r\nReceiverCount=2\r\n", "", 58, 0, 2, 5, 120},
      {"TransmitterCount=99999999\r\n", "", 58, kMaxLinkConnections, 1, 5, 120},
      {"", "SMPPThrottleErrorDelay=9\r\n", 58, 1, 1, 9, 120},
      {"SMPPThrottleErrorDelay=2\r\n", "SMPPThrottleErrorDelay=9\r\n", 58, 1, 1, 2, 120},
      {"KeepAlive=-5\r\nCommandTimeout=-1\r\n", "", 0, 1, 1, 5, 120},
  };
  for (const Case& c : cases) {
    SmppLinkSettings s = loadSmppSettings(linkIni(kSmpp, c.body, c.gateway), kSmpp);
    EXPECT_EQ(s.KeepAlive, c.keep_alive) << c.body;
    EXPECT_EQ(s.TransmitterCount, c.transmitters) << c.body;
    EXPECT_EQ(s.ReceiverCount, c.receivers) << c.body;
    EXPECT_EQ(s.SMPPThrottleErrorDelay, c.throttle_delay) << c.body << c.gateway;
    EXPECT_EQ(s.CommandTimeout, c.command_timeout) << c.body;
  }
  SmppLinkSettings s = loadSmppSettings(
      linkIni(kSmpp,
              "SMPPVersion=V3.3\r\nSenderAddress= 4470, 4471,Shop\r\nSenderAddressOverride=\r\n"
              "UserName=" +
                  std::string(400, 'u') + "\r\n"),
      kSmpp);
  EXPECT_EQ(s.InterfaceVersion, 0x33);
  EXPECT_EQ(s.SenderAddressList, "4470, 4471,Shop");
  EXPECT_EQ(s.SenderAddress, "4470");
  EXPECT_FALSE(s.SenderAddressOverride);  // present but empty: off
  EXPECT_EQ(s.UserName.size(), kCredentialBuffer - 1);
  EXPECT_EQ(loadSmppSettings(linkIni(kSmpp, ""), kSmpp).InterfaceVersion, 0x34);
  EXPECT_TRUE(loadSmppSettings(linkIni(kSmpp, ""), kSmpp).SenderAddressOverride);
}

TEST(LinkSettingsTest, ModemKeysAndHardResetRule) {
  const std::string modem = "COM3 [USB]";
  ModemLinkSettings d = loadModemSettings(linkIni(modem, ""), modem);
  EXPECT_TRUE(d.ModemHardResetAfterError);
  EXPECT_EQ(d.ReceivePoll, 2);
  EXPECT_TRUE(d.ModemSendResponseSimple);
  EXPECT_EQ(d.MMSModeSwitchTimeout, 15);

  ModemLinkSettings s = loadModemSettings(
      linkIni(modem,
              "PhoneNumber=+4470,+4471\r\nSMSC= +44 (7700) 900-000\r\nReceiveTo=direct\r\n"
              "RebootOnModemError=Yes\r\nReceiveSMS=\r\n",
              "ReceiveSMS=Yes\r\nMMSModeSwitchTimeout=30\r\n"),
      modem);
  EXPECT_EQ(s.PhoneNumber, "+4470");
  EXPECT_EQ(s.SMSC, "+447700900000");
  EXPECT_TRUE(s.DirectReceive);
  EXPECT_EQ(s.ReceiveTo, "");
  EXPECT_EQ(s.ReceivePoll, 3);
  EXPECT_TRUE(s.ResetUSBDevices);  // follows RebootOnModemError
  EXPECT_TRUE(s.ReceiveSMS);       // empty in the link: the gateway's value
  EXPECT_EQ(s.MMSModeSwitchTimeout, 30);
  EXPECT_EQ(loadModemSettings(linkIni(modem, "ReceivePoll=0\r\n"), modem).ReceivePoll, 1);
  EXPECT_TRUE(
      loadModemSettings(linkIni("Multitech CDMA", ""), "Multitech CDMA").ModemSendWorkaround);
  EXPECT_FALSE(
      loadModemSettings(linkIni("Multitech GSM", ""), "Multitech GSM").ModemSendWorkaround);

  // The gateway's value is the default; the link's own key overrides it,
  // at load and at reload alike.
  struct Case {
    const char* gateway;
    const char* link;
    bool expected;
  } cases[] = {
      {"", "", true},
      {"ModemHardResetAfterError=No\r\n", "", false},
      {"ModemHardResetAfterError=No\r\n", "ModemHardResetAfterError=Yes\r\n", true},
      {"ModemHardResetAfterError=Yes\r\n", "ModemHardResetAfterError=No\r\n", false},
      {"", "ModemHardResetAfterError=No\r\n", false},
  };
  for (const Case& c : cases) {
    IniFile f = linkIni(modem, c.link, c.gateway);
    EXPECT_EQ(loadModemSettings(f, modem).ModemHardResetAfterError, c.expected)
        << c.gateway << c.link;
    ModemLinkSettings reloaded;
    reloaded.ModemHardResetAfterError = !c.expected;
    EXPECT_FALSE(checkReload(f, 1, modem, &reloaded));
    EXPECT_EQ(reloaded.ModemHardResetAfterError, c.expected) << c.gateway << c.link;
  }
}

TEST(LinkSettingsTest, HttpAndUcpDefaults) {
  const std::string http = "HTTP - gw.example:80";
  HttpLinkSettings h = loadHttpSettings(
      linkIni(http, "TemplateText=\r\nCDMASizeLimit=0\r\nUseSSL=Yes\r\n"), http, false);
  EXPECT_EQ(h.TemplateText, kDefaultHttpTemplateText);
  EXPECT_EQ(h.TemplateBinary, kDefaultHttpTemplateBinary);
  EXPECT_EQ(h.CDMASizeLimit, 112);
  EXPECT_EQ(h.MessageIDResponsePrefix, "MessageID=");
  EXPECT_FALSE(h.UseSSL);  // no TLS library: never read
  EXPECT_TRUE(loadHttpSettings(linkIni(http, "UseSSL=Yes\r\n"), http, true).UseSSL);

  const std::string ucp = "UCP - host:5000";
  UcpLinkSettings u = loadUcpSettings(linkIni(ucp, "LocalPort=4000\r\n"), ucp);
  EXPECT_EQ(u.KeepAlive, 0);
  EXPECT_EQ(u.LocalPort, 4000);
  EXPECT_TRUE(u.SenderAddressOverride);
}

TEST(LinkSettingsTest, ReloadCheckReconnectsOnlyForMarkedKeys) {
  struct Case {
    const char* name;
    const char* link;
    const char* before;
    const char* after;
    bool reconnect;
  } cases[] = {
      {"user name changes", kSmpp, "UserName=a\r\n", "UserName=b\r\n", true},
      {"user name changes case only", kSmpp, "UserName=abc\r\n", "UserName=ABC\r\n", false},
      {"sender address changes", kSmpp, "SenderAddress=1\r\n", "SenderAddress=2\r\n", false},
      {"window 10 to 20", kSmpp, "WindowSize=10\r\n", "WindowSize=20\r\n", false},
      {"window 0 to 10", kSmpp, "WindowSize=0\r\n", "WindowSize=10\r\n", true},
      {"window 10 to 0", kSmpp, "WindowSize=10\r\n", "", true},
      {"keep-alive changes", kSmpp, "KeepAlive=10\r\n", "KeepAlive=20\r\n", false},
      {"receiver count changes", kSmpp, "", "ReceiverCount=2\r\n", true},
      {"version changes", kSmpp, "", "SMPPVersion=v3.3\r\n", true},
      {"sender port changes", kSmpp, "SenderPort=1\r\n", "SenderPort=2\r\n", true},
      {"ucp local port", "UCP - h:1", "LocalPort=1\r\n", "LocalPort=2\r\n", true},
      {"ucp route name", "UCP - h:1", "RouteName=a\r\n", "RouteName=b\r\n", false},
      {"cimd password", "CIMD - h:1", "Password=a\r\n", "Password=b\r\n", true},
      {"http proxy", "HTTP - h:1", "", "HTTPProxy=p:3128\r\n", true},
      {"http template", "HTTP - h:1", "", "TemplateText=/x\r\n", false},
      {"modem smsc", "COM1", "SMSC=+44\r\n", "SMSC=+45\r\n", true},
      {"modem pin", "COM1", "PIN=1\r\n", "PIN=2\r\n", false},
      {"modem direct receive", "COM1", "", "ReceiveTo=Direct\r\n", true},
  };
  for (const Case& c : cases) {
    IniFile before = linkIni(c.link, c.before), after = linkIni(c.link, c.after);
    bool reconnect = false;
    switch (linkKind(c.link)) {
      case LinkKind::kSmpp: {
        SmppLinkSettings s = loadSmppSettings(before, c.link);
        reconnect = checkReload(after, 1, c.link, &s);
        if (!reconnect) {
          EXPECT_EQ(s, loadSmppSettings(after, c.link)) << c.name;
        }
        break;
      }
      case LinkKind::kUcp:
      case LinkKind::kCimd: {
        UcpLinkSettings s = loadUcpSettings(before, c.link);
        reconnect = checkReload(after, 1, c.link, &s);
        if (!reconnect) {
          EXPECT_EQ(s, loadUcpSettings(after, c.link)) << c.name;
        }
        break;
      }
      case LinkKind::kHttp: {
        HttpLinkSettings s = loadHttpSettings(before, c.link, false);
        reconnect = checkReload(after, 1, c.link, &s, false);
        if (!reconnect) {
          EXPECT_EQ(s, loadHttpSettings(after, c.link, false)) << c.name;
        }
        break;
      }
      default: {
        ModemLinkSettings s = loadModemSettings(before, c.link);
        reconnect = checkReload(after, 1, c.link, &s);
        if (!reconnect) {
          EXPECT_EQ(s, loadModemSettings(after, c.link)) << c.name;
        }
        break;
      }
    }
    EXPECT_EQ(reconnect, c.reconnect) << c.name;
  }
}

TEST(LinkSettingsTest, RenamedLinkAsksForARestartOfTheLinks) {
  vek::testing::TempDir dir;
  DebugLogConfig log;
  log.enabled = true;
  log.directory = dir.path();
  log.echo_to_stderr = false;
  configureDebugLog(log);
  (void)takeLinkRestartRequest();

  SmppLinkSettings s = loadSmppSettings(linkIni(kSmpp, ""), kSmpp);
  IniFile renamed = ini("[SMSGW]\r\nModem1=SMPP - other:1\r\n");
  EXPECT_TRUE(checkReload(renamed, 1, kSmpp, &s));
  EXPECT_TRUE(takeLinkRestartRequest());
  // Link 0 has no `Modem%u` key to compare.
  EXPECT_FALSE(checkReload(renamed, 0, kSmpp, &s));
  EXPECT_FALSE(takeLinkRestartRequest());
  configureDebugLog(DebugLogConfig{});
  std::string text = vek::testing::readText(dir.file("SMSDEBUG.LOG"));
  EXPECT_NE(text.find("CheckReloadSmppSet:  Connection settings have changed for " +
                      std::string(kSmpp) + ", init required for SMPP - other:1."),
            std::string::npos)
      << text;
}

// The running gateway's view: SMSGW.INI changes on disk and the sender's
// next pass sees it.
TEST(LinkSettingsTest, EditedFileIsSeenByTheNextReloadCheck) {
  vek::testing::TempDir dir;
  const std::string path = dir.file("SMSGW.INI");
  vek::testing::writeText(path, "[SMSGW]\r\nModem1=" + std::string(kSmpp) + "\r\n[" +
                                    std::string(kSmpp) + "]\r\nUserName=a\r\nSenderAddress=1\r\n");
  hostlib::SMSIniSetFilename(path);
  SmppLinkSettings s = loadSmppSettings(kSmpp);
  ASSERT_EQ(s.UserName, "a");

  ASSERT_TRUE(hostlib::SMSIniWriteProfileString(kSmpp, "SenderAddress", "2").ok());
  EXPECT_FALSE(checkReload(1, kSmpp, &s));
  EXPECT_EQ(s.SenderAddress, "2");

  ASSERT_TRUE(hostlib::SMSIniWriteProfileString(kSmpp, "UserName", "b").ok());
  EXPECT_TRUE(checkReload(1, kSmpp, &s));
  hostlib::SMSIniSetFilename("");
}

TEST(LinkSettingsTest, PrefixRewriting) {
  struct Case {
    const char* list;
    const char* number;
    const char* expected;
  } cases[] = {
      {"+44:0,00:+", "+447700900123", "07700900123"},
      {"+44:0,00:+", "0049301234", "+49301234"},
      {"+44:0, 00:+", "0049301234", "+49301234"},  // blanks after a comma
      {"+44:0,00:+", "4930", "4930"},
      {"+44:", "+447700", "7700"},  // empty to-prefix removes
      {"abc:X", "ABCdef", "Xdef"},  // ignoring case
      {"", "+447700", "+447700"},
      {"+44:0", "", ""},
      {"junk,,+44,:,", "+4477", "+4477"},  // ':' alone matches, changes nothing
      {"nocolon,+44:0", "+4477", "077"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rewritePrefix(c.number, c.list), c.expected) << c.list << " " << c.number;
  std::string long_list = std::string(kPrefixListLimit - 2, 'x') + ",+44:0";
  EXPECT_EQ(rewritePrefix("+4477", long_list), "+4477");  // the pair lies past 1000 characters
}

TEST(LinkSettingsTest, HostileSectionsLoadWithinBounds) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 131) & 0xFF);
  std::string big(100 * 1024, '7');
  std::string text = "[SMSGW]\r\n";
  for (int n = 1; n <= 10000; ++n)
    text += "Modem" + std::to_string(n) + "=COM" + std::to_string(n) + "\r\n";
  text += "[" + std::string(kSmpp) + "]\r\n" + junk + "\r\nUserName=" + big +
          "\r\nKeepAlive=" + big + "\r\nTransmitterCount=" + big +
          "\r\nOutRecipPrefixConvert=" + big + "\r\n";
  IniFile f = ini(text);
  EXPECT_EQ(configuredLinks(f).size(), 10000u);
  SmppLinkSettings s = loadSmppSettings(f, kSmpp);
  EXPECT_EQ(s.UserName.size(), kCredentialBuffer - 1);
  EXPECT_EQ(s.OutRecipPrefixConvert.size(), kPrefixConvertBuffer - 1);
  EXPECT_EQ(s.TransmitterCount, kMaxLinkConnections);
  EXPECT_GE(s.KeepAlive, 0);
  EXPECT_EQ(linkThreadCount(f, kSmpp), kMaxLinkConnections);
}

}  // namespace
}  // namespace vek::foundation
