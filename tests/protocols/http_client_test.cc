#include "protocols/http/client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "encoding/base64.h"
#include "hostlib/host.h"
#include "http_peers.h"
#include "platform/clock.h"
#include "protocols/http/keepalive_pool.h"
#include "support/test_support.h"

namespace vek::httpwire {
namespace {

using testing::TestHttpServer;
using Reply = TestHttpServer::Reply;

Reply okText(std::string body, std::string version = "HTTP/1.1") {
  return {version + " 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body};
}

std::string requestLine(const std::string& head) {
  return head.substr(0, head.find("\r\n"));
}

// Options with short limits, so that a failing case ends quickly.
RetrieveOptions quick() {
  RetrieveOptions o;
  o.timeout = std::chrono::seconds(5);
  o.connect_timeout = std::chrono::milliseconds(5000);
  o.trust = TlsTrust{};
  return o;
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { useConfiguration(""); }
  void TearDown() override { setLocalPageHandler(nullptr); }
  void useConfiguration(const std::string& smsgw) {
    vek::testing::writeText(dir_.file("SMSGW.INI"), "[SMSGW]\n" + smsgw);
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }
  vek::testing::TempDir dir_;
};

// Requests: the wire form a server sees.
TEST_F(HttpClientTest, RequestCarriesHostAgentCredentialsAndClose) {
  TestHttpServer server([](const std::string&, int, int) { return okText("fine"); });
  std::string base = "127.0.0.1:" + std::to_string(server.port());
  RetrieveResult r = RetrieveURL("http://us%3Ar:p@ss@" + base + "/in?mail=a@b", quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "fine");
  EXPECT_EQ(r.content_type, "text/plain");
  r = RetrieveURL(base + "/plain?to=x@y", quick());  // no scheme: http
  ASSERT_TRUE(r.ok) << r.error;

  auto heads = server.heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(requestLine(heads[0]), "GET /in?mail=a@b HTTP/1.1");
  EXPECT_NE(heads[0].find("\r\nHost: " + base + "\r\n"), std::string::npos);
  EXPECT_NE(heads[0].find("\r\nConnection: close\r\n"), std::string::npos);
  EXPECT_NE(heads[0].find("\r\nUser-Agent: Vek SMS/MMS Gateway"), std::string::npos);
  EXPECT_NE(heads[0].find("Authorization: Basic " + encoding::base64Encode("us:r:p@ss")),
            std::string::npos);
  EXPECT_EQ(requestLine(heads[1]), "GET /plain?to=x@y HTTP/1.1");
  EXPECT_EQ(heads[1].find("Authorization:"), std::string::npos);
}

TEST_F(HttpClientTest, UnsafeTargetsAreRefusedBeforeConnecting) {
  TestHttpServer server([](const std::string&, int, int) { return okText("x"); });
  std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  for (std::string bad : {base + "/a\r\nX-Evil: 1", base + "/a b", base + "/a\x01"}) {
    RetrieveResult r = RetrieveURL(bad, quick());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Invalid character in URL");
  }
  EXPECT_EQ(server.connections(), 0);
}

// The status judgement.
TEST_F(HttpClientTest, StatusJudgement) {
  TestHttpServer server([](const std::string& head, int, int) -> Reply {
    if (head.starts_with("GET /missing"))
      return {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"};
    if (head.starts_with("GET /nowhere"))
      return {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"};  // no Location
    return okText("ok");
  });
  std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  RetrieveResult r = RetrieveURL(base + "/missing", quick());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "HTTP Response Error Code 404");
  EXPECT_EQ(r.status, 404);

  RetrieveOptions accept = quick();
  accept.accept_error_status = true;
  r = RetrieveURL(base + "/missing", accept);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.body(), "gone");

  r = RetrieveURL(base + "/nowhere", quick());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "HTTP Response Error Code 302");

  r = RetrieveURL("http://127.0.0.1:1/", quick());  // nothing listens on port 1
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "HTTP Connection failed for 127.0.0.1");
}

// Redirects: the limit, relative locations, credentials.
TEST_F(HttpClientTest, RedirectChainStopsAfterNineRedirects) {
  // /rN redirects to /r(N+1) until /r10, which answers.
  TestHttpServer server([](const std::string& head, int, int) -> Reply {
    int n = std::stoi(head.substr(6));
    if (n >= 10) return okText("end");
    return {"HTTP/1.1 302 Found\r\nLocation: /r" + std::to_string(n + 1) +
            "\r\nContent-Length: 0\r\n\r\n"};
  });
  std::string base = "http://127.0.0.1:" + std::to_string(server.port());

  RetrieveResult nine = RetrieveURL(base + "/r1", quick());  // 9 redirects, then /r10
  ASSERT_TRUE(nine.ok) << nine.error;
  EXPECT_EQ(nine.redirects, 9);
  EXPECT_EQ(nine.body(), "end");
  EXPECT_EQ(nine.final_url, base + "/r10");

  size_t before = server.heads().size();
  RetrieveResult ten = RetrieveURL(base + "/r0", quick());  // the 10th redirect is refused
  EXPECT_FALSE(ten.ok);
  EXPECT_NE(ten.error.find("Too many redirects"), std::string::npos) << ten.error;
  auto heads = server.heads();
  ASSERT_EQ(heads.size() - before, 10u);
  EXPECT_EQ(requestLine(heads.back()), "GET /r9 HTTP/1.1");  // /r10 never asked
}

TEST_F(HttpClientTest, RelativeRedirectsResolveAgainstTheCurrentUrl) {
  TestHttpServer server([](const std::string& head, int, int) -> Reply {
    std::string line = requestLine(head);
    if (line == "GET /x/y/a HTTP/1.1")
      return {"HTTP/1.1 301 Moved\r\nLocation: ../b\r\nContent-Length: 0\r\n\r\n"};
    if (line == "GET /x/b HTTP/1.1")
      return {"HTTP/1.1 307 Temporary\r\nLocation: ?page=2\r\nContent-Length: 0\r\n\r\n"};
    return okText(line);
  });
  std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  RetrieveResult r = RetrieveURL(base + "/x/y/a", quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "GET /x/b?page=2 HTTP/1.1");
  EXPECT_EQ(r.redirects, 2);
}

TEST_F(HttpClientTest, CredentialsFollowOnlyToTheSameHost) {
  TestHttpServer other([](const std::string&, int, int) { return okText("other"); });
  std::string other_url = "http://localhost:" + std::to_string(other.port()) + "/o";
  TestHttpServer server([&](const std::string& head, int, int) -> Reply {
    if (head.starts_with("GET /away"))
      return {"HTTP/1.1 302 Found\r\nLocation: " + other_url + "\r\nContent-Length: 0\r\n\r\n"};
    if (head.starts_with("GET /near"))
      return {"HTTP/1.1 302 Found\r\nLocation: /here\r\nContent-Length: 0\r\n\r\n"};
    return okText("here");
  });
  std::string base = "http://user:pw@127.0.0.1:" + std::to_string(server.port());
  ASSERT_TRUE(RetrieveURL(base + "/near", quick()).ok);
  ASSERT_TRUE(RetrieveURL(base + "/away", quick()).ok);

  auto heads = server.heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_NE(heads[1].find("Authorization: Basic"), std::string::npos);  // /here, same host
  ASSERT_EQ(other.heads().size(), 1u);
  EXPECT_EQ(other.heads()[0].find("Authorization:"), std::string::npos);
}

// Keep-alive.
TEST_F(HttpClientTest, KeepAliveUsesOneConnectionForAnHttp11Server) {
  struct Case {
    const char* name;
    std::function<Reply()> reply;
    int connections;
  };
  const Case cases[] = {
      {"HTTP/1.1 with length", [] { return okText("one"); }, 1},
      {"HTTP/1.1 chunked",
       [] {
         return Reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n0\r\n\r\n"};
       },
       1},
      {"HTTP/1.0", [] { return okText("one", "HTTP/1.0"); }, 2},
      {"HTTP/1.1 Connection: close",
       [] { return Reply{"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx"}; },
       2},
      {"HTTP/1.1 body until close",
       [] {
         return Reply{"HTTP/1.1 200 OK\r\n\r\nbody", true};
       },
       2},
      {"HTTP/1.1 with bytes after the answer",
       [] { return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxHTTP/1.1 200 OK\r\n\r\n"}; },
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](const std::string&, int, int) { return c.reply(); });
    KeepAliveSlot slot;
    std::string url = server.url("/k");
    RetrieveResult a = RetrieveURL(url, quick(), &slot);
    ASSERT_TRUE(a.ok) << a.error;
    RetrieveResult b = RetrieveURL(url, quick(), &slot);
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(a.body(), b.body());
    EXPECT_EQ(server.connections(), c.connections);
    EXPECT_EQ(b.reused_connection, c.connections == 1);
    auto heads = server.heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].find("Connection: close"), std::string::npos);
  }
}

