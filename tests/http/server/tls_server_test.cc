// The TLS listener, and the must-work checks with the command-line clients
// (curl, openssl s_client) where they are installed.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "http/server/event_loop.h"
#include "http/server/listeners.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "server_fixture.h"
#include "tls/stream.h"
#include "tls/tls.h"

namespace vek::http {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::freePort;
using testing::ServerTest;

std::string run(std::vector<std::string> argv, const std::string& input = "",
                platform::ProcessResult* out = nullptr) {
  platform::ProcessOptions o;
  o.argv = std::move(argv);
  if (!input.empty()) o.stdin_data = input;
  o.time_limit = 20s;
  auto r = platform::runProcess(o);
  if (out) *out = r;
  return r.output;
}

class TlsServerTest : public ServerTest {
 protected:
  void startBoth() {
    if (!makeCertificate()) GTEST_SKIP() << "openssl program not available";
    foundation::StartupFacts f;
    f.tls_available = true;
    f.server_certificate = true;
    foundation::setStartupFacts(f);
    tls_port_ = freePort();
    startPlain("WebPortSSL=" + std::to_string(tls_port_) + "\n");
    startListener(1);
    ASSERT_TRUE(listeningOn(1, tls_port_));
  }
  uint16_t tls_port_ = 0;
};

TEST_F(TlsServerTest, ServesOverTlsWhileHandshakesHangHalfOpen) {
  startBoth();
  if (HasFatalFailure() || IsSkipped()) return;
  // Half-open handshakes: some send nothing, some a fragment of a hello.
  std::vector<Client> hanging;
  for (int i = 0; i < 20; ++i) {
    hanging.emplace_back(tls_port_);
    if (i % 2) hanging.back().send(std::string("\x16\x03\x01\x00", 4));
  }
  auto fd = platform::connectTcp("127.0.0.1", tls_port_, 5000);
  ASSERT_TRUE(fd.ok());
  std::string err;
  tls::ClientOptions opts;
  opts.verify = false;
  tls::TlsSession* s = tls::sslInitSession(fd->get(), &err, opts);
  ASSERT_NE(s, nullptr) << err;
  tls::Stream stream(std::move(fd.value()), tls::SessionPtr(s));
  ASSERT_EQ(stream.writeAll("GET /x HTTP/1.1\r\nHost: a\r\n\r\n", 5000), platform::IoStatus::kOk);
  std::string got;
  char buf[4096];
  size_t n = 0;
  while (got.find("</HTML>") == std::string::npos &&
         stream.readSome(buf, sizeof buf, 5000, &n) == platform::IoStatus::kOk)
    got.append(buf, n);
  EXPECT_EQ(got.substr(0, 25), "HTTP/1.1 400 Bad Request\r");
  EXPECT_NE(got.find("Unknown request"), std::string::npos);
  // The hanging handshakes time out and leave the table.
  stream.close();
  EXPECT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 0; }, 10s));
}

