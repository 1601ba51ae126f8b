#include "protocols/http/keepalive_pool.h"

#include "foundation/debug_log.h"

namespace vek::httpwire {
namespace {

constexpr std::string_view kTag = "GetAccountingKeepAlive";

}  // namespace

void KeepAlivePool::put(ClientConnection connection) {
  if (!connection.valid()) return;
  if (!connection.reusable()) {
    connection.close();
    return;
  }
  ClientConnection dropped;
  {
    std::scoped_lock lk(mu_);
    entries_.push_back(std::move(connection));
    if (entries_.size() > capacity_) {
      dropped = std::move(entries_.front());
      entries_.pop_front();
    }
  }
  // Closed outside the lock: a TLS close sends a record.
  dropped.close();
}

ClientConnection KeepAlivePool::get(const Endpoint& endpoint) {
  std::deque<ClientConnection> dead;
  ClientConnection found;
  {
    std::scoped_lock lk(mu_);
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (!it->reusable()) {
        dead.push_back(std::move(*it));
        it = entries_.erase(it);
        continue;
      }
      if (it->endpoint() == endpoint) {
        found = std::move(*it);
        entries_.erase(it);
        break;
      }
      ++it;
    }
  }
  for (auto& c : dead) {
    foundation::DebugLog(kTag, "Closing keep-alive socket");
    c.close();
  }
  if (found.valid()) foundation::DebugLog(kTag, "Re-using keep-alive socket");
  return found;
}

void KeepAlivePool::closeAll() {
  std::deque<ClientConnection> all;
  {
    std::scoped_lock lk(mu_);
    all.swap(entries_);
  }
  for (auto& c : all) c.close();
}

size_t KeepAlivePool::size() const {
  std::scoped_lock lk(mu_);
  return entries_.size();
}

KeepAlivePool& accountingKeepAlivePool() {
  static KeepAlivePool* pool = new KeepAlivePool();  // lives for the process
  return *pool;
}

RetrieveResult RetrieveURLPooled(std::string_view url, const RetrieveOptions& options,
                                 KeepAlivePool& pool) {
  KeepAliveSlot slot;
  if (auto endpoint = endpointForUrl(url, options.proxy); endpoint.ok())
    slot.connection = pool.get(*endpoint);
  RetrieveResult r = RetrieveURL(url, options, &slot);
  pool.put(std::move(slot.connection));
  return r;
}

}  // namespace vek::httpwire
