// The send limit of a link: `SMSCSendLimit` in its section, "N" or "N/S"
// for at most N messages per S seconds (S defaults to 1). SendInterval is
// the least time between two sends, (S * 1000) / N milliseconds in integer
// division; 0 (no limit) when the value does not start with a number or N
// is 0. An interval is never longer than one day.
//
// SendGate applies it on the sender's monotonic clock: with interval 0 it
// is always open; otherwise it opens when at least the interval has passed
// since it last opened, and then records the time (one millisecond earlier
// when exactly interval + 1 ms had passed). A gate is owned by one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/clock.h"

namespace vek::queue {

constexpr uint32_t kMaxSendIntervalMs = 24u * 3600u * 1000u;

uint32_t parseSendLimit(std::string_view value);
// From the link's section of the current "SMSGW.INI".
uint32_t SendInterval(std::string_view link_name);

class SendGate {
 public:
  explicit SendGate(uint32_t interval_ms = 0) : interval_(interval_ms) {}
  uint32_t interval() const { return interval_; }
  // True when a message may go now; the opening is recorded.
  bool tryOpen(platform::SteadyTime now);
  // Milliseconds until the gate opens (0: open now).
  uint32_t waitMs(platform::SteadyTime now) const;

 private:
  uint32_t interval_;
  std::optional<platform::SteadyTime> last_;
};

}  // namespace vek::queue
