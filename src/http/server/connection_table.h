// ConnectionTable: the web server's open connections (plain and TLS
// together). It enforces `MaxHTTPConnections`, lets a full server reclaim
// the connection that has been idle longest, and wakes every connection at
// shutdown.
//
// A connection is idle while it waits for the first byte of its next
// request with nothing buffered (a kept-alive connection between requests,
// or a new one that has not sent anything yet). When the table is full, a
// new connection takes the place of the connection idle longest, provided
// it has been idle for at least reclaim_after; that connection is woken
// (its socket shut down) and ends. Only when no connection is reclaimable
// is the new one refused.
//
// The owner of a connection removes its entry before closing the socket;
// the table wakes sockets only under its lock, so it never touches a
// descriptor that has been closed and reused. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/clock.h"

namespace vek::http {

class ConnectionTable {
 public:
  // Registers `fd`; nullopt when `cap` connections are open and none can be
  // reclaimed.
  std::optional<uint64_t> admit(int fd, size_t cap);
  void setIdle(uint64_t id, bool idle);
  // Idempotent; a reclaimed entry is already gone.
  void remove(uint64_t id);
  // Wakes every open connection (shutdown).
  void wakeAll();
  size_t size() const;

  void setReclaimAfter(std::chrono::milliseconds d);

 private:
  struct Entry {
    int fd;
    bool idle;
    platform::SteadyTime since;
  };
  mutable std::mutex mu_;
  std::unordered_map<uint64_t, Entry> open_;
  uint64_t next_id_ = 1;
  std::chrono::milliseconds reclaim_after_{1000};
};

ConnectionTable& connectionTable();

// `MaxHTTPConnections` (section SMSGW; empty or 0: 400).
size_t maxConnectionsFromConfiguration();

}  // namespace vek::http
