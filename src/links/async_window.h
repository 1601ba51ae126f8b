// AsyncWindow: the submissions of one link connection that went out
// without waiting for their answers, and the handling of those answers.
//
// Each entry (WindowEntry, an smpp::AsyncSubmit) carries its SendJob, so
// the request file stays claimed while the answer is outstanding. The
// protocol engine completes an entry by the sequence number of its answer
// (never by order), inside the sender's yield(); the entry then moves to
// the answered list. Answers are handled in batches, either by the sender
// thread itself (handleAnswered) or by helper threads
// (`SmppSubmitAsyncHelperThread`, `AsyncCallbackThreads` of them): all
// successes of a batch share one message-id store transaction, failures
// go through Outcomes::failed one by one.
//
// A throttled answer (88, or 20 with `ThrottleForQFull`) is a failure like
// any other (a retry record that does not count towards the maximum), and
// the file also goes on the throttle-resubmit queue, at most 5 times per
// file, so the sender sends it again before it continues its scan.
// Answers that will never come (the connection ended: kConnectionLost,
// kNotConnected, kCancelled) leave their files unchanged for the next
// attempt; a time-out is a failure (the centre may have taken it).
//
// Threads: the sender thread makes and adds entries and yields;
// completions arrive on it; helper threads (or the sender) handle the
// answered list. The shared state lives as long as any entry or helper
// refers to it, so a helper that outlives its bounded stop never touches
// freed memory.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "links/send_job.h"
#include "protocols/smpp/async_submit.h"

namespace vek::links {

class Outcomes;
struct WindowState;

class WindowEntry final : public smpp::AsyncSubmit,
                          public std::enable_shared_from_this<WindowEntry> {
 public:
  WindowEntry(std::shared_ptr<WindowState> state, SendJob job)
      : state_(std::move(state)), job_(std::move(job)) {}
  SendJob& job() { return job_; }
  // Set once the outcome was written (the file deleted, kept or let go).
  bool handled() const { return handled_.load(std::memory_order_acquire); }
  // Set when the answer was a success.
  bool wasSent() const { return sent_.load(std::memory_order_acquire); }

 private:
  friend struct WindowState;
  void onAnswered() override;
  std::shared_ptr<WindowState> state_;
  SendJob job_;
  std::atomic<bool> handled_{false};
  std::atomic<bool> sent_{false};
};

struct ThrottleResubmit {
  std::string relative;  // path relative to the queue root
  uint32_t resubmits = 0;
};

// The text of a result code (the kind's SMPPErrorText and the like).
using ErrorTextFn = std::string (*)(uint32_t code);

class AsyncWindow {
 public:
  static constexpr uint32_t kMaxThrottleResubmits = 5;

  AsyncWindow(std::shared_ptr<Outcomes> outcomes, ErrorTextFn error_text);
  ~AsyncWindow();
  AsyncWindow(const AsyncWindow&) = delete;
  AsyncWindow& operator=(const AsyncWindow&) = delete;

  void setThrottleForQFull(bool on);

  // Starts `count` helper threads (0: the sender handles answers itself).
  void startHelpers(int count, const std::string& link);
  // Stops the helpers, waiting up to `bound` for each. True when all ended.
  bool stopHelpers(std::chrono::milliseconds bound);
  bool helpers() const;

  // A new entry for `job`; add() it once its submission went out. An entry
  // that was never added is simply dropped (its job goes back to the caller
  // through entry->job()).
  std::shared_ptr<WindowEntry> makeEntry(SendJob job);
  void add(const std::shared_ptr<WindowEntry>& entry);

  // Entries added whose outcome is not written yet.
  size_t unhandled() const;
  // Entries answered and waiting to be handled.
  size_t answered() const;
  // Handles up to `max` answered entries on the calling thread; returns how many.
  size_t handleAnswered(size_t max = SIZE_MAX);
  // Waits (on the calling thread, without yielding) until the helpers took
  // every answered entry, at most `bound`.
  bool waitAnsweredTaken(std::chrono::milliseconds bound);

  // The next file of the throttle-resubmit queue ("CheckThrottleResubmitQ").
  bool takeThrottleResubmit(ThrottleResubmit* out);
  size_t throttleQueued() const;

 private:
  std::shared_ptr<WindowState> state_;
};

}  // namespace vek::links
