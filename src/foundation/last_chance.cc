#include "foundation/last_chance.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <exception>

#include "foundation/date_text.h"
#include "foundation/debug_log.h"
#include "foundation/signal_safe.h"
#include "foundation/thread_registry.h"
#include "platform/files.h"
#include "platform/signals.h"

namespace vek::foundation {
namespace {

constexpr size_t kPathMax = 4096;
char g_except_path[kPathMax];  // written before the handler is installed

constexpr int kMaxHooks = 8;
std::atomic<LastChanceHook> g_hooks[kMaxHooks];
std::atomic<int> g_hook_count{0};

std::atomic<bool> g_logged{false};  // the exception flag: set by the first crash

void writeExceptionLog(unsigned number) {
  char description[kThreadDescriptionMax + 1];
  threadDescriptionSafe(number, description, sizeof description);
  SafeTime now = safeLocalNow();

  SafeBuffer text;
  text.add("Exception occurred in thread #").addUnsigned(number).add("\r\n");
  text.add("Thread Description:  ").add(description).add("\r\n");
  // Long local date and short local time, as longLocalDate / shortLocalTime.
  text.add(longMonthName(now.month)).add(' ').addUnsigned(static_cast<unsigned>(now.day));
  text.add(", ").addUnsigned(static_cast<unsigned>(now.year));
  text.add(" @ ").addUnsigned(static_cast<unsigned>(now.hour), 2).add(':');
  text.addUnsigned(static_cast<unsigned>(now.minute), 2).add("\r\n");
  text.add("-------\r\n");

  if (g_except_path[0] != '\0') {
    int fd = ::open(g_except_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd >= 0) {
      safeWriteAll(fd, text.data(), text.size());
      ::close(fd);
    }
  }

  SafeBuffer line;
  line.add("Exception occurred in thread #").addUnsigned(number).add('\0');
  DebugLogSignalSafe("UnhandledExceptionFilter", line.data());
}

void onCrashSignal(int) {
  lastChanceExit();
}

void onTerminate() {
  lastChanceExit();
}

}  // namespace

void installLastChanceHandler(const std::string& private_dir) {
  std::string path = platform::joinPath(private_dir, "EXCEPT.LOG");
  if (path.size() < kPathMax) std::memcpy(g_except_path, path.c_str(), path.size() + 1);
  refreshUtcOffset();
  std::set_terminate(onTerminate);
  platform::installCrashHandler(onCrashSignal);
}

bool addLastChanceHook(LastChanceHook hook) {
  int slot = g_hook_count.fetch_add(1);
  if (slot >= kMaxHooks) {
    g_hook_count.fetch_sub(1);
    return false;
  }
  g_hooks[slot].store(hook);
  return true;
}

void lastChanceExit() {
  if (!g_logged.exchange(true)) writeExceptionLog(currentThreadNumber());
  int count = g_hook_count.load();
  for (int i = 0; i < count && i < kMaxHooks; ++i) {
    if (LastChanceHook hook = g_hooks[i].load()) hook();
  }
  ::_exit(kExceptionExitCode);
}

}  // namespace vek::foundation
