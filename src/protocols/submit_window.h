// SubmitWindow: the requests of one connection that were sent without
// waiting, keyed by the number that their answer carries back (an SMPP
// sequence number, a UCP transaction reference, a CIMD2 packet number).
//
// An entry remembers the kind of answer it expects and when it was sent;
// it leaves the window exactly once: taken by its answer, expired after the
// command time-out, or failed when the connection ends. Its context is
// completed by whoever takes it out. One thread (the one driving the
// connection) uses a window; not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/clock.h"
#include "protocols/async_submit.h"

namespace vek::protocols {

class SubmitWindow {
 public:
  struct Entry {
    std::shared_ptr<AsyncSubmit> ctx;
    uint32_t expected = 0;  // the answer's kind (command id, operation type)
    platform::SteadyTime sent{};
  };

  void add(uint32_t number, Entry entry) { entries_[number] = std::move(entry); }
  bool contains(uint32_t number) const { return entries_.count(number) != 0; }
  const Entry* find(uint32_t number) const;
  // Removes the entry of `number` and returns it; nullopt when there is none.
  std::optional<Entry> take(uint32_t number);
  // Completes every entry sent more than `timeout` ago with `code`. True
  // when one of them saw nothing at all from the peer since it was sent
  // (`last_received` before its send time): the peer is gone, not slow.
  bool expire(platform::SteadyTime now, std::chrono::milliseconds timeout,
              platform::SteadyTime last_received, uint32_t code);
  // Completes every entry with `code` and empties the window.
  void failAll(uint32_t code);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  std::unordered_map<uint32_t, Entry> entries_;
};

}  // namespace vek::protocols
