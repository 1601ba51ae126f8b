#include "http/server/memory_budget.h"

namespace vek::http {

bool MemoryBudget::tryReserve(size_t n) {
  if (n == 0) return true;
  size_t used = used_.load(std::memory_order_relaxed);
  for (;;) {
    size_t limit = limit_.load(std::memory_order_relaxed);
    if (used > limit || n > limit - used) return false;
    if (used_.compare_exchange_weak(used, used + n, std::memory_order_relaxed)) return true;
  }
}

}  // namespace vek::http
