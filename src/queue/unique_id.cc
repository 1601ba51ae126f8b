#include "queue/unique_id.h"

#include <memory>

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace vek::queue {
namespace {

// The jump at start-up: a stored mark covers the ids below mark + 1000.
constexpr uint32_t kRestartGap = 1000;
// How far ahead of the id a new mark is written.
constexpr uint32_t kMarkAhead = 9000;

std::mutex g_global_mu;
std::unique_ptr<UniqueIdCounter>& globalSlot() {
  static std::unique_ptr<UniqueIdCounter> counter;
  return counter;
}

UniqueIdCounter& globalCounter() {
  std::scoped_lock lk(g_global_mu);
  auto& slot = globalSlot();
  if (!slot)
    slot = std::make_unique<UniqueIdCounter>(hostlib::GetPrivateDataDirectory() + "UID.DAT");
  return *slot;
}

}  // namespace

UniqueIdCounter::UniqueIdCounter(std::string path) : path_(std::move(path)) {}

void UniqueIdCounter::loadLocked() {
  loaded_ = true;
  auto data = platform::readFile(path_, 64);
  if (data.ok() && data->size() >= 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(data->data());
    stored_ = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    stored_valid_ = true;
    next_ = stored_ + kRestartGap;
  } else {
    next_ = static_cast<uint32_t>(platform::unixNow());
  }
}

platform::Status UniqueIdCounter::writeLocked(uint32_t value) {
  char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                   static_cast<char>((value >> 16) & 0xFF),
                   static_cast<char>((value >> 24) & 0xFF)};
  // Synced: the mark must outlive a power cut, or a restart could repeat ids.
  platform::Status st = platform::writeFileAtomic(path_, std::string_view(bytes, 4), true);
  if (st.ok()) {
    stored_ = value;
    stored_valid_ = true;
    write_failure_logged_ = false;
  } else if (!write_failure_logged_) {
    write_failure_logged_ = true;
    foundation::DebugLogf("SaveUniqueMessageId", "Error %d writing %s: %s", st.code(),
                          path_.c_str(), st.message().c_str());
  }
  return st;
}

uint32_t UniqueIdCounter::next() {
  std::scoped_lock lk(mu_);
  if (!loaded_) loadLocked();
  uint32_t id = next_++;
  used_ = true;
  // A restart at stored + 1000 stays above `id` while id - stored < 1000
  // (unsigned distance, so the marks follow the ids across 2^32).
  if (!stored_valid_ ||
      static_cast<uint32_t>(id - stored_ + kMarkAhead) >= kRestartGap + kMarkAhead)
    (void)writeLocked(id + kMarkAhead);
  return id;
}

platform::Status UniqueIdCounter::save() {
  std::scoped_lock lk(mu_);
  if (!used_) return platform::Status();
  uint32_t current = next_ - 1;
  if (stored_valid_ && stored_ == current) return platform::Status();
  return writeLocked(current);
}

uint32_t NextUniqueMessageId() {
  return globalCounter().next();
}

platform::Status SaveUniqueMessageId() {
  return globalCounter().save();
}

void resetUniqueMessageIdsForTesting(const std::string& path) {
  std::scoped_lock lk(g_global_mu);
  globalSlot() = std::make_unique<UniqueIdCounter>(path);
}

}  // namespace vek::queue
