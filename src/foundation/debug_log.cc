#include "foundation/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "foundation/signal_safe.h"
#include "foundation/thread_registry.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shutdown.h"
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
std::atomic<bool> g_echo{true};

// The log's path for the crash line, which may not take the lock: two
// buffers, the one in force published by index.
constexpr size_t kSafePathMax = 4096;
char g_safe_paths[2][kSafePathMax];
std::atomic<int> g_safe_index{-1};

// The whole date, not only the day of the month: a log left open for a
// month must still rotate on the same day of the next one.
int dateKey(const platform::CalendarTime& t) {
  return t.year * 10000 + t.month * 100 + t.day;
}

std::string logPath(const DebugLogConfig& c) {
  return platform::joinPath(c.directory, "SMSDEBUG.LOG");
}

std::string backupPath(const std::string& log) {
  return log.substr(0, log.size() - 4) + ".BAK";
}

void publishSafePath(const DebugLogConfig& c) {
  if (c.directory.empty()) {
    g_safe_index.store(-1, std::memory_order_release);
    return;
  }
  std::string path = logPath(c);
  if (path.size() >= kSafePathMax) {
    g_safe_index.store(-1, std::memory_order_release);
    return;
  }
  int next = g_safe_index.load(std::memory_order_relaxed) == 0 ? 1 : 0;
  std::memcpy(g_safe_paths[next], path.c_str(), path.size() + 1);
  g_safe_index.store(next, std::memory_order_release);
}

void pause(const LogState& s) {
  if (s.config.rotation_pause.count() > 0) (void)platform::sleepFor(s.config.rotation_pause);
}

// Moves the log to ".BAK" (the previous backup is lost). The file is closed.
// The pauses give readers of the log (a tail, a viewer) time to let go.
void rotateLocked(LogState& s) {
  std::string log = logPath(s.config);
  std::string bak = backupPath(log);
  (void)platform::removeFile(bak);
  pause(s);
  if (!platform::renamePath(log, bak).ok()) (void)platform::removeFile(log);
  pause(s);
}

// A log begun on another day is rotated before it is reopened. Where the
// file system keeps no birth time, the modification time stands in.
void openLocked(LogState& s, const platform::CalendarTime& now) {
  std::string log = logPath(s.config);
  if (auto info = platform::statPath(log)) {
    if (dateKey(platform::toLocal(info->born)) != dateKey(now)) rotateLocked(s);
  }
  (void)platform::makeDirectories(s.config.directory);
  s.fd.reset(::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640));
  s.size = 0;
  if (s.fd) {
    if (auto info = platform::statFd(s.fd.get())) s.size = static_cast<uint64_t>(info->size);
  }
  s.opened_date = dateKey(now);
}

void appendDigits(std::string& out, unsigned v, int width) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n > 0) out.push_back(digits[--n]);
}

void writeLine(std::string_view tag, std::string_view text) {
  platform::CalendarTime now = platform::localNow();
  rememberUtcOffset(now.utc_offset_seconds);

  // "hh:mm:ss:mmm [n] tag:  text\r\n", built once per thread's buffer.
  thread_local std::string line;
  line.clear();
  appendDigits(line, static_cast<unsigned>(now.hour), 2);
  line.push_back(':');
  appendDigits(line, static_cast<unsigned>(now.minute), 2);
  line.push_back(':');
  appendDigits(line, static_cast<unsigned>(now.second), 2);
  line.push_back(':');
  appendDigits(line, static_cast<unsigned>(now.millisecond), 3);
  line.append(" [");
  appendDigits(line, currentThreadNumber(), 0);
  line.append("] ");
  line.append(tag);
  line.append(":  ");
  line.append(text);
  line.append("\r\n");

  LogState& s = state();
  {
    std::scoped_lock lk(s.mu);
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
  if (g_echo.load(std::memory_order_relaxed)) {
    thread_local std::string copy;
    copy.clear();
    copy.append(tag);
    copy.append(": ");
    copy.append(text);
    copy.push_back('\n');
    safeWriteAll(2, copy.data(), copy.size());
  }
}

void writeFormatted(std::string_view tag, const char* fmt, va_list ap) {
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
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

}  // namespace

void configureDebugLog(const DebugLogConfig& config) {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  if (config.directory != s.config.directory || !config.enabled) {
    s.fd.reset();
    s.opened_date = -1;
  }
  s.config = config;
  publishSafePath(config);
  g_echo.store(config.echo_to_stderr, std::memory_order_relaxed);
  g_enabled.store(config.enabled, std::memory_order_release);
  g_detailed.store(config.enabled && config.detailed, std::memory_order_release);
}

void closeDebugLog() {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  s.fd.reset();
  s.opened_date = -1;
}

bool debugEnabled() {
  return g_enabled.load(std::memory_order_acquire);
}
bool debug2Enabled() {
  return g_detailed.load(std::memory_order_acquire);
}

void DebugLog(std::string_view tag, std::string_view text) {
  if (!debugEnabled()) return;
  writeLine(tag, text);
}

void DebugLogf(std::string_view tag, const char* fmt, ...) {
  if (!debugEnabled()) return;
  va_list ap;
  va_start(ap, fmt);
  writeFormatted(tag, fmt, ap);
  va_end(ap);
}

void Debug2Log(std::string_view tag, std::string_view text) {
  if (!debug2Enabled()) return;
  writeLine(tag, text);
}

void Debug2Logf(std::string_view tag, const char* fmt, ...) {
  if (!debug2Enabled()) return;
  va_list ap;
  va_start(ap, fmt);
  writeFormatted(tag, fmt, ap);
  va_end(ap);
}

void DebugLogSignalSafe(const char* tag, const char* text) {
  if (!debugEnabled()) return;
  SafeTime now = safeLocalNow();
  SafeBuffer line;
  line.addUnsigned(static_cast<unsigned>(now.hour), 2).add(':');
  line.addUnsigned(static_cast<unsigned>(now.minute), 2).add(':');
  line.addUnsigned(static_cast<unsigned>(now.second), 2).add(':');
  line.addUnsigned(static_cast<unsigned>(now.millisecond), 3).add(" [");
  line.addUnsigned(currentThreadNumber()).add("] ").add(tag).add(":  ").add(text).add("\r\n");
  int index = g_safe_index.load(std::memory_order_acquire);
  if (index >= 0) {
    int fd = ::open(g_safe_paths[index], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd >= 0) {
      safeWriteAll(fd, line.data(), line.size());
      ::close(fd);
    }
  }
  if (g_echo.load(std::memory_order_relaxed)) {
    SafeBuffer copy;
    copy.add(tag).add(": ").add(text).add('\n');
    safeWriteAll(2, copy.data(), copy.size());
  }
}

std::string debugLogPath() {
  LogState& s = state();
  std::scoped_lock lk(s.mu);
  return s.config.directory.empty() ? std::string() : logPath(s.config);
}

}  // namespace vek::foundation
