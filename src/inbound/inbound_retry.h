// When a failed inbound file is worked again, and when it is given up: the
// retry schedule of the link named "2Way" (its settings in section
// "Modem - 2Way", each falling back to section SMSGW):
//
//   RetryDelay (30 s), RetryDelayMultiplier (1), RetryDelayAfterAttempts
//   (2), RetryDelayMax (0: no cap), RetryMaxAttempts (20)
//
// After n failures the next attempt waits 0 while n is at most
// RetryDelayAfterAttempts - 1, otherwise RetryDelay x (multiplier x the
// failures beyond that) (RetryDelay alone with a multiplier of 0), capped
// by RetryDelayMax: with the defaults 0, 30, 60, 90 ... seconds. A file
// that failed RetryMaxAttempts times is given up at its next failure.
//
// Settings are read at the point of use. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/clock.h"
#include "queue/request_file.h"

namespace vek::inbound {

struct InboundRetryPolicy {
  int64_t delay_seconds = 30;
  int64_t multiplier = 1;
  int64_t after_attempts = 2;
  int64_t max_delay_seconds = 0;
  uint32_t max_attempts = 20;

  // The configured schedule of "2Way".
  static InboundRetryPolicy fromConfig();
  // The wait after `failures` failures.
  std::chrono::seconds delayAfter(uint32_t failures) const;
  // True when a file that failed `failures` times, last at `last` (local
  // time), may be worked at `now`.
  bool due(uint32_t failures, const queue::RequestTime& last, platform::SystemTime now) const;
  // True when another failure after `failures` is final.
  bool exhausted(uint32_t failures) const { return failures >= max_attempts; }
};

}  // namespace vek::inbound
