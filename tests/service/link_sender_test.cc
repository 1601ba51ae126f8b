// The link sender from outside: the gateway program with SMPP links to the
// SMSC simulator, messages submitted over HTTP, checked in the simulator's
// log. Small counts here; scripts/outside/link_sender runs the full sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "outside.h"
#include "queue/request_file.h"

namespace vek::testing {
namespace {

class LinkOutsideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VEK_REQUIRE_ORACLES();
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  }
  // The rest of "SMSGW.INI" for SMPP links to `ports` (Modem1, 2, ...),
  // each section with its `keys`, after the `SMSGW` keys `global`.
  static std::string links(const std::string& global,
                           const std::vector<std::pair<uint16_t, std::string>>& ports) {
    std::string modems, sections;
    int n = 0;
    for (const auto& [port, keys] : ports) {
      modems += platform::format("Modem%d=", ++n) + smppLink(port) + "\r\n";
      sections += "[" + smppLink(port) + "]\r\nUserName=gw\r\nPassword=pw\r\n" + keys;
    }
    return global + modems + sections;
  }
  static constexpr const char* kFastBackOff =
      "InitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=1\r\n";

  static std::string recipient(int i) { return platform::format("4477%07d", i); }
  // Submits `count` messages (recipients from `first`); recipient -> message id.
  static std::map<std::string, std::string> submitMany(Gateway& gw, int first, int count,
                                                       const std::string& extra = "") {
    HttpClient http(gw.webPort());
    std::map<std::string, std::string> ids;
    for (int i = first; i < first + count; ++i) {
      std::string r = recipient(i);
      std::string id = http.submit("%2B" + r, "message+" + std::to_string(i), extra);
      EXPECT_FALSE(id.empty()) << r;
      ids[r] = id;
    }
    return ids;
  }
  // Accepted submissions per recipient.
  static std::map<std::string, int> acceptedCounts(const std::vector<SimRecord>& records) {
    std::map<std::string, int> out;
    for (const auto& r : records)
      if (r.status == 0) ++out[r.to];
    return out;
  }
  static bool allAccepted(const Simulator& sim, size_t count) {
    return acceptedCounts(sim.records()).size() >= count;
  }
  // A script of scripts/outside/ ("" when it is not there).
  static std::string outsideScript(const std::string& name) {
    std::string path =
        (std::filesystem::path(__FILE__).parent_path() / "../../scripts/outside" / name)
            .lexically_normal()
            .string();
    return platform::isRegularFile(path) ? path : std::string();
  }
  // Adds the account `name` that receives messages.
  static bool addReceivingAccount(const Gateway& gw, const std::string& name) {
    return runGateway({"--data-dir", gw.data(), "user", "add", name, "--password", "pw",
                       "--receive", "yes"})
        .exitedWith(0);
  }
  // The messages in the queue of account `name` (any depth).
  static std::vector<queue::SMSMessage> accountMessages(const Gateway& gw,
                                                        const std::string& name) {
    std::vector<queue::SMSMessage> out;
    std::error_code ec;
    for (auto it =
             std::filesystem::recursive_directory_iterator(gw.data() + "/USERS/" + name + "/Q", ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_regular_file() || it->path().extension() != ".req") continue;
      queue::SMSMessage m;
      queue::parseSMSMessage(readText(it->path().string()), &m,
                             [](std::string_view) { return std::string(); });
      out.push_back(m);
    }
    return out;
  }

  TempDir dir_;
};

