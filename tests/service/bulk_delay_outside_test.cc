// Bulk and delay queues from outside: the gateway program on a temporary
// data directory, fed over HTTP, with the test standing in for the link
// senders (it claims each request file the way a sender does, notes its
// recipient and releases it).
//
// One check lets the gateway's own link sender take the bulk job to the
// SMSC simulator instead.
//
// Sizes: VEKSMS_BULK_RECIPIENTS (default 2000) recipients per submission
// (VEKSMS_BULK_LINK_RECIPIENTS, default 1000, for the check over the link);
// VEKSMS_BULK_FULL=1 adds the real-time check of a message delayed two
// minutes ahead (scripts/outside/bulk runs both at full size).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "gateway_process.h"
#include "outside.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

size_t envSize(const char* name, size_t fallback) {
  const char* v = ::getenv(name);
  return v && *v ? static_cast<size_t>(std::strtoul(v, nullptr, 10)) : fallback;
}

std::string httpExchange(uint16_t port, const std::string& request) {
  auto fd = platform::connectTcp("127.0.0.1", port, 5000);
  if (!fd.ok() || platform::sendAll(fd->get(), request, 10000) != platform::IoStatus::kOk)
    return std::string();
  std::string answer;
  char buf[65536];
  size_t got = 0;
  while (platform::recvSome(fd->get(), buf, sizeof buf, 30000, &got) == platform::IoStatus::kOk)
    answer.append(buf, got);
  return answer;
}

std::string post(uint16_t port, const std::string& form) {
  return httpExchange(port,
                      "POST / HTTP/1.1\r\nHost: t\r\nConnection: close\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                          std::to_string(form.size()) + "\r\n\r\n" + form);
}

std::string stamp(const platform::CalendarTime& t) {
  return platform::format("%04d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute);
}

// The link senders' part: empties the queue, noting every recipient and
// the largest partition it ever found.
class Drain {
 public:
  explicit Drain(std::string queue) : queue_(platform::withTrailingSlash(queue)) {}

  void pass() {
    platform::ListOptions dirs;
    dirs.files = false;
    dirs.directories = true;
    take(queue_);
    for (const platform::DirEntry& d : platform::listDirectory(queue_, "*", dirs)) {
      if (platform::equalsNoCase(d.name, "DELAYQ")) continue;
      const std::string dir = queue_ + d.name + "/";
      size_t files = platform::listDirectory(dir, "*.REQ").size();
      if (d.name.rfind("####", 0) == 0 && seen_.insert(d.name).second)
        biggest_ = std::max(biggest_, files);
      take(dir);
    }
  }
  // Passes until `n` recipients were taken or `limit` passed.
  bool until(size_t n, std::chrono::milliseconds limit, const std::function<void()>& each = {}) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (taken() < n && std::chrono::steady_clock::now() < deadline) {
      pass();
      if (each) each();
      std::this_thread::sleep_for(20ms);
    }
    return taken() >= n;
  }
  size_t taken() const {
    size_t n = 0;
    for (const auto& [r, count] : recipients_) n += count;
    return n;
  }
  const std::map<std::string, int>& recipients() const { return recipients_; }
  size_t biggest() const { return biggest_; }
  size_t partitions() const { return seen_.size(); }

 private:
  void take(const std::string& dir) {
    for (const platform::DirEntry& f : platform::listDirectory(dir, "*.REQ")) {
      const std::string path = dir + f.name;
      auto fd = platform::claimFile(path);
      if (!fd.ok()) continue;
      auto text = platform::readAll(fd->get());
      if (text.ok()) {
        size_t at = text->find("PhoneNumber=");
        if (at != std::string::npos)
          recipients_[text->substr(at + 12, text->find("\r\n", at) - at - 12)]++;
      }
      (void)platform::releaseClaimedFile(path, std::move(*fd));
    }
  }

  std::string queue_;
  std::map<std::string, int> recipients_;
  std::set<std::string> seen_;
  size_t biggest_ = 0;
};

class BulkDelayOutsideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  }
  std::string data(const std::string& settings) {
    std::string d = dir_.path() + "d";
    EXPECT_TRUE(platform::makeDirectories(d).ok());
    auto l = platform::listenTcp("127.0.0.1", 0);
    port_ = l.ok() ? platform::localPort(l->get()) : 0;
    writeText(d + "/SMSGW.INI", "[SMSGW]\r\nWebPort=" + std::to_string(port_) + "\r\n" + settings);
    return d;
  }
  // "n" recipients, numbered from 447700000000.
  static std::string recipients(size_t n) {
    std::string list;
    for (size_t i = 0; i < n; ++i) {
      if (i) list += "%2C";
      list += std::to_string(447700000000ull + i);
    }
    return list;
  }
  static void expectEachOnce(const Drain& drain, size_t n) {
    EXPECT_EQ(drain.recipients().size(), n);
    size_t twice = 0;
    for (const auto& [r, count] : drain.recipients()) twice += count != 1;
    EXPECT_EQ(twice, 0u) << "recipients sent more than once";
  }
  // Bulk directory empty and no staging directory left in the queue.
  static bool clean(const std::string& d) {
    platform::ListOptions all;
    all.directories = true;
    all.hidden = true;
    for (const auto& e : platform::listDirectory(d + "/Q", "*", all))
      if (e.name[0] == '.') return false;
    all.hidden = false;
    return platform::listDirectory(d + "/BULKQ", "*", all).empty();
  }

  TempDir dir_;
  uint16_t port_ = 0;
};

