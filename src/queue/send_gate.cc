#include "queue/send_gate.h"

#include <algorithm>

#include "foundation/link_name.h"
#include "hostlib/host.h"
#include "platform/strings.h"

namespace vek::queue {
namespace {

// Leading decimal digits as a number (saturating); nullopt without one.
std::optional<uint64_t> leadingNumber(std::string_view* v) {
  *v = platform::trim(*v);
  if (v->empty() || (*v)[0] < '0' || (*v)[0] > '9') return std::nullopt;
  uint64_t n = 0;
  while (!v->empty() && (*v)[0] >= '0' && (*v)[0] <= '9') {
    n = std::min<uint64_t>(n * 10 + static_cast<uint64_t>((*v)[0] - '0'), UINT32_MAX);
    v->remove_prefix(1);
  }
  return n;
}

}  // namespace

uint32_t parseSendLimit(std::string_view value) {
  auto count = leadingNumber(&value);
  if (!count || *count == 0) return 0;
  uint64_t seconds = 1;
  value = platform::trim(value);
  if (!value.empty() && value[0] == '/') {
    value.remove_prefix(1);
    auto s = leadingNumber(&value);
    if (s) seconds = *s;
  }
  uint64_t interval = seconds * 1000 / *count;
  return static_cast<uint32_t>(std::min<uint64_t>(interval, kMaxSendIntervalMs));
}

uint32_t SendInterval(std::string_view link_name) {
  return parseSendLimit(hostlib::SMSIniGetProfileString(foundation::linkSectionName(link_name),
                                                        "SMSCSendLimit", "", 100));
}

bool SendGate::tryOpen(platform::SteadyTime now) {
  if (interval_ == 0) return true;
  if (!last_) {
    last_ = now;
    return true;
  }
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *last_).count();
  if (elapsed < static_cast<int64_t>(interval_)) return false;
  last_ = elapsed == static_cast<int64_t>(interval_) + 1 ? now - std::chrono::milliseconds(1) : now;
  return true;
}

uint32_t SendGate::waitMs(platform::SteadyTime now) const {
  if (interval_ == 0 || !last_) return 0;
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *last_).count();
  if (elapsed >= static_cast<int64_t>(interval_)) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(interval_) - std::max<int64_t>(elapsed, 0));
}

}  // namespace vek::queue