TEST_F(LinkOutsideTest, EveryMessageReachesTheCentreOnceWithAndWithoutWindow) {
  const int kCount = 150;
  for (int window : {0, 100}) {
    SCOPED_TRACE(window);
    Simulator sim(dir_.path(), {});
    ASSERT_TRUE(sim.ready());
    Gateway gw(dir_.path() + "w" + std::to_string(window));
    gw.configure(
        links(kFastBackOff, {{sim.port(), "WindowSize=" + std::to_string(window) + "\r\n"}}));
    ASSERT_TRUE(gw.start());
    auto ids = submitMany(gw, window * 1000, kCount);
    ASSERT_TRUE(waitUntil([&] { return allAccepted(sim, kCount) && gw.queued().empty(); }, 60s));
    gw.stop();
    auto records = sim.records();
    auto counts = acceptedCounts(records);
    ASSERT_EQ(counts.size(), ids.size());
    for (const auto& [r, n] : counts) EXPECT_EQ(n, 1) << r;
    // The message-id store holds every centre id for its own message.
    ASSERT_TRUE(hostlib::setDataDirectory(gw.data()).ok());
    hostlib::SMSIniSetFilename(gw.data() + "/SMSGW.INI");
    for (const auto& rec : records) {
      auto stored = hostlib::SMSCMessageIdGet(smppLink(sim.port()), rec.id);
      ASSERT_TRUE(stored) << rec.id;
      EXPECT_EQ(stored->local_id, ids[rec.to]);
    }
    hostlib::closeAllMessageIdStores();
  }
}

TEST_F(LinkOutsideTest, ThrottlingIsRetriedAndRefusalsFailAtOnce) {
  const int kCount = 100;
  // RetryMaxAttempts=0 would fail any counted failure at once: throttling
  // must still go through.
  Simulator throttling(dir_.path(), {"--throttle", "0.1"});
  Simulator refusing(dir_.path(), {"--error-rate", "0.1", "--error-status", "0x0B"});
  ASSERT_TRUE(throttling.ready() && refusing.ready());
  Gateway a(dir_.path() + "throttle"), b(dir_.path() + "refuse");
  a.configure(links(std::string(kFastBackOff) + "RetryMaxAttempts=0\r\n",
                    {{throttling.port(), "WindowSize=20\r\n"}}));
  b.configure(links(kFastBackOff, {{refusing.port(), "WindowSize=20\r\n"}}));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  submitMany(a, 0, kCount);
  submitMany(b, 0, kCount);
  ASSERT_TRUE(waitUntil([&] { return a.queued().empty() && b.queued().empty(); }, 60s));

  auto t = throttling.records();
  auto t_ok = acceptedCounts(t);
  EXPECT_EQ(t_ok.size(), static_cast<size_t>(kCount));
  for (const auto& [r, n] : t_ok) EXPECT_EQ(n, 1) << r;
  EXPECT_GE(t.size(), static_cast<size_t>(kCount + kCount / 10));  // the 0x58 answers came
  EXPECT_TRUE(a.queued("*.ERR").empty());

  auto f = refusing.records();
  EXPECT_EQ(f.size(), static_cast<size_t>(kCount));  // never tried twice
  EXPECT_EQ(acceptedCounts(f).size(), static_cast<size_t>(kCount - kCount / 10));
  EXPECT_EQ(b.queued("*.ERR").size(), static_cast<size_t>(kCount / 10));
}

TEST_F(LinkOutsideTest, ATemporaryErrorLeavesARetryRecordAndTheMessageGoesLater) {
  const int kCount = 20;
  auto failing = std::make_unique<Simulator>(
      dir_.path(), std::vector<std::string>{"--error-rate", "1", "--error-status", "0x45"});
  ASSERT_TRUE(failing->ready());
  const uint16_t port = failing->port();
  Gateway gw(dir_.path() + "gw");
  gw.configure(
      links("InitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=6\r\n"
            "RetryDelayAfterAttempts=1\r\n",
            {{port, "WindowSize=10\r\n"}}));
  ASSERT_TRUE(gw.start());
  submitMany(gw, 0, kCount);
  auto retried_once = [&] {
    auto q = gw.queued();
    if (q.size() != static_cast<size_t>(kCount)) return false;
    for (const auto& p : q)
      if (readText(p).find("RetryCount=1\r\n") == std::string::npos) return false;
    return true;
  };
  ASSERT_TRUE(waitUntil(retried_once, 30s));
  std::string t = readText(gw.queued()[0]);
  EXPECT_EQ(t.find("[ErrorDetail]"), t.rfind("[ErrorDetail]"));
  EXPECT_NE(t.find("LastErrorInfo="), std::string::npos);
  EXPECT_NE(t.find(" -- " + smppLink(port)), std::string::npos) << t;
  failing.reset();
  Simulator good(dir_.path(), {}, port);
  ASSERT_TRUE(good.ready());
  ASSERT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 40s));
  auto counts = acceptedCounts(good.records());
  EXPECT_EQ(counts.size(), static_cast<size_t>(kCount));
  for (const auto& [r, n] : counts) EXPECT_EQ(n, 1) << r;
}

