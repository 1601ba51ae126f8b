// Helpers every test folder uses: a fresh temporary directory per test, the
// location of the third-party peers, bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace vek::testing {

// A fresh directory under the test temp dir, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Ends in '/'.
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// The oracles folder ($VEKSMS_ORACLES, else the one found at configure
// time), or "" when absent (tests that need it skip).
std::string oraclesDir();
#define VEK_REQUIRE_ORACLES()                                                       \
  do {                                                                              \
    if (::vek::testing::oraclesDir().empty())                                       \
      GTEST_SKIP() << "third-party peers not installed (../shared/oracles absent)"; \
  } while (0)

// The built gateway program (for tests that run it), or "".
std::string gatewayBinary();

// Polls `pred` every 10 ms until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

}  // namespace vek::testing
