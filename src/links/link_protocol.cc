#include "links/link_protocol.h"

#include "links/cimd_link.h"
#include "links/modem_link.h"
#include "links/smpp_link.h"
#include "links/ucp_link.h"

namespace vek::links {

std::unique_ptr<LinkProtocol> makeLinkProtocol(std::string_view link_name) {
  const auto kind = foundation::linkKind(link_name);
  switch (kind) {
    case foundation::LinkKind::kSmpp:
      return std::make_unique<SmppLink>(std::string(link_name));
    case foundation::LinkKind::kUcp:
      return std::make_unique<UcpLink>(std::string(link_name));
    case foundation::LinkKind::kCimd:
      return std::make_unique<CimdLink>(std::string(link_name));
    case foundation::LinkKind::kModem:
    case foundation::LinkKind::kIpModem:
      return std::make_unique<ModemLink>(std::string(link_name));
    default:
      // HTTP links and SDK links get their sessions with their own issues.
      return nullptr;
  }
}

}  // namespace vek::links