TEST_F(LinkOutsideTest, LongMessagesKeepTheirSegmentsInOrderOnOneLink) {
  Simulator s1(dir_.path(), {}), s2(dir_.path(), {});
  ASSERT_TRUE(s1.ready() && s2.ready());
  Gateway gw(dir_.path() + "gw");
  gw.configure(
      links(kFastBackOff, {{s1.port(), "WindowSize=10\r\n"}, {s2.port(), "WindowSize=10\r\n"}}));
  ASSERT_TRUE(gw.start());
  const int kMessages = 8;
  HttpClient http(gw.webPort());
  std::string text(400, 'a');
  for (int i = 0; i < kMessages; ++i)
    ASSERT_FALSE(http.submit("%2B" + recipient(i), text + std::to_string(i)).empty());
  ASSERT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s));
  // A centre writes its log line after its answer, which may have let the
  // gateway delete the last file already.
  auto accepted = [&] {
    size_t n = 0;
    for (const Simulator* s : {&s1, &s2})
      for (const auto& r : s->records()) n += r.status == 0;
    return n;
  };
  EXPECT_TRUE(waitUntil([&] { return accepted() >= 3u * kMessages; }, 10s));
  std::map<std::string, std::vector<int>> seen;  // recipient -> simulator index per segment
  std::map<std::string, std::vector<int>> order;
  int sim_index = 0;
  for (const Simulator* s : {&s1, &s2}) {
    ++sim_index;
    for (const auto& r : s->records()) {
      if (r.status != 0) continue;
      seen[r.to].push_back(sim_index);
      for (const auto& u : r.udh) {
        // "0003<ref><total><seq>" (or with the header length in front)
        std::string e = u.rfind("050003", 0) == 0 ? u.substr(2) : u;
        if (e.rfind("0003", 0) == 0 && e.size() == 10)
          order[r.to].push_back(std::stoi(e.substr(8, 2), nullptr, 16));
      }
    }
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(kMessages));
  for (const auto& [r, sims] : seen) {
    EXPECT_EQ(sims.size(), 3u) << r;
    EXPECT_EQ(std::set<int>(sims.begin(), sims.end()).size(), 1u) << r << ": split over links";
    EXPECT_EQ(order[r], (std::vector<int>{1, 2, 3})) << r;
  }
}

TEST_F(LinkOutsideTest, ACentreThatGoesAwayIsReconnectedWithAlertsAndNothingIsLost) {
  const int kCount = 300;
  Simulator first(dir_.path(), {"--resp-delay", "3"});
  ASSERT_TRUE(first.ready());
  const uint16_t port = first.port();
  Gateway gw(dir_.path() + "gw");
  gw.configure(links(kFastBackOff, {{port, "WindowSize=50\r\n"}}));
  ASSERT_TRUE(gw.start());
  submitMany(gw, 0, kCount);
  ASSERT_TRUE(waitUntil([&] { return first.records().size() >= 80; }, 30s));
  first.stop();
  const std::string down = "Error initializing SMSC Interface '" + smppLink(port) + "'";
  ASSERT_TRUE(waitUntil([&] { return gw.events().find(down) != std::string::npos; }, 30s));
  Simulator again(dir_.path(), {}, port);
  ASSERT_TRUE(again.ready());
  ASSERT_TRUE(waitUntil(
      [&] { return gw.events().find("successfully initiaized") != std::string::npos; }, 30s));
  ASSERT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s));
  auto all = acceptedCounts(first.records());  // all it took before it went away
  for (const auto& [r, n] : acceptedCounts(again.records())) all[r] += n;
  EXPECT_EQ(all.size(), static_cast<size_t>(kCount));
  int duplicates = 0;
  for (const auto& [r, n] : all) duplicates += n - 1;
  // Only what was in the window when the centre went can go twice.
  EXPECT_LE(duplicates, 50);
  EXPECT_TRUE(gw.queued("*.ERR").empty());
}