TEST_F(TlsServerTest, CommandLineClients) {
  startBoth();
  if (HasFatalFailure() || IsSkipped()) return;
  if (!platform::findProgram("curl")) GTEST_SKIP() << "curl not installed";
  std::string base = "http://127.0.0.1:" + std::to_string(port_);
  std::string out =
      run({"curl", "-sk", "-i", "https://127.0.0.1:" + std::to_string(tls_port_) + "/x"});
  EXPECT_NE(out.find("HTTP/1.1 400 Bad Request"), std::string::npos) << out;
  EXPECT_NE(out.find("Unknown request"), std::string::npos) << out;

  out = run({"curl", "-s", "-i", "-0", base + "/x"});
  EXPECT_NE(out.find("HTTP/1.0 400 Bad Request\r\nConnection: close\r\n"), std::string::npos)
      << out;

  out = run({"curl", "-s", "-i", "-H", "Transfer-Encoding: chunked", "--data-binary", "hello",
             base + "/x"});
  EXPECT_NE(out.find("Unknown request"), std::string::npos) << out;

  // A large POST announced with "Expect: 100-continue" is not held up.
  std::string file = dir_.file("body.bin");
  vek::testing::writeText(file, std::string(2 << 20, 'b'));
  auto start = std::chrono::steady_clock::now();
  out = run(
      {"curl", "-s", "-i", "-H", "Expect: 100-continue", "--data-binary", "@" + file, base + "/x"});
  EXPECT_NE(out.find("Unknown request"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);

  if (platform::findProgram("openssl")) {
    out =
        run({"openssl", "s_client", "-quiet", "-connect", "127.0.0.1:" + std::to_string(tls_port_)},
            "GET /x HTTP/1.0\r\n\r\n");
    EXPECT_NE(out.find("HTTP/1.0 400 Bad Request"), std::string::npos) << out;
  }
}

TEST_F(TlsServerTest, TlsPortZeroOpensNothingAndRaisesNoAlert) {
  configure("[SMSGW]\nWebPortSSL=0\n");
  startListener(1);
  std::this_thread::sleep_for(300ms);  // several re-reads of the key
  EXPECT_EQ(foundation::listeningSocket(foundation::Listener::kWebSsl), -1);
  EXPECT_FALSE(platform::pathExists(hostlib::GetPrivateDataDirectory() + "SSLSOCKET.ERR"));
  uint16_t port = freePort();
  configure("[SMSGW]\nWebPortSSL=" + std::to_string(port) + "\n");
  EXPECT_TRUE(listeningOn(1, port));
}

TEST(ListenerPortsTest, EmptyOrZeroWebPortMeans8800) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path()).ok());
  hostlib::SMSIniSetFilename(dir.file("SMSGW.INI"));
  const std::pair<std::string, unsigned> cases[] = {{"", 8800},
                                                    {"WebPort=\n", 8800},
                                                    {"WebPort=0\n", 8800},
                                                    {"WebPort=8801\n", 8801},
                                                    {"WebPortSSL=\n", 8800}};
  for (const auto& [keys, port] : cases) {
    vek::testing::writeText(dir.file("SMSGW.INI"), "[SMSGW]\n" + keys);
    hostlib::smsIni().invalidate();
    EXPECT_EQ(configuredWebPort(), port) << keys;
    EXPECT_EQ(configuredWebPortSsl(), 0u) << keys;
  }
  vek::testing::writeText(dir.file("SMSGW.INI"), "");
  hostlib::smsIni().invalidate();
}

// With the service's own waits: an empty WebPort listens on 8800, and a
// change to 8801 moves the listener when its 15-second wait ends (on a fake
// clock). Skips when another program holds either port (the bind failure
// leaves its marker).
TEST_F(ServerTest, DefaultPortAndMoveWithServiceTiming) {
  for (uint16_t p : {8800, 8801})
    if (!platform::listenTcp("127.0.0.1", p).ok())
      GTEST_SKIP() << "port " << p << " is in use on this machine";
  platform::FakeClock& clock = useFakeClock();
  setListenerTiming(ListenerTiming{});
  std::string marker = hostlib::GetPrivateDataDirectory() + "SOCKET.ERR";
  configure("[SMSGW]\nWebPort=\n");
  startListener(0);
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] { return listeningOn(0, 8800, 0s) || platform::pathExists(marker); }, 10s));
  if (platform::pathExists(marker)) GTEST_SKIP() << "port 8800 was taken meanwhile";
  Client c(8800);
  ASSERT_TRUE(c.exchange("GET / HTTP/1.1\r\n\r\n"));
  configure("[SMSGW]\nWebPort=8801\n");
  clock.advance(14s);
  EXPECT_FALSE(listeningOn(0, 8801, 200ms));
  clock.advance(1s);
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] { return listeningOn(0, 8801, 0s) || platform::pathExists(marker); }, 5s));
  if (platform::pathExists(marker)) GTEST_SKIP() << "port 8801 was taken meanwhile";
  Client d(8801);
  EXPECT_TRUE(d.exchange("GET / HTTP/1.1\r\n\r\n"));
}

}  // namespace
}  // namespace vek::http