TEST_F(BulkDelayOutsideTest, ManyRecipientsBecomeExactlyThatManyFilesInHalfFullPartitions) {
  const size_t n = envSize("VEKSMS_BULK_RECIPIENTS", 2000);
  const size_t max_entries = std::max<size_t>(400, n / 50);
  std::string d = data("MaxQDirEntries=" + std::to_string(max_entries) + "\r\n");
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  std::string answer = post(port_, "Text=bulk+test&PhoneNumber=" + recipients(n));
  ASSERT_NE(answer.find("200 OK"), std::string::npos) << answer.substr(0, 300);
  EXPECT_TRUE(platform::listDirectory(d + "/Q", "*.REQ").empty()) << "nothing queued directly";

  Drain drain(d + "/Q");
  EXPECT_TRUE(drain.until(n, std::chrono::seconds(30 + n / 200)));
  expectEachOnce(drain, n);
  EXPECT_LE(drain.biggest(), max_entries / 2);
  EXPECT_GE(drain.partitions(), n / (max_entries / 2));
  EXPECT_TRUE(waitUntil([&] { return clean(d); }, 5s)) << "the job is removed when done";
  g.signal(SIGTERM);
  int code;
  EXPECT_TRUE(g.waitExit(20s, &code));
}

TEST_F(BulkDelayOutsideTest, KilledFiveTimesDuringExpansionStillSendsEachRecipientOnce) {
  const size_t n = envSize("VEKSMS_BULK_RECIPIENTS", 2000);
  const size_t max_entries = std::max<size_t>(200, n / 100);
  std::string d = data("MaxQDirEntries=" + std::to_string(max_entries) + "\r\n");
  auto g = std::make_unique<GatewayProcess>(d);
  ASSERT_TRUE(g->start());
  ASSERT_TRUE(g->waitStarted());
  std::string answer = post(port_, "Text=crash+test&PhoneNumber=" + recipients(n));
  ASSERT_NE(answer.find("200 OK"), std::string::npos) << answer.substr(0, 300);

  Drain drain(d + "/Q");
  for (int kill = 1; kill <= 5; ++kill) {
    // Let the expansion get a little further each time, then kill it.
    ASSERT_TRUE(drain.until(n * kill / 7, 60s)) << "before kill " << kill;
    g->signal(SIGKILL);
    int code;
    ASSERT_TRUE(g->waitExit(10s, &code));
    drain.pass();
    (void)platform::removeFile(d + "/private/EVENTS.LOG");
    g = std::make_unique<GatewayProcess>(d);
    ASSERT_TRUE(g->start());
    ASSERT_TRUE(waitUntil(
        [&] {
          drain.pass();
          return g->waitStarted(10ms);
        },
        20s))
        << "restart " << kill;
  }
  EXPECT_TRUE(drain.until(n, std::chrono::seconds(30 + n / 200)));
  std::this_thread::sleep_for(1500ms);  // nothing more may come
  drain.pass();
  expectEachOnce(drain, n);
  EXPECT_LE(drain.biggest(), max_entries / 2);
  EXPECT_TRUE(waitUntil([&] { return clean(d); }, 5s));
}

