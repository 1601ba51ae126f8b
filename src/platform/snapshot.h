// Snapshot<T>: an immutable value published for lock-free readers.
//
// The writer builds a complete new T and publishes it; a reader takes a
// shared_ptr and keeps a consistent value for as long as it holds it. Nothing
// is overwritten field by field and nothing is freed under a reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace vek::platform {

template <typename T>
class Snapshot {
 public:
  Snapshot() : Snapshot(std::make_shared<const T>()) {}
  explicit Snapshot(std::shared_ptr<const T> initial) : ptr_(std::move(initial)) {}

  std::shared_ptr<const T> get() const { return ptr_.load(std::memory_order_acquire); }
  // The same, for small values that many threads read very often (the
  // settings on every web request): each thread keeps the pointer it took
  // last and takes it again only after a publication. The atomic load of a
  // shared pointer takes a lock that such readers would queue on. A thread
  // holds the value it saw last until its next read or its end.
  std::shared_ptr<const T> getOften() const {
    struct Cached {
      uint64_t id = 0;
      uint64_t version = 0;
      std::shared_ptr<const T> value;
    };
    thread_local Cached cached;
    const uint64_t version = version_.load(std::memory_order_acquire);
    if (cached.id != id_ || cached.version != version) {
      cached.value = get();
      cached.id = id_;
      cached.version = version;
    }
    return cached.value;
  }
  void publish(std::shared_ptr<const T> next) {
    ptr_.store(std::move(next), std::memory_order_release);
    version_.fetch_add(1, std::memory_order_acq_rel);
  }
  void publish(T value) { publish(std::make_shared<const T>(std::move(value))); }

 private:
  static uint64_t nextId() {
    static std::atomic<uint64_t> last{0};
    return ++last;
  }

  std::atomic<std::shared_ptr<const T>> ptr_;
  std::atomic<uint64_t> version_{1};
  const uint64_t id_ = nextId();  // never 0, never reused
};

}  // namespace vek::platform
