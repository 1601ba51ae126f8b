#include "queue/routing_db.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::queue {

const uint32_t kRoutingPrimes[kRoutingPrimeCount] = {
    53,       97,       193,      389,       769,       1543,      3079,      6151,      12289,
    24593,    49157,    98317,    196613,    393241,    786433,    1572869,   3145739,   6291469,
    12582917, 25165843, 50331653, 100663319, 201326611, 402653189, 805306457, 1610612741};

uint32_t routingKeyRawHash(std::string_view key) {
  uint32_t h = 0;
  for (char c : key) h = static_cast<uint32_t>(static_cast<unsigned char>(c)) + h * 65599u;
  return h;
}

namespace {

uint32_t rotr(uint32_t v, unsigned n) {
  return (v >> n) | (v << (32 - n));
}

}  // namespace

uint32_t routingHashMix(uint32_t h) {
  h += ~(h << 9);
  h ^= rotr(h, 14);
  h += h << 4;
  h ^= rotr(h, 10);
  return h;
}

uint32_t routingGrowThreshold(uint32_t buckets) {
  return static_cast<uint32_t>(
      std::ceil(static_cast<double>(buckets) * static_cast<double>(0.65f)));
}

namespace {

void* zeroedAllocate(size_t bytes) {
  return std::calloc(1, bytes);
}
void* plainReallocate(void* block, size_t, size_t new_bytes) {
  return std::realloc(block, new_bytes);
}
void plainRelease(void* block) {
  std::free(block);
}

const RoutingAllocator kDefaultAllocator{zeroedAllocate, plainReallocate, plainRelease};

// One entry in one block: the header, then the key and the value, each
// NUL-terminated.
struct RoutingEntry {
  RoutingEntry* next;
  uint32_t hash;
  uint32_t key_size;
  uint32_t value_size;

  std::string_view key() const { return {reinterpret_cast<const char*>(this + 1), key_size}; }
  std::string_view value() const {
    return {reinterpret_cast<const char*>(this + 1) + key_size + 1, value_size};
  }
};

std::string_view cutAtNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

RoutingEntry* makeEntry(const RoutingAllocator& a, std::string_view key, std::string_view value) {
  if (key.size() > UINT32_MAX / 4 || value.size() > UINT32_MAX / 4) return nullptr;
  void* block = a.allocate(sizeof(RoutingEntry) + key.size() + 1 + value.size() + 1);
  if (block == nullptr) return nullptr;
  auto* e =
      new (block) RoutingEntry{nullptr, routingKeyHash(key), static_cast<uint32_t>(key.size()),
                               static_cast<uint32_t>(value.size())};
  char* data = reinterpret_cast<char*>(e + 1);
  std::memcpy(data, key.data(), key.size());
  std::memcpy(data + key.size() + 1, value.data(), value.size());
  return e;
}

void freeEntry(const RoutingAllocator& a, RoutingEntry* e) {
  if (e == nullptr) return;
  e->~RoutingEntry();
  a.release(e);
}

}  // namespace

// The table itself; not thread-safe (the database locks around it). It owns
// its bucket array and every entry linked into it.
class RoutingTable {
 public:
  static std::unique_ptr<RoutingTable> create(size_t requested, const RoutingAllocator& a) {
    if (requested > kRoutingDbMaxRequest) return nullptr;
    size_t index = 0;
    while (index < kRoutingPrimeCount && kRoutingPrimes[index] <= requested) ++index;
    if (index == kRoutingPrimeCount) index = 0;
    auto** buckets =
        static_cast<RoutingEntry**>(a.allocate(kRoutingPrimes[index] * sizeof(RoutingEntry*)));
    if (buckets == nullptr) return nullptr;
    return std::unique_ptr<RoutingTable>(new RoutingTable(a, buckets, index));
  }

  ~RoutingTable() {
    for (uint32_t i = 0; i < size_; ++i) {
      RoutingEntry* e = buckets_[i];
      while (e != nullptr) {
        RoutingEntry* next = e->next;
        freeEntry(alloc_, e);
        e = next;
      }
    }
    alloc_.release(buckets_);
  }
  RoutingTable(const RoutingTable&) = delete;
  RoutingTable& operator=(const RoutingTable&) = delete;

  const RoutingEntry* find(std::string_view key, uint32_t hash) const {
    for (const RoutingEntry* e = buckets_[hash % size_]; e != nullptr; e = e->next) {
      if (e->hash == hash && platform::equalsNoCase(e->key(), key)) return e;
    }
    return nullptr;
  }

  // Links `e` in (its key is known to be absent). The insert goes ahead
  // whether or not growing succeeded.
  void insert(RoutingEntry* e) {
    if (++count_ > threshold_) (void)grow();
    RoutingEntry*& head = buckets_[e->hash % size_];
    e->next = head;
    head = e;
  }

  RoutingEntry* unlink(std::string_view key, uint32_t hash) {
    for (RoutingEntry** link = &buckets_[hash % size_]; *link != nullptr; link = &(*link)->next) {
      RoutingEntry* e = *link;
      if (e->hash == hash && platform::equalsNoCase(e->key(), key)) {
        *link = e->next;
        --count_;
        return e;
      }
    }
    return nullptr;
  }

  uint32_t count() const { return count_; }
  uint32_t size() const { return size_; }
  uint32_t threshold() const { return threshold_; }

 private:
  RoutingTable(const RoutingAllocator& a, RoutingEntry** buckets, size_t index)
      : alloc_(a),
        buckets_(buckets),
        prime_index_(index),
        size_(kRoutingPrimes[index]),
        threshold_(routingGrowThreshold(size_)) {}

