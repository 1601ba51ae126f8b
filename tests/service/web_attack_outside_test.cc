// The web server under attack, from outside and at a modest size: the
// gateway program on a temporary data directory, attacked from some
// loopback addresses while a normal client on another one must stay served.
// scripts/outside/web-attack runs the same attacks at full size.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gateway_process.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// "Authorization: Basic" for user:password.
std::string basic(const std::string& user_password) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  const std::string& s = user_password;
  for (size_t i = 0; i < s.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(s[i]) << 16;
    if (i + 1 < s.size()) v |= static_cast<uint8_t>(s[i + 1]) << 8;
    if (i + 2 < s.size()) v |= static_cast<uint8_t>(s[i + 2]);
    out += k[(v >> 18) & 63];
    out += k[(v >> 12) & 63];
    out += i + 1 < s.size() ? k[(v >> 6) & 63] : '=';
    out += i + 2 < s.size() ? k[v & 63] : '=';
  }
  return "Authorization: Basic " + out + "\r\n";
}

// Attacking connections, read without blocking; a connection the server
// closed (or answered and closed) is marked so.
struct Attackers {
  struct Client {
    platform::UniqueFd fd;
    bool open = true;
    size_t answers = 0;  // response heads seen
    std::string status;  // the last one's status line
    std::string got;
  };
  std::vector<Client> clients;

  // Connects `n` clients spread over `addresses`, `per` to an address.
  void connect(uint16_t port, const std::vector<std::string>& addresses, size_t n, size_t per) {
    for (size_t i = 0; i < n; ++i) {
      platform::ConnectStage stage;
      auto fd = platform::connectTcpFrom("127.0.0.1", port, 2000,
                                         addresses[(i / per) % addresses.size()], 0, &stage);
      Client c;
      if (fd.ok()) {
        platform::setNonBlocking(fd->get(), true);
        c.fd = std::move(*fd);
      } else {
        c.open = false;
      }
      clients.push_back(std::move(c));
    }
  }
  // Reads whatever arrives for up to `wait`; calls `on_answer(i)` per response head.
  template <typename F>
  void pump(std::chrono::milliseconds wait, F&& on_answer) {
    std::vector<pollfd> fds;
    std::vector<size_t> index;
    for (size_t i = 0; i < clients.size(); ++i) {
      if (!clients[i].open) continue;
      fds.push_back(pollfd{clients[i].fd.get(), POLLIN, 0});
      index.push_back(i);
    }
    if (fds.empty() || ::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) <= 0) return;
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!fds[k].revents) continue;
      Client& c = clients[index[k]];
      char buf[4096];
      ssize_t n = ::recv(c.fd.get(), buf, sizeof buf, 0);
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        c.open = false;
        c.fd.reset();
        continue;
      }
      c.got.append(buf, static_cast<size_t>(n));
      size_t at;
      while ((at = c.got.find("\r\n\r\n")) != std::string::npos) {
        // Responses here carry short bodies that arrive with their head.
        c.status = c.got.substr(0, c.got.find("\r\n"));
        c.got.erase(0, at + 4);
        size_t next = c.got.find("HTTP/1.");
        c.got.erase(0, next == std::string::npos ? c.got.size() : next);
        ++c.answers;
        on_answer(index[k]);
      }
    }
  }
  void send(size_t i, std::string_view bytes) {
    Client& c = clients[i];
    if (c.open && ::send(c.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0 &&
        errno != EAGAIN) {
      c.open = false;
      c.fd.reset();
    }
  }
  size_t openCount() const {
    size_t n = 0;
    for (const Client& c : clients) n += c.open;
    return n;
  }
};

// One request from `from` with "Connection: close": the status line ("" on
// failure) and how long the answer took.
struct Probe {
  std::string status;
  std::chrono::milliseconds took{0};
};
Probe probe(uint16_t port, const std::string& from, const std::string& extra_head) {
  Probe p;
  const auto start = Steady::now();
  platform::ConnectStage stage;
  auto fd = platform::connectTcpFrom("127.0.0.1", port, 5000, from, 0, &stage);
  if (fd.ok() &&
      platform::sendAll(fd->get(),
                        "GET /?PhoneNumber=%2B447700900001&Text=probe HTTP/1.1\r\nHost: gw\r\n"
                        "Connection: close\r\n" +
                            extra_head + "\r\n",
                        5000) == platform::IoStatus::kOk) {
    std::string got;
    char buf[4096];
    size_t n = 0;
    while (got.find("\r\n") == std::string::npos &&
           platform::recvSome(fd->get(), buf, sizeof buf, 10000, &n) == platform::IoStatus::kOk)
      got.append(buf, n);
    p.status = got.substr(0, got.find("\r\n"));
  }
  p.took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start);
  return p;
}

bool is200(const Probe& p) {
  return p.status.find(" 200 ") != std::string::npos;
}

class WebAttackOutsideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  }
  void TearDown() override {
    if (gateway_) {
      gateway_->signal(SIGTERM);
      int code = 0;
      EXPECT_TRUE(gateway_->waitExit(20s, &code));
    }
  }
  // Starts the gateway with `settings` and the user "valid" (password "pw").
  void start(const std::string& settings) {
    const std::string d = dir_.path() + "d";
    ASSERT_TRUE(platform::makeDirectories(d).ok());
    auto l = platform::listenTcp("127.0.0.1", 0);
    ASSERT_TRUE(l.ok());
    port_ = platform::localPort(l->get());
    l->reset();
    writeText(d + "/SMSGW.INI", "[SMSGW]\r\nWebPort=" + std::to_string(port_) +
                                    "\r\nIPAddress=127.0.0.1\r\n" + settings);
    ASSERT_EQ(runGateway({"--data-dir", d, "user", "add", "valid", "--password", "pw"}).exit_code,
              0);
    gateway_ = std::make_unique<GatewayProcess>(d);
    ASSERT_TRUE(gateway_->start({"--quiet"}));
    ASSERT_TRUE(gateway_->waitStarted());
    ASSERT_TRUE(waitUntil([&] { return !probe(port_, "127.0.0.2", auth_).status.empty(); }, 20s));
  }

  TempDir dir_;
  std::unique_ptr<GatewayProcess> gateway_;
  uint16_t port_ = 0;
  std::string auth_;
};

// Slow heads (one byte every 300 ms) from three addresses fill more than the
// whole server; once they are older than a second they are dropped to make
// room, and all at their head deadline, while another address is answered
// at once.
TEST_F(WebAttackOutsideTest, SlowClientsNeitherHoldTheServerNorDelayOthers) {
  start("MaxHTTPConnections=100\r\nHTTPRequestHeadTimeout=2\r\n");
  Attackers slow;
  slow.connect(port_, {"127.0.0.10", "127.0.0.11", "127.0.0.12"}, 150, 50);
  const std::string head = "GET /?PhoneNumber=1&Text=slow HTTP/1.1\r\nHost: gw\r\nX-Slow: ";
  std::vector<size_t> sent(slow.clients.size(), 0);
  std::vector<Probe> probes;
  const auto start_at = Steady::now();
  auto next_byte = start_at;
  while (Steady::now() - start_at < 4s) {
    if (Steady::now() >= next_byte) {
      for (size_t i = 0; i < slow.clients.size(); ++i)
        slow.send(i, std::string_view(sent[i] < head.size() ? &head[sent[i]++] : "a", 1));
      next_byte += 300ms;
    }
    slow.pump(10ms, [](size_t) {});
    // A full server lets requests that began within the last second be;
    // older incomplete ones make room for a newcomer.
    if (Steady::now() - start_at > 1200ms) probes.push_back(probe(port_, "127.0.0.2", ""));
  }
  // Every slow head has passed its 2 s deadline by now.
  for (int i = 0; i < 200 && slow.openCount() > 0; ++i) slow.pump(10ms, [](size_t) {});
  EXPECT_EQ(slow.openCount(), 0u);
  ASSERT_GE(probes.size(), 10u);
  for (const Probe& p : probes) {
    EXPECT_TRUE(is200(p)) << p.status;
    EXPECT_LT(p.took, 1000ms);
  }
}

// Idle connections of one address beyond its limit (default 50) are
// refused; another address is served.
TEST_F(WebAttackOutsideTest, OneAddressGetsNoMoreThanItsShareOfConnections) {
  start("");
  Attackers idle;
  idle.connect(port_, {"127.0.0.30"}, 60, 60);
  for (int i = 0; i < 50; ++i) idle.pump(10ms, [](size_t) {});
  EXPECT_EQ(idle.openCount(), 50u);
  EXPECT_TRUE(is200(probe(port_, "127.0.0.2", "")));
}

// With WebAuth=Yes: clients looping on wrong passwords for the valid user's
// own account do not lock that user out, large bodies without credentials
// are refused from their head, and once the flood ends the user is served
// at once.
TEST_F(WebAttackOutsideTest, LoginFloodsAndUnauthenticatedUploadsLeaveTheValidUserServed) {
  auth_ = basic("valid:pw");
  start("WebAuth=Yes\r\n");
  Attackers flood;
  flood.connect(port_, {"127.0.0.20", "127.0.0.21"}, 60, 30);
  size_t n = 0;
  auto guess = [&](size_t i) {
    flood.send(i, "GET /?PhoneNumber=1&Text=x HTTP/1.1\r\nHost: gw\r\n" +
                      basic("valid:wrong" + std::to_string(++n)) + "\r\n");
  };
  for (size_t i = 0; i < flood.clients.size(); ++i) guess(i);
  int served = 0, tried = 0;
  const auto start_at = Steady::now();
  while (Steady::now() - start_at < 3s) {
    flood.pump(50ms, guess);
    ++tried;
    served += is200(probe(port_, "127.0.0.2", auth_));
  }
  EXPECT_GE(served * 5, tried * 4) << served << " of " << tried;

  // 15 MB announced without credentials: refused from the head.
  Attackers upload;
  upload.connect(port_, {"127.0.0.40"}, 1, 1);
  upload.send(
      0, "POST /?PhoneNumber=1&Text=up HTTP/1.1\r\nHost: gw\r\nContent-Length: 15000000\r\n\r\n");
  for (int i = 0; i < 500 && upload.clients[0].answers == 0; ++i) upload.pump(10ms, [](size_t) {});
  EXPECT_NE(upload.clients[0].status.find(" 413 "), std::string::npos) << upload.clients[0].status;

  flood.clients.clear();
  for (int i = 0; i < 3; ++i) {
    Probe after = probe(port_, "127.0.0.2", auth_);
    EXPECT_TRUE(is200(after)) << after.status;
    EXPECT_LT(after.took, 500ms);
  }
}

}  // namespace
}  // namespace vek::testing
