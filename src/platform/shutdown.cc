#include "platform/shutdown.h"

#include <condition_variable>
#include <mutex>

#include "platform/clock.h"

namespace vek::platform {
namespace {
std::atomic<bool> g_shutdown{false};
std::mutex g_mu;
std::condition_variable g_cv;
}  // namespace

void requestShutdown() {
  {
    std::scoped_lock lk(g_mu);
    g_shutdown.store(true, std::memory_order_release);
  }
  g_cv.notify_all();
}

bool shutdownRequested() {
  return g_shutdown.load(std::memory_order_acquire);
}

const std::atomic<bool>& shutdownFlag() {
  return g_shutdown;
}

bool sleepFor(std::chrono::milliseconds d) {
  std::unique_lock lk(g_mu);
  return !waitFor(lk, g_cv, d, [] { return g_shutdown.load(std::memory_order_acquire); });
}

void resetShutdownForTesting() {
  std::scoped_lock lk(g_mu);
  g_shutdown.store(false);
}

}  // namespace vek::platform
