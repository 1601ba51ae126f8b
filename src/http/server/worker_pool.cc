#include "http/server/worker_pool.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/shutdown.h"

namespace vek::http {

bool IdleWorkers::offer(Handoff& h) {
  std::scoped_lock lk(mu_);
  while (!list_.empty()) {
    std::shared_ptr<Parked> p = std::move(list_.front());
    list_.pop_front();
    if (!p->waiting) continue;  // gave up meanwhile
    p->waiting = false;
    p->handoff = std::move(h);
    p->wake.set();
    return true;
  }
  return false;
}

std::optional<Handoff> IdleWorkers::park(std::chrono::milliseconds timeout) {
  auto me = std::make_shared<Parked>();
  {
    std::scoped_lock lk(mu_);
    if (list_.size() > kMaxListed) return std::nullopt;
    list_.push_back(me);
  }
  auto deadline = platform::monotonicNow() + timeout;
  while (!platform::shutdownRequested()) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - platform::monotonicNow());
    if (left.count() <= 0) break;
    if (me->wake.wait(std::min(left, std::chrono::milliseconds(500)))) break;
  }
  std::scoped_lock lk(mu_);
  me->waiting = false;
  if (me->handoff) return std::move(me->handoff);
  auto it = std::find(list_.begin(), list_.end(), me);
  if (it != list_.end()) list_.erase(it);
  return std::nullopt;
}

void IdleWorkers::wakeAll() {
  std::scoped_lock lk(mu_);
  for (auto& p : list_) p->wake.set();
}

size_t IdleWorkers::parked() const {
  std::scoped_lock lk(mu_);
  return static_cast<size_t>(
      std::count_if(list_.begin(), list_.end(), [](const auto& p) { return p->waiting; }));
}

IdleWorkers& idleWorkers() {
  static IdleWorkers pool;
  return pool;
}

}  // namespace vek::http
