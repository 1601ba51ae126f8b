#include "foundation/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "foundation/debug_log.h"

namespace vek::foundation {
namespace {

// Each block starts with this header; the caller sees the bytes after it.
// 16 bytes keep the caller's part aligned like malloc's.
struct alignas(16) Header {
  uint64_t size;
  uint64_t magic;
};
static_assert(sizeof(Header) == 16);

constexpr uint64_t kLiveMagic = 0x4757424c4f434b31ull;  // "GWBLOCK1"
constexpr uint64_t kDeadMagic = 0x4757424c4f434b30ull;

std::atomic<uint32_t> g_blocks{0};

Header* headerOf(void* block) {
  return static_cast<Header*>(block) - 1;
}

void logCount(const char* tag) {
  if (debug2Enabled())
    DebugLogf(tag, "Memory blocks = %u", g_blocks.load(std::memory_order_relaxed));
}

}  // namespace

void* GWmalloc(size_t size) {
  if (size > SIZE_MAX - sizeof(Header) - kBlockSlack) return nullptr;
  auto* h = static_cast<Header*>(std::calloc(1, sizeof(Header) + size + kBlockSlack));
  if (h == nullptr) return nullptr;
  h->size = size;
  h->magic = kLiveMagic;
  g_blocks.fetch_add(1, std::memory_order_relaxed);
  logCount("GWmalloc");
  return h + 1;
}

void* GWrealloc(void* block, size_t size) {
  if (block == nullptr) return GWmalloc(size);
  if (size > SIZE_MAX - sizeof(Header) - kBlockSlack) return nullptr;
  Header* h = headerOf(block);
  if (h->magic != kLiveMagic) return nullptr;
  uint64_t old_size = h->size;
  auto* grown = static_cast<Header*>(std::realloc(h, sizeof(Header) + size + kBlockSlack));
  if (grown == nullptr) return nullptr;
  if (size > old_size) {
    // The old slack may hold the caller's bytes; only what lies past the
    // old block's end is new.
    char* base = reinterpret_cast<char*>(grown + 1);
    std::memset(base + old_size + kBlockSlack, 0, size - old_size);
  }
  grown->size = size;
  return grown + 1;
}

bool GWfree(void* block) {
  if (block == nullptr || headerOf(block)->magic != kLiveMagic) {
    DebugLog("GWfree", "Error");
    return false;
  }
  Header* h = headerOf(block);
  h->magic = kDeadMagic;
  std::free(h);
  uint32_t n = g_blocks.load(std::memory_order_relaxed);
  while (n > 0 && !g_blocks.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
  }
  logCount("GWfree");
  return true;
}

uint32_t memoryBlockCount() {
  return g_blocks.load(std::memory_order_relaxed);
}

}  // namespace vek::foundation
