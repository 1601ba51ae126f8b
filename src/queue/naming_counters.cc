#include "queue/naming_counters.h"

#include "platform/clock.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"

namespace vek::queue {
namespace {

ConcatReferenceCounter& concatReferences() {
  static ConcatReferenceCounter counter;
  return counter;
}

RandomNameCounter& randomNames() {
  static RandomNameCounter counter;
  return counter;
}

}  // namespace

uint8_t ConcatReferenceCounter::next() {
  std::scoped_lock lk(mu_);
  if (!started_) {
    started_ = true;
    next_ = static_cast<uint8_t>(platform::unixNow() & 0xFF);
  }
  return next_++;
}

uint32_t RandomNameCounter::next() {
  std::scoped_lock lk(mu_);
  if (!started_) {
    started_ = true;
    next_ = static_cast<uint32_t>(platform::unixNow());
  }
  const uint32_t value = next_;
  next_ = step(next_);
  return value;
}

uint8_t NextConcatReference() {
  return concatReferences().next();
}

uint32_t NextRandomName() {
  return randomNames().next();
}

platform::Result<std::string> CreateTemporaryFile(const std::string& directory,
                                                  std::string_view extension,
                                                  std::string_view text) {
  return publishUnderFreshName(
      directory, extension, text, [] { return platform::format("%08X", NextRandomName()); },
      "CreateTemporaryFile");
}

}  // namespace vek::queue
