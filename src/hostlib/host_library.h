// The host library's entry table: every host service as one struct of
// function pointers, the way the rest of the gateway binds it. The table is
// filled by the library itself, except the two GSM text conversions, which
// need the character tables of a higher layer: the service binds them at
// start-up with bindGsmConversions() (until then they are null).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hostlib/accounts.h"
#include "hostlib/message_ids.h"
#include "platform/event.h"
#include "platform/status.h"

namespace vek::hostlib {

// GSM7ToUTF8String(udh_hex, text_hex) -> UTF-8.
using Gsm7ToUtf8Fn = std::string (*)(std::string_view udh_hex, std::string_view text_hex);
// UTF8ToShiftTableString(language, utf8, septets, capacity) -> 0 when the
// text cannot be encoded, else 2 (single shift used) | 1 (locking shift used).
using Utf8ToShiftTableFn = int (*)(int language, std::string_view utf8, std::string* septets,
                                   size_t capacity);

struct HostLibrary {
  void (*SMSIniSetFilename)(const std::string&);
  void (*MMSCIniSetFilename)(const std::string&);
  std::string (*SMSIniGetProfileString)(std::string_view, std::string_view, std::string_view,
                                        size_t);
  std::string (*MMSCIniGetProfileString)(std::string_view, std::string_view, std::string_view,
                                         size_t);
  std::string (*SharedVolumeIniGetProfileString)(std::string_view, std::string_view, size_t);
  std::string (*GetRealProgramDirectory)();
  std::string (*GetProgramDataDirectory)();
  std::string (*GetPrivateDataDirectory)();
  std::string (*GetLogDirectory)();
  std::string (*GetDebugLogDirectory)();
  std::string (*GetMMSCLogDirectory)();
  AccountStore* (*SMSOpenUserFile)();
  bool (*SMSCMessageIdAdd)(std::string_view, std::string_view, std::string_view, std::string_view,
                           std::string_view, std::string_view);
  std::optional<MessageIdRecord> (*SMSCMessageIdGet)(std::string_view, std::string_view);
  std::optional<MessageIdRecord> (*SMSCMessageIdGet2)(std::string_view, std::string_view);
  bool (*MMSNotificationExist)(std::string_view, std::string_view);
  bool (*MMSNotificationAdd)(std::string_view, std::string_view);
  Gsm7ToUtf8Fn GSM7ToUTF8String;
  Utf8ToShiftTableFn UTF8ToShiftTableString;
  std::shared_ptr<platform::Event> (*CreateEventForInterface)(std::string_view, std::string_view);
  std::shared_ptr<platform::Event> (*OpenEventForInterface)(std::string_view, std::string_view);
  bool (*SetEventForInterface)(std::string_view, std::string_view);
};

const HostLibrary& hostLibrary();
void bindGsmConversions(Gsm7ToUtf8Fn to_utf8, Utf8ToShiftTableFn to_septets);

}  // namespace vek::hostlib
