#include "platform/event_log.h"

#include <syslog.h>

#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::platform {
namespace {
std::mutex g_mu;
std::string g_file;
bool g_syslog_open = false;
}  // namespace

void openEventLog(const std::string& events_file) {
  std::scoped_lock lk(g_mu);
  g_file = events_file;
  if (!g_syslog_open) {
    ::openlog("VekSMS", LOG_PID | LOG_NDELAY, LOG_DAEMON);
    g_syslog_open = true;
  }
}

void reportEvent(EventType type, std::string_view text) {
  int priority = LOG_INFO;
  const char* word = "Info:";
  if (type == EventType::kWarning) {
    priority = LOG_WARNING;
    word = "Warning:";
  } else if (type == EventType::kError) {
    priority = LOG_ERR;
    word = "Error:";
  }
  std::string body(text);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  // One line per event, whatever the text holds: the status page and the
  // tools that read the file count lines as events.
  const std::string flat = singleLine(body);
  CalendarTime t = localNow();
  std::string line = format("%04d-%02d-%02d %02d:%02d:%02d - %s ", t.year, t.month, t.day, t.hour,
                            t.minute, t.second, word);
  line += flat;
  line += '\n';
  std::scoped_lock lk(g_mu);
  if (!g_syslog_open) {
    ::openlog("VekSMS", LOG_PID | LOG_NDELAY, LOG_DAEMON);
    g_syslog_open = true;
  }
  ::syslog(priority, "%s", flat.c_str());
  if (!g_file.empty()) (void)appendToFile(g_file, line, 0600);
}

std::string readEventLog() {
  std::scoped_lock lk(g_mu);
  if (g_file.empty()) return std::string();
  auto text = readFile(g_file, 16u << 20);
  return text.ok() ? *text : std::string();
}

void clearEventLog() {
  std::scoped_lock lk(g_mu);
  if (!g_file.empty()) (void)writeFileAtomic(g_file, "", false, 0600);
}

}  // namespace vek::platform
