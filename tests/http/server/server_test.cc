// The web server from outside: raw sockets against the listener threads
// running in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/event_loop.h"
#include "http/server/listeners.h"
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

// A worker that answered a kept-alive request waits for the next one: when
// it comes whole the worker answers it; when it comes in part the loop
// takes the connection back, counts the request as incomplete and answers
// it once it is whole.
TEST_F(ServerTest, AWorkerReadsOnAndHandsBackARequestThatIsNotWhole) {
  ListenerTiming t = listenerTiming();
  t.next_request_wait = 500ms;
  setListenerTiming(t);
  startPlain();
  Client c(port_);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(c.exchange("GET / HTTP/1.1\r\n\r\n").value_or(Response{}).status_line(),
              "HTTP/1.1 400 Bad Request");
  ASSERT_TRUE(c.send("GET / HTTP/1.1\r\nUser-Agent: Mozilla\r\n"));
  ASSERT_TRUE(vek::testing::waitUntil(
      [] { return serverStats().at_workers == 0 && serverStats().incomplete == 1; }, 5s));
  ASSERT_TRUE(c.send("\r\n"));
  EXPECT_EQ(c.read().value_or(Response{}).status_line(), "HTTP/1.1 200 OK");
  // Quiet after its answer: back with the loop, idle.
  ASSERT_TRUE(vek::testing::waitUntil(
      [] { return serverStats().at_workers == 0 && serverStats().incomplete == 0; }, 5s));
  EXPECT_EQ(serverStats().connections, 1u);
  EXPECT_EQ(c.exchange("GET / HTTP/1.1\r\n\r\n").value_or(Response{}).status_line(),
            "HTTP/1.1 400 Bad Request");
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

TEST_F(ServerTest, AFullServerMakesRoomFromIdleThenIncompleteConnections) {
  useFakeClock();
  startPlain("MaxHTTPConnections=2\n");
  {
    // Two connections that have sent nothing: the older makes room.
    Client a(port_);
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 1; }, 5s));
    Client b(port_);
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 2; }, 5s));
    Client d(port_);
    EXPECT_TRUE(has(d.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
    EXPECT_TRUE(a.closedByServer(2s));
    EXPECT_TRUE(has(b.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
  }
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 0; }, 5s));
  {
    // Two requests under way, however young: the oldest makes room.
    Client a(port_), b(port_);
    ASSERT_TRUE(a.send("GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().incomplete == 1; }, 5s));
    ASSERT_TRUE(b.send("GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().incomplete == 2; }, 5s));
    Client d(port_);
    EXPECT_TRUE(has(d.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
    EXPECT_TRUE(a.closedByServer(2s));
    EXPECT_TRUE(b.send("\r\n"));
    EXPECT_TRUE(has(b.read(), "Unknown request"));
  }
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 0; }, 5s));
  {
    // Two kept-alive connections idle for less than the reclaim age: a
    // newcomer is refused.
    Client a(port_), b(port_);
    ASSERT_TRUE(a.exchange("GET / HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(b.exchange("GET / HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().at_workers == 0; }, 5s));
    Client c(port_);
    auto r = c.read();
    EXPECT_EQ(r.value_or(Response{}).status_line(), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(has(r, "Retry-After: 10\r\n"));
    EXPECT_TRUE(c.closedByServer());
  }
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 0; }, 5s));
  // Two idle kept-alive connections: the one idle longest goes first, even
  // when a request is under way elsewhere.
  Client a(port_), b(port_);
  ASSERT_TRUE(a.exchange("GET / HTTP/1.1\r\n\r\n"));
  // Answered, and back from the worker (which waits a moment for a next
  // request).
  ASSERT_TRUE(vek::testing::waitUntil(
      [] { return serverStats().connections == 2 && serverStats().at_workers == 0; }, 5s));
  advance(100ms);
  ASSERT_TRUE(b.send("GET / HTTP/1.1\r\n"));
  advance(300ms);
  Client c(port_);
  EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
  EXPECT_TRUE(a.closedByServer(2s));
  EXPECT_TRUE(b.send("\r\n"));
  EXPECT_TRUE(has(b.read(), "Unknown request"));
}

TEST_F(ServerTest, PerAddressLimitsLeaveOtherAddressesAlone) {
  startPlain(
      "MaxHTTPConnectionsPerAddress=3\nMaxHTTPIncompleteRequestsPerAddress=2\n"
      "HTTPAddressLimitsExempt=127.0.0.9\n");
  std::vector<Client> held;
  for (int i = 0; i < 3; ++i) held.emplace_back(port_, "127.0.0.3");
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 3; }, 5s));
  Client fourth(port_, "127.0.0.3");
  EXPECT_EQ(fourth.read().value_or(Response{}).status_line(), "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(fourth.closedByServer());
  Client other(port_, "127.0.0.4");
  EXPECT_TRUE(has(other.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));

  // Two requests of 127.0.0.3 under way: a third is refused when it begins.
  ASSERT_TRUE(held[0].send("GET / HTTP/1.1\r\n"));
  ASSERT_TRUE(held[1].send("GET / HTTP/1.1\r\n"));
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().incomplete == 2; }, 5s));
  auto r = held[2].exchange("GET / HTTP/1.1\r\n");
  EXPECT_EQ(r.value_or(Response{}).status_line(), "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(held[2].closedByServer());
  // Finished requests leave room again.
  ASSERT_TRUE(held[0].send("\r\n"));
  EXPECT_TRUE(has(held[0].read(), "Unknown request"));

  // An exempt address has neither limit.
  std::vector<Client> exempt;
  for (int i = 0; i < 5; ++i) {
    exempt.emplace_back(port_, "127.0.0.9");
    ASSERT_TRUE(exempt.back().send("GET / HTTP/1.1\r\n"));
  }
  for (Client& c : exempt) {
    ASSERT_TRUE(c.send("\r\n"));
    EXPECT_TRUE(has(c.read(), "Unknown request"));
  }
}

