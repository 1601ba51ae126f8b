#include "foundation/settings.h"

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/snapshot.h"

namespace vek::foundation {
namespace {

platform::Snapshot<Settings>& store() {
  static platform::Snapshot<Settings> s;
  return s;
}

std::string sms(const char* key, const char* def = "", size_t size = 500) {
  return hostlib::SMSIniGetProfileString("SMSGW", key, def, size);
}

std::string mmsc(const char* key, const char* def = "", size_t size = 500) {
  return hostlib::MMSCIniGetProfileString("MMSC", key, def, size);
}

bool flag(const char* key, const char* def) {
  return yesNo(sms(key, def));
}
bool mmscFlag(const char* key, const char* def) {
  return yesNo(mmsc(key, def));
}

int32_t limitOrUnlimited(const char* key) {
  int32_t v = number(sms(key));
  return v == 0 ? -1 : v;
}

int32_t numberOr(const char* key, const char* def, int32_t when_zero) {
  int32_t v = number(sms(key, def));
  return v == 0 ? when_zero : v;
}

uint16_t segmentLimit(const char* key, const char* def, uint16_t fallback) {
  int32_t v = number(sms(key, def));
  if (v < 40 || v > 0xFFFF) return fallback;
  return static_cast<uint16_t>(v);
}

std::string parTag(const char* key, const char* fallback) {
  std::string common = mmsc("EMailAutoSmilParDur");
  std::string v = mmsc(key, common.empty() ? fallback : common.c_str());
  if (v.empty()) v = fallback;
  return "<par dur=\"" + v + "\">";
}

std::string decodeCrLf(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 1 < in.size() && (in[i + 1] == 'r' || in[i + 1] == 'n')) {
      out += in[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      out += in[i];
    }
  }
  return out;
}

}  // namespace

