// Runs the built gateway program as a child for black-box tests.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "support/test_support.h"

namespace vek::testing {

class GatewayProcess {
 public:
  explicit GatewayProcess(std::string data_dir) : data_dir_(std::move(data_dir)) {}
  ~GatewayProcess() {
    child_.kill();
    if (!output_path_.empty()) ::unlink(output_path_.c_str());
  }

  bool start(std::vector<std::string> extra_args = {});
  // Waits for "service started." in the event log file.
  bool waitStarted(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void signal(int sig) { ::kill(child_.pid(), sig); }
  // Waits for the end; true when it ended within `timeout`.
  bool waitExit(std::chrono::milliseconds timeout, int* exit_code);
  bool running() const { return child_.running(); }
  // Everything the gateway wrote on its standard output and error so far.
  std::string output();
  const std::string& dataDir() const { return data_dir_; }
  pid_t pid() const { return child_.pid(); }

 private:
  std::string data_dir_;
  platform::ChildProcess child_;
  std::string output_path_;  // standard output and error
};

// One HTTP/1.1 request with "Connection: close" to host:port; the whole
// response, or "" when the connection failed (bounded by `timeout`).
std::string httpGet(const std::string& host, uint16_t port, const std::string& target,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the gateway program to completion with `args` (bounded).
platform::ProcessResult runGateway(const std::vector<std::string>& args,
                                   std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace vek::testing
