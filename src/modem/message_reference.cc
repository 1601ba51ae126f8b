#include "modem/message_reference.h"

#include <atomic>

namespace vek::modem {
namespace {

std::atomic<uint32_t> g_reference{0};

}  // namespace

uint8_t nextMessageReference(bool test_zero_mr) {
  if (test_zero_mr) return 0;
  // 255 values in a cycle: 1, 2, ..., 255, 1, ...
  const uint32_t n = g_reference.fetch_add(1, std::memory_order_relaxed);
  return static_cast<uint8_t>(n % 255 + 1);
}

}  // namespace vek::modem