TEST_F(LinkOutsideTest, ChangedCredentialsReconnectAndAChangedWindowDoesNot) {
  Simulator sim(dir_.path(), {});
  ASSERT_TRUE(sim.ready());
  Gateway gw(dir_.path() + "gw");
  auto ini = [&](const std::string& user, int window) {
    return std::string("Debug=Yes\r\n") + kFastBackOff +
           platform::format("Modem1=%s\r\n[%s]\r\nUserName=%s\r\nWindowSize=%d\r\n",
                            smppLink(sim.port()).c_str(), smppLink(sim.port()).c_str(),
                            user.c_str(), window);
  };
  auto debugLog = [&] { return readText(gw.data() + "/logs/SMSDEBUG.LOG"); };
  auto logged = [&](const std::string& text) {
    return waitUntil([&] { return debugLog().find(text) != std::string::npos; }, 30s);
  };
  gw.configure(ini("first", 10));
  ASSERT_TRUE(gw.start());
  submitMany(gw, 0, 10);
  ASSERT_TRUE(waitUntil([&] { return allAccepted(sim, 10); }, 30s));
  gw.configure(ini("first", 20));
  // The link looks at its settings after every pass, at least once a second.
  ASSERT_TRUE(logged("Connection settings changed, no reconnection needed"));
  submitMany(gw, 100, 10);
  ASSERT_TRUE(waitUntil([&] { return allAccepted(sim, 20); }, 30s));
  gw.configure(ini("second", 20));
  ASSERT_TRUE(logged("Connection settings have changed, requiring a reconnection"));
  submitMany(gw, 200, 10);
  ASSERT_TRUE(waitUntil([&] { return allAccepted(sim, 30); }, 30s));
  gw.stop();
  sim.stop();
  std::map<std::string, std::string> sys;
  for (const auto& r : sim.records()) sys[r.to] = r.sys;
  EXPECT_EQ(sys[recipient(105)], "first");
  EXPECT_EQ(sys[recipient(205)], "second");
  std::string summary = sim.summary();
  EXPECT_NE(summary.find("\"transmitter\": 2"), std::string::npos) << summary;
}

TEST_F(LinkOutsideTest, KilledAtRandomMomentsTheGatewayLosesNoAcceptedMessage) {
  const int kCount = 300, kKills = 3, kWindow = 20;
  // Slow answers, so that the kills fall while messages are being sent.
  Simulator sim(dir_.path(), {"--resp-delay", "10"});
  ASSERT_TRUE(sim.ready());
  Gateway gw(dir_.path() + "gw");
  gw.configure(links(kFastBackOff, {{sim.port(), "WindowSize=20\r\n"}}));
  ASSERT_TRUE(gw.start());
  auto accepted = submitMany(gw, 0, kCount);
  // Kills at random points of the run: when the centre has seen a random
  // share of the messages.
  std::mt19937 rng(20261209);
  std::vector<size_t> points;
  for (int k = 0; k < kKills; ++k) points.push_back(20 + rng() % (kCount - 60));
  std::sort(points.begin(), points.end());
  for (size_t at : points) {
    ASSERT_TRUE(waitUntil([&] { return sim.records().size() >= at; }, 60s));
    gw.kill9();
    ASSERT_TRUE(gw.start());
  }
  ASSERT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s));
  auto counts = acceptedCounts(sim.records());
  int duplicates = 0;
  for (const auto& [r, id] : accepted) {
    EXPECT_GE(counts[r], 1) << r << " accepted but never sent";
    duplicates += std::max(0, counts[r] - 1);
  }
  std::printf("kill -9 x%d: %zu accepted, %d sent twice\n", kKills, accepted.size(), duplicates);
  // Only submissions whose answer was not stored yet at a kill go twice:
  // at most the window plus the answers waiting for the id store (64).
  EXPECT_LE(duplicates, (kWindow + 64) * kKills);
}

