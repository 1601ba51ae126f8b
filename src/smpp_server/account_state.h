// The per-account runtime record that every connection of one account
// shares: how many connections it holds, how many messages it submitted, and
// the pacing of its submissions. Accounts are keyed by name without regard
// to case (the account store's rule).
//
// Throughput setting of an account ("N[/S[/C]]"): N messages per S seconds
// (S absent or not positive: 1) give a minimum interval of S*1000/N
// milliseconds between two of the account's submissions; N absent, 0 or not
// a number means no pacing. C, when present and positive, replaces the
// gateway's maximum of connections for the account.
//
// Admission is one check-and-increment under the record's lock: the
// connection that would take the count above the maximum is refused (the
// fifth at a maximum of 4), however many arrive at once. A ConnectionSlot
// gives its place back when destroyed.
//
// Pacing reserves the next free time slot under the same lock and returns
// when that slot begins, so connections of one account share the interval
// instead of each keeping their own.
//
// Thread-safe; a record lives as long as the registry.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/clock.h"

namespace vek::smpp_server {

struct Throughput {
  std::chrono::milliseconds min_interval{0};  // 0: no pacing
  int max_connections = 0;                    // 0: the gateway's maximum
};
Throughput parseThroughput(std::string_view text);

class AccountRecord {
 public:
  // Takes a place when fewer than `max` are taken.
  bool tryAdmit(int max);
  void leave();
  int connections() const;

  // The start of the next submission slot for an account paced at
  // `interval` (0: `now`), and that slot taken.
  platform::SteadyTime reserveSlot(platform::SteadyTime now, std::chrono::milliseconds interval);

  void countSubmitted(uint32_t files);
  uint64_t submitted() const;

 private:
  mutable std::mutex mu_;
  int connections_ = 0;
  uint64_t submitted_ = 0;
  std::optional<platform::SteadyTime> last_slot_;
};

// One admitted connection's place in its account's count.
class ConnectionSlot {
 public:
  ConnectionSlot() = default;
  explicit ConnectionSlot(std::shared_ptr<AccountRecord> record) : record_(std::move(record)) {}
  ConnectionSlot(ConnectionSlot&& o) noexcept = default;
  ConnectionSlot& operator=(ConnectionSlot&& o) noexcept {
    if (this != &o) {
      reset();
      record_ = std::move(o.record_);
    }
    return *this;
  }
  ConnectionSlot(const ConnectionSlot&) = delete;
  ConnectionSlot& operator=(const ConnectionSlot&) = delete;
  ~ConnectionSlot() { reset(); }

  bool held() const { return record_ != nullptr; }
  AccountRecord* record() const { return record_.get(); }
  void reset() {
    if (record_) record_->leave();
    record_.reset();
  }

 private:
  std::shared_ptr<AccountRecord> record_;
};

class AccountRegistry {
 public:
  std::shared_ptr<AccountRecord> record(std::string_view account);
  // A slot for a new connection of `account`, or none when it already holds
  // `max` connections.
  std::optional<ConnectionSlot> admit(std::string_view account, int max);

 private:
  std::mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<AccountRecord>> records_;
};

}  // namespace vek::smpp_server
