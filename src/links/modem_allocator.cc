#include "links/modem_allocator.h"

#include "platform/clock.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::links {
namespace {

// Shutdown is noticed within this time while waiting.
constexpr auto kWaitSlice = std::chrono::milliseconds(250);

}  // namespace

ModemAllocator& ModemAllocator::instance() {
  static ModemAllocator allocator;
  return allocator;
}

std::string ModemAllocator::key(std::string_view modem) {
  return platform::toLower(modem);
}

bool ModemAllocator::allocate(std::string_view modem, std::string_view holder,
                              std::chrono::milliseconds timeout) {
  const std::string k = key(modem);
  const auto deadline = platform::deadlineAfter(timeout);
  std::unique_lock lk(mu_);
  for (;;) {
    Entry& e = modems_[k];
    if (e.holder.empty() || e.holder == holder) {
      e.holder = std::string(holder);
      e.requested = false;
      return true;
    }
    if (platform::shutdownRequested() || platform::monotonicNow() >= deadline) return false;
    auto slice = std::min(deadline, platform::deadlineAfter(kWaitSlice));
    platform::waitUntil(lk, freed_, slice, [&] { return modems_[k].holder.empty(); });
  }
}

void ModemAllocator::release(std::string_view modem, std::string_view holder) {
  {
    std::scoped_lock lk(mu_);
    auto it = modems_.find(key(modem));
    if (it == modems_.end() || it->second.holder != holder) return;
    it->second.holder.clear();
  }
  freed_.notify_all();
}

void ModemAllocator::request(std::string_view modem) {
  std::scoped_lock lk(mu_);
  Entry& e = modems_[key(modem)];
  if (!e.holder.empty()) e.requested = true;
}

bool ModemAllocator::requested(std::string_view modem) const {
  std::scoped_lock lk(mu_);
  auto it = modems_.find(key(modem));
  return it != modems_.end() && it->second.requested;
}

std::string ModemAllocator::holder(std::string_view modem) const {
  std::scoped_lock lk(mu_);
  auto it = modems_.find(key(modem));
  return it == modems_.end() ? std::string() : it->second.holder;
}

}  // namespace vek::links
