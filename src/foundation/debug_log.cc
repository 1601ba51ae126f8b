#include "foundation/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#include "foundation/thread_registry.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/unique_fd.h"

namespace vek::foundation {
namespace {

struct LogState {
  std::mutex mu;
  DebugLogConfig config;
  platform::UniqueFd fd;
  uint64_t size = 0;
  int opened_date = -1;  // yyyymmdd of the day the file was opened; -1 forces a reopen
};

LogState& state() {
  static LogState* s = new LogState;  // never destroyed: threads may log during exit
  return *s;
}

std::atomic<bool> g_enabled{false};
std::atomic<bool> g_detailed{false};

int dateKey(const platform::CalendarTime& t) { return t.year * 10000 + t.month * 100 + t.day; }

std::string logPath(const LogState& s) { return platform::joinPath(s.config.directory, "SMSDEBUG.LOG"); }

std::string backupPath(const std::string& log) { return log.substr(0, log.size() - 4) + ".BAK"; }

void pause(const LogState& s) {
  if (s.config.rotation_pause.count() > 0) std::this_thread::sleep_for(s.config.rotation_pause);
}

// Moves the log to ".BAK" (the previous backup is lost). The file is closed.
void rotateLocked(LogState& s) {
  std::string log = logPath(s);
  std::string bak = backupPath(log);
  (void)platform::removeFile(bak);
  pause(s);
  if (!platform::renamePath(log, bak).ok()) (void)platform::removeFile(log);
  pause(s);
}

void openLocked(LogState& s, const platform::CalendarTime& now) {
  std::string log = logPath(s);
  if (auto info = platform::statPath(log)) {
    platform::CalendarTime born = platform::toLocal(info->born);
    if (dateKey(born) != dateKey(now)) rotateLocked(s);
  }
  (void)platform::makeDirectories(s.config.directory);
  s.fd.reset(::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
  s.size = 0;
  if (s.fd) {
    if (auto info = platform::statFd(s.fd.get())) s.size = static_cast<uint64_t>(info->size);
  }
  s.opened_date = dateKey(now);
}

void writeLine(std::string_view tag, std::string_view text) {
  platform::CalendarTime now = platform::localNow();
  char prefix[64];
  int n = std::snprintf(prefix, sizeof prefix, "%02u:%02u:%02u:%03u [%u] ", now.hour, now.minute,
                        now.second, now.millisecond, currentThreadNumber());
  std::string line;
  line.reserve(static_cast<size_t>(n) + tag.size() + text.size() + 5);
  line.append(prefix, static_cast<size_t>(n));
  line.append(tag);
  line.append(":  ");
  line.append(text);
  line.append("\r\n");

  LogState& s = state();
  bool echo;
  {
    std::scoped_lock lk(s.mu);
    echo = s.config.echo_to_stderr;
    bool forced = s.fd && s.config.max_bytes != 0 && s.size > s.config.max_bytes;
    if (s.fd && (forced || dateKey(now) != s.opened_date)) {
      s.fd.reset();
      rotateLocked(s);
      s.opened_date = -1;
    }
    if (!s.fd && !s.config.directory.empty()) openLocked(s, now);
    // The five pieces of a line go out as one write, so that lines of two
    // processes appending to the same file never interleave.
    if (s.fd && platform::writeAll(s.fd.get(), line).ok()) s.size += line.size();
  }
  if (echo) {
    std::string copy;
    copy.reserve(tag.size() + text.size() + 3);
    copy.append(tag);
    copy.append(": ");
    copy.append(text);
    copy.append("\n");
    ssize_t ignored = ::write(2, copy.data(), copy.size());
    (void)ignored;
  }
}

}  // namespace

void configureDebugLog(const DebugLogConfig& config) {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  if (config.directory != s.config.directory || !config.enabled) {
    s.fd.reset();
    s.opened_date = -1;
  }
  s.config = config;
  g_enabled.store(config.enabled, std::memory_order_release);
  g_detailed.store(config.enabled && config.detailed, std::memory_order_release);
}

void closeDebugLog() {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  s.fd.reset();
  s.opened_date = -1;
}

bool debugEnabled() { return g_enabled.load(std::memory_order_acquire); }
bool debug2Enabled() { return g_detailed.load(std::memory_order_acquire); }

void DebugLog(std::string_view tag, std::string_view text) {
  if (!debugEnabled()) return;
  writeLine(tag, text);
}

void DebugLogf(std::string_view tag, const char* fmt, ...) {
  if (!debugEnabled()) return;
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(ap2);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(ap2);
    writeLine(tag, std::string_view(small, static_cast<size_t>(n)));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), fmt, ap2);
  va_end(ap2);
  big.resize(static_cast<size_t>(n));
  writeLine(tag, big);
}

void Debug2Log(std::string_view tag, std::string_view text) {
  if (!debug2Enabled()) return;
  writeLine(tag, text);
}

std::string debugLogPath() {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  return s.config.directory.empty() ? std::string() : logPath(s);
}

}  // namespace vek::foundation
