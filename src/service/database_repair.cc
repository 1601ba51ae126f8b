#include "service/database_repair.h"

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::service {
namespace {

using foundation::DebugLog;

void repair(const std::string& path) {
  DebugLog("DatabaseIsCorrupt", path);
  if (hostlib::messageIdStoreHasOpen(path)) {
    // Renaming it would leave the store writing to the damaged copy.
    DebugLog("DatabaseIsCorrupt", "In use, not repaired now: " + path);
    return;
  }
  platform::CalendarTime t = platform::localNow();
  std::string damaged = path + platform::format("%04d%02d%02d%02d%02d%02d.damaged", t.year, t.month,
                                                t.day, t.hour, t.minute, t.second);
  if (!platform::renamePath(path, damaged).ok()) return;
  // The write-ahead log and index belong to the damaged copy now.
  for (const char* suffix : {"-wal", "-shm"})
    (void)platform::renamePath(path + suffix, damaged + suffix);
  std::string tmp = path + ".tmp";
  (void)platform::writeFileAtomic(tmp, "");
  auto sqlite = platform::findProgram("sqlite3");
  if (!sqlite) return;

  platform::ProcessOptions dump;
  dump.argv = {*sqlite, damaged, ".dump"};
  dump.output_path = tmp;
  dump.time_limit = std::chrono::milliseconds(300000);
  dump.cancel = &platform::shutdownFlag();
  platform::runProcess(dump);

  platform::ProcessOptions load;
  load.argv = {*sqlite, path};
  load.stdin_path = tmp;
  load.time_limit = std::chrono::milliseconds(300000);
  load.cancel = &platform::shutdownFlag();
  platform::runProcess(load);
  (void)platform::removeFile(tmp);
}

int checkDirectory(const std::string& dir, bool today_only) {
  int corrupt = 0;
  std::string pattern = today_only ? platform::dateStamp(platform::localNow()) + ".DB" : "*.DB";
  for (const auto& e : platform::listDirectory(dir, pattern, {.sorted = true})) {
    if (platform::shutdownRequested()) break;
    std::string path = dir + e.name;
    DebugLog("CheckDatabaseIntegrity", path);
    if (hostlib::testDatabaseOK(path)) continue;
    ++corrupt;
    repair(path);
  }
  return corrupt;
}

}  // namespace

int CheckDatabaseIntegrity(bool today_only) {
  std::string base = foundation::messageIdTrackingDirectory();
  int corrupt = checkDirectory(base, today_only);
  platform::ListOptions dirs;
  dirs.files = false;
  dirs.directories = true;
  dirs.sorted = true;
  for (const auto& d : platform::listDirectory(base, "*", dirs)) {
    if (platform::shutdownRequested()) break;
    corrupt += checkDirectory(base + d.name + "/", today_only);
  }
  return corrupt;
}

}  // namespace vek::service
