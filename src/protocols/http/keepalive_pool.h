// KeepAlivePool: kept-alive client connections shared by many threads, for
// the accounting callbacks (debug log tag "GetAccountingKeepAlive"). A
// first-in first-out list under one lock.
//
// put() keeps a connection only while it is open and quiet (an answer
// framed by length or chunks left it at a message boundary); get() hands
// out the oldest such connection to the endpoint asked for, closing dead
// ones it passes. The pool holds at most `capacity` connections: beyond it
// the oldest is closed. closeAll() at shutdown.
//
// Thread-safe. A connection taken out belongs to the taker alone.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string_view>

#include "protocols/http/client.h"
#include "protocols/http/connection.h"

namespace vek::httpwire {

class KeepAlivePool {
 public:
  explicit KeepAlivePool(size_t capacity = 32) : capacity_(capacity) {}
  KeepAlivePool(const KeepAlivePool&) = delete;
  KeepAlivePool& operator=(const KeepAlivePool&) = delete;

  void put(ClientConnection connection);
  // An alive connection to `endpoint`, or an invalid one when none.
  ClientConnection get(const Endpoint& endpoint);
  void closeAll();
  size_t size() const;

 private:
  const size_t capacity_;
  mutable std::mutex mu_;
  std::deque<ClientConnection> entries_;
};

// The pool of the accounting callbacks.
KeepAlivePool& accountingKeepAlivePool();

// RetrieveURL with a connection from `pool` when one fits, returning the
// connection to the pool afterwards when it may be used again.
RetrieveResult RetrieveURLPooled(std::string_view url, const RetrieveOptions& options,
                                 KeepAlivePool& pool);

}  // namespace vek::httpwire
