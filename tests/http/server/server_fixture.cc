#include "server_fixture.h"

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/listeners.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "protocols/http/message.h"
#include "tls/tls.h"

namespace vek::http::testing {

using namespace std::chrono_literals;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

std::string Response::body() const {
  size_t b = httpwire::bodyOffset(text);
  return b == 0 ? std::string() : text.substr(b);
}

Client::Client(uint16_t port, const std::string& from) {
  auto c = platform::connectTcp("127.0.0.1", port, 5000, from);
  if (c.ok()) fd_ = std::move(c.value());
}

bool Client::send(std::string_view data) {
  return fd_.valid() && platform::sendAll(fd_.get(), data, 10000) == platform::IoStatus::kOk;
}

std::optional<Response> Client::read(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  for (;;) {
    httpwire::MessageCheck c =
        httpwire::checkMessage(pending_, httpwire::MessageLimits{1u << 30, 1u << 20});
    if (c.state == httpwire::MessageState::kComplete) {
      Response r{pending_.substr(0, c.length)};
      pending_.erase(0, c.length);
      return r;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !fd_.valid()) return std::nullopt;
    size_t got = 0;
    if (platform::recvSome(fd_.get(), buf, sizeof buf, static_cast<int>(left.count()), &got) !=
        platform::IoStatus::kOk)
      return std::nullopt;
    pending_.append(buf, got);
  }
}

bool Client::closedByServer(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  while (fd_.valid()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    size_t got = 0;
    auto st = platform::recvSome(fd_.get(), buf, sizeof buf, static_cast<int>(left.count()), &got);
    if (st == platform::IoStatus::kClosed) return true;
    if (st != platform::IoStatus::kOk) return false;
  }
  return false;
}

void ServerTest::SetUp() {
  platform::resetShutdownForTesting();
  ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
  hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  configure("");
  ListenerTiming t;
  t.accept_wait = 100ms;
  t.retry = 100ms;
  t.handshake = 2000ms;
  t.reclaim_after = 200ms;
  setListenerTiming(t);
}

void ServerTest::TearDown() {
  platform::requestShutdown();
  foundation::wakeListeningSockets();
  EXPECT_TRUE(foundation::waitForWorkers(20s))
      << foundation::runningWorkerCount() << " threads still running";
  platform::resetShutdownForTesting();
  foundation::publishSettings(foundation::Settings{});
  foundation::setStartupFacts(foundation::StartupFacts{});
  configure("");
  LoadAllowedList();
  LoadBlockedList();
  setListenerTiming(ListenerTiming{});
  tls::sslSetCertificateDirectory("");
}

void ServerTest::configure(const std::string& ini) {
  ini_ = ini;
  // Every listener of these tests binds the loopback address only.
  std::string text = ini;
  size_t section = text.find("[SMSGW]\n");
  if (section == std::string::npos) {
    text = "[SMSGW]\nIPAddress=127.0.0.1\n" + text;
  } else {
    text.insert(section + 8, "IPAddress=127.0.0.1\n");
  }
  vek::testing::writeText(dir_.file("SMSGW.INI"), text);
  hostlib::smsIni().invalidate();
}

void ServerTest::startPlain(const std::string& smsgw_keys, const std::string& more_sections) {
  port_ = freePort();
  ASSERT_NE(port_, 0);
  configure("[SMSGW]\nWebPort=" + std::to_string(port_) + "\n" + smsgw_keys + more_sections);
  LoadAllowedList();
  LoadBlockedList();
  startListener(0);
  ASSERT_TRUE(listeningOn(0, port_));
}

void ServerTest::startListener(int which) {
  if (which == 0) {
    ASSERT_TRUE(foundation::startWorkerThread("ThreadListenForConnections",
                                              [] { ThreadListenForConnections(0); }));
  } else {
    ASSERT_TRUE(foundation::startWorkerThread("ThreadLsitenForSSLConnections",
                                              [] { ThreadListenForSSLConnections(0); }));
  }
}

bool ServerTest::listeningOn(int which, uint16_t port, std::chrono::milliseconds timeout) {
  auto slot = which == 0 ? foundation::Listener::kWeb : foundation::Listener::kWebSsl;
  return vek::testing::waitUntil(
      [&] {
        int fd = foundation::listeningSocket(slot);
        return fd >= 0 && platform::localPort(fd) == port;
      },
      timeout);
}

bool ServerTest::makeCertificate() {
  std::string dir = hostlib::GetPrivateDataDirectory();
  (void)platform::makeDirectories(dir);
  platform::ProcessOptions o;
  o.argv = {"openssl",  "req",
            "-x509",    "-newkey",
            "rsa:2048", "-nodes",
            "-days",    "1",
            "-subj",    "/CN=localhost",
            "-keyout",  dir + "SSLKEY.PEM",
            "-out",     dir + "SSLCERT.PEM"};
  auto r = platform::runProcess(o);
  if (!r.exitedWith(0)) return false;
  tls::sslSetCertificateDirectory(dir);
  return tls::sslInitLib() && tls::sslServerCertExists();
}

}  // namespace vek::http::testing
