// The web server from outside: raw sockets against the listener threads
// running in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/connection_table.h"
#include "http/server/listeners.h"
#include "http/server/worker_pool.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "server_fixture.h"

namespace vek::http {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::freePort;
using testing::Response;
using testing::ServerTest;

const char kErrorBody[] =
    "<HTML><HEAD><TITLE>\r\nInvalid Parameter\r\n</TITLE></HEAD><BODY><H1>\r\nError:  Invalid "
    "Parameter\r\n</H1>\r\n"
    "Unknown request\r\n</BODY></HTML>\r\n";

bool has(const std::optional<Response>& r, const std::string& text) {
  return r && r->text.find(text) != std::string::npos;
}

TEST_F(ServerTest, UnknownRequestGetsTheErrorPageOnAKeptAliveConnection) {
  startPlain();
  Client c(port_);
  auto r = c.exchange("GET /x HTTP/1.1\r\nHost: a\r\n\r\n");
  ASSERT_TRUE(r);
  std::string expected =
      std::string(
          "HTTP/1.1 400 Bad Request\r\nConnection: Keep-Alive\r\nContent-Type: text/html\r\n") +
      "Expires: Tue, 01 Jan 1980 1:00:00 GMT\r\nCache-Control: no-cache\r\nContent-Length: " +
      std::to_string(sizeof kErrorBody - 1) + "\r\n\r\n" + kErrorBody;
  EXPECT_EQ(r->text, expected);
  // Same connection, a browser this time.
  r = c.exchange("GET /y HTTP/1.1\r\nUser-Agent: Mozilla/5.0 (X11)\r\n\r\n");
  EXPECT_EQ(r ? r->status_line() : "", "HTTP/1.1 200 OK");
}

TEST_F(ServerTest, KeepAliveRules) {
  startPlain();
  struct Case {
    const char* request;
    const char* status;
    bool closes;
  } cases[] = {
      {"GET / HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request", true},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", "HTTP/1.0 400 Bad Request", true},
      {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 400 Bad Request", true},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
  };
  for (const auto& k : cases) {
    Client c(port_);
    auto r = c.exchange(k.request);
    ASSERT_TRUE(r) << k.request;
    EXPECT_EQ(r->status_line(), k.status);
    EXPECT_TRUE(has(r, k.closes ? "Connection: close\r\n" : "Connection: Keep-Alive\r\n"))
        << k.request;
    if (k.closes) {
      EXPECT_TRUE(c.closedByServer()) << k.request;
    }
  }
  // EnableKeepAlive off: even HTTP/1.1 gets one response.
  foundation::Settings s;
  s.EnableKeepAlive = false;
  foundation::publishSettings(s);
  Client c(port_);
  EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Connection: close\r\n"));
  EXPECT_TRUE(c.closedByServer());
}

TEST_F(ServerTest, PipelinedAndChunkedRequestsAreAnsweredInOrder) {
  startPlain();
  Client c(port_);
  // One write: a chunked POST, a browser GET, a plain GET. Different
  // answers (400, 200, 400) show the order and that the chunked body was
  // consumed exactly.
  ASSERT_TRUE(
      c.send("POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"
             "GET /b HTTP/1.1\r\nUser-Agent: Mozilla\r\n\r\nGET /c HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(c.read().value_or(Response{}).status_line(), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(c.read().value_or(Response{}).status_line(), "HTTP/1.1 200 OK");
  EXPECT_EQ(c.read().value_or(Response{}).status_line(), "HTTP/1.1 400 Bad Request");
}

TEST_F(ServerTest, RefusedRequestsAreAnsweredAndTheConnectionEnds) {
  startPlain("MaxHTTPRequestSize=100000\n");
  const std::pair<std::string, std::string> cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: "
       "chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "HTTP/1.1 400 Bad Request"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhelloXY",
       "HTTP/1.1 400 Bad Request"},
      {"POST / HTTP/1.1\r\nContent-Length: 4294967297\r\n\r\n",
       "HTTP/1.1 413 Request Entity Too Large"},
      {"POST / HTTP/1.1\r\nContent-Length: 100001\r\n\r\n",
       "HTTP/1.1 413 Request Entity Too Large"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n186A1\r\n",
       "HTTP/1.1 413 Request Entity Too Large"},
  };
  for (const auto& [request, status] : cases) {
    Client c(port_);
    auto r = c.exchange(request);
    EXPECT_EQ(r ? r->status_line() : "none", status) << request;
    EXPECT_TRUE(has(r, "Connection: close\r\n"));
    EXPECT_TRUE(c.closedByServer()) << request;
  }
  // A big body that the client keeps sending is drained, not read into
  // memory; the server keeps answering meanwhile.
  Client big(port_);
  ASSERT_TRUE(big.send("POST / HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n"));
  EXPECT_EQ(big.read().value_or(Response{}).status_line(), "HTTP/1.1 413 Request Entity Too Large");
  std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(big.send(chunk));
  Client other(port_);
  EXPECT_TRUE(has(other.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
}

TEST_F(ServerTest, BlockedAddressGetsTheForbiddenPage) {
  startPlain("", "[IPRestrictions]\nBlocked1=127.0.0.*\n");
  Client blocked(port_, "127.0.0.2");
  ASSERT_TRUE(blocked.connected());
  auto r = blocked.exchange("GET /x HTTP/1.1\r\n\r\n");
  const std::string body =
      "<HTML><HEAD><TITLE>\r\nConnection not allowed\r\n</TITLE></HEAD><BODY>\r\n"
      "ERROR:  Connection not allowed from 127.0.0.2.\r\n</BODY></HTML>\r\n";
  EXPECT_EQ(r.value_or(Response{}).text,
            "HTTP/1.1 403 Forbidden\r\nConnection: Keep-Alive\r\nContent-Type: "
            "text/html\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
  // 127.0.0.1 is always admitted.
  Client local(port_, "127.0.0.1");
  EXPECT_TRUE(has(local.exchange("GET /x HTTP/1.1\r\n\r\n"), "Unknown request"));
}

TEST_F(ServerTest, PlainRequestsAreSentToTls) {
  foundation::StartupFacts facts;
  facts.tls_available = true;
  foundation::setStartupFacts(facts);
  startPlain("WebPortSSL=8443\n");
  struct Case {
    const char* request;
    bool ssl_redirect;
    const char* expected_start;
  } cases[] = {
      {"GET /admin/users HTTP/1.1\r\nHost: gw.example:8800\r\n\r\n", false,
       "HTTP/1.1 302 Redirect\r\nConnection: Keep-Alive\r\nContent-length: 0\r\n"
       "Location: https://gw.example:8443/ADMIN\r\n\r\n"},
      {"GET /admin HTTP/1.1\r\n\r\n", false, "HTTP/1.1 400 Bad Request"},  // no Host: dispatched
      {"GET /send?x=1 HTTP/1.1\r\nHost: gw.example\r\n\r\n", true,
       "HTTP/1.1 302 Redirect\r\nConnection: Keep-Alive\r\nContent-length: 0\r\nLocation: "
       "https://gw.example:8443/\r\n"},
      {"GET /send HTTP/1.1\r\n\r\n", true,
       "HTTP/1.1 403 Forbidden\r\nConnection: Keep-Alive\r\nContent-Type: "
       "text/html\r\nContent-Length: 132\r\n\r\n"
       "<HTML><HEAD><TITLE>\r\nConnection not allowed\r\n</TITLE></HEAD><BODY>\r\n"
       "ERROR:  SSL must be used to access this server\r\n</BODY></HTML>\r\n"},
  };
  for (const auto& k : cases) {
    foundation::Settings s;
    s.SSLRedirect = k.ssl_redirect;
    foundation::publishSettings(s);
    Client c(port_);
    auto r = c.exchange(k.request);
    EXPECT_EQ(r.value_or(Response{}).text.substr(0, strlen(k.expected_start)), k.expected_start)
        << k.request;
  }
  // Port 443 is left out of the location.
  configure("[SMSGW]\nWebPort=" + std::to_string(port_) + "\nWebPortSSL=443\n");
  Client c(port_);
  EXPECT_TRUE(has(c.exchange("GET /ADMIN HTTP/1.1\r\nHost: gw.example\r\n\r\n"),
                  "Location: https://gw.example/ADMIN\r\n"));
}

TEST_F(ServerTest, ConnectionsOverTheCapGet503UnlessAnIdleOneCanGo) {
  startPlain("MaxHTTPConnections=2\n");
  {
    // Two connections in the middle of a request are not reclaimable.
    Client a(port_), b(port_);
    ASSERT_TRUE(a.send("GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(b.send("GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(vek::testing::waitUntil([] { return connectionTable().size() == 2; }, 5s));
    std::this_thread::sleep_for(300ms);  // older than the reclaim age; busy all the same
    Client c(port_);
    auto r = c.read();
    EXPECT_EQ(r.value_or(Response{}).status_line(), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(c.closedByServer());
  }
  ASSERT_TRUE(vek::testing::waitUntil([] { return connectionTable().size() == 0; }, 5s));
  // Two idle kept-alive connections: the one idle longest makes room.
  Client a(port_), b(port_);
  ASSERT_TRUE(a.exchange("GET / HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(vek::testing::waitUntil([] { return connectionTable().size() == 2; }, 5s));
  std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(b.exchange("GET / HTTP/1.1\r\n\r\n"));
  std::this_thread::sleep_for(300ms);
  Client c(port_);
  EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
  EXPECT_TRUE(a.closedByServer(2s));
  EXPECT_TRUE(has(b.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
}

TEST_F(ServerTest, ListenerMovesWhenThePortChanges) {
  startPlain();
  uint16_t next = freePort();
  configure("[SMSGW]\nWebPort=" + std::to_string(next) + "\n");
  ASSERT_TRUE(listeningOn(0, next));
  Client c(next);
  EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
  Client old(port_);
  EXPECT_FALSE(old.connected());
}

TEST_F(ServerTest, BusyPortRaisesTheAlertOnceAndIsRetried) {
  auto blocker = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(blocker.ok());
  port_ = platform::localPort(blocker->get());
  configure("[SMSGW]\nWebPort=" + std::to_string(port_) + "\n");
  startListener(0);
  std::string marker = hostlib::GetPrivateDataDirectory() + "SOCKET.ERR";
  ASSERT_TRUE(vek::testing::waitUntil([&] { return platform::pathExists(marker); }, 5s));
  auto stamp = platform::statPath(marker)->modified;
  std::this_thread::sleep_for(300ms);                      // several retries
  EXPECT_EQ(platform::statPath(marker)->modified, stamp);  // once a day
  blocker->reset();
  EXPECT_TRUE(listeningOn(0, port_));
}

TEST_F(ServerTest, ThreadPoolReusesParkedThreads) {
  foundation::Settings s;
  s.EnableThreadPool = true;
  foundation::publishSettings(s);
  ListenerTiming t = listenerTiming();
  t.pool_idle = 1500ms;
  setListenerTiming(t);
  startPlain();
  for (int i = 0; i < 3; ++i) {
    Client c(port_);
    EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\nConnection: close\r\n\r\n"), "Unknown request"));
    EXPECT_TRUE(c.closedByServer());
    c.close();
    // The connection's thread parks; the next connection is served by it:
    // the listener and one parked thread, never more.
    ASSERT_TRUE(vek::testing::waitUntil([] { return idleWorkers().parked() == 1; }, 5s));
    EXPECT_EQ(foundation::runningWorkerCount(), 2);
  }
  // Idle parked threads end.
  EXPECT_TRUE(vek::testing::waitUntil([] { return foundation::runningWorkerCount() == 1; }, 5s));
}

TEST_F(ServerTest, SlowAndIdleClientsDoNotStopOthers) {
  startPlain();
  std::vector<Client> idle;
  for (int i = 0; i < 200; ++i) idle.emplace_back(port_);
  std::atomic<bool> stop{false};
  std::thread slow([&] {
    Client loris(port_);
    const std::string req = "GET /slow HTTP/1.1\r\nX-Padding: aaaaaaaaaaaaaaaa\r\n";
    for (size_t i = 0; i < req.size() && !stop; ++i) {
      loris.send(req.substr(i, 1));
      std::this_thread::sleep_for(20ms);
    }
  });
  for (int i = 0; i < 5; ++i) {
    Client c(port_);
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }
  stop = true;
  slow.join();
}

TEST_F(ServerTest, ShutdownEndsIdleConnectionsPromptly) {
  startPlain();
  Client a(port_), b(port_);
  ASSERT_TRUE(a.exchange("GET / HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(b.send("GET / HTTP/1.1\r\n"));
  auto start = std::chrono::steady_clock::now();
  platform::requestShutdown();
  foundation::wakeListeningSockets();
  EXPECT_TRUE(foundation::waitForWorkers(5s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_TRUE(a.closedByServer(1s));
}

}  // namespace
}  // namespace vek::http
