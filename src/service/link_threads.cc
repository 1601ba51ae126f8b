#include "service/link_threads.h"

#include <fcntl.h>

#include <memory>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/link_settings.h"
#include "foundation/service_state.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "links/sender_thread.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::service {
namespace {

// The link thread takes over the lock it was started with and removes it
// when it ends.
void linkThreadBody(std::shared_ptr<platform::UniqueFd> lock, std::string argument) {
  links::ThreadProcessModem(argument, std::move(*lock));
}

}  // namespace

int linkThreadCount(const std::string& link_name) {
  return foundation::linkThreadCount(*hostlib::smsIni().current(), link_name);
}

int StartLinkThreads(bool initial) {
  int started = 0;
  std::string stats = foundation::statsDirectory();
  for (unsigned i = 1;; ++i) {
    if (platform::shutdownRequested()) break;
    std::string name =
        hostlib::SMSIniGetProfileString("SMSGW", platform::format("Modem%u", i), "", 260);
    if (name.empty()) {
      if (!initial || i > 201) break;
      continue;
    }
    int count = linkThreadCount(name);
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
