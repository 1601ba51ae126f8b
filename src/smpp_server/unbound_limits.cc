#include "smpp_server/unbound_limits.h"

#include <sys/socket.h>

#include <algorithm>

namespace vek::smpp_server {

UnboundTicket& UnboundTicket::operator=(UnboundTicket&& o) noexcept {
  if (this != &o) {
    release();
    owner_ = o.owner_;
    address_ = std::move(o.address_);
    serial_ = o.serial_;
    evicted_ = std::move(o.evicted_);
    o.owner_ = nullptr;
  }
  return *this;
}

void UnboundTicket::release() {
  if (owner_) owner_->give(address_, serial_, evicted());
  owner_ = nullptr;
}

UnboundTicket UnboundLimits::admit(std::string_view address, int per_address, int total, int fd) {
  std::string key(address);
  std::scoped_lock lk(mu_);
  auto it = by_address_.find(key);
  const size_t holds = it == by_address_.end() ? 0 : it->second.size();
  if (holds >= static_cast<size_t>(std::max(per_address, 0))) return {};
  if (total_ - leaving_ >= total) {
    const int may_leave = std::max(1, total / 8);
    if (leaving_ >= may_leave || !evictFromBusiest(holds)) return {};
  }
  ++total_;
  const uint64_t serial = ++next_serial_;
  auto flag = std::make_shared<std::atomic<bool>>(false);
  by_address_[key].emplace(serial, Waiting{flag, fd});
  return UnboundTicket(this, std::move(key), serial, std::move(flag));
}

bool UnboundLimits::evictFromBusiest(size_t newcomer_holds) {
  auto busiest = by_address_.end();
  for (auto it = by_address_.begin(); it != by_address_.end(); ++it) {
    if (busiest == by_address_.end() || it->second.size() > busiest->second.size()) busiest = it;
  }
  if (busiest == by_address_.end() || busiest->second.size() <= newcomer_holds) return false;
  auto oldest = busiest->second.begin();
  oldest->second.evicted->store(true, std::memory_order_relaxed);
  // Wakes the session's wait for the bind; the socket stays open (and its
  // number taken) until the session gives its ticket back.
  if (oldest->second.fd >= 0) ::shutdown(oldest->second.fd, SHUT_RDWR);
  busiest->second.erase(oldest);
  if (busiest->second.empty()) by_address_.erase(busiest);
  ++leaving_;
  return true;
}

void UnboundLimits::give(const std::string& address, uint64_t serial, bool evicted) {
  std::scoped_lock lk(mu_);
  if (total_ > 0) --total_;
  if (evicted) {
    if (leaving_ > 0) --leaving_;
    return;
  }
  auto it = by_address_.find(address);
  if (it == by_address_.end()) return;
  it->second.erase(serial);
  // Addresses with nothing open are forgotten, so the map stays as small
  // as the number of addresses with a connection in progress.
  if (it->second.empty()) by_address_.erase(it);
}

int UnboundLimits::total() const {
  std::scoped_lock lk(mu_);
  return total_;
}

int UnboundLimits::of(std::string_view address) const {
  std::scoped_lock lk(mu_);
  auto it = by_address_.find(std::string(address));
  return it == by_address_.end() ? 0 : static_cast<int>(it->second.size());
}

}  // namespace vek::smpp_server
