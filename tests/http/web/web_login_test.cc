// Logins under attack: the failed-login delay per account and per address,
// parked connections, and authentication before a large body is read.
// The server runs in this process on a fake clock.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "encoding/base64.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "http/server/event_loop.h"
#include "http/server/server_fixture.h"
#include "http/web/web_auth.h"
#include "queue/unique_id.h"

namespace vek::http {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::Response;

std::string basic(const std::string& user, const std::string& password) {
  return "Authorization: Basic " + encoding::base64Encode(user + ":" + password) + "\r\n";
}

std::string status(const std::optional<Response>& r) {
  return r ? r->status_line() : "none";
}

TEST(LoginFailuresTest, DelaysGrowPerAccountAndPerAddressAndResetSeparately) {
  platform::FakeClock clock;
  platform::ScopedClock scoped(&clock);
  LoginFailures f(3);
  struct Step {
    bool success;
    const char* account;
    const char* address;
    int delay;  // expected for a failure
  } steps[] = {
      {false, "bob", "10.0.0.5", 1},
      {false, "BOB", "10.0.0.5", 2},     // names ignore case
      {false, "bob", "10.0.0.6", 3},     // the account's count, from another address
      {false, "carol", "10.0.0.5", 3},   // the address's count, for another account
      {true, "mallory", "10.0.0.5", 0},  // resets 10.0.0.5 and mallory only
      {false, "bob", "10.0.0.5", 4},
      {false, "dave", "10.0.0.5", 2},
      {true, "bob", "10.0.0.9", 0},
      {false, "bob", "10.0.0.9", 1},
      // IPv6 clients are counted by their /64.
      {false, "erin", "2001:db8:1:2::7", 1},
      {false, "frank", "2001:db8:1:2:ffff::1", 2},
  };
  for (const Step& s : steps) {
    if (s.success) {
      f.recordSuccess(s.account, s.address);
      continue;
    }
    EXPECT_EQ(f.recordFailure(s.account, s.address).count(), s.delay)
        << s.account << " from " << s.address;
  }
  // At most three names are remembered: the least recently failed went.
  EXPECT_EQ(f.accountFailures("carol"), 0u);
  EXPECT_EQ(f.accountFailures("bob"), 1u);
  // Counts are forgotten an hour after their last failure; the delay stops at 100 s.
  clock.advance(60min);
  EXPECT_EQ(f.recordFailure("bob", "10.0.0.9").count(), 1);
  for (int i = 0; i < 150; ++i) (void)f.recordFailure("zed", "10.1.1.1");
  EXPECT_EQ(f.recordFailure("zed", "10.1.1.1").count(), 100);
}

class WebLoginTest : public testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    queue::resetUniqueMessageIdsForTesting(dir_.file("private/UID.DAT"));
    hostlib::MMSCIniSetFilename(dir_.file("MMSC.INI"));
    resetWebAuthForTesting();
    ASSERT_TRUE(hostlib::openAccountStore(dir_.file("private/USERS.DB")).ok());
    for (const char* name : {"alice", "mallory"}) {
      hostlib::Account a;
      a.name = name;
      a.password = "pw";
      ASSERT_TRUE(hostlib::accountStore()->add(a).ok());
    }
  }
  void TearDown() override {
    ServerTest::TearDown();
    hostlib::closeAllMessageIdStores();
    resetWebAuthForTesting();
  }
  static std::string send(const std::string& auth) {
    return "GET /?PhoneNumber=123&Text=hi HTTP/1.1\r\nHost: t\r\n" + auth + "\r\n";
  }
};

TEST_F(WebLoginTest, ParkedFailuresHoldNoThreadAndNoSlot) {
  useFakeClock();
  startPlain("WebAuth=Yes\nMaxHTTPConnections=20\n");
  // 60 clients of six addresses keep failing, ten at a time; each waits
  // parked, and parked ones leave the 20 slots free for the next ten.
  std::vector<Client> flood;
  for (size_t i = 0; i < 60; ++i) {
    flood.emplace_back(port_, "127.0.4." + std::to_string(1 + i % 6));
    ASSERT_TRUE(flood.back().send(send(basic("alice", "guess" + std::to_string(i)))));
    if (i % 10 == 9) {
      ASSERT_TRUE(vek::testing::waitUntil([&] { return serverStats().parked == i + 1; }, 10s))
          << serverStats().parked;
    }
  }
  EXPECT_EQ(serverStats().counted, 0u);
  EXPECT_LE(serverStats().worker_threads, 10u);  // at most one per request in flight
  // A valid user from elsewhere is served at once, with 20 slots free.
  for (int i = 0; i < 5; ++i) {
    Client valid(port_, "127.0.0.2");
    EXPECT_EQ(status(valid.exchange(send(basic("alice", "pw")))), "HTTP/1.1 200 OK");
  }
  // The flood leaves: its parked connections go at once, not when due.
  flood.clear();
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().connections == 0; }, 5s));
  Client next(port_, "127.0.0.2");
  EXPECT_EQ(status(next.exchange(send(basic("alice", "pw")))), "HTTP/1.1 200 OK");
}

