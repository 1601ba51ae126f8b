// DebugLog: the gateway's trace, "SMSDEBUG.LOG" in the debug-log directory.
//
// One line per call: "hh:mm:ss:mmm [n] tag:  text\r\n", n being the calling
// thread's number in the thread registry, plus a copy "tag: text\n" on
// standard error. Nothing is written, and no file opened, while `Debug` is
// off. The file is rotated to "SMSDEBUG.BAK" at the first line of a new
// date and at the first line after it passes `DebugMaxSize` bytes; at the
// first open a file created on another day is rotated the same way.
//
// Thread-safe: one lock guards the file and every write; the time stamp is
// taken before the lock, so lines may appear slightly out of time order.
// Each line goes out in one write(2), so lines never interleave. A rotation
// holds the lock through its two pauses; other threads' lines wait.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vek::foundation {

struct DebugLogConfig {
  bool enabled = false;               // `Debug`
  bool detailed = false;              // `Debug2`
  uint64_t max_bytes = 512ull << 20;  // `DebugMaxSize` in bytes; 0 = no size limit
  std::string directory;              // the debug-log directory
  bool echo_to_stderr = true;
  // The pauses around the rename during rotation (they give other
  // processes that read the log time to let go of it).
  std::chrono::milliseconds rotation_pause{1000};
};

// Applies a configuration (at start-up and on every settings reload).
// Changing the directory closes the open file.
void configureDebugLog(const DebugLogConfig& config);
// Closes the file (shutdown). Later lines reopen it while enabled.
void closeDebugLog();

bool debugEnabled();
bool debug2Enabled();

void DebugLog(std::string_view tag, std::string_view text);
void DebugLogf(std::string_view tag, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Lines that only `Debug2` asks for.
void Debug2Log(std::string_view tag, std::string_view text);
void Debug2Logf(std::string_view tag, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// For a crash signal handler: async-signal-safe (no lock, no allocation,
// no rotation); opens the log by name, appends one line, closes it. The
// time uses the UTC offset of the last ordinary line.
void DebugLogSignalSafe(const char* tag, const char* text);

// The log's full path ("" before configuration).
std::string debugLogPath();

}  // namespace vek::foundation