TEST_F(HttpClientTest, AKeptConnectionTheServerDroppedIsReplaced) {
  // The first connection answers once, then closes on the second request
  // without a byte; the second connection answers normally.
  TestHttpServer server([](const std::string&, int connection, int index) -> Reply {
    if (connection == 0 && index == 1) return {"", true};
    return okText("c" + std::to_string(connection));
  });
  KeepAliveSlot slot;
  ASSERT_TRUE(RetrieveURL(server.url(), quick(), &slot).ok);
  RetrieveResult r = RetrieveURL(server.url(), quick(), &slot);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "c1");
  EXPECT_EQ(server.connections(), 2);
}

TEST_F(HttpClientTest, ASlotIsOnlyReusedForTheSameServer) {
  TestHttpServer a([](const std::string&, int, int) { return okText("a"); });
  TestHttpServer b([](const std::string&, int, int) { return okText("b"); });
  KeepAliveSlot slot;
  ASSERT_EQ(RetrieveURL(a.url(), quick(), &slot).body(), "a");
  ASSERT_EQ(RetrieveURL(b.url(), quick(), &slot).body(), "b");
  ASSERT_EQ(RetrieveURL(b.url(), quick(), &slot).body(), "b");
  EXPECT_EQ(a.connections(), 1);
  EXPECT_EQ(b.connections(), 1);
  EXPECT_EQ(b.heads().size(), 2u);
}

