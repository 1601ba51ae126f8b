#include "http/server/connection_loop.h"

#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "http/server/address_rules.h"
#include "http/server/closing.h"
#include "http/server/connection.h"
#include "http/server/connection_table.h"
#include "http/server/dispatch.h"
#include "http/server/listeners.h"
#include "http/server/request_reader.h"
#include "http/server/responses.h"
#include "http/server/send.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/http/message.h"

namespace vek::http {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

struct LoopConfig {
  ReaderLimits limits;
  unsigned tls_port = 0;  // non-zero: TLS is available and listening there
};

LoopConfig loopConfig(bool secure) {
  LoopConfig c;
  c.limits = readerLimitsFromConfiguration();
  auto facts = foundation::startupFacts();
  if (!secure && (facts.tls_available || facts.server_certificate))
    c.tls_port = configuredWebPortSsl();
  return c;
}

void answerRefusal(tls::Stream& stream, ReadStatus st, const char* reason, const char* tag) {
  const char* status = nullptr;
  const char* text = nullptr;
  switch (st) {
    case ReadStatus::kTooLarge:
      status = "413 Request Entity Too Large";
      text = "The request is larger than this server accepts.";
      break;
    case ReadStatus::kHeaderTooLarge:
      status = "431 Request Header Fields Too Large";
      text = "The request header is larger than this server accepts.";
      break;
    case ReadStatus::kMalformed:
      status = "400 Bad Request";
      text = reason;
      break;
    default:
      return;
  }
  DebugLogf(tag, "Request refused (%s): %s", status, reason);
  (void)sendData(stream, closingStatusResponse(status, text));
}

// Steps before dispatch: the redirect to TLS, the browser mark and address
// admission. True when the request has been answered here.
bool answeredBeforeDispatch(Connection& conn, const Request& req, const LoopConfig& cfg,
                            bool ssl_redirect, const char* tag) {
  if (!conn.secure() && cfg.tls_port != 0) {
    std::string host = httpwire::hostHeader(req.headers());
    if (platform::startsWithNoCase(req.target(), "/ADMIN") && !host.empty()) {
      conn.send(redirectResponse(conn, host, cfg.tls_port, "/ADMIN"));
      return true;
    }
    if (ssl_redirect) {
      conn.send(host.empty()
                    ? forbiddenResponse(conn, "ERROR:  SSL must be used to access this server")
                    : redirectResponse(conn, host, cfg.tls_port, "/"));
      return true;
    }
  }
  conn.browser = httpwire::userAgent(req.headers()).find("Mozilla") != std::string::npos;
  if (!addressAdmitted(conn.remote_address)) {
    DebugLogf(tag, "Connection not allowed from %s...", conn.remote_address.c_str());
    conn.send(forbiddenResponse(
        conn, "ERROR:  Connection not allowed from " + conn.remote_address + "."));
    return true;
  }
  return false;
}

}  // namespace

void serveConnection(tls::Stream& stream, const Peer& peer, uint64_t slot) {
  const char* tag = stream.secure() ? "ThreadProcessSSLConnection" : "ThreadProcessConnection";
  DebugLogf(tag, "Processing connection from %s:%u...", peer.address.c_str(), peer.port);
  const LoopConfig cfg = loopConfig(stream.secure());
  ConnectionTable& table = connectionTable();
  RequestReader reader(cfg.limits);
  reader.setActivityHook([&table, slot] { table.setIdle(slot, false); });

  for (;;) {
    if (!reader.hasPending()) table.setIdle(slot, true);
    Request req;
    ReadStatus st = reader.read(stream, &req);
    if (st != ReadStatus::kOk) {
      answerRefusal(stream, st, reader.lastReason(), tag);
      break;
    }
    auto settings = foundation::settings();
    Connection conn(stream);
    conn.remote_address = peer.address;
    conn.remote_port = peer.port;
    conn.http11 = platform::equalsNoCase(req.protocol().substr(0, 8), "HTTP/1.1");
    conn.keep_alive = settings->EnableKeepAlive && conn.http11 &&
                      !platform::equalsNoCase(platform::trim(req.header("Connection:")), "close");
    if (!answeredBeforeDispatch(conn, req, cfg, settings->SSLRedirect, tag))
      DispatchRequest(conn, req);
    if (!conn.keep_alive || platform::shutdownRequested()) break;
  }

  // Answered: while it drains, the connection may make room for another.
  table.setIdle(slot, true);
  shutdownAndDrain(stream);
  table.remove(slot);  // before the socket closes: the table may wake it until then
  stream.close();
  reader.dropPending();
  DebugLog(tag, "Request processing complete");
}

}  // namespace vek::http
