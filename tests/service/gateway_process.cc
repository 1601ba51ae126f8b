#include "gateway_process.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"

namespace vek::testing {

bool GatewayProcess::start(std::vector<std::string> extra_args) {
  platform::ProcessOptions o;
  o.argv = {gatewayBinary(), "--data-dir", data_dir_};
  for (auto& a : extra_args) o.argv.push_back(a);
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
  char buf[4096];
  ssize_t n;
  while (child_.stdoutFd() >= 0 && (n = ::read(child_.stdoutFd(), buf, sizeof buf)) > 0)
    output_.append(buf, static_cast<size_t>(n));
  return output_;
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
