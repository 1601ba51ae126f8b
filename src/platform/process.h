// Child processes: posix_spawn with an explicit argument vector (no shell),
// pipes for input and output, a time limit enforced with SIGKILL, and a
// cancel flag (the shutdown flag) checked while waiting.
//
// runProcess() is the whole life of a short child (two-way commands, image
// tools, sqlite3, the USB control program). ChildProcess keeps a long-lived
// one (script servers) and is owned by one thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

struct ProcessOptions {
  // argv[0] is the program: a path, or a name looked up on PATH.
  std::vector<std::string> argv;
  std::string working_dir;                // empty: inherit
  std::vector<std::string> extra_env;     // "NAME=value", added to the environment
  std::optional<std::string> stdin_data;  // written to the child's standard input
  std::string stdin_path;                 // or: this file as standard input
  std::string output_path;                // or: standard output and error into this file
  bool merge_stderr = true;               // error output joins `output`
  size_t max_output = 1u << 20;           // output beyond this is read and dropped
  std::chrono::milliseconds time_limit{60000};
  const std::atomic<bool>* cancel = nullptr;  // stop waiting (and kill) when it turns true
};

struct ProcessResult {
  bool started = false;
  Status error;            // why it did not start
  bool timed_out = false;  // killed at the time limit
  bool cancelled = false;  // killed because `cancel` turned true
  int exit_code = -1;      // valid when it exited normally
  int term_signal = 0;     // the signal that ended it, if any
  std::string output;
  std::string error_output;  // only when !merge_stderr
  bool exitedWith(int code) const { return started && term_signal == 0 && exit_code == code; }
};

ProcessResult runProcess(const ProcessOptions& options);

// The full path of `program` on PATH (or `program` itself when it holds a
// '/' and is executable).
std::optional<std::string> findProgram(const std::string& program);

class ChildProcess {
 public:
  // Starts argv with pipes on standard input and output (error joins output).
  static Result<ChildProcess> spawn(const ProcessOptions& options);
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& o) noexcept;
  ChildProcess& operator=(ChildProcess&& o) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  int stdinFd() const { return in_.get(); }
  int stdoutFd() const { return out_.get(); }
  void closeStdin() { in_.reset(); }
  // Waits up to `timeout` for the child to end; true when it did.
  bool wait(std::chrono::milliseconds timeout, int* exit_code = nullptr,
            int* term_signal = nullptr);
  // SIGKILL and reap.
  void kill();
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  UniqueFd in_, out_;
};

}  // namespace vek::platform
