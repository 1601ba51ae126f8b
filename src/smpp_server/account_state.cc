#include "smpp_server/account_state.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "platform/strings.h"

namespace vek::smpp_server {

Throughput parseThroughput(std::string_view text) {
  Throughput t;
  auto parts = platform::split(text, "/");
  auto value = [&](size_t i) -> int64_t {
    if (i >= parts.size()) return 0;
    std::string_view p = platform::trim(parts[i]);
    return p.empty() ? 0 : foundation::number(p);
  };
  const int64_t n = value(0);
  int64_t s = value(1);
  if (s <= 0) s = 1;
  // No messages per period is no limit, not a division by zero.
  if (n > 0) t.min_interval = std::chrono::milliseconds(s * 1000 / n);
  const int64_t c = value(2);
  if (c > 0) t.max_connections = static_cast<int>(std::min<int64_t>(c, INT32_MAX));
  return t;
}

bool AccountRecord::tryAdmit(int max) {
  std::scoped_lock lk(mu_);
  if (connections_ >= max) return false;
  ++connections_;
  return true;
}

void AccountRecord::leave() {
  std::scoped_lock lk(mu_);
  if (connections_ > 0) --connections_;
}

int AccountRecord::connections() const {
  std::scoped_lock lk(mu_);
  return connections_;
}

platform::SteadyTime AccountRecord::reserveSlot(platform::SteadyTime now,
                                                std::chrono::milliseconds interval) {
  if (interval.count() <= 0) return now;
  std::scoped_lock lk(mu_);
  platform::SteadyTime slot = now;
  if (last_slot_) slot = std::max(now, *last_slot_ + interval);
  last_slot_ = slot;
  return slot;
}

void AccountRecord::countSubmitted(uint32_t files) {
  std::scoped_lock lk(mu_);
  submitted_ += files;
}

uint64_t AccountRecord::submitted() const {
  std::scoped_lock lk(mu_);
  return submitted_;
}

std::shared_ptr<AccountRecord> AccountRegistry::record(std::string_view account) {
  std::string key = platform::toLower(account);
  std::scoped_lock lk(mu_);
  auto& slot = records_[key];
  if (!slot) slot = std::make_shared<AccountRecord>();
  return slot;
}

std::optional<ConnectionSlot> AccountRegistry::admit(std::string_view account, int max) {
  auto r = record(account);
  if (!r->tryAdmit(max)) return std::nullopt;
  return ConnectionSlot(std::move(r));
}

}  // namespace vek::smpp_server
