// The system event log: syslog (ident "VekSMS") plus the file "EVENTS.LOG"
// in the private data directory, which the status page reads and clears.
// Each entry is one line "YYYY-MM-DD hh:mm:ss - Info: text"; line breaks
// and other control characters of the text become blanks.
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::platform {

enum class EventType { kSuccess, kInfo, kWarning, kError };

// Sets the file (call once at start-up; before that only syslog is written).
void openEventLog(const std::string& events_file);
void reportEvent(EventType type, std::string_view text);
// The file's text, and clearing it (the status page's "Clear").
std::string readEventLog();
void clearEventLog();

}  // namespace vek::platform
