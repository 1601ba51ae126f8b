#include "smpp_server/active_flag.h"

#include <fcntl.h>

#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::smpp_server {

char bindLetter(int bind_type) {
  switch (bind_type) {
    case 1:
      return 'R';
    case 2:
      return 'S';
    default:
      return 'T';
  }
}

std::string activeFlagName(std::string_view peer_address, uint16_t peer_port, int bind_type,
                           std::string_view account) {
  std::string name =
      platform::format("%.*s-%u-%c-%.*s", static_cast<int>(peer_address.size()),
                       peer_address.data(), static_cast<unsigned>(peer_port), bindLetter(bind_type),
                       static_cast<int>(account.size()), account.data());
  return platform::safePathComponent(name, 240) + ".FLG";
}

platform::Status ActiveFlag::create(const std::string& directory, std::string_view peer_address,
                                    uint16_t peer_port, int bind_type, std::string_view account) {
  remove();
  const std::string dir = platform::withTrailingSlash(directory);
  if (auto st = platform::makeDirectories(dir); !st.ok()) return st;
  std::string path = dir + activeFlagName(peer_address, peer_port, bind_type, account);
  auto fd = platform::openLocked(path, O_RDWR | O_CREAT | O_CLOEXEC);
  if (!fd.ok()) return fd.status();
  fd_ = std::move(*fd);
  path_ = std::move(path);
  return platform::Status::success();
}

void ActiveFlag::remove() {
  if (path_.empty()) return;
  (void)platform::removeFile(path_);
  path_.clear();
  fd_.reset();
}

std::string activeFlagDirectory() {
  return hostlib::GetPrivateDataDirectory() + "SMPPData/ActiveUsers/";
}

}  // namespace vek::smpp_server
