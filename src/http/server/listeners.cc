#include "http/server/listeners.h"

#include <cerrno>
#include <mutex>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "http/server/event_loop.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

std::mutex g_timing_mu;
ListenerTiming g_timing;

struct ListenerSpec {
  const char* tag;
  bool tls;
  foundation::Listener which;
  const char* marker;
  const char* failure_text;  // banner, port
  const char* move_text;     // old port, new port
};

const ListenerSpec kPlain = {"ThreadListenForConnections",
                             false,
                             foundation::Listener::kWeb,
                             "SOCKET.ERR",
                             "%s not started, unable to allocate web port %u",
                             "Closing web port %u, opening web port %u"};
const ListenerSpec kTls = {"ThreadLsitenForSSLConnections",
                           true,
                           foundation::Listener::kWebSsl,
                           "SSLSOCKET.ERR",
                           "%s not started, unable to allocate SSL port %u",
                           "Closing SSL port %u, opening SSL port %u"};

unsigned readPort(const char* key) {
  int32_t v = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", key));
  return v > 0 ? static_cast<unsigned>(v) : 0;
}

unsigned portOf(const ListenerSpec& listener) {
  return listener.tls ? configuredWebPortSsl() : configuredWebPort();
}

// A repeated fault is reported once a day: the marker file in the private
// data directory remembers the day it was reported.
void raiseAlertOncePerDay(const char* marker, const std::string& text) {
  std::string path = hostlib::GetPrivateDataDirectory() + marker;
  if (auto info = platform::statPath(path)) {
    if (platform::dateStamp(platform::toLocal(info->modified)) ==
        platform::dateStamp(platform::localNow()))
      return;
    (void)platform::removeFile(path);
  }
  (void)platform::writeFileAtomic(path, "");
  platform::reportEvent(platform::EventType::kError, text);
}

platform::Result<platform::UniqueFd> openListener(const ListenerSpec& listener, unsigned port) {
  if (port > 65535) {
    DebugLogf(listener.tag, "Error %d from socket bind (port %u out of range)", EINVAL, port);
    return platform::Status::error("port out of range", EINVAL);
  }
  auto r = platform::listenTcp(foundation::listenAddress(), static_cast<uint16_t>(port), 100);
  if (!r.ok()) {
    const std::string& why = r.status().message();
    if (platform::startsWithNoCase(why, "socket")) {
      DebugLogf(listener.tag, "Error opening web socket: %s", why.c_str());
    } else if (platform::startsWithNoCase(why, "listen")) {
      DebugLogf(listener.tag, "Error %d from socket listen: %s", r.status().code(), why.c_str());
    } else {
      DebugLogf(listener.tag, "Error %d from socket bind: %s", r.status().code(), why.c_str());
    }
  }
  return r;
}

void runListener(const ListenerSpec& listener) {
  platform::UniqueFd sock;
  unsigned open_port = 0;
  while (!platform::shutdownRequested()) {
    ListenerTiming timing = listenerTiming();
    if (!sock) {
      unsigned port = portOf(listener);
      if (listener.tls && port == 0) {  // no TLS port configured: look again later
        platform::sleepFor(timing.retry);
        continue;
      }
      auto r = openListener(listener, port);
      if (!r.ok()) {
        raiseAlertOncePerDay(listener.marker, platform::format(listener.failure_text,
                                                               foundation::productBanner(), port));
        platform::sleepFor(timing.retry);
        continue;
      }
      sock = std::move(r.value());
      open_port = port;
      foundation::setListeningSocket(listener.which, sock.get());
    }

    if (!listener.tls) DebugLog(listener.tag, "Before accept");
    std::string address;
    uint16_t peer_port = 0;
    auto c = platform::acceptConnection(sock.get(), static_cast<int>(timing.accept_wait.count()),
                                        &address, &peer_port);
    if (platform::shutdownRequested()) break;
    if (c.ok()) {
      if (!listener.tls) DebugLog(listener.tag, "After accept");
      adoptConnection(std::move(c.value()), std::move(address), peer_port, listener.tls);
    } else if (int code = c.status().code();
               code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM) {
      // Out of descriptors or memory: the listening socket is fine and its
      // backlog waits; give the connections in progress time to end.
      DebugLogf(listener.tag, "Error %d from accept: %s", code, c.status().message().c_str());
      platform::sleepFor(std::chrono::milliseconds(100));
    } else if (code != EAGAIN) {
      DebugLogf(listener.tag, "Error %d from accept: %s", c.status().code(),
                c.status().message().c_str());
      foundation::setListeningSocket(listener.which, -1);
      sock.reset();
      continue;
    }

    unsigned port = portOf(listener);
    if (port != open_port) {
      DebugLogf(listener.tag, listener.move_text, open_port, port);
      foundation::setListeningSocket(listener.which, -1);
      sock.reset();
    }
  }
  foundation::setListeningSocket(listener.which, -1);
  sock.reset();
  wakeEventLoop();
}

}  // namespace

unsigned configuredWebPort() {
  unsigned p = readPort("WebPort");
  return p == 0 ? 8800 : p;
}

unsigned configuredWebPortSsl() {
  return readPort("WebPortSSL");
}

void setListenerTiming(const ListenerTiming& timing) {
  std::scoped_lock lk(g_timing_mu);
  g_timing = timing;
}

ListenerTiming listenerTiming() {
  std::scoped_lock lk(g_timing_mu);
  return g_timing;
}

void ThreadListenForConnections(int) {
  runListener(kPlain);
}

void ThreadListenForSSLConnections(int) {
  runListener(kTls);
}

}  // namespace vek::http
