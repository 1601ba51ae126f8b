#include "foundation/directories.h"

#include <mutex>

#include "foundation/config_rules.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::foundation {
namespace {

std::string configured(bool mmsc, const char* key, std::string_view base, const char* def,
                       bool create) {
  std::string v = mmsc ? hostlib::MMSCIniGetProfileString("MMSC", key, "", 260)
                       : hostlib::SMSIniGetProfileString("SMSGW", key, "", 260);
  const bool made_here = v.empty() && create;
  std::string dir = hostlib::configuredDirectory(std::move(v), base, def);
  if (made_here) (void)platform::makeDirectories(dir);
  return dir;
}

std::string data() {
  return hostlib::GetProgramDataDirectory();
}

bool bulkSmsIn(const char* def) {
  return yesNo(hostlib::SMSIniGetProfileString("SMSGW", "EnableBulkSmsIn", def));
}

struct BatchStamp {
  std::mutex mu;
  bool started = false;
  uint32_t stamp = 0;
  uint64_t count = 0;
};

std::string advance(BatchStamp& b, uint32_t per_batch) {
  std::scoped_lock lk(b.mu);
  if (!b.started) {
    b.started = true;
    b.stamp = static_cast<uint32_t>(platform::unixNow());
    b.count = 0;
  } else if (per_batch > 0 && b.count > 0 && b.count % per_batch == 0) {
    ++b.stamp;
  }
  ++b.count;
  return platform::format("%08X", b.stamp);
}

uint32_t maxEntries() {
  int32_t v = settings()->MaxQDirEntries;
  return v <= 0 ? 10000u : static_cast<uint32_t>(v);
}

}  // namespace

std::string pathName(std::string_view name) {
  return platform::safePathComponent(name);
}

std::string queueDirectory() {
  return configured(false, "QDir", data(), "Q", false);
}
std::string bulkQueueDirectory() {
  return configured(false, "BulkQDir", data(), "BULKQ", true);
}
std::string inboundDirectory() {
  return configured(false, "SmsInDir", data(), "SMS-IN", false);
}
std::string inboundMMSDirectory() {
  return configured(false, "MMSDir", data(), "MMS-IN", true);
}
std::string usersDirectory() {
  return configured(false, "UsersDir", data(), "USERS", false);
}

std::string userDirectory(std::string_view account) {
  return usersDirectory() + pathName(account) + "/";
}

// UsersQDir / UsersLogDir when set, else the users directory.
std::string usersBase(const char* key) {
  std::string v = hostlib::SMSIniGetProfileString("SMSGW", key, "", 260);
  return v.empty() ? usersDirectory() : configured(false, key, data(), "USERS", false);
}

std::string userQueueDirectory(std::string_view account) {
  std::string base = usersBase("UsersQDir");
  return base + pathName(account) + "/Q/";
}

std::string userLogDirectory(std::string_view account) {
  std::string base = usersBase("UsersLogDir");
  return base + pathName(account) + "/";
}

std::string userMMSQueueDirectory(std::string_view account) {
  return usersDirectory() + pathName(account) + "/MMSQ/";
}

std::string phpDirectory() {
  return configured(false, "PHPDir", data(), "PHP", false);
}
std::string mmscDataDirectory() {
  return configured(true, "DataDir", data(), "MMSCDATA", true);
}
std::string vaspQueueDirectory() {
  return configured(true, "VASPQDir", data(), "VASPQ", true);
}
std::string mmscUsersDirectory() {
  return configured(true, "MMSCUsersDir", data(), "MMSCUSERS", true);
}

std::string messageIdTrackingDirectory() {
  return hostlib::messageIdDirectory();
}

std::string statsDirectory() {
  std::string dir = hostlib::GetPrivateDataDirectory() + "STATS/";
  (void)platform::makeDirectories(dir);
  return dir;
}

std::string inboundMMSWorkDirectory(std::string_view source) {
  std::string dir = hostlib::GetPrivateDataDirectory() + "MMSINQ/";
  (void)platform::makeDirectories(dir);
  if (source.empty()) return dir;
  std::string name = pathName(source);
  for (char& c : name)
    if (c == '*' || c == '?') c = '-';
  std::string sub = dir + name + "/";
  if (!platform::makeDirectories(sub).ok()) return dir;
  return sub;
}

std::string inboundBatchDirectory(uint64_t waiting) {
  static BatchStamp batch;
  std::string dir = inboundDirectory();
  uint32_t max = maxEntries();
  if (waiting <= max || !bulkSmsIn("Yes")) return dir;
  return dir + advance(batch, max) + "/";
}

std::string accountQueueBatchDirectory(std::string_view account) {
  static BatchStamp batch;
  std::string dir = userQueueDirectory(account);
  if (!bulkSmsIn("No")) return dir;
  return dir + advance(batch, maxEntries()) + "/";
}

std::string setAsideDirectory() {
  static std::mutex mu;
  static int day = -1;
  static uint64_t count = 0;
  platform::CalendarTime now = platform::localNow();
  uint64_t n;
  {
    std::scoped_lock lk(mu);
    int key = now.year * 10000 + now.month * 100 + now.day;
    if (key != day) {
      day = key;
      count = 0;
    }
    n = count++;
  }
  std::string dir = inboundDirectory() + platform::dateStamp(now) + "/";
  uint64_t group = n / maxEntries();
  if (group != 0) dir += platform::format("%02u/", static_cast<unsigned>(group));
  (void)platform::makeDirectories(dir);
  return dir;
}

std::string listenAddress() {
  std::string wanted(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", "IPAddress")));
  if (wanted.empty()) return std::string();
  if (platform::isLoopbackAddress(wanted) && platform::isIpLiteral(wanted)) return wanted;
  for (const auto& a : platform::interfaceAddresses())
    if (a == wanted) return wanted;
  return std::string();
}

}  // namespace vek::foundation
