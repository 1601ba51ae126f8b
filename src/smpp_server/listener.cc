#include "smpp_server/listener.h"

#include <cerrno>
#include <memory>
#include <mutex>

#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/service_state.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "smpp_server/client_session.h"
#include "smpp_server/server_settings.h"
#include "tls/stream.h"
#include "tls/tls.h"

namespace vek::smpp_server {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

struct ListenerSpec {
  const char* tag;
  const char* connection_thread;
  bool tls;
  foundation::Listener which;
  const char* error_file;
};

const ListenerSpec kPlain = {"ThreadListenForSMPPConnections", "ThreadProcessSMPPConnection", false,
                             foundation::Listener::kSmpp, "SMPPSOCKET.ERR"};
const ListenerSpec kTls = {"ThreadListenForSSLSMPPConnections", "ThreadProcessSSLSMPPConnection",
                           true, foundation::Listener::kSmppSsl, "SSLSMPPSOCKET.ERR"};

std::mutex g_timing_mu;
ListenerTiming g_timing;

ListenerTiming timing() {
  std::scoped_lock lk(g_timing_mu);
  return g_timing;
}

unsigned portOf(const ListenerSpec& l) {
  ServerSettings s = loadServerSettings();
  return l.tls ? s.ssl_port : s.port;
}

// The error file holds the text; the event log hears of it once a day.
void reportPortFailure(const ListenerSpec& l, unsigned port) {
  const std::string text =
      platform::format("%s SMPP server not started, unable to allocate SMPP port %u",
                       foundation::productBanner(), port);
  DebugLog(l.tag, text);
  const std::string path = hostlib::GetPrivateDataDirectory() + l.error_file;
  if (auto info = platform::statPath(path)) {
    if (platform::dateStamp(platform::toLocal(info->modified)) ==
        platform::dateStamp(platform::localNow()))
      return;
  }
  (void)platform::writeFileAtomic(path, text + "\r\n");
  platform::reportEvent(platform::EventType::kError, text);
}

platform::Result<platform::UniqueFd> openPort(const ListenerSpec& l, unsigned port) {
  if (port > 65535) {
    DebugLogf(l.tag, "Error %d from socket bind (port %u out of range)", EINVAL, port);
    return platform::Status::error("port out of range", EINVAL);
  }
  auto r = platform::listenTcp(foundation::listenAddress(), static_cast<uint16_t>(port), 100);
  if (!r.ok()) {
    const std::string& why = r.status().message();
    if (platform::startsWithNoCase(why, "socket")) {
      DebugLogf(l.tag, "Error opening SMPP socket: %s", why.c_str());
    } else if (platform::startsWithNoCase(why, "listen")) {
      DebugLogf(l.tag, "Error %d from socket listen: %s", r.status().code(), why.c_str());
    } else {
      DebugLogf(l.tag, "Error %d from socket bind: %s", r.status().code(), why.c_str());
    }
  }
  return r;
}

struct Accepted {
  platform::UniqueFd fd;
  std::string address;
  uint16_t port = 0;
  UnboundTicket ticket;
  bool tls = false;
};

void serveConnection(ServerState& state, Accepted a, SessionHooks hooks) {
  tls::Stream stream;
  if (a.tls) {
    std::string error;
    tls::TlsSession* session =
        tls::sslAcceptSession(a.fd.get(), static_cast<int>(timing().handshake.count()), &error);
    if (!session) {
      DebugLogf(kTls.connection_thread, "TLS session from %s not accepted: %s", a.address.c_str(),
                error.c_str());
      return;  // the socket closes, the ticket goes back
    }
    stream = tls::Stream(std::move(a.fd), tls::SessionPtr(session));
  } else {
    stream = tls::Stream(std::move(a.fd));
  }
  ClientSession session(state, std::move(stream), a.address, a.port, std::move(a.ticket),
                        std::move(hooks));
  session.run();
}

void runListener(const ListenerSpec& l) {
  installServerCallbacks();
  platform::UniqueFd sock;
  unsigned open_port = 0;
  while (!platform::shutdownRequested()) {
    const ListenerTiming t = timing();
    if (!sock) {
      const unsigned port = portOf(l);
      if (port == 0) {  // this listener is off: look again later
        platform::sleepFor(t.retry);
        continue;
      }
      auto r = openPort(l, port);
      if (!r.ok()) {
        reportPortFailure(l, port);
        platform::sleepFor(t.retry);
        continue;
      }
      sock = std::move(*r);
      open_port = port;
      foundation::setListeningSocket(l.which, sock.get());
      DebugLogf(l.tag, "%s %sSMPP server started on port number %u", foundation::productBanner(),
                l.tls ? "SSL " : "", port);
    }

    Accepted a;  // the peer's address and port
    auto c = platform::acceptConnection(sock.get(), static_cast<int>(t.accept_wait.count()),
                                        &a.address, &a.port);
    if (platform::shutdownRequested()) break;
    if (c.ok()) {
      handOffConnection(serverState(), std::move(*c), std::move(a.address), a.port, l.tls);
    } else if (int code = c.status().code();
               code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
      // Out of descriptors or memory: the backlog waits while the
      // connections in progress end.
      DebugLogf(l.tag, "Error %d from accept: %s", code, c.status().message().c_str());
      platform::sleepFor(std::chrono::milliseconds(100));
    } else if (code != EAGAIN) {
      DebugLogf(l.tag, "Error %d from accept: %s", code, c.status().message().c_str());
      foundation::setListeningSocket(l.which, -1);
      sock.reset();
      continue;
    }

    const unsigned port = portOf(l);
    if (port != open_port) {
      DebugLogf(l.tag, "Closing SMPP port %u, opening SMPP port %u", open_port, port);
      foundation::setListeningSocket(l.which, -1);
      sock.reset();
    }
  }
  foundation::setListeningSocket(l.which, -1);
}

}  // namespace

void ThreadListenForSMPPConnections(int) {
  runListener(kPlain);
}

void ThreadListenForSSLSMPPConnections(int) {
  runListener(kTls);
}

bool handOffConnection(ServerState& state, platform::UniqueFd fd, std::string address,
                       uint16_t port, bool tls, SessionHooks hooks) {
  const ListenerSpec& l = tls ? kTls : kPlain;
  const ServerSettings s = loadServerSettings();
  Accepted a;
  a.ticket = state.unbound.admit(address, s.max_unbound_per_address, s.max_unbound, fd.get());
  if (!a.ticket.held()) {
    DebugLogf(l.tag, "Connection from %s refused: too many connections waiting to bind",
              address.c_str());
    return false;  // closed at once
  }
  a.fd = std::move(fd);
  a.address = std::move(address);
  a.port = port;
  a.tls = tls;
  auto box = std::make_shared<Accepted>(std::move(a));
  auto state_ptr = &state;
  auto hooks_box = std::make_shared<SessionHooks>(std::move(hooks));
  if (!foundation::startWorkerThread(l.connection_thread, [state_ptr, box, hooks_box] {
        serveConnection(*state_ptr, std::move(*box), std::move(*hooks_box));
      })) {
    DebugLog(l.tag, "Error starting thread");
    return false;
  }
  return true;
}

void setListenerTiming(const ListenerTiming& t) {
  std::scoped_lock lk(g_timing_mu);
  g_timing = t;
}

}  // namespace vek::smpp_server
