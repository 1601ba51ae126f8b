// MemoryBudget: the request bytes that all web connections together may
// buffer beyond each connection's free allowance (the first 16 KB of a
// buffer cost nothing, so that ordinary requests never touch it). A large
// body reserves its whole length before its first byte is read; a buffer
// that grows reserves each step. A refused reservation is answered 503 with
// "Retry-After" instead of buffering.
//
// Thread-safe (the event loop reserves, the request's owner releases).
#pragma once

#include <atomic>
#include <cstddef>

namespace vek::http {

class MemoryBudget {
 public:
  static constexpr size_t kFreeAllowance = 16u << 10;

  explicit MemoryBudget(size_t limit = 256u << 20) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  void setLimit(size_t limit) { limit_.store(limit, std::memory_order_relaxed); }
  size_t limit() const { return limit_.load(std::memory_order_relaxed); }
  // Takes `n` bytes of the budget; false (nothing taken) when they do not fit.
  bool tryReserve(size_t n);
  // Takes `n` bytes whatever the limit (memory already in use).
  void take(size_t n) { used_.fetch_add(n, std::memory_order_relaxed); }
  void release(size_t n) { used_.fetch_sub(n, std::memory_order_relaxed); }
  size_t used() const { return used_.load(std::memory_order_relaxed); }

 private:
  std::atomic<size_t> limit_;
  std::atomic<size_t> used_{0};
};

}  // namespace vek::http
