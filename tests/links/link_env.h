// Test fixture for link senders: a fresh data directory with its own
// "SMSGW.INI", queue root, message-id store and routing database, TZ fixed
// to UTC; and FakeLink, a link kind whose answers the test scripts.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "foundation/directories.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "links/link_protocol.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "queue/route_selection.h"
#include "queue/routing_db.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::links {

constexpr const char* kFakeLink = "SMPP - fake.example:2775";

// A link kind without a wire: every submission is recorded and answered by
// `answer` (default: accepted, with the id "id-<n>"). Asynchronous
// submissions are answered inside yield(), all of them at once in reverse
// order (so an answer never matches by order), unless `hold` keeps them.
class FakeLink final : public LinkProtocol {
 public:
  explicit FakeLink(std::string name = kFakeLink) : LinkProtocol(std::move(name)) {}

  struct Sent {
    SubmitRequest request;
    std::string id;
    uint32_t result = 0;
  };
  std::function<uint32_t(const SubmitRequest&)> answer = [](const SubmitRequest&) { return 0u; };
  LinkKnobs k;
  bool hold = false;
  bool up = true;
  bool reload = false;
  std::vector<Sent> sent;
  std::vector<std::pair<SubmitRequest, std::shared_ptr<smpp::AsyncSubmit>>> pending;

  foundation::LinkKind kind() const override { return foundation::LinkKind::kSmpp; }
  void loadSettings() override {}
  bool reloadNeeded(unsigned) override { return reload; }
  const LinkKnobs& knobs() const override { return k; }
  bool open(LinkRole, std::string*) override { return up = true; }
  void close(bool) override {
    auto p = std::move(pending);
    pending.clear();
    for (auto& [req, ctx] : p) ctx->complete(kResultConnectionLost, {});
  }
  bool linkUp() override { return up; }
  int yield(std::chrono::milliseconds, bool* connection_error) override {
    if (!up) {
      *connection_error = true;
      return 0;
    }
    if (hold || pending.empty()) return 0;
    auto p = std::move(pending);
    pending.clear();
    for (auto it = p.rbegin(); it != p.rend(); ++it) {
      std::string id;
      uint32_t r = result(it->first, &id);
      it->second->complete(r, id);
    }
    return static_cast<int>(p.size());
  }
  uint32_t enquire() override { return 0; }
  bool asyncAvailable() const override { return k.window > 0; }
  uint32_t submit(const SubmitRequest& m, std::string* id) override { return result(m, id); }
  uint32_t submitAsync(const SubmitRequest& m, std::shared_ptr<smpp::AsyncSubmit> ctx) override {
    if (!up) return kResultNotConnected;
    pending.emplace_back(m, std::move(ctx));
    return 0;
  }
  size_t outstanding() const override { return pending.size(); }
  std::string errorText(uint32_t code) const override { return "Error " + std::to_string(code); }

 private:
  uint32_t result(const SubmitRequest& m, std::string* id) {
    uint32_t r = answer(m);
    id->clear();
    if (r == 0) *id = "id-" + std::to_string(sent.size() + 1);
    sent.push_back({m, *id, r});
    return r;
  }
};

class LinkEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    platform::resetShutdownForTesting();
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
    config("");
    foundation::publishSettings(foundation::Settings{});
    queue::resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
    ASSERT_TRUE(queue::routingDatabase().create());
    root_ = platform::withTrailingSlash(foundation::queueDirectory());
    ASSERT_TRUE(platform::makeDirectories(root_).ok());
  }
  void TearDown() override {
    queue::routingDatabase().destroy();
    hostlib::closeAllMessageIdStores();
    hostlib::SMSIniSetFilename("");
    foundation::publishSettings(foundation::Settings{});
    platform::resetShutdownForTesting();
  }

  // "SMSGW.INI" with the link as Modem1 plus `extra` lines; the route table follows it.
  void config(const std::string& extra) {
    vek::testing::writeText(dir_.file("SMSGW.INI"),
                            std::string("[SMSGW]\r\nModem1=") + kFakeLink + "\r\n" + extra);
    hostlib::smsIni().invalidate();
    (void)queue::ReloadRouteTable();
  }

  // A request file under the queue root (sub-directories made as needed).
  std::string request(const std::string& relative, const std::string& text) {
    std::string path = root_ + relative;
    EXPECT_TRUE(platform::makeDirectories(platform::parentDirectory(path)).ok());
    vek::testing::writeText(path, text);
    return path;
  }
  static std::string message(const std::string& recipient, const std::string& extra = "") {
    return "[SMS]\r\nPhoneNumber=" + recipient + "\r\nData=hello " + recipient + "\r\n" + extra;
  }
  bool queued(const std::string& relative) const {
    return platform::isRegularFile(root_ + relative);
  }
  std::string text(const std::string& relative) const {
    return vek::testing::readText(root_ + relative);
  }

  vek::testing::TempDir dir_;
  std::string root_;
};

}  // namespace vek::links