  bool grow() {
    if (prime_index_ + 1 >= kRoutingPrimeCount) return false;
    const uint32_t old_size = size_;
    const uint32_t new_size = kRoutingPrimes[prime_index_ + 1];
    auto** fresh = static_cast<RoutingEntry**>(alloc_.allocate(new_size * sizeof(RoutingEntry*)));
    if (fresh != nullptr) {
      for (uint32_t i = 0; i < old_size; ++i) {
        RoutingEntry* e = buckets_[i];
        while (e != nullptr) {
          RoutingEntry* next = e->next;
          RoutingEntry*& head = fresh[e->hash % new_size];
          e->next = head;
          head = e;
          e = next;
        }
      }
      alloc_.release(buckets_);
      buckets_ = fresh;
    } else if (!growInPlace(old_size, new_size)) {
      return false;
    }
    ++prime_index_;
    size_ = new_size;
    threshold_ = routingGrowThreshold(new_size);
    return true;
  }

  // The fallback: a larger block for the same array, the new slots empty,
  // and only entries whose bucket changes moved. An entry moved to a later
  // bucket is met again there and stays, as it is already home.
  bool growInPlace(uint32_t old_size, uint32_t new_size) {
    auto** bigger = static_cast<RoutingEntry**>(alloc_.reallocate(
        buckets_, old_size * sizeof(RoutingEntry*), new_size * sizeof(RoutingEntry*)));
    if (bigger == nullptr) return false;
    buckets_ = bigger;
    std::memset(buckets_ + old_size, 0, (new_size - old_size) * sizeof(RoutingEntry*));
    for (uint32_t i = 0; i < old_size; ++i) {
      RoutingEntry** link = &buckets_[i];
      while (*link != nullptr) {
        RoutingEntry* e = *link;
        uint32_t home = e->hash % new_size;
        if (home == i) {
          link = &e->next;
          continue;
        }
        *link = e->next;
        e->next = buckets_[home];
        buckets_[home] = e;
      }
    }
    return true;
  }

  const RoutingAllocator& alloc_;
  RoutingEntry** buckets_;
  size_t prime_index_;
  uint32_t size_;
  uint32_t count_ = 0;
  uint32_t threshold_;
};

const RoutingAllocator& defaultRoutingAllocator() {
  return kDefaultAllocator;
}

RoutingDatabase::RoutingDatabase(const RoutingAllocator* allocator)
    : allocator_(allocator != nullptr ? *allocator : kDefaultAllocator) {}

RoutingDatabase::~RoutingDatabase() = default;

bool RoutingDatabase::create(size_t requested) {
  std::scoped_lock lk(outer_, inner_);
  table_ = RoutingTable::create(requested, allocator_);
  count_.store(0, std::memory_order_relaxed);
  return table_ != nullptr;
}

void RoutingDatabase::destroy() {
  std::scoped_lock lk(outer_, inner_);
  table_.reset();
  count_.store(0, std::memory_order_relaxed);
}

void RoutingDatabase::reset(std::chrono::milliseconds settle) {
  std::scoped_lock outer(outer_);
  std::scoped_lock inner(inner_);
  // Callers that come now wait for the fresh table instead of seeing a
  // half-built one.
  (void)platform::sleepFor(settle);
  table_.reset();
  table_ = RoutingTable::create(kRoutingDbInitialSize, allocator_);
  count_.store(0, std::memory_order_relaxed);
}

bool RoutingDatabase::add(std::string_view key_in, std::string_view value_in) {
  std::string_view key = cutAtNul(key_in);
  RoutingEntry* e = makeEntry(allocator_, key, cutAtNul(value_in));
  if (e == nullptr) return false;
  std::scoped_lock outer(outer_);
  {
    std::scoped_lock inner(inner_);
    if (table_ == nullptr || table_->find(key, e->hash) != nullptr) {
      freeEntry(allocator_, e);
      return false;
    }
  }
  std::scoped_lock inner(inner_);
  table_->insert(e);
  count_.store(table_->count(), std::memory_order_relaxed);
  return true;
}

std::optional<std::string> RoutingDatabase::lookup(std::string_view key_in) const {
  std::string_view key = cutAtNul(key_in);
  uint32_t hash = routingKeyHash(key);
  std::scoped_lock inner(inner_);
  if (table_ == nullptr) return std::nullopt;
  const RoutingEntry* e = table_->find(key, hash);
  if (e == nullptr) return std::nullopt;
  return std::string(e->value());
}

bool RoutingDatabase::remove(std::string_view key_in) {
  std::string_view key = cutAtNul(key_in);
  uint32_t hash = routingKeyHash(key);
  RoutingEntry* e;
  {
    std::scoped_lock inner(inner_);
    if (table_ == nullptr) return false;
    e = table_->unlink(key, hash);
    if (e == nullptr) return false;
    count_.store(table_->count(), std::memory_order_relaxed);
  }
  freeEntry(allocator_, e);
  return true;
}

uint32_t RoutingDatabase::bucketCount() const {
  std::scoped_lock inner(inner_);
  return table_ ? table_->size() : 0;
}

uint32_t RoutingDatabase::growThreshold() const {
  std::scoped_lock inner(inner_);
  return table_ ? table_->threshold() : 0;
}

RoutingDatabase& routingDatabase() {
  static RoutingDatabase db;
  return db;
}

bool CreateRoutingDatabase() {
  return routingDatabase().create(kRoutingDbInitialSize);
}
void ResetRoutingDatabase() {
  routingDatabase().reset();
}
uint32_t RoutingDatabaseCount() {
  return routingDatabase().count();
}
void DestroyRoutingDatabase() {
  routingDatabase().destroy();
}

}  // namespace vek::queue
