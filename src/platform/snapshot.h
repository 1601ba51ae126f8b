// Snapshot<T>: an immutable value published for lock-free readers.
//
// The writer builds a complete new T and publishes it; a reader takes a
// shared_ptr and keeps a consistent value for as long as it holds it. Nothing
// is overwritten field by field and nothing is freed under a reader.
#pragma once

#include <atomic>
#include <memory>

namespace vek::platform {

template <typename T>
class Snapshot {
 public:
  Snapshot() : ptr_(std::make_shared<const T>()) {}
  explicit Snapshot(std::shared_ptr<const T> initial) : ptr_(std::move(initial)) {}

  std::shared_ptr<const T> get() const { return ptr_.load(std::memory_order_acquire); }
  void publish(std::shared_ptr<const T> next) {
    ptr_.store(std::move(next), std::memory_order_release);
  }
  void publish(T value) { publish(std::make_shared<const T>(std::move(value))); }

 private:
  std::atomic<std::shared_ptr<const T>> ptr_;
};

}  // namespace vek::platform
