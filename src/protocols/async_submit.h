// AsyncSubmit: one submission sent without waiting for its answer
// (SMPPSubmitMessageAsync, SMPPServerSubmitMessageNew, UCPSubmitMessageAsync,
// CIMDSubmitMessageAsync).
//
// The gateway creates it (usually a derived type that also holds the open
// request file and the retry state), keeps it in its outstanding list and
// hands a shared pointer to the engine. The engine completes it exactly
// once: with the peer's result and message id when the answer arrives, or
// with a local code (time-out, connection lost) when none will. Completion
// happens on the thread that yields to the engine; answered() may be polled
// from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vek::protocols {

class AsyncSubmit {
 public:
  AsyncSubmit() = default;
  virtual ~AsyncSubmit() = default;
  AsyncSubmit(const AsyncSubmit&) = delete;
  AsyncSubmit& operator=(const AsyncSubmit&) = delete;

  bool answered() const { return answered_.load(std::memory_order_acquire); }
  // Valid once answered(): 0, the peer's error code or a local code.
  uint32_t result() const { return result_; }
  const std::string& messageId() const { return message_id_; }

  // Called by the engine. Later calls are ignored.
  void complete(uint32_t result, std::string message_id) {
    if (answered()) return;
    result_ = result;
    message_id_ = std::move(message_id);
    answered_.store(true, std::memory_order_release);
    onAnswered();
  }

 protected:
  // Runs on the completing thread right after the result is visible (a
  // derived context may wake a helper thread here).
  virtual void onAnswered() {}

 private:
  std::atomic<bool> answered_{false};
  uint32_t result_ = 0;
  std::string message_id_;
};

}  // namespace vek::protocols
