#include "platform/event.h"

#include "platform/clock.h"

namespace vek::platform {

void Event::set() {
  {
    std::scoped_lock lk(mu_);
    set_ = true;
  }
  if (mode_ == Mode::kAutoReset) {
    cv_.notify_one();
  } else {
    cv_.notify_all();
  }
}

void Event::reset() {
  std::scoped_lock lk(mu_);
  set_ = false;
}

bool Event::isSet() const {
  std::scoped_lock lk(mu_);
  return set_;
}

bool Event::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lk(mu_);
  if (!waitFor(lk, cv_, timeout, [this] { return set_; })) return false;
  if (mode_ == Mode::kAutoReset) set_ = false;
  return true;
}

}  // namespace vek::platform
