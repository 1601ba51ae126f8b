#include "inbound/inbound_queue.h"

#include <atomic>

#include "foundation/directories.h"
#include "foundation/service_state.h"

namespace vek::inbound {
namespace {

std::atomic<int64_t>& waiting() {
  static std::atomic<int64_t> count{0};
  return count;
}

}  // namespace

std::string newInboundFileDirectory() {
  return foundation::inboundBatchDirectory(inboundFilesWaiting());
}

void inboundFileWritten(InboundKind kind) {
  waiting().fetch_add(1, std::memory_order_relaxed);
  if (kind == InboundKind::kMessage) foundation::inboundEventA().set();
  if (kind == InboundKind::kReceipt) foundation::inboundEventB().set();
  if (kind == InboundKind::kReceiptToResolve) receiptEvent().set();
}

platform::Event& receiptEvent() {
  static platform::Event event;
  return event;
}

void inboundFileFinished() {
  // Files from before start-up are finished too; the count stays at 0.
  int64_t n = waiting().load(std::memory_order_relaxed);
  while (n > 0 && !waiting().compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
}

uint64_t inboundFilesWaiting() {
  int64_t n = waiting().load(std::memory_order_relaxed);
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

}  // namespace vek::inbound