void LoadSettings() {
  Settings s;
  s.Debug = flag("Debug", "No");
  s.Debug2 = flag("Debug2", "No");
  s.NoDebugProtocol = flag("NoDebugProtocol", "No");
  s.DebugAsyncSMPP = flag("DebugAsyncSMPP", "No");
  s.DefaultMsgLimitPerDay = limitOrUnlimited("DefaultMsgLimitPerDay");
  s.DefaultMsgLimitPerMonth = limitOrUnlimited("DefaultMsgLimitPerMonth");
  s.SendLongMessagesAsIs = flag("SendLongMessagesAsIs", "No");
  s.AltLongText = flag("AltLongText", "No");
  s.DebugXmlSettings = flag("DebugXmlSettings", "No");
  s.ExcludeSmsDetailsFromLog = flag("ExcludeSmsDetailsFromLog", "No");
  s.DefaultCodePage = number(sms("DefaultCodePage"));
  s.OldModemHandler = flag("OldModemHandler", "No");
  s.ModemSendDelay = number(sms("ModemSendDelay"));
  s.SMSAccountingURL = sms("SMSAccountingURL", "", 500);
  s.SeparateUserQueues = flag("SeparateUserQueues", "Yes");
  {
    int32_t v = number(sms("UserQueueThreshold"));
    s.UserQueueThreshold = v <= 0 ? 10 : v;
  }
  s.DisableInvalidStatusReportCheck = flag("DisableInvalidStatusReportCheck", "No");
  s.DisableUserLog = flag("DisableUserLog", "No");
  s.DisableUserQuota = flag("DisableUserQuota", "No");
  s.DisableInLog = flag("DisableInLog", "No");
  s.DisableWebLog = flag("DisableWebLog", "No");
  s.DisableOutLog = flag("DisableOutLog", "No");
  s.OMAProvisioningContentDisableLiterals = flag("OMAProvisioningContentDisableLiterals", "No");
  s.MaxRingToneFragmentCount = numberOr("MaxRingToneFragmentCount", "6", 6);
  {
    int64_t mb = number(sms("DebugMaxSize", "512"));
    s.DebugMaxSize = mb <= 0 ? 0 : static_cast<uint64_t>(mb) * 1048576ull;
  }
  s.FlushOutLog = flag("FlushOutLog", "No");
  s.MaxQDirEntries = numberOr("MaxQDirEntries", "10000", 10000);
  if (s.MaxQDirEntries < 0) s.MaxQDirEntries = 10000;
  s.AccountingKeepAlive = flag("AccountingKeepAlive", "Yes");
  s.TwoWayKeepAlive = flag("2WayKeepAlive", "Yes");
  s.EnableKeepAlive = flag("EnableKeepAlive", "Yes");
  s.EnableThreadPool = flag("EnableThreadPool", "No");
  s.AccountingExtended = flag("AccountingExtended", "Yes");
  s.SmppSubmitAsyncHelperThread = flag("SmppSubmitAsyncHelperThread", "Yes");
  s.EnableBulkQ = flag("EnableBulkQ", "Yes");
  s.OldRoutingLogic = flag("OldRoutingLogic", "No");
  s.UseRouteQueues = flag("UseRouteQueues", "Yes");
  s.UseRouteCache = flag("UseRouteCache", "Yes");
  s.UseRouteCacheOnSubmit = flag("UseRouteCacheOnSubmit", s.UseRouteCache ? "Yes" : "No");
  s.UseQCache = flag("UseQCache", "No");
  s.UseExperimentalLogic = flag("UseExperimentalLogic", "No");
  s.AllowAlphaRecip = flag("AllowAlphaRecip", "No");
  s.RepeatUDHAllSegments = flag("RepeatUDHAllSegments", "Yes");
  s.UseGlobalTAPI = flag("UseGlobalTAPI", "No");
  s.IPModemMaxBytes = numberOr("IPModemMaxBytes", "1", 1);
  s.ModemMaxBytesPerSend = numberOr("ModemMaxBytesPerSend", "16", 16);
  s.UseTempFileAttribute = flag("UseTempFileAttribute", "No");
  s.ConcatRef16Bit = flag("ConcatRef16Bit", "No");
  s.UseSleepAPI = flag("UseSleepAPI", "No");
  s.MaxSMSSegmentLengthText = segmentLimit("MaxSMSSegmentLengthText", "160", 160);
  s.MaxSMSSegmentLengthBinary = segmentLimit("MaxSMSSegmentLengthBinary", "140", 140);
  s.MessageIDPrefix = hostlib::SharedVolumeIniGetProfileString("MessageIDPrefix", "", 100);
  if (s.MessageIDPrefix.empty()) s.MessageIDPrefix = sms("MessageIDPrefix", "", 100);
  s.BinaryDCS = static_cast<uint16_t>(hexByte(sms("BinaryDCS"), 0xF5));
  s.LongTextDCS = static_cast<uint16_t>(hexByte(sms("LongTextDCS"), 0));
  s.Nokia3510Compatible = mmscFlag("Nokia3510Compatible", "Yes");
  s.ShortMMSNotification = mmscFlag("ShortMMSNotification", "No");
  s.MmsNotificationNoSubject = mmscFlag("MmsNotificationNoSubject", "No");
  s.MmsNotificationNoSender = mmscFlag("MmsNotificationNoSender", "No");
  s.MMSNotificationHeaderMaxSize = number(mmsc("MMSNotificationHeaderMaxSize"));
  s.EMailAutoSmil = mmscFlag("EMailAutoSmil", "Yes");
  s.EMailAutoSmilOldFormat = mmscFlag("EMailAutoSmilOldFormat", "No");
  s.EMailAutoSmilParDurText = parTag("EMailAutoSmilParDurText", "3s");
  s.EMailAutoSmilParDurImage = parTag("EMailAutoSmilParDurImage", "5s");
  s.EMailAutoSmilParDurVideo = parTag("EMailAutoSmilParDurVideo", "11s");
  s.EMailAutoSmilHeader = decodeCrLf(mmsc("EMailAutoSmilHeader", "", 500));
  s.SSLRedirect = flag("SSLRedirect", "No");
  s.SyncQueueWrites = flag("SyncQueueWrites", "No");

  DebugLogConfig log;
  log.enabled = s.Debug;
  log.detailed = s.Debug2;
  log.max_bytes = s.DebugMaxSize;
  log.directory = hostlib::GetDebugLogDirectory();
  configureDebugLog(log);
  DebugLog("UseRouteCache", s.UseRouteCache ? "Yes" : "No");
  store().publish(std::move(s));
}

std::shared_ptr<const Settings> settings() {
  return store().getOften();
}

void publishSettings(Settings s) {
  store().publish(std::move(s));
}

}  // namespace vek::foundation
