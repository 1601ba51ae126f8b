#include "links/async_window.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "links/outcome.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "queue/retry_policy.h"

namespace vek::links {

namespace {

// Answers handled together: their ids share one store transaction.
constexpr size_t kBatchMax = 256;

bool neverAnswered(uint32_t code) {
  return code == kResultConnectionLost || code == kResultNotConnected || code == kResultCancelled;
}

}  // namespace

struct WindowState {
  std::shared_ptr<Outcomes> outcomes;
  ErrorTextFn error_text = nullptr;
  std::atomic<bool> throttle_for_qfull{false};

  std::mutex mu;
  std::condition_variable work_cv;  // helpers: answered entries or stop
  platform::Event progress;         // entries handled, a helper ended
  std::deque<std::shared_ptr<WindowEntry>> answered;
  size_t unhandled = 0;
  std::deque<ThrottleResubmit> throttle_queue;
  bool stopping = false;
  int helpers = 0;  // started
  int helpers_running = 0;

  void push(std::shared_ptr<WindowEntry> e) {
    {
      std::scoped_lock lk(mu);
      answered.push_back(std::move(e));
    }
    work_cv.notify_one();
  }

  bool isThrottle(uint32_t code) const {
    return code == static_cast<uint32_t>(queue::kErrorThrottled) ||
           (code == static_cast<uint32_t>(queue::kErrorQueueFull) && throttle_for_qfull.load());
  }

  void requeueThrottled(SendJob& job) {
    const std::string& link = outcomes->link();
    if (job.throttle_resubmits >= AsyncWindow::kMaxThrottleResubmits) {
      foundation::DebugLogf(link, "ThrottleResubmitQCoun Exceeded %s", job.relative.c_str());
      return;
    }
    std::scoped_lock lk(mu);
    for (const auto& t : throttle_queue)
      if (t.relative == job.relative) return;
    throttle_queue.push_back({job.relative, job.throttle_resubmits + 1});
    foundation::DebugLogf(link, "AddToThrottleResubmitQ %s", job.relative.c_str());
  }

  void handleBatch(std::vector<std::shared_ptr<WindowEntry>>& batch) {
    std::vector<SendJob*> sent_jobs;
    std::vector<std::string> ids;
    for (auto& e : batch) {
      SendJob& job = e->job();
      const uint32_t code = e->result();
      if (code == 0) {
        sent_jobs.push_back(&job);
        ids.push_back(e->messageId());
        e->sent_.store(true, std::memory_order_release);
      } else if (neverAnswered(code)) {
        outcomes->cancelled(job);
      } else {
        bool final_failure = outcomes->failed(job, code, error_text(code));
        if (!final_failure && isThrottle(code)) requeueThrottled(job);
      }
    }
    if (!sent_jobs.empty()) outcomes->sent(sent_jobs, ids);
    for (auto& e : batch) e->handled_.store(true, std::memory_order_release);
    {
      std::scoped_lock lk(mu);
      unhandled -= batch.size();
    }
    progress.set();
  }

  // Waits (bounded) until `done()`, checked under the lock; true when it holds.
  template <typename Done>
  bool waitFor(std::chrono::milliseconds bound, Done done) {
    const platform::SteadyTime deadline = platform::monotonicNow() + bound;
    for (;;) {
      {
        std::scoped_lock lk(mu);
        if (done()) return true;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                        platform::monotonicNow());
      if (left.count() <= 0) return false;
      progress.wait(std::min(left, std::chrono::milliseconds(100)));
    }
  }

  size_t takeBatch(std::vector<std::shared_ptr<WindowEntry>>* batch, size_t max) {
    std::scoped_lock lk(mu);
    while (!answered.empty() && batch->size() < max) {
      batch->push_back(std::move(answered.front()));
      answered.pop_front();
    }
    return batch->size();
  }

