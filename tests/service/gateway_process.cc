#include "gateway_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"

namespace vek::testing {

bool GatewayProcess::start(std::vector<std::string> extra_args) {
  platform::ProcessOptions o;
  o.argv = {gatewayBinary(), "--data-dir", data_dir_};
  for (auto& a : extra_args) o.argv.push_back(a);
  // Into a file of its own, not a pipe: a gateway with Debug=Yes writes
  // every debug line there, and a pipe nobody reads would stall it once
  // full. Not beside the data directory, where tests look for strays.
  static std::atomic<int> serial{0};
  const char* tmp = ::getenv("TMPDIR");
  output_path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/veksms-gateway-" +
                 std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".out";
  o.output_path = output_path_;
  auto c = platform::ChildProcess::spawn(o);
  if (!c.ok()) return false;
  child_ = std::move(c.value());
  child_.closeStdin();
  ::fcntl(child_.stdoutFd(), F_SETFL, O_NONBLOCK);
  return true;
}

bool GatewayProcess::waitStarted(std::chrono::milliseconds timeout) {
  std::string events = data_dir_ + "/private/EVENTS.LOG";
  return waitUntil([&] { return readText(events).find("service started.") != std::string::npos; },
                   timeout);
}

std::string GatewayProcess::output() {
  return readText(output_path_);
}

bool GatewayProcess::waitExit(std::chrono::milliseconds timeout, int* exit_code) {
  auto deadline = platform::monotonicNow() + timeout;
  while (platform::monotonicNow() < deadline) {
    output();
    if (child_.wait(std::chrono::milliseconds(20), exit_code)) {
      output();
      return true;
    }
  }
  return false;
}

std::string httpGet(const std::string& host, uint16_t port, const std::string& target,
                    std::chrono::milliseconds timeout) {
  const int ms = static_cast<int>(timeout.count());
  auto fd = platform::connectTcp(host, port, ms);
  if (!fd.ok()) return std::string();
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
  if (platform::sendAll(fd->get(), request, ms) != platform::IoStatus::kOk) return std::string();
  std::string response;
  char buf[4096];
  size_t got = 0;
  while (platform::recvSome(fd->get(), buf, sizeof buf, ms, &got) == platform::IoStatus::kOk)
    response.append(buf, got);
  return response;
}

platform::ProcessResult runGateway(const std::vector<std::string>& args,
                                   std::chrono::milliseconds limit) {
  platform::ProcessOptions o;
  o.argv = {gatewayBinary()};
  for (const auto& a : args) o.argv.push_back(a);
  o.time_limit = limit;
  return platform::runProcess(o);
}

}  // namespace vek::testing
