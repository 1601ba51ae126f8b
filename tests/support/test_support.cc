#include "support/test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/clock.h"

namespace vek::testing {

TempDir::TempDir() {
  std::string base = ::testing::TempDir();
  if (base.empty() || base.back() != '/') base += '/';
  std::string templ = base + "veksms-XXXXXX";
  char* made = ::mkdtemp(templ.data());
  path_ = made ? std::string(made) + "/" : base;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string oraclesDir() {
  const char* env = ::getenv("VEKSMS_ORACLES");
  if (env == nullptr) env = VEKSMS_DEFAULT_ORACLES;
  if (*env == '\0') return std::string();
  std::string dir = env;
  if (!std::filesystem::exists(dir + "/README.md")) return std::string();
  return dir;
}

std::string gatewayBinary() {
  const char* env = ::getenv("VEKSMS_BINARY");
  if (env == nullptr || *env == '\0') env = VEKSMS_DEFAULT_BINARY;
  if (::access(env, X_OK) != 0) return std::string();
  return env;
}

// Real time whatever clock the test installed: what it waits for happens
// outside that clock (another thread, a child process, the file system).
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  auto deadline = platform::realMonotonicNow() + timeout;
  while (true) {
    if (pred()) return true;
    if (platform::realMonotonicNow() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the poll interval
  }
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace vek::testing
