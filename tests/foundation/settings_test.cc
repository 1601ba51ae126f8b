#include "foundation/settings.h"

#include <gtest/gtest.h>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace vek::foundation {
namespace {

TEST(ConfigRulesTest, YesNoNumberAndHexByte) {
  for (const char* on : {"y", "Yes", "1", "true", "TRUE", "ON", "on", "yes please"})
    EXPECT_TRUE(yesNo(on)) << on;
  for (const char* off : {"", "No", "enabled", "0", "off", " yes"}) EXPECT_FALSE(yesNo(off)) << off;
  EXPECT_EQ(number("  -12x"), -12);
  EXPECT_EQ(number("abc"), 0);
  EXPECT_EQ(number("99999999999"), INT32_MAX);
  struct {
    const char* in;
    int out;
  } hex[] = {{"4", 4}, {"F5", 245}, {"f5", 245}, {"G1", 245}, {"1G", 1}, {"", 245}};
  for (const auto& h : hex) EXPECT_EQ(hexByte(h.in, 245), h.out) << h.in;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
    hostlib::MMSCIniSetFilename(dir_.file("MMSC.INI"));
  }
  void TearDown() override {
    publishSettings(Settings{});
    configureDebugLog(DebugLogConfig{});
  }
  void write(const std::string& sms, const std::string& mmsc = "") {
    ASSERT_TRUE(platform::writeFileAtomic(dir_.file("SMSGW.INI"), "[SMSGW]\r\n" + sms).ok());
    ASSERT_TRUE(platform::writeFileAtomic(dir_.file("MMSC.INI"), "[MMSC]\r\n" + mmsc).ok());
    hostlib::smsIni().invalidate();
    hostlib::mmscIni().invalidate();
  }
  vek::testing::TempDir dir_;
};

TEST_F(SettingsTest, EmptyConfigurationGivesTheDefaults) {
  write("");
  LoadSettings();
  auto s = settings();
  EXPECT_FALSE(s->Debug);
  EXPECT_EQ(s->MaxQDirEntries, 10000);
  EXPECT_EQ(s->DefaultMsgLimitPerDay, -1);
  EXPECT_EQ(s->DebugMaxSize, 512ull * 1048576);
  EXPECT_EQ(s->BinaryDCS, 0xF5);
  EXPECT_EQ(s->MaxSMSSegmentLengthText, 160);
  EXPECT_TRUE(s->UseRouteCacheOnSubmit);
  EXPECT_EQ(s->EMailAutoSmilParDurImage, "<par dur=\"5s\">");
  EXPECT_EQ(s->UserQueueThreshold, 10);
}

TEST_F(SettingsTest, ValuesFollowTheirRules) {
  write(
      "Debug=ON\r\nMaxQDirEntries=0\r\nMaxSMSSegmentLengthText=39\r\nMaxSMSSegmentLengthBinary="
      "40\r\n"
      "BinaryDCS=1G\r\nDebugMaxSize=1\r\nUseRouteCache=No\r\nMessageIDPrefix=" +
          std::string(150, 'p') + "\r\n",
      "EMailAutoSmilParDur=7s\r\nEMailAutoSmilParDurVideo=9s\r\nEMailAutoSmilHeader=a\\r\\nb\r\n");
  LoadSettings();
  auto s = settings();
  EXPECT_TRUE(s->Debug);
  EXPECT_EQ(s->MaxQDirEntries, 10000);
  EXPECT_EQ(s->MaxSMSSegmentLengthText, 160);
  EXPECT_EQ(s->MaxSMSSegmentLengthBinary, 40);
  EXPECT_EQ(s->BinaryDCS, 1);
  EXPECT_EQ(s->DebugMaxSize, 1048576u);
  EXPECT_FALSE(s->UseRouteCacheOnSubmit) << "follows UseRouteCache";
  EXPECT_EQ(s->MessageIDPrefix.size(), 99u);
  EXPECT_EQ(s->EMailAutoSmilParDurText, "<par dur=\"7s\">");
  EXPECT_EQ(s->EMailAutoSmilParDurVideo, "<par dur=\"9s\">");
  EXPECT_EQ(s->EMailAutoSmilHeader, "a\r\nb");
}

TEST_F(SettingsTest, SharedVolumePrefixComesFirst) {
  write("MessageIDPrefix=GW\r\n");
  ASSERT_TRUE(platform::writeFileAtomic(dir_.file("SHAREDVOLUME.INI"),
                                        "[SharedVolume]\nMessageIDPrefix=SV\n")
                  .ok());
  hostlib::sharedVolumeIni().invalidate();
  LoadSettings();
  EXPECT_EQ(settings()->MessageIDPrefix, "SV");
}

TEST_F(SettingsTest, AReaderKeepsAWholeRecordAcrossAReload) {
  write("MaxQDirEntries=5\r\n");
  LoadSettings();
  auto held = settings();
  write("MaxQDirEntries=7\r\n");
  LoadSettings();
  EXPECT_EQ(held->MaxQDirEntries, 5);
  EXPECT_EQ(settings()->MaxQDirEntries, 7);
}

TEST_F(SettingsTest, DirectoriesFollowTheirKeysAndNeverLeaveTheirParent) {
  write("QDir=/tmp/elsewhere-q\r\nUsersDir=people\r\n");
  EXPECT_EQ(queueDirectory(), "/tmp/elsewhere-q/");
  write("QDir=/tmp/elsewhere-q/\r\nUsersDir=people\r\n");
  EXPECT_EQ(queueDirectory(), "/tmp/elsewhere-q/");
  EXPECT_EQ(usersDirectory(), dir_.path() + "people/");
  EXPECT_EQ(userQueueDirectory("a:b"), dir_.path() + "people/a-b/Q/");
  EXPECT_EQ(userDirectory("../../etc"), dir_.path() + "people/_.-..-etc/");
  write("");
  EXPECT_EQ(inboundDirectory(), dir_.path() + "SMS-IN/");
  EXPECT_FALSE(platform::isDirectory(inboundDirectory())) << "not created by the lookup";
  EXPECT_TRUE(platform::isDirectory(bulkQueueDirectory()));
  EXPECT_EQ(inboundMMSWorkDirectory("src*?:x"),
            hostlib::GetPrivateDataDirectory() + "MMSINQ/src---x/");
}

TEST_F(SettingsTest, InboundBatchDirectoryAdvancesEveryMaxEntries) {
  write("MaxQDirEntries=2\r\n");
  LoadSettings();
  EXPECT_EQ(inboundBatchDirectory(2), inboundDirectory());
  std::string first = inboundBatchDirectory(3);
  EXPECT_NE(first, inboundDirectory());
  EXPECT_EQ(inboundBatchDirectory(3), first);
  std::string third = inboundBatchDirectory(3);
  EXPECT_NE(third, first) << "a new batch after two files";
  write("MaxQDirEntries=2\r\nEnableBulkSmsIn=No\r\n");
  EXPECT_EQ(inboundBatchDirectory(100), inboundDirectory());
}

TEST_F(SettingsTest, ListenAddressIsOnlyAnOwnAddress) {
  write("IPAddress=127.0.0.1\r\n");
  EXPECT_EQ(listenAddress(), "127.0.0.1");
  write("IPAddress=192.0.2.77\r\n");
  EXPECT_EQ(listenAddress(), "");
  write("");
  EXPECT_EQ(listenAddress(), "");
}

}  // namespace
}  // namespace vek::foundation
