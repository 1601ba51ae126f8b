// UnboundLimits: caps on connections that have not bound yet, per peer
// address and in total. A connection takes a ticket when it is accepted
// and gives it back when it binds or ends; a connection that finds no
// ticket is closed at once, before it costs a thread. Together with the
// bind time limit this keeps what idle or half-open connections can hold
// (threads, descriptors, buffers) bounded, while connections that have
// bound are not counted.
//
// Thread-safe (one lock).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vek::smpp_server {

class UnboundLimits;

class UnboundTicket {
 public:
  UnboundTicket() = default;
  UnboundTicket(UnboundLimits* owner, std::string address)
      : owner_(owner), address_(std::move(address)) {}
  UnboundTicket(UnboundTicket&& o) noexcept : owner_(o.owner_), address_(std::move(o.address_)) {
    o.owner_ = nullptr;
  }
  UnboundTicket& operator=(UnboundTicket&& o) noexcept;
  UnboundTicket(const UnboundTicket&) = delete;
  UnboundTicket& operator=(const UnboundTicket&) = delete;
  ~UnboundTicket() { release(); }

  bool held() const { return owner_ != nullptr; }
  void release();

 private:
  UnboundLimits* owner_ = nullptr;
  std::string address_;
};

class UnboundLimits {
 public:
  // A ticket when `address` holds fewer than `per_address` and all
  // addresses together fewer than `total`; an empty one otherwise.
  UnboundTicket admit(std::string_view address, int per_address, int total);
  int total() const;
  int of(std::string_view address) const;

 private:
  friend class UnboundTicket;
  void give(const std::string& address);

  mutable std::mutex mu_;
  int total_ = 0;
  std::unordered_map<std::string, int> by_address_;
};

}  // namespace vek::smpp_server
