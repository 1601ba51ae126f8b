// The host library: configuration file access, base directories and the
// other host services (accounts, message-id store, MMS notification filter,
// interface events; each in its own header). Everything else in the gateway
// reads "SMSGW.INI" and "MMSC.INI" only through these calls.
//
// Base directories all end in '/':
//   data      --data-dir, else $VEKSMS_DATA_DIR, else ./veksms-data/
//   private   <data>/private/
//   log       <data>/logs/          (also the debug-log directory)
//   mmsc log  <data>/logs/mmsc/
//   program   $VEKSMS_PROGRAM_DIR, else ../share/veksms/ beside the
//             executable when it exists, else the executable's directory
//
// setDataDirectory() is called once at start-up before any other thread
// runs; afterwards every function here is thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hostlib/ini_file.h"
#include "platform/status.h"

namespace vek::hostlib {

// Fixes the data directory (made absolute and created when missing) and
// derives the others. An empty argument applies the environment / default.
platform::Status setDataDirectory(const std::string& dir);

std::string GetRealProgramDirectory();
std::string GetProgramDataDirectory();
std::string GetPrivateDataDirectory();
std::string GetLogDirectory();
std::string GetDebugLogDirectory();
std::string GetMMSCLogDirectory();

// The rule of every directory setting: a configured `value` is used as
// given (backslashes written on the original platform become '/'; a
// relative path is taken below `base`); an empty one gives `def` below
// `base`. The result ends in exactly one '/'.
std::string configuredDirectory(std::string value, std::string_view base, std::string_view def);

// Configuration files.
void SMSIniSetFilename(const std::string& path);
void MMSCIniSetFilename(const std::string& path);
IniStore& smsIni();
IniStore& mmscIni();
// The shared-volume settings: optional "SHAREDVOLUME.INI" in the data directory.
IniStore& sharedVolumeIni();

// The value of key in section, or `def`, cut to buffer_size - 1 bytes.
std::string SMSIniGetProfileString(std::string_view section, std::string_view key,
                                   std::string_view def = {}, size_t buffer_size = 500);
std::string MMSCIniGetProfileString(std::string_view section, std::string_view key,
                                    std::string_view def = {}, size_t buffer_size = 500);
// Section `SharedVolume` of the shared-volume settings.
std::string SharedVolumeIniGetProfileString(std::string_view key, std::string_view def = {},
                                            size_t buffer_size = 500);
platform::Status SMSIniWriteProfileString(std::string_view section, std::string_view key,
                                          std::string_view value);
platform::Status MMSCIniWriteProfileString(std::string_view section, std::string_view key,
                                           std::string_view value);
// Every "key=value" line of a section, joined by '\n' and cut to max_bytes.
std::string SMSIniGetSection(std::string_view section, size_t max_bytes = 16384);
std::string MMSCIniGetSection(std::string_view section, size_t max_bytes = 16384);

}  // namespace vek::hostlib
