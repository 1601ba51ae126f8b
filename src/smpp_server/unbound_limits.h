// UnboundLimits: caps on connections that have not bound yet, per peer
// address and in total. A connection takes a ticket when it is accepted
// and gives it back when it binds or ends; a connection that finds no
// ticket is closed at once, before it costs a thread. Together with the
// bind time limit this keeps what idle or half-open connections can hold
// (threads, descriptors, buffers) bounded, while connections that have
// bound are not counted.
//
// When the total is reached, a newcomer from an address holding fewer
// waiting connections than the busiest address takes the place of that
// address's oldest one: the oldest ticket is marked evicted and its
// socket shut down, so its session ends at once. So idle connections
// from many addresses cannot lock out a client that is about to bind. At
// most an eighth of the total may be leaving this way at once, so the
// tickets held never exceed the total by more than that.
//
// Thread-safe (one lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vek::smpp_server {

class UnboundLimits;

class UnboundTicket {
 public:
  UnboundTicket() = default;
  UnboundTicket(UnboundLimits* owner, std::string address, uint64_t serial,
                std::shared_ptr<std::atomic<bool>> evicted)
      : owner_(owner),
        address_(std::move(address)),
        serial_(serial),
        evicted_(std::move(evicted)) {}
  UnboundTicket(UnboundTicket&& o) noexcept
      : owner_(o.owner_),
        address_(std::move(o.address_)),
        serial_(o.serial_),
        evicted_(std::move(o.evicted_)) {
    o.owner_ = nullptr;
  }
  UnboundTicket& operator=(UnboundTicket&& o) noexcept;
  UnboundTicket(const UnboundTicket&) = delete;
  UnboundTicket& operator=(const UnboundTicket&) = delete;
  ~UnboundTicket() { release(); }

  bool held() const { return owner_ != nullptr; }
  // True once a newcomer took this connection's place: the session ends.
  bool evicted() const { return evicted_ && evicted_->load(std::memory_order_relaxed); }
  void release();

 private:
  UnboundLimits* owner_ = nullptr;
  std::string address_;
  uint64_t serial_ = 0;
  std::shared_ptr<std::atomic<bool>> evicted_;
};

class UnboundLimits {
 public:
  // A ticket when `address` holds fewer than `per_address` and either all
  // addresses together hold fewer than `total` or a waiting connection of a
  // busier address can be evicted for it; an empty one otherwise.
  // `fd` (when not -1) is the connection's socket, shut down on eviction:
  // it must stay open until the ticket is given back.
  UnboundTicket admit(std::string_view address, int per_address, int total, int fd = -1);
  int total() const;  // tickets held, those leaving included
  int of(std::string_view address) const;

 private:
  friend class UnboundTicket;
  void give(const std::string& address, uint64_t serial, bool evicted);
  bool evictFromBusiest(size_t newcomer_holds);

  mutable std::mutex mu_;
  int total_ = 0;
  int leaving_ = 0;  // evicted, not yet given back
  uint64_t next_serial_ = 0;
  // Per address, its waiting connections oldest first (evicted ones are
  // no longer listed).
  struct Waiting {
    std::shared_ptr<std::atomic<bool>> evicted;
    int fd = -1;
  };
  std::unordered_map<std::string, std::map<uint64_t, Waiting>> by_address_;
};

}  // namespace vek::smpp_server