TEST_F(LinkOutsideTest, ThreeLinksSplitTrafficByTheirRoutes) {
  Simulator a(dir_.path(), {}), b(dir_.path(), {}), c(dir_.path(), {});
  ASSERT_TRUE(a.ready() && b.ready() && c.ready());
  Gateway gw(dir_.path() + "gw");
  gw.configure(links(kFastBackOff, {{a.port(), "RouteName=RA\r\nRoutePrefOnly=Yes\r\n"},
                                    {b.port(), "Route1=+4480*\r\nRoutePrefOnly=Yes\r\n"},
                                    {c.port(), "WindowSize=10\r\n"}}));
  ASSERT_TRUE(gw.start());
  HttpClient http(gw.webPort());
  std::set<std::string> want_a, want_b, want_c;
  for (int i = 0; i < 10; ++i) {
    std::string ra = platform::format("4470%04d", i), rb = platform::format("4480%04d", i),
                rc = platform::format("4490%04d", i);
    ASSERT_FALSE(http.submit("%2B" + ra, "route", "&SMSCRoute=RA").empty());
    ASSERT_FALSE(http.submit("%2B" + rb, "pattern").empty());
    ASSERT_FALSE(http.submit("%2B" + rc, "other").empty());
    want_a.insert(ra);
    want_b.insert(rb);
    want_c.insert(rc);
  }
  ASSERT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s));
  auto got = [](const Simulator& s) {
    std::set<std::string> out;
    for (const auto& r : s.records()) out.insert(r.to);
    return out;
  };
  EXPECT_EQ(got(a), want_a);
  EXPECT_EQ(got(b), want_b);
  EXPECT_EQ(got(c), want_c);
}

// Centres that misbehave (scripts/outside/bad-smsc.py: its first submits
// get garbage, generic_nack, half an answer or no answer at all): the link
// reconnects and every message reaches the centre once. The script
// scripts/outside/link_sender (case "bad") runs every misbehaviour.
TEST_F(LinkOutsideTest, MisbehavingCentresLoseNoMessage) {
  const std::string script = outsideScript("bad-smsc.py");
  if (script.empty()) GTEST_SKIP() << "no bad-smsc.py";
  const int kCount = 8;
  int round = 0;
  for (const char* mode : {"garbage", "nack", "midpdu", "silent"}) {
    SCOPED_TRACE(mode);
    const uint16_t port = freeTcpPort();
    const std::string log = dir_.path() + std::string("bad-") + mode + ".jsonl";
    platform::ProcessOptions o;
    o.argv = {"python3", script,  "--port", std::to_string(port), "--mode", mode, "--bad",
              "2",       "--log", log,      "--max-seconds",      "120"};
    auto centre = platform::ChildProcess::spawn(o);
    ASSERT_TRUE(centre.ok());
    ASSERT_TRUE(waitUntil([&] { return platform::connectTcp("127.0.0.1", port, 200).ok(); }, 15s));
    Gateway gw(dir_.path() + "gw-" + mode);
    const int window = round % 2 == 0 ? 0 : 5;
    gw.configure(links(kFastBackOff, {{port, platform::format("WindowSize=%d\r\nCommandTimeout=2"
                                                              "\r\nReceiverCount=0\r\n",
                                                              window)}}));
    ASSERT_TRUE(gw.start());
    auto ids = submitMany(gw, 1000 * ++round, kCount);
    EXPECT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s)) << gw.queued().size();
    gw.stop();
    centre->kill();
    auto counts = acceptedCounts(readSimLog(log));
    EXPECT_EQ(counts.size(), ids.size());
    for (const auto& [r, n] : counts) EXPECT_EQ(n, 1) << r;
  }
}