TEST_F(WebLoginTest, AnOwnAccountDoesNotSpeedUpGuessingAnother) {
  useFakeClock();
  startPlain("WebAuth=Yes\n");
  // 30 guessers and the attacker's own successful logins, one address;
  // every answered guesser guesses again at once. In 20 s the delay lets
  // about 19 guesses at alice be answered.
  const std::string from = "127.0.0.7";
  std::vector<Client> guessers;
  for (int i = 0; i < 30; ++i) {
    guessers.emplace_back(port_, from);
    ASSERT_TRUE(guessers.back().send(send(basic("alice", "g" + std::to_string(i)))));
  }
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().parked == 30; }, 10s));
  int answered = 0;
  for (int second = 1; second <= 20; ++second) {
    advance(1s);
    for (Client& g : guessers) {
      // The loop has sent what was due before advance() returned.
      if (!g.quiet(2ms)) {
        ASSERT_EQ(status(g.read(1s)), "HTTP/1.1 401 Authorization Required");
        ++answered;
        ASSERT_TRUE(g.send(send(basic("alice", "again" + std::to_string(answered)))));
      }
    }
    Client own(port_, from);
    ASSERT_EQ(status(own.exchange(send(basic("mallory", "pw")))), "HTTP/1.1 200 OK");
  }
  EXPECT_GE(answered, 18);
  EXPECT_LE(answered, 20);
  EXPECT_GE(loginFailures().accountFailures("alice"), 48u);
}

TEST_F(WebLoginTest, LargeBodiesNeedCredentialsInTheirHead) {
  useFakeClock();
  startPlain("WebAuth=Yes\n");
  const std::string post =
      "POST /?PhoneNumber=123&Text=hi HTTP/1.1\r\nHost: t\r\nContent-Length: 1000000\r\n";
  // Wrong credentials: 401 from the head, after the delay, and the
  // connection ends without the body being read.
  Client wrong(port_);
  ASSERT_TRUE(wrong.send(post + basic("alice", "nope") + "\r\n"));
  ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().parked == 1; }, 5s));
  advance(1s);
  auto r = wrong.read();
  EXPECT_EQ(status(r), "HTTP/1.1 401 Authorization Required");
  EXPECT_NE(r.value_or(Response{}).text.find("Connection: close\r\n"), std::string::npos);
  EXPECT_TRUE(wrong.closedByServer());
  // None at all: refused at once.
  Client none(port_);
  EXPECT_EQ(status(none.exchange(post + "\r\n")), "HTTP/1.1 413 Request Entity Too Large");
  EXPECT_TRUE(none.closedByServer());
  // The same without credentials, chunked: refused once past the allowance.
  Client chunked(port_);
  ASSERT_TRUE(chunked.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n20000\r\n" +
                           std::string(70000, 'c')));
  EXPECT_EQ(status(chunked.read()), "HTTP/1.1 413 Request Entity Too Large");
  EXPECT_TRUE(vek::testing::waitUntil([] { return serverStats().budget_used == 0; }, 5s));
  // Valid credentials in the head (or its query): the body is read.
  for (const std::string& auth : {basic("alice", "pw"), std::string("X-Note: query\r\n")}) {
    std::string head = post + auth + "Expect: 100-continue\r\n\r\n";
    if (auth.rfind("X-Note", 0) == 0)
      head.replace(head.find("Text=hi"), 7, "Text=hi&User=alice&Password=pw");
    Client ok(port_);
    ASSERT_TRUE(ok.send(head));
    EXPECT_EQ(status(ok.read()), "HTTP/1.1 100 Continue");
    ASSERT_TRUE(ok.send(std::string(1000000, 'b')));
    EXPECT_EQ(status(ok.read()), "HTTP/1.1 200 OK");
  }
  // A small form with its credentials in the body needs no check.
  const std::string form = "PhoneNumber=123&Text=hi&User=alice&Password=pw";
  Client small(port_);
  EXPECT_EQ(status(small.exchange("POST / HTTP/1.1\r\nContent-Length: " +
                                  std::to_string(form.size()) + "\r\n\r\n" + form)),
            "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace vek::http
