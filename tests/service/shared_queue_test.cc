// One queue directory shared by two gateways, each seeing it through its own
// view (bindfs, standing in for two NFS clients): every submission that
// was answered is a whole file under its own name, and every queued file is
// claimed by exactly one of them.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "gateway_process.h"
#include "hostlib/ini_file.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "support/shared_views.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

// "MessageID=<id>, Recipient=<number>" lines of an answer.
std::map<std::string, std::string> answeredIds(const std::string& response) {
  std::map<std::string, std::string> out;
  for (const auto& line : platform::split(response, "\r\n")) {
    if (line.rfind("MessageID=", 0) != 0) continue;
    size_t comma = line.find(", Recipient=");
    if (comma == std::string::npos) continue;
    out[line.substr(10, comma - 10)] = line.substr(comma + 12);
  }
  return out;
}

TEST(SharedQueueTest, TwoGatewaysSubmitThroughTwoViewsWithoutCollisions) {
  if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  TempDir dir;
  SharedDirectoryViews views(dir.path(), 2);
  VEK_REQUIRE_SHARED_VIEWS(views);
  constexpr int kGateways = 2, kRequests = 30;  // two recipients each

  std::vector<std::unique_ptr<GatewayProcess>> gateways;
  std::vector<uint16_t> ports;
  for (int g = 0; g < kGateways; ++g) {
    std::string d = dir.path() + "gw" + std::to_string(g);
    ASSERT_TRUE(platform::makeDirectories(d).ok());
    ports.push_back(freePort());
    std::string ini = hostlib::iniSetValue("", "SMSGW", "WebPort", std::to_string(ports.back()));
    writeText(d + "/SMSGW.INI", hostlib::iniSetValue(ini, "SMSGW", "QDir", views.view(g)));
    gateways.push_back(std::make_unique<GatewayProcess>(d));
    ASSERT_TRUE(gateways.back()->start({"--quiet"}));
  }
  for (auto& g : gateways) ASSERT_TRUE(g->waitStarted()) << g->output();

  std::mutex mu;
  std::map<std::string, std::string> answered;  // id -> recipient
  std::atomic<int> refused{0}, duplicates{0};
  std::vector<std::thread> clients;
  for (int g = 0; g < kGateways; ++g) {
    clients.emplace_back([&, g] {
      for (int i = 0; i < kRequests; ++i) {
        std::string a = platform::format("4470%d%04d", g, 2 * i),
                    b = platform::format("4470%d%04d", g, 2 * i + 1);
        std::string r = httpGet("127.0.0.1", ports[static_cast<size_t>(g)],
                                "/?PhoneNumber=%2B" + a + ",%2B" + b + "&Text=shared+queue+" + a);
        auto ids = answeredIds(r);
        if (ids.size() != 2) ++refused;
        std::scoped_lock lk(mu);
        for (auto& [id, to] : ids)
          if (!answered.emplace(id, to).second) ++duplicates;
      }
    });
  }
  for (auto& c : clients) c.join();
  for (auto& g : gateways) {
    g->signal(SIGTERM);
    int code;
    EXPECT_TRUE(g->waitExit(20s, &code));
  }

  EXPECT_EQ(refused.load(), 0) << "every submission answered with its files";
  EXPECT_EQ(duplicates.load(), 0) << "one id answered twice";
  EXPECT_EQ(answered.size(), size_t{kGateways * kRequests * 2});
  std::set<std::string> names;
  for (const auto& e : platform::listDirectory(views.source(), "*")) names.insert(e.name);
  EXPECT_EQ(names.size(), answered.size()) << "files lost, or temporaries left";
  for (const auto& [id, recipient] : answered) {
    std::string text = readText(views.source() + id + ".req");
    EXPECT_NE(text.find("[SMS]"), std::string::npos) << id;
    EXPECT_NE(text.find("PhoneNumber=" + recipient), std::string::npos) << id << ": " << text;
  }
  auto hidden = platform::removeStaleTemporaries(views.source(), 0, std::chrono::seconds(0));
  EXPECT_EQ(hidden, 0u) << "publish temporaries left behind";
}

TEST(SharedQueueTest, EachFileIsClaimedOnceAcrossViews) {
  TempDir dir;
  SharedDirectoryViews views(dir.path(), 2);
  VEK_REQUIRE_SHARED_VIEWS(views);
  constexpr int kFiles = 200;
  for (int i = 0; i < kFiles; ++i)
    ASSERT_TRUE(platform::publishFile(views.view(0) + platform::format("%08X.req", i),
                                      "[SMS]\r\nPhoneNumber=" + std::to_string(i) + "\r\n")
                    .ok());
  // Two consumers, one per view, each scanning and sending like a link
  // sender: claim, then release (truncate, unlink, close under the lock).
  std::vector<std::set<std::string>> sent(2);
  std::vector<std::thread> consumers;
  for (size_t v = 0; v < 2; ++v) {
    consumers.emplace_back([&, v] {
      for (int pass = 0; pass < 50; ++pass) {
        auto files = platform::listDirectory(views.view(v), "*.REQ");
        if (files.empty()) break;
        for (const auto& f : files) {
          std::string path = views.view(v) + f.name;
          auto claim = platform::claimFile(path);
          if (!claim.ok()) continue;
          sent[v].insert(f.name);
          (void)platform::releaseClaimedFile(path, std::move(claim.value()));
        }
      }
    });
  }
  for (auto& c : consumers) c.join();
  for (const auto& name : sent[0]) EXPECT_EQ(sent[1].count(name), 0u) << name << " sent twice";
  EXPECT_EQ(sent[0].size() + sent[1].size(), size_t{kFiles});
}

}  // namespace
}  // namespace vek::testing