// What the centre sends back over the link (messages from phones, receipts
// for what the gateway sent) reaches the account the routing table names,
// each once, receipts under the gateway's own ids: stored on the receiver
// connection's thread and, with AsyncReceiveMessages, by the receive workers.
TEST_F(LinkOutsideTest, MessagesAndReceiptsFromTheCentreReachTheAccountOnce) {
  const int kMo = 60, kSent = 10;
  for (bool async : {false, true}) {
    SCOPED_TRACE(async);
    Simulator sim(dir_.path(),
                  {"--mo", std::to_string(kMo), "--mo-interval", "2", "--mo-to", "4490", "--dlr"});
    ASSERT_TRUE(sim.ready());
    Gateway gw(dir_.path() + (async ? "async" : "inline"));
    ASSERT_TRUE(addReceivingAccount(gw, "alice"));
    const std::string global =
        std::string(kFastBackOff) + "ReceiveSMS=Yes\r\nWebAuth=Yes\r\n" +
        (async ? "AsyncReceiveMessages=Yes\r\nAsyncCallbackThreads=2\r\n" : "");
    gw.configure(links(global, {{sim.port(), "WindowSize=10\r\n"}}) +
                 "[Inbound SMS Routing]\r\nalice=4490\r\n");
    ASSERT_TRUE(gw.start());
    HttpClient http(gw.webPort());
    std::set<std::string> ids;
    for (int i = 0; i < kSent; ++i)
      ids.insert(http.submit("%2B" + recipient(i), "hello",
                             "&User=alice&Password=pw&ReceiptRequested=Yes"));
    ASSERT_EQ(ids.count(""), 0u);
    auto files = [&] { return accountMessages(gw, "alice"); };
    ASSERT_TRUE(waitUntil([&] { return files().size() >= size_t(kMo + kSent); }, 60s))
        << files().size();
    gw.stop();
    sim.stop();
    std::map<std::string, int> texts, receipts;
    for (const auto& m : files()) {
      if (m.ReceiptMessageId.empty())
        ++texts[m.Data];
      else
        ++receipts[m.ReceiptMessageId];
    }
    // The simulator numbers its messages from 1.
    for (int i = 1; i <= kMo; ++i) EXPECT_EQ(texts["MO test " + std::to_string(i)], 1) << i;
    EXPECT_EQ(texts.size(), size_t(kMo)) << texts.begin()->first;
    for (const auto& id : ids) EXPECT_EQ(receipts[id], 1) << id;
    EXPECT_EQ(receipts.size(), ids.size());
    EXPECT_EQ(platform::trim(jsonField(sim.summary(), "mo_acked")), std::to_string(kMo))
        << sim.summary();
  }
}

