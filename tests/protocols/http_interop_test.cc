// The client against independent servers: Python's http.server (HTTP/1.0)
// behind socat's TLS listener, and the HTTP interface of Kannel's bearerbox
// (HTTP/1.1 with keep-alive). Skipped when the peers are not installed.
#include <gtest/gtest.h>

#include <regex>

#include "http_peers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "protocols/http/client.h"
#include "support/test_support.h"

namespace vek::httpwire {
namespace {

// Starts a peer and waits (bounded) for the line that tells its port.
struct Peer {
  platform::ChildProcess process;
  uint16_t port = 0;
  std::string output;
};

bool startPeer(std::vector<std::string> argv, const std::string& port_pattern, Peer* peer) {
  platform::ProcessOptions o;
  o.argv = std::move(argv);
  auto child = platform::ChildProcess::spawn(o);
  if (!child.ok()) return false;
  peer->process = std::move(child.value());
  std::regex re(port_pattern);
  auto deadline = platform::monotonicNow() + std::chrono::seconds(10);
  while (platform::monotonicNow() < deadline) {
    if (platform::waitReadable(peer->process.stdoutFd(), 100) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(peer->process.stdoutFd(), buf, sizeof buf);
    if (n <= 0) return false;
    peer->output.append(buf, static_cast<size_t>(n));
    std::smatch m;
    if (std::regex_search(peer->output, m, re)) {
      peer->port = static_cast<uint16_t>(std::stoi(m[1]));
      return true;
    }
  }
  return false;
}

bool havePrograms(std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (!platform::findProgram(n)) return false;
  return true;
}

RetrieveOptions quick() {
  RetrieveOptions o;
  o.timeout = std::chrono::seconds(5);
  o.connect_timeout = std::chrono::seconds(5);
  o.trust = TlsTrust{};
  return o;
}

TEST(HttpInteropTest, PythonHttpServerBehindSocatTls) {
  VEK_REQUIRE_ORACLES();
  const std::string python = "/usr/bin/python3";
  if (!havePrograms({"socat", "openssl"}) || !platform::findProgram(python))
    GTEST_SKIP() << "socat, openssl or /usr/bin/python3 missing";
  vek::testing::TempDir dir;
  ASSERT_TRUE(testing::makeCertificate(dir.path()));
  ASSERT_TRUE(platform::makeDirectories(dir.file("www/docs")).ok());
  vek::testing::writeText(dir.file("www/hello.txt"), "hello over TLS\n");
  vek::testing::writeText(dir.file("www/docs/index.html"), "<p>index</p>\n");

  Peer web;
  ASSERT_TRUE(startPeer({python, "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                         "--directory", dir.file("www")},
                        R"(port (\d+))", &web))
      << web.output;
  Peer tls;
  ASSERT_TRUE(startPeer({"socat", "-d", "-d",
                         "OPENSSL-LISTEN:0,bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" +
                             dir.file("SSLCERT.PEM") + ",key=" + dir.file("SSLKEY.PEM"),
                         "TCP:127.0.0.1:" + std::to_string(web.port)},
                        R"(listening on .*:(\d+))", &tls))
      << tls.output;
  std::string base = "https://localhost:" + std::to_string(tls.port);

  RetrieveOptions o = quick();
  RetrieveResult r = RetrieveURL(base + "/hello.txt", o);
  EXPECT_FALSE(r.ok);  // the certificate is not trusted by default
  o.trust->ca_file = dir.file("SSLCERT.PEM");

  KeepAliveSlot slot;
  for (int i = 0; i < 2; ++i) {
    r = RetrieveURL(base + "/hello.txt", o, &slot);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body(), "hello over TLS\n");
    EXPECT_EQ(r.content_type, "text/plain");
    EXPECT_FALSE(r.reused_connection);  // HTTP/1.0: never kept
    EXPECT_TRUE(slot.empty());
  }
  // "/docs" redirects to "/docs/" (an absolute path in Location).
  r = RetrieveURL(base + "/docs", o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.redirects, 1);
  EXPECT_EQ(r.body(), "<p>index</p>\n");

  r = RetrieveURL(base + "/missing", o);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "HTTP Response Error Code 404");
}

TEST(HttpInteropTest, KannelBearerboxPlainAndKeptAlive) {
  VEK_REQUIRE_ORACLES();
  if (!havePrograms({"bearerbox"})) GTEST_SKIP() << "bearerbox missing";
  vek::testing::TempDir dir;
  uint16_t port = 0;
  {
    auto probe = platform::listenTcp("127.0.0.1", 0);
    ASSERT_TRUE(probe.ok());
    port = platform::localPort(probe->get());
  }
  vek::testing::writeText(dir.file("kannel.conf"),
                          "group = core\nadmin-port = " + std::to_string(port) +
                              "\nadmin-interface = 127.0.0.1\nadmin-password = pw\n"
                              "status-password = pw\nadmin-allow-ip = \"127.0.0.1\"\n"
                              "log-file = \"" +
                              dir.file("bearerbox.log") + "\"\nlog-level = 2\n");
  platform::ProcessOptions o;
  o.argv = {"bearerbox", "-v", "4", dir.file("kannel.conf")};
  o.output_path = dir.file("bearerbox.out");
  auto bearerbox = platform::ChildProcess::spawn(o);
  ASSERT_TRUE(bearerbox.ok());
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/status.txt?password=pw";
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] {
        auto fd = platform::connectTcp("127.0.0.1", port, 200);
        return fd.ok();
      },
      std::chrono::seconds(10)))
      << vek::testing::readText(dir.file("bearerbox.out"));

  RetrieveResult plain = RetrieveURL(url, quick());
  ASSERT_TRUE(plain.ok) << plain.error;
  EXPECT_NE(plain.body().find("Status: running"), std::string::npos) << plain.body();

  KeepAliveSlot slot;
  RetrieveResult first = RetrieveURL(url, quick(), &slot);
  ASSERT_TRUE(first.ok) << first.error;
  EXPECT_FALSE(slot.empty());
  int fd = slot.connection.stream().fd();
  RetrieveResult second = RetrieveURL(url, quick(), &slot);
  ASSERT_TRUE(second.ok) << second.error;
  EXPECT_TRUE(second.reused_connection);
  EXPECT_EQ(slot.connection.stream().fd(), fd);
  EXPECT_NE(second.body().find("Status: running"), std::string::npos);
}

}  // namespace
}  // namespace vek::httpwire
