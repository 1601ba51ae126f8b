#include "links/link_socket.h"

#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::links {
namespace {

constexpr int kConnectTimeoutMs = 30000;
constexpr int kReceiveBuffer = 32768;
constexpr int kSendBuffer = 16384;

}  // namespace

bool openLinkSocket(const SocketTarget& t, tls::Stream* stream, std::string* failure) {
  const char* label = t.label.c_str();
  platform::ConnectStage stage = platform::ConnectStage::kDone;
  auto fd =
      platform::connectTcpFrom(t.host, t.port, kConnectTimeoutMs, t.bind_ip, t.local_port, &stage);
  if (!fd.ok()) {
    switch (stage) {
      case platform::ConnectStage::kSocket:
        *failure = platform::format("%s Failure -- General Socket Error", label);
        break;
      case platform::ConnectStage::kBind:
        *failure = platform::format("%s Failure -- Unable to bind to %s %s port %u", label, label,
                                    t.port_role, t.local_port);
        break;
      default:
        *failure = platform::format("%s Failure -- Unable to connect to %s server at %s:%u", label,
                                    label, t.host.c_str(), t.port);
        break;
    }
    foundation::DebugLogf(t.label + "Connect", "%s (%s)", failure->c_str(),
                          fd.status().message().c_str());
    return false;
  }
  if (t.local_port != 0)
    foundation::DebugLogf(t.label + "Connect", "Debug:  %s %s port bound to %u", label, t.port_role,
                          t.local_port);
  if (t.use_tls && foundation::startupFacts().tls_available) {
    std::string error;
    tls::ClientOptions options;
    options.server_name = t.host;
    tls::TlsSession* session = tls::tlsLibrary().sslInitSession(fd->get(), &error, options);
    if (!session) {
      *failure = platform::format(
          "%s Failure -- Unable to negotiate SSL/TLS connection with %s server at %s:%u  %s", label,
          label, t.host.c_str(), t.port, error.c_str());
      foundation::DebugLog(t.label + "Connect", *failure);
      return false;
    }
    *stream = tls::Stream(std::move(*fd), tls::SessionPtr(session));
    return true;
  }
  *stream = tls::Stream(std::move(*fd));
  return true;
}

void tuneLinkSocket(int fd, bool no_delay) {
  if (fd < 0) return;
  platform::setSocketBuffers(fd, kReceiveBuffer, 0);
  if (no_delay) {
    platform::setNoDelay(fd);
  } else {
    platform::setSocketBuffers(fd, 0, kSendBuffer);
  }
}

}  // namespace vek::links
