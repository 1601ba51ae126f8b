#include "queue/link_status.h"

#include "hostlib/host.h"
#include "platform/files.h"
#include "queue/queue_tree.h"

namespace vek::queue {
namespace {

// Room for ".ERR" within a file name of 255 bytes.
constexpr size_t kMaxStatusName = 250;
constexpr size_t kMaxStatusText = 4096;

}  // namespace

std::string linkStatusPathIn(const std::string& dir, std::string_view link_name) {
  return platform::withTrailingSlash(dir) + cleanNamePart(link_name, kMaxStatusName) + ".ERR";
}

std::string linkStatusPath(std::string_view link_name) {
  return linkStatusPathIn(hostlib::GetPrivateDataDirectory(), link_name);
}

platform::Status setLinkStatus(std::string_view link_name, std::string_view text) {
  return platform::writeFileAtomic(linkStatusPath(link_name), text.substr(0, kMaxStatusText));
}

platform::Status clearLinkStatus(std::string_view link_name) {
  return platform::removeFile(linkStatusPath(link_name));
}

std::string linkStatusText(std::string_view link_name) {
  auto text = platform::readFile(linkStatusPath(link_name), kMaxStatusText);
  return text.ok() ? std::move(text.value()) : std::string();
}

bool linkIsDown(std::string_view link_name) {
  auto info = platform::statPath(linkStatusPath(link_name));
  return info && !info->directory && info->size > 0;
}

}  // namespace vek::queue
