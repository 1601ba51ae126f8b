#include "service/link_threads.h"

#include <fcntl.h>

#include <memory>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_name.h"
#include "foundation/service_state.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::service {
namespace {

int countValue(const std::string& section, const char* key) {
  std::string v = hostlib::SMSIniGetProfileString(section, key, "", 50);
  std::string_view t = v;
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  if (t.empty() || t.front() < '0' || t.front() > '9') return 1;
  return static_cast<int>(platform::parseLeadingInt(t));
}

// The body of a link thread until the link sender lands: it holds its lock
// and waits for shutdown.
void linkThreadBody(std::shared_ptr<platform::UniqueFd> lock, std::string argument) {
  foundation::DebugLog("ThreadProcessModem", "Started " + argument);
  while (!platform::shutdownRequested()) platform::sleepFor(std::chrono::milliseconds(1000));
  std::string path = argument.substr(0, argument.find(','));
  (void)platform::removeFile(path);
  lock->reset();
}

}  // namespace

int linkThreadCount(const std::string& link_name) {
  const std::string section = foundation::linkSectionName(link_name);
  int count =
      std::max(countValue(section, "TransmitterCount"), countValue(section, "ReceiverCount"));
  return std::max(count, 1);
}

int StartLinkThreads(bool initial) {
  int started = 0;
  std::string stats = foundation::statsDirectory();
  for (unsigned i = 1;; ++i) {
    if (platform::shutdownRequested()) break;
    std::string link =
        hostlib::SMSIniGetProfileString("SMSGW", platform::format("Modem%u", i), "", 260);
    if (link.empty()) {
      if (!initial || i > 201) break;
      continue;
    }
    int count = linkThreadCount(link);
    for (int j = 1; j <= count; ++j) {
      std::string lock_path = stats + platform::format("ROUTE-%u-%d.LCK", i, j);
      auto lock = platform::openLocked(lock_path, O_RDWR | O_CREAT, 0600);
      if (!lock.ok()) continue;  // held: the thread runs already
      std::string argument = lock_path + platform::format(",%u,%d", i, j);
      auto held = std::make_shared<platform::UniqueFd>(std::move(lock.value()));
      if (!foundation::startWorkerThread("ThreadProcessModem",
                                         [held, argument] { linkThreadBody(held, argument); })) {
        foundation::DebugLog("main", "Error starting thread");
        (void)platform::removeFile(lock_path);
        continue;
      }
      ++started;
      if (!initial && j == 1) foundation::requestRoutingDbReset();
    }
  }
  return started;
}

}  // namespace vek::service
