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

// A slot's description is written by its owner thread without the registry
// lock and read by any thread, the crash handler included (which may take
// no lock). So it is a sequence lock: the writer makes `seq` odd, writes,
// makes it even again; a reader copies and retries when `seq` moved. The
// characters are atomics so that a copy racing a write is defined.
struct Slot {
  std::atomic<long> tid{0};
  std::atomic<uint32_t> seq{0};
  std::atomic<char> description[kThreadDescriptionMax + 1] = {};
};

Slot g_slots[kThreadSlots];
std::mutex g_mu;  // slot claiming and the running count
// Never destroyed: a detached worker still ending while the process exits
// may signal it after static destruction has begun.
std::condition_variable& g_none_running = *new std::condition_variable;
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
  slot.seq.fetch_add(1, std::memory_order_acq_rel);  // odd: being written
  for (size_t i = 0; i < n; ++i)
    slot.description[i].store(description[i], std::memory_order_relaxed);
  slot.description[n].store('\0', std::memory_order_relaxed);
  slot.seq.fetch_add(1, std::memory_order_release);  // even: settled
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
  Debug2Log("ReleaseThreadNumber", threadDescription(number));
  setDescription(slot, "");
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
  const Slot& slot = g_slots[number - 1];
  // Bounded: a reader interrupted by a signal handler on the writer's own
  // thread would otherwise wait forever. A description that never held
  // still is given as "" rather than torn.
  for (int attempt = 0; attempt < 10000; ++attempt) {
    uint32_t before = slot.seq.load(std::memory_order_acquire);
    size_t i = 0;
    for (; i + 1 < size && i < kThreadDescriptionMax; ++i) {
      char c = slot.description[i].load(std::memory_order_relaxed);
      if (c == '\0') break;
      buf[i] = c;
    }
    buf[i] = '\0';
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1) == 0 && slot.seq.load(std::memory_order_relaxed) == before) return;
  }
  buf[0] = '\0';
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