  void helperLoop() {
    std::vector<std::shared_ptr<WindowEntry>> batch;
    for (;;) {
      {
        std::unique_lock lk(mu);
        work_cv.wait(lk, [&] { return stopping || !answered.empty(); });
        if (answered.empty()) break;  // stopping, and nothing left
      }
      batch.clear();
      if (takeBatch(&batch, kBatchMax) > 0) handleBatch(batch);
    }
    {
      std::scoped_lock lk(mu);
      --helpers_running;
    }
    progress.set();
  }
};

void WindowEntry::onAnswered() {
  state_->push(shared_from_this());
}

AsyncWindow::AsyncWindow(std::shared_ptr<Outcomes> outcomes, ErrorTextFn error_text)
    : state_(std::make_shared<WindowState>()) {
  state_->outcomes = std::move(outcomes);
  state_->error_text = error_text;
}

AsyncWindow::~AsyncWindow() {
  (void)stopHelpers(std::chrono::seconds(15));
}

void AsyncWindow::setThrottleForQFull(bool on) {
  state_->throttle_for_qfull.store(on);
}

void AsyncWindow::startHelpers(int count, const std::string& link) {
  for (int i = 0; i < count; ++i) {
    {
      std::scoped_lock lk(state_->mu);
      state_->stopping = false;
      ++state_->helpers_running;
    }
    auto state = state_;
    if (!foundation::startWorkerThread("ThreadSmppSubmitAsyncHelper " + link,
                                       [state] { state->helperLoop(); })) {
      std::scoped_lock lk(state_->mu);
      --state_->helpers_running;
      foundation::DebugLog(link, "Error starting thread");
      continue;
    }
    std::scoped_lock lk(state_->mu);
    ++state_->helpers;
  }
}

bool AsyncWindow::stopHelpers(std::chrono::milliseconds bound) {
  int helpers;
  {
    std::scoped_lock lk(state_->mu);
    helpers = state_->helpers;
    if (helpers == 0) return true;
    state_->stopping = true;
  }
  state_->work_cv.notify_all();
  bool ended = state_->waitFor(bound * helpers, [&] { return state_->helpers_running == 0; });
  std::scoped_lock lk(state_->mu);
  if (ended) state_->helpers = 0;
  return ended;
}

bool AsyncWindow::helpers() const {
  std::scoped_lock lk(state_->mu);
  return state_->helpers > 0 && !state_->stopping;
}

std::shared_ptr<WindowEntry> AsyncWindow::makeEntry(SendJob job) {
  return std::make_shared<WindowEntry>(state_, std::move(job));
}

void AsyncWindow::add(const std::shared_ptr<WindowEntry>&) {
  std::scoped_lock lk(state_->mu);
  ++state_->unhandled;
}

size_t AsyncWindow::unhandled() const {
  std::scoped_lock lk(state_->mu);
  return state_->unhandled;
}

size_t AsyncWindow::answered() const {
  std::scoped_lock lk(state_->mu);
  return state_->answered.size();
}

size_t AsyncWindow::handleAnswered(size_t max) {
  size_t done = 0;
  std::vector<std::shared_ptr<WindowEntry>> batch;
  while (done < max) {
    batch.clear();
    if (state_->takeBatch(&batch, std::min(kBatchMax, max - done)) == 0) break;
    state_->handleBatch(batch);
    done += batch.size();
  }
  return done;
}

bool AsyncWindow::waitAnsweredTaken(std::chrono::milliseconds bound) {
  return state_->waitFor(bound, [&] { return state_->unhandled == 0; });
}

bool AsyncWindow::takeThrottleResubmit(ThrottleResubmit* out) {
  std::scoped_lock lk(state_->mu);
  if (state_->throttle_queue.empty()) return false;
  *out = std::move(state_->throttle_queue.front());
  state_->throttle_queue.pop_front();
  return true;
}

size_t AsyncWindow::throttleQueued() const {
  std::scoped_lock lk(state_->mu);
  return state_->throttle_queue.size();
}

}  // namespace vek::links
