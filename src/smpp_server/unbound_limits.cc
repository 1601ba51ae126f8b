#include "smpp_server/unbound_limits.h"

namespace vek::smpp_server {

UnboundTicket& UnboundTicket::operator=(UnboundTicket&& o) noexcept {
  if (this != &o) {
    release();
    owner_ = o.owner_;
    address_ = std::move(o.address_);
    o.owner_ = nullptr;
  }
  return *this;
}

void UnboundTicket::release() {
  if (owner_) owner_->give(address_);
  owner_ = nullptr;
}

UnboundTicket UnboundLimits::admit(std::string_view address, int per_address, int total) {
  std::string key(address);
  std::scoped_lock lk(mu_);
  if (total_ >= total) return {};
  auto it = by_address_.find(key);
  if (it != by_address_.end() && it->second >= per_address) return {};
  ++total_;
  ++by_address_[key];
  return UnboundTicket(this, std::move(key));
}

void UnboundLimits::give(const std::string& address) {
  std::scoped_lock lk(mu_);
  if (total_ > 0) --total_;
  auto it = by_address_.find(address);
  if (it == by_address_.end()) return;
  // Addresses with nothing open are forgotten, so the map stays as small
  // as the number of addresses with a connection in progress.
  if (--it->second <= 0) by_address_.erase(it);
}

int UnboundLimits::total() const {
  std::scoped_lock lk(mu_);
  return total_;
}

int UnboundLimits::of(std::string_view address) const {
  std::scoped_lock lk(mu_);
  auto it = by_address_.find(std::string(address));
  return it == by_address_.end() ? 0 : it->second;
}

}  // namespace vek::smpp_server
