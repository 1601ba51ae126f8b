// WorkerPool: the threads that run web requests ("ThreadProcessConnection").
// The event loop reads requests and hands each complete one (or a head to
// check) here as a job; a worker runs it, writes the answer and hands the
// connection back to the loop.
//
// Threads start on demand, one more whenever a job waits and none is idle,
// up to the configured maximum (HTTPWorkerThreads); an idle thread ends
// after `idle_timeout`. stop() ends them all once the jobs already taken
// have run; jobs still queued then are run with `cancelled` set so that
// their connections are handed back unanswered.
//
// Thread-safe.
#pragma once

#include <atomic>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vek::http {

class WorkerPool {
 public:
  // A job; `cancelled` is true when the pool is stopping.
  using Job = std::function<void(bool cancelled)>;

  WorkerPool();
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void setMaxThreads(unsigned n);
  void setIdleTimeout(std::chrono::milliseconds d);
  // Queues `job`; false when the pool has stopped or no thread could be
  // started (the job was not queued).
  bool submit(Job job);
  void stop();
  unsigned threads() const;
  // The number of jobs waiting for a thread, readable without a lock; the
  // handle stays valid after the pool is gone (a job may outlive it).
  std::shared_ptr<const std::atomic<size_t>> backlog() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace vek::http
