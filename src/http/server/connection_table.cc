#include "http/server/connection_table.h"

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/socket.h"

namespace vek::http {

std::optional<uint64_t> ConnectionTable::admit(int fd, size_t cap) {
  std::scoped_lock lk(mu_);
  if (open_.size() >= cap) {
    auto now = platform::monotonicNow();
    auto oldest = open_.end();
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (!it->second.idle || now - it->second.since < reclaim_after_) continue;
      if (oldest == open_.end() || it->second.since < oldest->second.since) oldest = it;
    }
    if (oldest == open_.end()) return std::nullopt;
    foundation::Debug2Log("ThreadListenForConnections",
                          "Closing the longest idle connection to make room");
    platform::wakeSocket(oldest->second.fd);
    open_.erase(oldest);
  }
  uint64_t id = next_id_++;
  open_.emplace(id, Entry{fd, true, platform::monotonicNow()});
  return id;
}

void ConnectionTable::setIdle(uint64_t id, bool idle) {
  std::scoped_lock lk(mu_);
  auto it = open_.find(id);
  if (it == open_.end() || it->second.idle == idle) return;
  it->second.idle = idle;
  if (idle) it->second.since = platform::monotonicNow();
}

void ConnectionTable::remove(uint64_t id) {
  std::scoped_lock lk(mu_);
  open_.erase(id);
}

void ConnectionTable::wakeAll() {
  std::scoped_lock lk(mu_);
  for (auto& [id, e] : open_) platform::wakeSocket(e.fd);
}

size_t ConnectionTable::size() const {
  std::scoped_lock lk(mu_);
  return open_.size();
}

void ConnectionTable::setReclaimAfter(std::chrono::milliseconds d) {
  std::scoped_lock lk(mu_);
  reclaim_after_ = d;
}

ConnectionTable& connectionTable() {
  static ConnectionTable table;
  return table;
}

size_t maxConnectionsFromConfiguration() {
  int32_t n = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", "MaxHTTPConnections"));
  return n > 0 ? static_cast<size_t>(n) : 400;
}

}  // namespace vek::http