// The whole road of a bulk job: expanded into small partitions and sent by
// the link sender over SMPP, each recipient reaching the centre once.
TEST_F(BulkDelayOutsideTest, ABulkJobReachesTheCentreOnceForEachRecipientOverALink) {
  VEK_REQUIRE_ORACLES();
  const size_t n = envSize("VEKSMS_BULK_LINK_RECIPIENTS", 1000);
  Simulator sim(dir_.path(), {});
  ASSERT_TRUE(sim.ready());
  const size_t max_entries = std::max<size_t>(100, n / 100);
  std::string d = data("MaxQDirEntries=" + std::to_string(max_entries) +
                       "\r\nModem1=" + smppLink(sim.port()) + "\r\n[" + smppLink(sim.port()) +
                       "]\r\nUserName=gw\r\nPassword=pw\r\nWindowSize=100\r\n");
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  std::string answer = post(port_, "Text=bulk+over+a+link&PhoneNumber=" + recipients(n));
  ASSERT_NE(answer.find("200 OK"), std::string::npos) << answer.substr(0, 300);
  auto accepted = [&] {
    std::map<std::string, int> per;
    for (const SimRecord& r : sim.records())
      if (r.status == 0) ++per[r.to];
    return per;
  };
  EXPECT_TRUE(waitUntil([&] { return accepted().size() >= n; }, std::chrono::seconds(60 + n / 50)));
  EXPECT_TRUE(waitUntil([&] { return clean(d); }, 10s)) << "the job is removed when done";
  g.signal(SIGTERM);
  int code;
  EXPECT_TRUE(g.waitExit(30s, &code));
  const auto per = accepted();
  EXPECT_EQ(per.size(), n);
  size_t twice = 0;
  for (const auto& [r, count] : per) twice += count != 1;
  EXPECT_EQ(twice, 0u) << "recipients sent more than once";
}

TEST_F(BulkDelayOutsideTest, DelayedMessagesLeaveAtTheirMinuteIntoTheSamePartition) {
  std::string d = data("");
  // Messages already in the delay area, due since yesterday: one in the
  // root, one in a route partition.
  platform::CalendarTime yesterday = platform::toLocal(platform::clock().now() - 24h);
  const std::string due = d + "/Q/DELAYQ/" + platform::dateStamp(yesterday) + "/1200/";
  ASSERT_TRUE(platform::makeDirectories(due + "RT_-_Some-Route_-_").ok());
  writeText(due + "DUE1.req", "[SMS]\r\nData=due\r\nPhoneNumber=111\r\n");
  writeText(due + "RT_-_Some-Route_-_/DUE2.req", "[SMS]\r\nData=due\r\nPhoneNumber=222\r\n");
  GatewayProcess g(d);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted());
  EXPECT_TRUE(waitUntil(
      [&] {
        return platform::isRegularFile(d + "/Q/DUE1.req") &&
               platform::isRegularFile(d + "/Q/RT_-_Some-Route_-_/DUE2.req");
      },
      5s));
  EXPECT_TRUE(waitUntil(
      [&] { return !platform::pathExists(d + "/Q/DELAYQ/" + platform::dateStamp(yesterday)); }, 5s))
      << "a past date's directory goes once emptied";

  // A past time goes straight to the queue; tomorrow waits in the delay area.
  platform::CalendarTime tomorrow = platform::toLocal(platform::clock().now() + 24h);
  std::string a = post(port_, "Text=past&PhoneNumber=333&DelayUntil=" + stamp(yesterday));
  std::string b = post(port_, "Text=later&PhoneNumber=444&DelayUntil=" + stamp(tomorrow));
  ASSERT_NE(a.find("200 OK"), std::string::npos);
  ASSERT_NE(b.find("200 OK"), std::string::npos);
  Drain drain(d + "/Q");
  drain.pass();
  EXPECT_EQ(drain.recipients(), (std::map<std::string, int>{{"111", 1}, {"222", 1}, {"333", 1}}));
  const std::string later = d + "/Q/DELAYQ/" + platform::dateStamp(tomorrow) + "/" +
                            platform::format("%02d%02d", tomorrow.hour, tomorrow.minute) + "/";
  EXPECT_EQ(platform::listDirectory(later, "*.REQ").size(), 1u);
  std::this_thread::sleep_for(1500ms);  // a delay pass or two
  EXPECT_EQ(platform::listDirectory(later, "*.REQ").size(), 1u);

  if (::getenv("VEKSMS_BULK_FULL") == nullptr) return;
  // Two minutes ahead, in real time: not before that minute, and soon after
  // it begins.
  platform::CalendarTime at = platform::toLocal(platform::clock().now() + 2min);
  at.second = 0;
  at.millisecond = 0;
  const platform::SystemTime minute = platform::fromLocal(at);
  std::string c = post(port_, "Text=two+minutes&PhoneNumber=555&DelayUntil=" + stamp(at));
  ASSERT_NE(c.find("200 OK"), std::string::npos);
  bool early = false;
  ASSERT_TRUE(waitUntil(
      [&] {
        drain.pass();
        if (drain.recipients().count("555") == 0) return false;
        early = platform::clock().now() < minute;
        return true;
      },
      200s));
  EXPECT_FALSE(early) << "released before its minute";
  const auto late =
      std::chrono::duration_cast<std::chrono::milliseconds>(platform::clock().now() - minute);
  std::printf("delayed message released %lld ms after its minute\n",
              static_cast<long long>(late.count()));
  EXPECT_LT(late, 5s);
}

}  // namespace
}  // namespace vek::testing