TEST_F(HttpClientTest, PooledRequestsShareConnections) {
  TestHttpServer server([](const std::string&, int, int) { return okText("pooled"); });
  KeepAlivePool pool(2);
  for (int i = 0; i < 3; ++i) {
    RetrieveResult r = RetrieveURLPooled(server.url("/acct"), quick(), pool);
    ASSERT_TRUE(r.ok) << r.error;
  }
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(pool.size(), 1u);

  // A connection whose server went away is closed, not handed out.
  {
    TestHttpServer gone([](const std::string&, int, int) { return okText("x"); });
    ASSERT_TRUE(RetrieveURLPooled(gone.url(), quick(), pool).ok);
    EXPECT_EQ(pool.size(), 2u);
  }
  auto ep = endpointForUrl(server.url(), "");
  ASSERT_TRUE(ep.ok());
  ClientConnection c = pool.get(*ep);
  EXPECT_TRUE(c.valid());
  EXPECT_TRUE(vek::testing::waitUntil(
      [&] {
        Endpoint none;
        (void)pool.get(none);  // closes the dead entry on the way
        return pool.size() == 0;
      },
      std::chrono::seconds(5)));
  pool.put(std::move(c));
  EXPECT_EQ(pool.size(), 1u);
  pool.closeAll();
  EXPECT_EQ(pool.size(), 0u);
}

TEST_F(HttpClientTest, ThePoolServesSeveralThreads) {
  TestHttpServer server([](const std::string&, int, int) { return okText("shared"); });
  KeepAlivePool pool;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i)
        if (RetrieveURLPooled(server.url("/acct"), quick(), pool).body() == "shared") ++good;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 80);
  EXPECT_LE(server.connections(), 4);  // never more connections than callers at once
  EXPECT_LE(pool.size(), 4u);
}

