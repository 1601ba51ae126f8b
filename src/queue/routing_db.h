// The routing database: an in-memory map from a queued file's name
// (relative to the queue root) to the routes that may send it ("*=" plus
// one route, or route names separated by tabs). Route selection adds an
// entry when a link finds a message it may not send, asks it before
// sending, and the queue claim removes the entry when the file leaves.
//
// DESIGN
// A chained hash table. Bucket counts come only from a fixed list of
// primes (53, 97, ..., 1610612741); the table grows to the next prime when
// an insert takes the entry count above ceil(buckets * 0.65f). A key's
// hash is h = c + h * 65599 over its bytes, then mixed:
//   h += ~(h << 9); h ^= rotr(h, 14); h += h << 4; h ^= rotr(h, 10)
// and stored in the entry, so chains are compared and rehashed without
// recomputing it. Two keys are the same when their stored hashes are
// equal and they are equal ignoring ASCII case (keys differing in case
// thus usually hash apart and are distinct entries). Creating with a
// requested size n takes the first prime above n: start-up asks for 3079
// and gets 6151 buckets, which first grow at the 4000th entry. A grow that
// cannot get a new bucket array enlarges the old one in place and relinks
// the chains there; when that fails too the table stays as it was and the
// insert still goes ahead. At the last prime the table no longer grows.
//
// THREADS
// Any thread may call it. Two locks: the outer lock serialises adders and
// reset; the inner lock guards the table. Order: outer before inner. An
// add holds the outer lock across its lookup and insert, so two threads
// never insert one key twice; lookups and removals take the inner lock
// only. A reset holds both for its settle pause and the rebuild, so callers
// block rather than see a half-built table. count() reads without a lock
// and is advisory. Lookups return a copy: another thread may remove the
// entry the moment the lock is released.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vek::queue {

constexpr size_t kRoutingPrimeCount = 26;
extern const uint32_t kRoutingPrimes[kRoutingPrimeCount];
constexpr size_t kRoutingDbInitialSize = 3079;
constexpr size_t kRoutingDbMaxRequest = size_t{1} << 30;

uint32_t routingKeyRawHash(std::string_view key);
uint32_t routingHashMix(uint32_t h);
// The mixed hash a key is stored under.
inline uint32_t routingKeyHash(std::string_view key) {
  return routingHashMix(routingKeyRawHash(key));
}
// ceil(buckets * 0.65f)
uint32_t routingGrowThreshold(uint32_t buckets);

// Where the table's memory comes from (the ordinary allocator unless a
// test wants it to run out). Each returns null when memory ran out.
struct RoutingAllocator {
  void* (*allocate)(size_t bytes);  // zero-filled
  // Enlarges `block` keeping its content (the new tail is not cleared).
  void* (*reallocate)(void* block, size_t old_bytes, size_t new_bytes);
  void (*release)(void* block);
};
const RoutingAllocator& defaultRoutingAllocator();

class RoutingTable;

class RoutingDatabase {
 public:
  explicit RoutingDatabase(const RoutingAllocator* allocator = nullptr);
  ~RoutingDatabase();
  RoutingDatabase(const RoutingDatabase&) = delete;
  RoutingDatabase& operator=(const RoutingDatabase&) = delete;

  // Builds the table (start-up). False when `requested` is above 2^30 or
  // memory ran out; the database then holds nothing and refuses adds.
  bool create(size_t requested = kRoutingDbInitialSize);
  // Frees every entry and the table (shutdown).
  void destroy();
  // Waits `settle` holding both locks, then replaces the table by an empty
  // one of the initial size.
  void reset(std::chrono::milliseconds settle = std::chrono::milliseconds(500));

  // True when inserted; false when the key is present (its value stays) or
  // there is no memory or no table. A key or value is cut at a NUL.
  bool add(std::string_view key, std::string_view value);
  std::optional<std::string> lookup(std::string_view key) const;
  // True when an entry was removed.
  bool remove(std::string_view key);
  uint32_t count() const { return count_.load(std::memory_order_relaxed); }

  // Diagnostics and tests (under the inner lock): 0 without a table.
  uint32_t bucketCount() const;
  uint32_t growThreshold() const;

 private:
  const RoutingAllocator& allocator_;
  mutable std::mutex outer_;
  mutable std::mutex inner_;
  std::unique_ptr<RoutingTable> table_;  // guarded by inner_
  std::atomic<uint32_t> count_{0};
};

// The process-wide database and what start-up, the supervisor and
// shutdown call.
RoutingDatabase& routingDatabase();
bool CreateRoutingDatabase();
void ResetRoutingDatabase();
uint32_t RoutingDatabaseCount();
void DestroyRoutingDatabase();

}  // namespace vek::queue