// A centre that delivers again what the gateway did not take
// (scripts/outside/mo-smsc.py). While the inbound directory cannot be
// written (a regular file stands in its place, which also stops root), every
// deliver_sm gets a temporary error and the link stays bound; once the
// directory is back, each message lands in the account once with its text.
// VEKSMS_MO_REDELIVER_COUNT sets the count (scripts/outside/link_sender,
// case "redeliver", runs 1,000).
TEST_F(LinkOutsideTest, MessagesRefusedWhileNothingCanBeStoredAreRedeliveredAndStoredOnce) {
  const std::string script = outsideScript("mo-smsc.py");
  if (script.empty()) GTEST_SKIP() << "no mo-smsc.py";
  const char* count_env = ::getenv("VEKSMS_MO_REDELIVER_COUNT");
  const int kCount = count_env ? std::clamp(std::atoi(count_env), 1, 100000) : 40;
  for (bool async : {false, true}) {
    SCOPED_TRACE(async);
    const std::string name = async ? "async" : "inline";
    const std::string go = dir_.path() + name + ".go", summary_path = dir_.path() + name + ".json";
    const uint16_t port = freeTcpPort();
    platform::ProcessOptions o;
    o.argv = {"python3",
              script,
              "--port",
              std::to_string(port),
              "--count",
              std::to_string(kCount),
              "--to",
              "4490",
              "--window",
              "10",
              "--retry-delay",
              "0.1",
              "--wait-for",
              go,
              "--summary",
              summary_path,
              "--stay",
              "--max-seconds",
              "300"};
    o.output_path = dir_.path() + name + ".out";
    auto centre = platform::ChildProcess::spawn(o);
    ASSERT_TRUE(centre.ok());
    ASSERT_TRUE(waitUntil([&] { return platform::connectTcp("127.0.0.1", port, 200).ok(); }, 15s));
    // The summary so far, and what the centre wrote on failure.
    auto summary = [&] { return readText(summary_path) + readText(o.output_path); };
    // The summary is indented: a space before each value.
    auto field = [&](const char* key) {
      std::string v(platform::trim(jsonField(summary(), key)));
      return v.size() >= 2 && v.front() == '"' ? v.substr(1, v.size() - 2) : v;
    };
    auto number = [&](const char* key) { return std::atoi(field(key).c_str()); };

    Gateway gw(dir_.path() + name);
    ASSERT_TRUE(addReceivingAccount(gw, "alice"));
    const std::string global =
        std::string(kFastBackOff) + "ReceiveSMS=Yes\r\n" +
        (async ? "AsyncReceiveMessages=Yes\r\nAsyncCallbackThreads=2\r\n" : "");
    gw.configure(links(global, {{port, "WindowSize=10\r\n"}}) +
                 "[Inbound SMS Routing]\r\nalice=4490\r\n");
    ASSERT_TRUE(gw.start());
    ASSERT_TRUE(waitUntil([&] { return number("rx_binds") >= 1; }, 30s)) << summary();
    const int binds = number("rx_binds");

    // The inbound directory (made with the first inbound file, empty before)
    // becomes a regular file.
    const std::filesystem::path in = gw.data() + "/SMS-IN";
    std::error_code ec;
    std::filesystem::remove(in, ec);
    ASSERT_FALSE(ec) << ec.message();
    writeText(in.string(), "");
    writeText(go, "");
    // Every message refused at least once, and delivered again while the
    // directory is still a file (an acceptance ends the wait early).
    auto refused = [&] {
      return number("messages_with_temp_errors") == kCount && number("redeliveries") >= kCount;
    };
    ASSERT_TRUE(waitUntil([&] { return refused() || number("acked") > 0; }, 60s)) << summary();
    ASSERT_EQ(number("acked"), 0) << "acknowledged but not stored: " << summary();
    ASSERT_TRUE(refused()) << summary();
    EXPECT_TRUE(accountMessages(gw, "alice").empty());
    // ESME_RX_T_APPN: a temporary error, the centre keeps the message.
    EXPECT_EQ(field("error_statuses"), "0x00000064") << summary();

    // Back to a directory (the gateway may make it again first).
    std::filesystem::remove(in, ec);
    std::filesystem::create_directory(in, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(waitUntil([&] { return number("acked") == kCount; }, 60s)) << summary();
    ASSERT_TRUE(
        waitUntil([&] { return accountMessages(gw, "alice").size() >= size_t(kCount); }, 30s))
        << accountMessages(gw, "alice").size();
    EXPECT_TRUE(gw.running());
    gw.stop();
    ::kill(centre->pid(), SIGTERM);
    int code = 0;
    if (!centre->wait(5s, &code)) centre->kill();

    std::map<std::string, int> texts;
    for (const auto& m : accountMessages(gw, "alice")) ++texts[m.Data];
    for (int i = 1; i <= kCount; ++i) EXPECT_EQ(texts["MO redeliver " + std::to_string(i)], 1) << i;
    EXPECT_EQ(texts.size(), size_t(kCount));
    const std::string s = summary();
    EXPECT_EQ(number("acked"), kCount) << s;
    EXPECT_EQ(number("accepted_total"), kCount) << s;  // none taken twice
    EXPECT_GT(number("redeliveries"), 0) << s;
    // The refusals came promptly on the same binding: no time-out, no drop.
    EXPECT_EQ(number("timeouts"), 0) << s;
    EXPECT_EQ(number("lost_in_disconnect"), 0) << s;
    EXPECT_EQ(number("rx_binds"), binds) << s;
    EXPECT_EQ(gw.events().find("Error initializing SMSC Interface"), std::string::npos)
        << gw.events();
  }
}

}  // namespace
}  // namespace vek::testing