TEST_F(ServerTest, SlowRequestsAreDroppedAtTheirDeadlineWhileOthersAreServed) {
  useFakeClock();
  startPlain("HTTPMinBodyRate=100\n");
  // 200 slow heads from ten addresses, 100 idle connections, a body that
  // keeps its rate and one that does not.
  std::vector<Client> slow, idle;
  for (int i = 0; i < 200; ++i) {
    slow.emplace_back(port_, "127.0.1." + std::to_string(1 + i % 10));
    ASSERT_TRUE(slow.back().send("GET /slow HTTP/1.1\r\nX-A: a"));
  }
  for (int i = 0; i < 100; ++i) idle.emplace_back(port_, "127.0.2." + std::to_string(1 + i % 5));
  Client steady(port_, "127.0.3.1"), stalled(port_, "127.0.3.2");
  const std::string post = "POST / HTTP/1.1\r\nContent-Length: 4000\r\n\r\n";
  ASSERT_TRUE(steady.send(post));
  ASSERT_TRUE(stalled.send(post));
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().incomplete == 202; }, 10s))
      << serverStats().incomplete;
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 302; }, 10s));

  // Every second the slow heads send a byte, the steady body 150 bytes.
  for (int second = 1; second <= 19; ++second) {
    for (Client& c : slow) ASSERT_TRUE(c.send("a"));
    ASSERT_TRUE(steady.send(std::string(150, 'b')));
    advance(1s);
    Client other(port_, "127.0.0.2");
    ASSERT_TRUE(has(other.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request")) << second;
  }
  // 20 s after their first byte the heads are closed, and the body that
  // never kept its rate with them.
  advance(1s);
  for (Client& c : slow) EXPECT_TRUE(c.closedByServer(2s));
  EXPECT_TRUE(stalled.closedByServer(2s));
  EXPECT_TRUE(idle.front().quiet());
  ASSERT_TRUE(steady.send(std::string(4000 - 19 * 150, 'b')));
  EXPECT_TRUE(has(steady.read(), "Unknown request"));
  EXPECT_TRUE(vek::testing::waitUntil([] { return serverStats().incomplete == 0; }, 5s));
  // The idle ones end after 180 s without a byte.
  advance(160s);
  for (Client& c : idle) EXPECT_TRUE(c.closedByServer(2s));
}

TEST_F(ServerTest, LargeBodiesBeyondTheMemoryBudgetAreRefusedForLater) {
  startPlain("MaxHTTPBodyMemoryMB=1\n");
  const std::string head = "POST / HTTP/1.1\r\nContent-Length: 700000\r\n\r\n";
  Client first(port_);
  ASSERT_TRUE(first.send(head + std::string(1000, 'a')));
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().budget_used > 0; }, 5s));
  Client second(port_);
  auto r = second.exchange(head);
  EXPECT_EQ(r.value_or(Response{}).status_line(), "HTTP/1.1 503 Service Unavailable");
  EXPECT_TRUE(has(r, "Retry-After: 10\r\n"));
  ASSERT_TRUE(first.send(std::string(699000, 'a')));
  EXPECT_TRUE(has(first.read(), "Unknown request"));
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().budget_used == 0; }, 5s));
  Client third(port_);
  EXPECT_TRUE(has(third.exchange(head + std::string(700000, 'c')), "Unknown request"));
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
  platform::FakeClock& clock = useFakeClock();
  auto blocker = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(blocker.ok());
  port_ = platform::localPort(blocker->get());
  configure("[SMSGW]\nWebPort=" + std::to_string(port_) + "\n");
  startListener(0);
  std::string marker = hostlib::GetPrivateDataDirectory() + "SOCKET.ERR";
  ASSERT_TRUE(vek::testing::waitUntil([&] { return platform::pathExists(marker); }, 5s));
  auto stamp = platform::statPath(marker)->modified;
  for (int i = 0; i < 3; ++i) {  // three more attempts
    ASSERT_TRUE(clock.awaitWaiters(1, 5s));
    clock.advance(100ms);
  }
  ASSERT_TRUE(clock.awaitWaiters(1, 5s));
  EXPECT_EQ(platform::statPath(marker)->modified, stamp);  // once a day
  blocker->reset();
  clock.advance(100ms);
  EXPECT_TRUE(listeningOn(0, port_));
}

TEST_F(ServerTest, WorkerThreadsAreReusedAndEndWhenIdle) {
  platform::FakeClock& clock = useFakeClock();
  startPlain();
  for (int i = 0; i < 3; ++i) {
    Client c(port_);
    EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\nConnection: close\r\n\r\n"), "Unknown request"));
    EXPECT_TRUE(c.closedByServer());
    // The worker is back waiting for a job before the next client comes;
    // otherwise a second one would start, rightly.
    ASSERT_TRUE(clock.awaitWaiters(1, 5s));
  }
  // One worker served them all, next to the listener and the event loop.
  EXPECT_EQ(serverStats().worker_threads, 1u);
  EXPECT_EQ(foundation::runningWorkerCount(), 3);
  // An idle worker ends after its idle time.
  ASSERT_TRUE(clock.awaitWaiters(1, 5s));
  clock.advance(listenerTiming().pool_idle);
  EXPECT_TRUE(vek::testing::waitUntil([] { return foundation::runningWorkerCount() == 2; }, 5s));
  Client c(port_);
  EXPECT_TRUE(has(c.exchange("GET / HTTP/1.1\r\n\r\n"), "Unknown request"));
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
