#include "server_fixture.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "http/server/event_loop.h"
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

namespace {

// Waits in real time (the server may be on a fake clock): 1 ready, 0 not
// within `ms`, -1 error.
int realPoll(int fd, short events, std::chrono::milliseconds ms) {
  struct pollfd p = {fd, events, 0};
  int r = ::poll(&p, 1, static_cast<int>(ms.count()));
  return r < 0 ? -1 : r;
}

std::chrono::milliseconds leftUntil(std::chrono::steady_clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now()));
}

}  // namespace

bool Client::send(std::string_view data) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (fd_.valid() && !data.empty()) {
    ssize_t n = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (realPoll(fd_.get(), POLLOUT, leftUntil(deadline)) <= 0) return false;
  }
  return fd_.valid();
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
    if (!fd_.valid() || realPoll(fd_.get(), POLLIN, leftUntil(deadline)) <= 0) return std::nullopt;
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return std::nullopt;
    if (n > 0) pending_.append(buf, static_cast<size_t>(n));
  }
}

bool Client::closedByServer(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  while (fd_.valid()) {
    if (realPoll(fd_.get(), POLLIN, leftUntil(deadline)) <= 0) return false;
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
  }
  return false;
}

bool Client::quiet(std::chrono::milliseconds wait) {
  return fd_.valid() && pending_.empty() && realPoll(fd_.get(), POLLIN, wait) == 0;
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
  t.next_request_wait = 1ms;
  setListenerTiming(t);
}

void ServerTest::TearDown() {
  platform::requestShutdown();
  foundation::wakeListeningSockets();
  EXPECT_TRUE(foundation::waitForWorkers(20s))
      << foundation::runningWorkerCount() << " threads still running";
  scoped_clock_.reset();
  fake_.reset();
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

platform::FakeClock& ServerTest::useFakeClock() {
  fake_ = std::make_unique<platform::FakeClock>(platform::clock().now());
  scoped_clock_ = std::make_unique<platform::ScopedClock>(fake_.get());
  return *fake_;
}

void ServerTest::advance(std::chrono::milliseconds d) {
  uint64_t before = serverStats().iterations;
  fake_->advance(d);
  // Two turns of the loop: the second began after the clock moved.
  wakeEventLoop();
  EXPECT_TRUE(awaitLoopTurn(before + 1, 5s));
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
