// Inbound messages from outside: the gateway program on a data directory of
// its own picks up inbound files dropped into SMS-IN and messages injected
// over HTTP ("InboundMessage=Yes"), and its inbound threads route them by
// the routing table into the accounts' queues, each exactly once with its
// text; what no account takes is set aside.
//
// Size: VEKSMS_INBOUND_BURST files (default 300; scripts/outside/inbound-burst
// runs 100,000 and reports the rate and the gateway's peak memory).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <set>

#include "gateway_process.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

// One GET; the whole answer (the gateway closes the connection).
std::string httpGet(uint16_t port, const std::string& target) {
  auto fd = platform::connectTcp("127.0.0.1", port, 5000);
  if (!fd.ok()) return {};
  std::string req = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (platform::sendAll(fd->get(), req, 5000) != platform::IoStatus::kOk) return {};
  std::string answer;
  char buf[4096];
  size_t got = 0;
  while (platform::recvSome(fd->get(), buf, sizeof buf, 5000, &got) == platform::IoStatus::kOk)
    answer.append(buf, got);
  return answer;
}

// Texts of the request files in `dir` (recursively), with their counts.
std::map<std::string, int> texts(const std::string& dir) {
  std::map<std::string, int> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file() || it->path().extension() != ".req") continue;
    queue::SMSMessage m;
    queue::parseSMSMessage(readText(it->path().string()), &m,
                           [](std::string_view) { return std::string(); });
    ++out[m.Data];
  }
  return out;
}

size_t count(const std::map<std::string, int>& m) {
  size_t n = 0;
  for (const auto& [text, times] : m) n += static_cast<size_t>(times);
  return n;
}

TEST(InboundGatewayTest, DroppedAndInjectedMessagesReachTheTablesAccountsOnce) {
  if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  const char* burst_env = ::getenv("VEKSMS_INBOUND_BURST");
  const int burst = burst_env ? std::max(1, std::atoi(burst_env)) : 300;
  constexpr int kInjected = 20;

  TempDir dir;
  const std::string d = dir.path() + "data";
  ASSERT_TRUE(platform::makeDirectories(d + "/SMS-IN").ok());
  ASSERT_TRUE(
      runGateway({"--data-dir", d, "user", "add", "alice", "--password", "pw"}).exitedWith(0));
  ASSERT_TRUE(
      runGateway({"--data-dir", d, "user", "add", "bob", "--password", "pw"}).exitedWith(0));
  const uint16_t port = freePort();
  writeText(d + "/SMSGW.INI", "[SMSGW]\r\nWebPort=" + std::to_string(port) +
                                  "\r\nIPAddress=127.0.0.1\r\nReceiveSMS=Yes\r\n"
                                  "[Inbound SMS Routing]\r\nalice=44*\r\nbob=447*, !4479*\r\n");

  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted()) << g.output();

  std::set<std::string> for_alice, for_bob;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < burst; ++i) {
    const bool bob = i % 2 == 0;
    const std::string to = platform::format(bob ? "4471%06d" : "4490%06d", i);
    const std::string text = platform::format("dropped %d", i);
    (bob ? for_bob : for_alice).insert(text);
    queue::RequestWriter w("[SMS-IN]");
    w.text("Sender", "+1555" + std::to_string(i)).text("PhoneNumber", to).data(text);
    ASSERT_TRUE(
        platform::publishFile(d + platform::format("/SMS-IN/%08X.IN", 0x10000000 + i), w.str())
            .ok());
  }
  // Nobody's: 4479 is excluded from bob and does not begin alice's pattern.
  ASSERT_TRUE(platform::publishFile(d + "/SMS-IN/0FFFFFFF.IN",
                                    "[SMS-IN]\r\nSender=+1\r\nPhoneNumber=999\r\nData=nobody\r\n")
                  .ok());
  for (int i = 0; i < kInjected; ++i) {
    const std::string text = platform::format("injected %d", i);
    for_bob.insert(text);
    std::string answer = httpGet(port,
                                 "/Send%20Text%20Message.htm?PhoneNumber=4471999&Sender=%2B2"
                                 "&InboundMessage=Yes&Text=injected%20" +
                                     std::to_string(i));
    ASSERT_NE(answer.find("Message Submitted"), std::string::npos) << answer;
  }
  // A hostile sender and text: line breaks, NUL, a path and 10 KB.
  std::string hostile =
      "/Send%20Text%20Message.htm?PhoneNumber=4490&InboundMessage=Yes"
      "&Sender=..%2F..%2Fx&Text=a%00b%0D%0AModemName%3Dz";
  for (int i = 0; i < 10000; ++i) hostile += "z";
  const std::string hostile_answer = httpGet(port, hostile);
  ASSERT_NE(hostile_answer.find("Message Submitted"), std::string::npos)
      << hostile_answer.substr(0, 600);

  const size_t expected = for_alice.size() + for_bob.size() + 1;
  const bool all = waitUntil(
      [&] {
        return count(texts(d + "/USERS/alice/Q")) + count(texts(d + "/USERS/bob/Q")) >= expected;
      },
      std::chrono::seconds(60 + burst / 500));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("inbound_per_second", static_cast<int>(expected / seconds));
  std::printf("inbound: %zu messages into account queues in %.2f s (%.0f/s)\n", expected, seconds,
              expected / seconds);
  const std::string status = readText("/proc/" + std::to_string(g.pid()) + "/status");
  const size_t hwm = status.find("VmHWM:");
  if (hwm != std::string::npos)
    std::printf("gateway peak memory: %s\n",
                status.substr(hwm, status.find('\n', hwm) - hwm).c_str());
  ASSERT_TRUE(all) << g.output();

  const auto alice = texts(d + "/USERS/alice/Q");
  const auto bob = texts(d + "/USERS/bob/Q");
  for (const std::string& t : for_alice) EXPECT_EQ(alice.count(t) ? alice.at(t) : 0, 1) << t;
  for (const std::string& t : for_bob) EXPECT_EQ(bob.count(t) ? bob.at(t) : 0, 1) << t;
  EXPECT_EQ(count(bob), for_bob.size());
  EXPECT_EQ(count(alice), for_alice.size() + 1);  // and the hostile one, whole
  bool hostile_seen = false;
  for (const auto& [text, times] : alice)
    hostile_seen = hostile_seen || text.rfind("a b\r\nModemName=z", 0) == 0;
  EXPECT_TRUE(hostile_seen);
  EXPECT_EQ(platform::listDirectory(d + "/SMS-IN", "*.IN").size(), 0u);
  auto set_aside = [&] {
    size_t n = 0;
    for (const auto& e : platform::listDirectory(d + "/SMS-IN", "*", {false, true}))
      n += platform::listDirectory(d + "/SMS-IN/" + e.name, "0FFFFFFF.SMS").size();
    return n;
  };
  EXPECT_TRUE(waitUntil([&] { return set_aside() == 1; }, 10s));
  // Nothing beside the data directory.
  EXPECT_EQ(platform::listDirectory(dir.path(), "*", {true, true}).size(), 1u);

  g.signal(SIGTERM);
  int code = 0;
  EXPECT_TRUE(g.waitExit(30s, &code));
}

}  // namespace
}  // namespace vek::testing