// Framing the server chooses.
TEST_F(HttpClientTest, ChunkedNoContentAndInterimAnswers) {
  TestHttpServer server([](const std::string& head, int, int) -> Reply {
    if (head.starts_with("GET /chunked"))
      return {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n0\r\n\r\n"};
    if (head.starts_with("GET /204"))  // then silence: the answer is complete at once
      return {"HTTP/1.1 204 No Content\r\n\r\n", false, true};
    return {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nafter"};
  });
  RetrieveResult r = RetrieveURL(server.url("/chunked"), quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "Hi");

  RetrieveOptions slow = quick();
  slow.timeout = std::chrono::seconds(30);
  auto start = platform::monotonicNow();
  r = RetrieveURL(server.url("/204"), slow);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 204);
  EXPECT_EQ(r.body_length, 0u);
  EXPECT_LT(platform::monotonicNow() - start, std::chrono::seconds(5));

  r = RetrieveURL(server.url("/continue"), quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body(), "after");
}

// Hostile or broken servers: a failure within the limits, never a hang.
TEST_F(HttpClientTest, BadServersFailWithinTheLimits) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  struct Case {
    std::string name;
    Reply reply;
  };
  const Case cases[] = {
      {"endless header", {ok + "X-Pad: " + std::string(200000, 'a'), false, true}},
      {"2 GB Content-Length", {ok + "Content-Length: 2147483648\r\n\r\nabc", false, true}},
      {"negative Content-Length", {ok + "Content-Length: -5\r\n\r\nabc", false, true}},
      {"duplicate Content-Length",
       {ok + "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc", false, true}},
      {"40-digit chunk size",
       {ok + "Transfer-Encoding: chunked\r\n\r\n" + std::string(40, 'f') + "\r\n", false, true}},
      {"junk status line", {"220 mail.example ESMTP ready\r\n", false, true}},
      {"stall in the body", {ok + "Content-Length: 10\r\n\r\nabc", false, true}},
      {"stall before the answer", {"", false, true}},
      {"truncated chunks", {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n", true}},
      {"body beyond the size limit", {ok + "\r\n" + std::string(300000, 'z'), true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHttpServer server([&](const std::string&, int, int) { return c.reply; });
    RetrieveOptions o = quick();
    o.timeout = std::chrono::seconds(1);
    o.max_response = 100000;
    auto start = platform::monotonicNow();
    RetrieveResult r = RetrieveURL(server.url(), o);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_LT(platform::monotonicNow() - start, std::chrono::seconds(4));
  }
}

TEST_F(HttpClientTest, TheWholeRequestHasATimeLimit) {
  // The read time-out is long; only the overall limit ends the call.
  TestHttpServer server([](const std::string&, int, int) -> Reply {
    return {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab", false, true};
  });
  RetrieveOptions o = quick();
  o.timeout = std::chrono::seconds(10);
  o.total_timeout = std::chrono::milliseconds(300);
  auto start = platform::monotonicNow();
  RetrieveResult r = RetrieveURL(server.url(), o);
  EXPECT_FALSE(r.ok);
  EXPECT_LT(platform::monotonicNow() - start, std::chrono::seconds(5));
}

// Proxies and the gateway's own address.
TEST_F(HttpClientTest, PlainProxyGetsTheAbsoluteFormButLocalHostsGoDirect) {
  TestHttpServer proxy([](const std::string&, int, int) { return okText("via proxy"); });
  TestHttpServer direct([](const std::string&, int, int) { return okText("direct"); });
  RetrieveOptions o = quick();
  o.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  RetrieveResult r = RetrieveURL("http://sms.example.test:8080/send?x=1", o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "via proxy");
  ASSERT_EQ(proxy.heads().size(), 1u);
  EXPECT_EQ(requestLine(proxy.heads()[0]), "GET http://sms.example.test:8080/send?x=1 HTTP/1.1");
  EXPECT_NE(proxy.heads()[0].find("Host: sms.example.test:8080\r\n"), std::string::npos);

  r = RetrieveURL(direct.url("/d"), o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "direct");
  EXPECT_EQ(proxy.heads().size(), 1u);
}

TEST_F(HttpClientTest, LocalAliasAndOwnPhpPages) {
  TestHttpServer web([](const std::string&, int, int) { return okText("own web port"); });
  useConfiguration("WebPort=" + std::to_string(web.port()) + "\nPHPEnable=Yes\n");
  RetrieveResult r = RetrieveURL("http://veksmslocal/status", quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "own web port");
  EXPECT_NE(web.heads()[0].find("Host: 127.0.0.1:" + std::to_string(web.port())),
            std::string::npos);

  std::string seen;
  setLocalPageHandler([&](const std::string& request, std::string* response) {
    seen = request;
    *response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 3\r\n\r\nphp";
    return true;
  });
  r = RetrieveURL("http://veksmslocal/PHP/page.php?a=1", quick());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "php");
  EXPECT_EQ(r.content_type, "text/html");
  EXPECT_EQ(requestLine(seen), "GET /PHP/page.php?a=1 HTTP/1.1");
  EXPECT_EQ(web.connections(), 1);  // the page never touched the network
}

}  // namespace
}  // namespace vek::httpwire
