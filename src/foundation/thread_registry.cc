#include "foundation/thread_registry.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "foundation/debug_log.h"
#include "foundation/last_chance.h"
#include "platform/clock.h"
#include "platform/signals.h"

namespace vek::foundation {
namespace {

struct Slot {
  std::atomic<long> tid{0};
  char description[kThreadDescriptionMax + 1] = {};
};

Slot g_slots[kThreadSlots];
std::mutex g_mu;  // slot claiming and the running count
std::condition_variable g_none_running;
std::atomic<unsigned> g_registered{0};
std::atomic<int> g_running{0};  // changed under g_mu, read without it
thread_local unsigned t_number = 0;

long systemThreadId() {
  return static_cast<long>(::syscall(SYS_gettid));
}

void countUp() {
  std::scoped_lock lk(g_mu);
  g_running.fetch_add(1);
}

void countDown() {
  std::scoped_lock lk(g_mu);
  if (g_running.fetch_sub(1) == 1) g_none_running.notify_all();
}

void setDescription(Slot& slot, std::string_view description) {
  size_t n = std::min(description.size(), kThreadDescriptionMax);
  std::memcpy(slot.description, description.data(), n);
  slot.description[n] = '\0';
}

}  // namespace

unsigned AssignThreadNumber(std::string_view description) {
  // A thread that registers twice keeps its slot: a second one would never
  // be released.
  if (t_number != 0) {
    setDescription(g_slots[t_number - 1], description);
    return t_number;
  }
  long me = systemThreadId();
  unsigned number = 0;
  {
    std::scoped_lock lk(g_mu);
    for (unsigned i = 0; i < kThreadSlots; ++i) {
      if (g_slots[i].tid.load(std::memory_order_relaxed) == 0) {
        g_slots[i].tid.store(me, std::memory_order_release);
        number = i + 1;
        g_registered.fetch_add(1);
        break;
      }
    }
  }
  if (number == 0) return 0;
  setDescription(g_slots[number - 1], description);
  t_number = number;
  Debug2Log("AssignThreadNumber", description);
  return number;
}

unsigned ReleaseThreadNumber() {
  unsigned number = t_number;
  if (number == 0) return 0;
  Slot& slot = g_slots[number - 1];
  Debug2Log("ReleaseThreadNumber", slot.description);
  slot.description[0] = '\0';
  slot.tid.store(0, std::memory_order_release);
  g_registered.fetch_sub(1);
  t_number = 0;
  return number;
}

unsigned currentThreadNumber() {
  return t_number;
}

std::string threadDescription(unsigned number) {
  char buf[kThreadDescriptionMax + 1];
  threadDescriptionSafe(number, buf, sizeof buf);
  return buf;
}

void threadDescriptionSafe(unsigned number, char* buf, size_t size) {
  if (size == 0) return;
  buf[0] = '\0';
  if (number == 0 || number > kThreadSlots) return;
  const char* d = g_slots[number - 1].description;
  size_t i = 0;
  for (; i + 1 < size && i < kThreadDescriptionMax && d[i]; ++i) buf[i] = d[i];
  buf[i] = '\0';
}

unsigned registeredThreadCount() {
  return g_registered.load();
}

int runningWorkerCount() {
  return g_running.load();
}

WorkerScope::WorkerScope(std::string_view description, bool already_counted) {
  if (!already_counted) countUp();
  number_ = AssignThreadNumber(description);
  platform::installAltStack();
}

WorkerScope::~WorkerScope() {
  ReleaseThreadNumber();
  countDown();
}

bool startWorkerThread(std::string description, std::function<void()> body) {
  // Counted before the thread exists, so that a shutdown that starts right
  // now still waits for it.
  countUp();
  try {
    std::thread t([description = std::move(description), body = std::move(body)] {
      WorkerScope scope(description, /*already_counted=*/true);
      try {
        body();
      } catch (const std::exception& e) {
        DebugLogf(description, "Unhandled exception: %s", e.what());
        lastChanceExit();
      } catch (...) {
        DebugLog(description, "Unhandled exception");
        lastChanceExit();
      }
    });
    t.detach();
    return true;
  } catch (const std::system_error&) {
    countDown();
    return false;
  }
}

bool waitForWorkers(std::chrono::milliseconds bound) {
  std::unique_lock lk(g_mu);
  return platform::waitFor(lk, g_none_running, bound, [] { return g_running.load() <= 0; });
}

}  // namespace vek::foundation
