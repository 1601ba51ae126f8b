#include "hostlib/host_library.h"

#include <atomic>

#include "hostlib/host.h"
#include "hostlib/interface_events.h"
#include "hostlib/mms_notifications.h"

namespace vek::hostlib {
namespace {

HostLibrary makeTable() {
  HostLibrary t{};
  t.SMSIniSetFilename = &SMSIniSetFilename;
  t.MMSCIniSetFilename = &MMSCIniSetFilename;
  t.SMSIniGetProfileString = &SMSIniGetProfileString;
  t.MMSCIniGetProfileString = &MMSCIniGetProfileString;
  t.SharedVolumeIniGetProfileString = &SharedVolumeIniGetProfileString;
  t.GetRealProgramDirectory = &GetRealProgramDirectory;
  t.GetProgramDataDirectory = &GetProgramDataDirectory;
  t.GetPrivateDataDirectory = &GetPrivateDataDirectory;
  t.GetLogDirectory = &GetLogDirectory;
  t.GetDebugLogDirectory = &GetDebugLogDirectory;
  t.GetMMSCLogDirectory = &GetMMSCLogDirectory;
  t.SMSOpenUserFile = &accountStore;
  t.SMSCMessageIdAdd = &SMSCMessageIdAdd;
  t.SMSCMessageIdGet = &SMSCMessageIdGet;
  t.SMSCMessageIdGet2 = &SMSCMessageIdGet2;
  t.MMSNotificationExist = &MMSNotificationExist;
  t.MMSNotificationAdd = &MMSNotificationAdd;
  t.GSM7ToUTF8String = nullptr;
  t.UTF8ToShiftTableString = nullptr;
  t.CreateEventForInterface = &CreateEventForInterface;
  t.OpenEventForInterface = &OpenEventForInterface;
  t.SetEventForInterface = &SetEventForInterface;
  return t;
}

HostLibrary g_table = makeTable();

}  // namespace

const HostLibrary& hostLibrary() {
  return g_table;
}

void bindGsmConversions(Gsm7ToUtf8Fn to_utf8, Utf8ToShiftTableFn to_septets) {
  // Called once at start-up before any other thread runs.
  g_table.GSM7ToUTF8String = to_utf8;
  g_table.UTF8ToShiftTableString = to_septets;
}

}  // namespace vek::hostlib
