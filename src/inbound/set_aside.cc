#include "inbound/set_aside.h"

#include <cerrno>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "inbound/inbound_queue.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

// Names tried when a set-aside copy's name is already taken.
constexpr int kSetAsideNames = 100;

// The base name of `relative` without its extension.
std::string stemOf(const std::string& relative) {
  std::string base = platform::baseName(relative);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

}  // namespace

bool copyAside(std::string_view tag, const std::string& relative, const std::string& text,
               platform::SystemTime modified, std::string_view extension) {
  const std::string dir = foundation::setAsideDirectory();
  const std::string stem = stemOf(relative);
  for (int n = 0; n < kSetAsideNames; ++n) {
    std::string target = dir + stem;
    if (n > 0) target += platform::format("_%d", n);
    target += extension;
    platform::Status st = platform::publishFile(target, text);
    if (st.code() == EEXIST) continue;
    if (!st.ok()) {
      foundation::DebugLogf(tag, "Unable to set aside %s as %s: %s", relative.c_str(),
                            target.c_str(), st.message().c_str());
      return false;
    }
    (void)platform::setModifiedTime(target, modified);
    return true;
  }
  foundation::DebugLogf(tag, "Unable to set aside %s: every name is taken", relative.c_str());
  return false;
}

bool moveAside(std::string_view tag, const std::string& path, const std::string& relative) {
  const std::string target = foundation::setAsideDirectory() + stemOf(relative) + ".BAD";
  platform::Status st = platform::renameNoReplace(path, target);
  if (!st.ok()) {
    foundation::DebugLogf(tag, "Unable to set aside %s: %s", path.c_str(), st.message().c_str());
    return false;
  }
  inboundFileFinished();
  return true;
}

}  // namespace vek::inbound
