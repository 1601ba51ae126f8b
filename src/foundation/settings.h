// The gateway's global settings: the keys of section `SMSGW` in "SMSGW.INI"
// (and a few of `MMSC` in "MMSC.INI") that are loaded into memory at
// start-up and on every change of "SMSGW.INI". Each field is named after its
// key. Keys that components read at the point of use are not here.
//
// The record is published as an immutable snapshot: LoadSettings() builds a
// complete new record and swaps it in; a reader keeps the record it took for
// as long as it holds the pointer, never a half-updated one. Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vek::foundation {

struct Settings {
  bool Debug = false;
  bool Debug2 = false;
  bool NoDebugProtocol = false;
  bool DebugAsyncSMPP = false;
  int32_t DefaultMsgLimitPerDay = -1;    // -1: no limit
  int32_t DefaultMsgLimitPerMonth = -1;  // -1: no limit
  bool SendLongMessagesAsIs = false;
  bool AltLongText = false;
  bool DebugXmlSettings = false;
  bool ExcludeSmsDetailsFromLog = false;
  int32_t DefaultCodePage = 0;
  bool OldModemHandler = false;
  int32_t ModemSendDelay = 0;
  std::string SMSAccountingURL;  // up to 499 characters
  bool SeparateUserQueues = true;
  int32_t UserQueueThreshold = 10;  // 0 or empty: 10
  bool DisableInvalidStatusReportCheck = false;
  bool DisableUserLog = false;
  bool DisableUserQuota = false;
  bool DisableInLog = false;
  bool DisableWebLog = false;
  bool DisableOutLog = false;
  bool OMAProvisioningContentDisableLiterals = false;
  int32_t MaxRingToneFragmentCount = 6;
  uint64_t DebugMaxSize = 512ull * 1048576;  // bytes
  bool FlushOutLog = false;
  int32_t MaxQDirEntries = 10000;
  bool AccountingKeepAlive = true;
  bool TwoWayKeepAlive = true;  // key "2WayKeepAlive"
  bool EnableKeepAlive = true;
  bool EnableThreadPool = false;
  bool AccountingExtended = true;
  bool SmppSubmitAsyncHelperThread = true;
  bool EnableBulkQ = true;
  bool OldRoutingLogic = false;
  bool UseRouteQueues = true;
  bool UseRouteCache = true;
  bool UseRouteCacheOnSubmit = true;
  bool UseQCache = false;
  bool UseExperimentalLogic = false;
  bool AllowAlphaRecip = false;
  bool RepeatUDHAllSegments = true;
  bool UseGlobalTAPI = false;
  int32_t IPModemMaxBytes = 1;
  int32_t ModemMaxBytesPerSend = 16;
  bool UseTempFileAttribute = false;
  bool ConcatRef16Bit = false;
  bool UseSleepAPI = false;
  uint16_t MaxSMSSegmentLengthText = 160;
  uint16_t MaxSMSSegmentLengthBinary = 140;
  std::string MessageIDPrefix;  // up to 99 characters
  uint16_t BinaryDCS = 0xF5;
  uint16_t LongTextDCS = 0;
  // MMSC.INI, section MMSC
  bool Nokia3510Compatible = true;
  bool ShortMMSNotification = false;
  bool MmsNotificationNoSubject = false;
  bool MmsNotificationNoSender = false;
  int32_t MMSNotificationHeaderMaxSize = 0;
  bool EMailAutoSmil = true;
  bool EMailAutoSmilOldFormat = false;
  std::string EMailAutoSmilParDurText = "<par dur=\"3s\">";
  std::string EMailAutoSmilParDurImage = "<par dur=\"5s\">";
  std::string EMailAutoSmilParDurVideo = "<par dur=\"11s\">";
  std::string EMailAutoSmilHeader;  // up to 499 characters, \r \n decoded
  // SMSGW again
  bool SSLRedirect = false;
  // Platform choice: fsync queue and inbound files before publishing them.
  bool SyncQueueWrites = false;
};

// Reads every key in order from the host library's configuration files,
// publishes the new record and applies the debug-log switches.
void LoadSettings();
// The record in force (never null; defaults before the first load).
std::shared_ptr<const Settings> settings();
// Tests: publish a record directly.
void publishSettings(Settings s);

}  // namespace vek::foundation
