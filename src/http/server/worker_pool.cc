#include "http/server/worker_pool.h"

#include <atomic>

#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "platform/clock.h"
#include "platform/shutdown.h"

namespace vek::http {

// What the pool's threads share; they hold it even after the pool is gone.
struct WorkerPool::Shared {
  mutable std::mutex mu;
  std::condition_variable cv;
  std::deque<Job> jobs;
  std::atomic<size_t> waiting{0};  // jobs.size(), readable without the lock
  unsigned max_threads = 32;
  unsigned threads = 0;
  unsigned idle = 0;
  std::chrono::milliseconds idle_timeout{30000};
  bool stopping = false;

  void run();
};

void WorkerPool::Shared::run() {
  std::unique_lock lk(mu);
  for (;;) {
    ++idle;
    bool got = platform::waitFor(lk, cv, idle_timeout, [&] { return !jobs.empty() || stopping; });
    --idle;
    if (jobs.empty() && (stopping || !got)) break;
    Job job = std::move(jobs.front());
    jobs.pop_front();
    waiting.store(jobs.size(), std::memory_order_relaxed);
    const bool cancelled = stopping;
    lk.unlock();
    try {
      job(cancelled);
    } catch (const std::exception& e) {
      foundation::DebugLogf("ThreadProcessConnection", "Request failed: %s", e.what());
    }
    lk.lock();
  }
  --threads;
  cv.notify_all();
}

WorkerPool::WorkerPool() : shared_(std::make_shared<Shared>()) {}

WorkerPool::~WorkerPool() {
  stop();
}

void WorkerPool::setMaxThreads(unsigned n) {
  std::scoped_lock lk(shared_->mu);
  shared_->max_threads = n == 0 ? 1 : n;
}

void WorkerPool::setIdleTimeout(std::chrono::milliseconds d) {
  std::scoped_lock lk(shared_->mu);
  shared_->idle_timeout = d;
}

bool WorkerPool::submit(Job job) {
  std::unique_lock lk(shared_->mu);
  if (shared_->stopping) return false;
  shared_->jobs.push_back(std::move(job));
  shared_->waiting.store(shared_->jobs.size(), std::memory_order_relaxed);
  if (shared_->idle >= shared_->jobs.size() || shared_->threads >= shared_->max_threads) {
    shared_->cv.notify_one();
    return true;
  }
  ++shared_->threads;
  lk.unlock();
  std::shared_ptr<Shared> shared = shared_;
  if (foundation::startWorkerThread("ThreadProcessConnection", [shared] { shared->run(); }))
    return true;
  lk.lock();
  --shared_->threads;
  if (shared_->threads > 0) {
    shared_->cv.notify_one();
    return true;  // the running threads will take it
  }
  shared_->jobs.pop_back();
  shared_->waiting.store(shared_->jobs.size(), std::memory_order_relaxed);
  return false;
}

void WorkerPool::stop() {
  std::scoped_lock lk(shared_->mu);
  shared_->stopping = true;
  shared_->cv.notify_all();
}

unsigned WorkerPool::threads() const {
  std::scoped_lock lk(shared_->mu);
  return shared_->threads;
}

std::shared_ptr<const std::atomic<size_t>> WorkerPool::backlog() const {
  return std::shared_ptr<const std::atomic<size_t>>(shared_, &shared_->waiting);
}

}  // namespace vek::http
