#include "queue/naming_counters.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
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

platform::Result<std::string> CreateTemporaryFile(const std::string& directory_in,
                                                  std::string_view extension,
                                                  std::string_view text) {
  const std::string directory = platform::withTrailingSlash(directory_in);
  const std::string ext = cleanNamePart(extension, 16);
  const bool sync = foundation::settings()->SyncQueueWrites;
  platform::Status last;
  std::string path;
  bool same_name_again = false;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!same_name_again) {
      path = directory + platform::format("%08X", NextRandomName());
      if (!ext.empty()) path += "." + ext;
    }
    same_name_again = false;
    last = platform::publishFile(path, text, sync);
    if (last.ok()) return path;
    if (attempt == 0 || last.code() == ENOENT) {
      (void)platform::makeDirectories(directory);
      same_name_again = attempt == 0;
    }
  }
  foundation::DebugLogf("CreateTemporaryFile", "No free name in %s after %d attempts: %s",
                        directory.c_str(), kCreateAttempts, last.message().c_str());
  return last;
}

}  // namespace vek::queue
