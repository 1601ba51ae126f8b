#include "inbound/inbound_retry.h"

#include <algorithm>
#include <string>

#include "foundation/config_rules.h"
#include "foundation/link_name.h"
#include "hostlib/host.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kRetryLink = "2Way";
// A delay beyond any sense (ten years) stands for "overflowed".
constexpr int64_t kLongestDelay = int64_t{10} * 366 * 24 * 3600;

// The value of `key` for "2Way": its own section, else SMSGW, else `def`.
int64_t setting(const std::string& section, std::string_view key, int64_t def) {
  std::string v(platform::trim(hostlib::SMSIniGetProfileString(section, key, "", 50)));
  if (v.empty()) v = platform::trim(hostlib::SMSIniGetProfileString("SMSGW", key, "", 50));
  if (v.empty()) return def;
  return foundation::number(v);
}

}  // namespace

InboundRetryPolicy InboundRetryPolicy::fromConfig() {
  const std::string section = foundation::linkSectionName(kRetryLink);
  InboundRetryPolicy p;
  p.delay_seconds = setting(section, "RetryDelay", p.delay_seconds);
  p.multiplier = setting(section, "RetryDelayMultiplier", p.multiplier);
  p.after_attempts = setting(section, "RetryDelayAfterAttempts", p.after_attempts);
  p.max_delay_seconds = setting(section, "RetryDelayMax", p.max_delay_seconds);
  const int64_t max = setting(section, "RetryMaxAttempts", p.max_attempts);
  p.max_attempts = max > 0 ? static_cast<uint32_t>(max) : 0;
  return p;
}

std::chrono::seconds InboundRetryPolicy::delayAfter(uint32_t failures) const {
  const int64_t free_attempts = after_attempts > 0 ? after_attempts - 1 : 0;
  if (static_cast<int64_t>(failures) <= free_attempts) return std::chrono::seconds(0);
  int64_t delay = delay_seconds;
  if (multiplier != 0) {
    // Configured values are 32-bit; their product can still leave 64 bits.
    const int64_t steps = static_cast<int64_t>(failures) - free_attempts;
    if (__builtin_mul_overflow(delay, multiplier, &delay) ||
        __builtin_mul_overflow(delay, steps, &delay)) {
      delay = kLongestDelay;
    }
  }
  if (max_delay_seconds != 0 && delay > max_delay_seconds) delay = max_delay_seconds;
  return std::chrono::seconds(std::clamp<int64_t>(delay, 0, kLongestDelay));
}

bool InboundRetryPolicy::due(uint32_t failures, const queue::RequestTime& last,
                             platform::SystemTime now) const {
  // A time no retry was ever written at (the clock's range ends in 2262;
  // year 1000 would overflow it) counts as unset, like a value that does
  // not parse.
  if (failures == 0 || last.year < 1970 || last.year > 2200) return true;
  return now >= queue::toSystemTime(last) + delayAfter(failures);
}

}  // namespace vek::inbound
