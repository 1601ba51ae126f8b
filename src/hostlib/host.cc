#include "hostlib/host.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>

#include "platform/files.h"

namespace vek::hostlib {
namespace {

struct Directories {
  std::string data, priv, log, mmsc_log, program;
};

std::mutex g_mu;
Directories g_dirs;

std::string executableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  buf[n] = '\0';
  return platform::parentDirectory(buf);
}

std::string absolute(const std::string& dir) {
  if (!dir.empty() && dir.front() == '/') return platform::withTrailingSlash(dir);
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return platform::withTrailingSlash(dir);
  return platform::withTrailingSlash(platform::joinPath(cwd, dir));
}

std::string programDirectory() {
  if (const char* env = ::getenv("VEKSMS_PROGRAM_DIR"); env && *env) return absolute(env);
  std::string exe = executableDirectory();
  std::string share = platform::joinPath(exe, "../share/veksms/");
  if (platform::isDirectory(share)) {
    char real[PATH_MAX];
    if (::realpath(share.c_str(), real)) return platform::withTrailingSlash(real);
  }
  return platform::withTrailingSlash(exe);
}

// One of the directories, copied under the lock (every request asks for
// some: copying one string keeps the lock short). Not configured: the
// defaults, without creating anything.
std::string directory(std::string Directories::*which) {
  std::scoped_lock lk(g_mu);
  if (g_dirs.data.empty()) {
    const char* env = ::getenv("VEKSMS_DATA_DIR");
    g_dirs.data = absolute(env && *env ? env : "veksms-data");
    g_dirs.priv = g_dirs.data + "private/";
    g_dirs.log = g_dirs.data + "logs/";
    g_dirs.mmsc_log = g_dirs.log + "mmsc/";
    g_dirs.program = programDirectory();
  }
  return g_dirs.*which;
}

IniStore g_sms;
IniStore g_mmsc;
IniStore g_shared;

}  // namespace

platform::Status setDataDirectory(const std::string& dir) {
  std::string chosen = dir;
  if (chosen.empty()) {
    const char* env = ::getenv("VEKSMS_DATA_DIR");
    chosen = env && *env ? env : "veksms-data";
  }
  Directories d;
  d.data = absolute(chosen);
  d.priv = d.data + "private/";
  d.log = d.data + "logs/";
  d.mmsc_log = d.log + "mmsc/";
  d.program = programDirectory();
  for (const std::string* p : {&d.data, &d.log, &d.mmsc_log}) {
    if (auto st = platform::makeDirectories(*p); !st.ok()) return st;
  }
  if (auto st = platform::makeDirectories(d.priv, 0700); !st.ok()) return st;
  if (::access(d.data.c_str(), W_OK) != 0) return platform::Status::fromErrno("access", d.data);
  {
    std::scoped_lock lk(g_mu);
    g_dirs = d;
  }
  g_shared.setPath(d.data + "SHAREDVOLUME.INI");
  return platform::Status();
}

std::string GetRealProgramDirectory() {
  return directory(&Directories::program);
}
std::string configuredDirectory(std::string value, std::string_view base, std::string_view def) {
  if (value.empty()) return platform::withTrailingSlash(platform::joinPath(base, def));
  for (char& c : value)
    if (c == '\\') c = '/';
  if (value.front() == '/') return platform::withTrailingSlash(value);
  return platform::withTrailingSlash(platform::joinPath(base, value));
}

std::string GetProgramDataDirectory() {
  return directory(&Directories::data);
}
std::string GetPrivateDataDirectory() {
  return directory(&Directories::priv);
}
std::string GetLogDirectory() {
  return directory(&Directories::log);
}
std::string GetDebugLogDirectory() {
  return directory(&Directories::log);
}
std::string GetMMSCLogDirectory() {
  return directory(&Directories::mmsc_log);
}

void SMSIniSetFilename(const std::string& path) {
  g_sms.setPath(path);
}
void MMSCIniSetFilename(const std::string& path) {
  g_mmsc.setPath(path);
}
IniStore& smsIni() {
  return g_sms;
}
IniStore& mmscIni() {
  return g_mmsc;
}

IniStore& sharedVolumeIni() {
  if (g_shared.path().empty()) g_shared.setPath(directory(&Directories::data) + "SHAREDVOLUME.INI");
  return g_shared;
}

std::string SMSIniGetProfileString(std::string_view section, std::string_view key,
                                   std::string_view def, size_t buffer_size) {
  return g_sms.get(section, key, def, buffer_size);
}

std::string MMSCIniGetProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, size_t buffer_size) {
  return g_mmsc.get(section, key, def, buffer_size);
}

std::string SharedVolumeIniGetProfileString(std::string_view key, std::string_view def,
                                            size_t buffer_size) {
  return sharedVolumeIni().get("SharedVolume", key, def, buffer_size);
}

platform::Status SMSIniWriteProfileString(std::string_view section, std::string_view key,
                                          std::string_view value) {
  return g_sms.set(section, key, value);
}

platform::Status MMSCIniWriteProfileString(std::string_view section, std::string_view key,
                                           std::string_view value) {
  return g_mmsc.set(section, key, value);
}

namespace {
std::string joinSection(const IniStore& store, std::string_view section, size_t max_bytes) {
  std::string out;
  for (const auto& line : store.current()->sectionLines(section)) {
    if (out.size() + line.size() + 1 > max_bytes) break;
    out += line;
    out += '\n';
  }
  return out;
}
}  // namespace

std::string SMSIniGetSection(std::string_view section, size_t max_bytes) {
  return joinSection(g_sms, section, max_bytes);
}

std::string MMSCIniGetSection(std::string_view section, size_t max_bytes) {
  return joinSection(g_mmsc, section, max_bytes);
}

}  // namespace vek::hostlib
