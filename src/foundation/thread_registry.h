// Thread registry: numbers the gateway's threads for the debug log and lets
// shutdown wait until every worker has ended.
//
// 4096 slots, each a system thread id (0 = free) and a description of up to
// 99 characters. A thread's number is its slot index + 1; 0 means not
// registered (a full registry leaves a thread unnumbered). A slot's
// description is written after the lock is released; only the owning
// thread clears its own slot.
//
// Every thread the service starts goes through startWorkerThread(), which
// applies the start and end protocol: count up, take a number, install the
// last-chance handler's stack; at the end release the number and count down.
// An exception that reaches the top of a worker is logged under its
// description and then takes the crash path of the last-chance handler
// ("EXCEPT.LOG", exit 45233): a gateway that silently lost one of its
// threads (say its web listener) must be restarted whole by its service
// manager, not run on without it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace vek::foundation {

constexpr unsigned kThreadSlots = 4096;
constexpr size_t kThreadDescriptionMax = 99;

// Takes a free slot for the calling thread (0 when all are taken). A thread
// that is already registered keeps its number and only changes its
// description. With `Debug2`, the description goes to the debug log.
unsigned AssignThreadNumber(std::string_view description);
// Frees the calling thread's slot; returns its number or 0.
unsigned ReleaseThreadNumber();
// The calling thread's number, 0 when not registered.
unsigned currentThreadNumber();
// The description of slot `number` ("" when free). Async-signal-safe form:
// copies into `buf` (at least 100 bytes).
std::string threadDescription(unsigned number);
void threadDescriptionSafe(unsigned number, char* buf, size_t size);

// Registered slots in use.
unsigned registeredThreadCount();
// Workers between their start and end protocol.
int runningWorkerCount();

// The start and end protocol for the calling thread, as a scope.
class WorkerScope {
 public:
  // `already_counted`: the running count was raised by the starter.
  explicit WorkerScope(std::string_view description, bool already_counted = false);
  ~WorkerScope();
  WorkerScope(const WorkerScope&) = delete;
  WorkerScope& operator=(const WorkerScope&) = delete;
  unsigned number() const { return number_; }

 private:
  unsigned number_;
};

// Starts a detached worker running `body` under the protocol. False when
// the system refused the thread.
bool startWorkerThread(std::string description, std::function<void()> body);
// Waits until no worker is running, at most `bound`. True when none is left.
bool waitForWorkers(std::chrono::milliseconds bound);

}  // namespace vek::foundation
