// UCP/EMI and CIMD2 links from outside: the gateway program with a link to
// the UCP or CIMD2 simulator (and to Kannel's test_cimd2), messages
// submitted over HTTP, checked in the simulator's log; receipts and
// messages from the centre checked in the gateway's files. Small counts
// here; scripts/outside/text_links runs the full sizes.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "outside.h"

namespace vek::testing {
namespace {

// One submission as the UCP or CIMD2 simulator logged it ("decoded" lines).
struct TextSimRecord {
  std::string to, text, udh, status, id, originator;
};

bool accepted(const TextSimRecord& r) {
  return r.status == "ACK" || r.status == "OK";
}

// ucp-smsc-sim.js or cimd-smsc-sim.js on a free port, stopped when the
// object goes.
class TextSim {
 public:
  TextSim(const std::string& dir, const std::string& kind, std::vector<std::string> extra)
      : kind_(kind),
        port_(freeTcpPort()),
        log_(dir + platform::format("%s-%u.jsonl", kind.c_str(), port_)) {
    platform::ProcessOptions o;
    const std::string script = kind == "ucp" ? "/ucp/ucp-smsc-sim.js" : "/cimd/cimd-smsc-sim.js";
    o.argv = {"node",          oraclesDir() + script,
              "--port",        std::to_string(port_),
              "--max-seconds", "300",
              "--log",         log_};
    o.argv.insert(o.argv.end(), extra.begin(), extra.end());
    auto c = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(c.ok()) << c.status().message();
    if (c.ok()) child_ = std::move(*c);
    ready_ = waitUntil([&] { return platform::connectTcp("127.0.0.1", port_, 200).ok(); }, 15s);
  }
  ~TextSim() {
    if (!child_.running()) return;
    ::kill(child_.pid(), SIGTERM);
    int code = 0;
    if (!child_.wait(5s, &code)) child_.kill();
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }
  std::vector<TextSimRecord> records() const {
    std::vector<TextSimRecord> out;
    for (const std::string& line : platform::split(readText(log_), "\n")) {
      if (line.find("\"dir\":\"decoded\"") == std::string::npos ||
          line.find("\"kind\":\"submit\"") == std::string::npos)
        continue;
      TextSimRecord r;
      r.to = jsonField(line, kind_ == "ucp" ? "adc" : "dest");
      r.text = jsonField(line, "text");
      r.udh = jsonField(line, "udh");
      if (r.udh == "null") r.udh.clear();
      r.status = jsonField(line, "status");
      r.id = jsonField(line, "id");
      r.originator = jsonField(line, kind_ == "ucp" ? "oadc" : "originator");
      out.push_back(std::move(r));
    }
    return out;
  }

 private:
  std::string kind_;
  uint16_t port_;
  std::string log_;
  platform::ChildProcess child_;
  bool ready_ = false;
};

// Files under `dir` (a few levels) whose name matches `pattern`.
void collectFiles(const std::string& dir, const std::string& pattern, std::vector<std::string>* out,
                  int depth = 0) {
  platform::ListOptions o;
  o.directories = true;
  for (const auto& e : platform::listDirectory(dir, "*", o)) {
    if (e.directory) {
      if (depth < 4) collectFiles(dir + e.name + "/", pattern, out, depth + 1);
    } else if (platform::globMatchNoCase(pattern, e.name)) {
      out->push_back(dir + e.name);
    }
  }
}

// The value of "key=" (any case) in a request or inbound file.
std::string fileValue(const std::string& text, const std::string& key) {
  size_t p = platform::toLower(text).find("\n" + platform::toLower(key) + "=");
  if (p == std::string::npos) return {};
  p += key.size() + 2;
  return text.substr(p, text.find_first_of("\r\n", p) - p);
}

// A submission with its own query; the gateway's message id or "".
std::string submitQuery(HttpClient& http, const std::string& recipient, const std::string& query) {
  std::string body = http.get("/?PhoneNumber=%2B" + recipient + "&" + query);
  size_t p = body.find("MessageID=");
  if (p == std::string::npos) return {};
  return body.substr(p + 10, body.find(',', p) - p - 10);
}

struct Sample {
  std::string query;     // Text=... (and Sender=...)
  std::string expected;  // what the centre must decode ("" for long messages)
  bool long_message = false;
};

std::string longUcs2() {
  std::string s;
  for (int i = 0; i < 100; ++i) s += "%D0%96";
  return s;
}

const std::vector<Sample>& samples() {
  static const std::vector<Sample> s = {
      {"Text=Price+%7B5%E2%82%AC%7D+%5Bok%5D+%5E%7C", "Price {5\xE2\x82\xAC} [ok] ^|"},
      {"Text=caf%C3%A9+na%C3%AFve+%C3%BC%C3%B1", "caf\xC3\xA9 na\xC3\xAFve \xC3\xBC\xC3\xB1"},
      {"Text=%D0%9F%D1%80%D0%B8%D0%B2%D0%B5%D1%82+%E4%BD%A0%E5%A5%BD",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xBD\xA0\xE5\xA5\xBD"},
      // Long: two UCS-2 segments with their headers. (GSM text segments of 153
      // characters are correct, but the simulators count one octet too many
      // for the fill bits beside a header and refuse them.)
      {"Text=" + longUcs2(), "", true},
      {"Sender=ALPHA&Text=from+a+name", "from a name"},
  };
  return s;
}

class TextLinkOutsideTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    VEK_REQUIRE_ORACLES();
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  }
  static std::string linkName(const std::string& kind, uint16_t port) {
    return (kind == "ucp" ? "UCP - 127.0.0.1:" : "CIMD - 127.0.0.1:") + std::to_string(port);
  }
  static std::string config(const std::string& link, const std::string& keys,
                            const std::string& global = "") {
    return "InitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=1\r\n" + global +
           "Modem1=" + link + "\r\n[" + link + "]\r\n" + keys;
  }
  static std::string recipient(int i) { return platform::format("4477%07d", i); }

  TempDir dir_;
};

// Each kind of message reaches the centre exactly once and reads back as
// sent; receipts come back for the right messages; messages the centre
// delivers (on the link, or on the ReceivePort for UCP) become inbound files.
TEST_P(TextLinkOutsideTest, MessagesOnceReceiptsAndInbound) {
  const std::string kind = GetParam();
  const int kRounds = 8;
  const uint16_t receive_port = freeTcpPort();
  std::vector<std::string> args = {"--dr", "--dr-fail-every", "4",           "--mo",
                                   "3",    "--mo-from",       "447700900123"};
  if (kind == "ucp")
    args.insert(args.end(), {"--deliver-to", "127.0.0.1:" + std::to_string(receive_port)});
  else
    args.insert(args.end(), {"--user", "gw", "--password", "pw"});
  TextSim sim(dir_.path(), kind, args);
  ASSERT_TRUE(sim.ready());
  Gateway gw(dir_.path() + "gw");
  const std::string link = linkName(kind, sim.port());
  std::string keys = "WindowSize=50\r\nKeepAlive=30\r\nUserName=gw\r\nPassword=pw\r\n";
  if (kind == "ucp") keys += "ReceivePort=" + std::to_string(receive_port) + "\r\n";
  gw.configure(config(link, keys));
  ASSERT_TRUE(gw.start());

  HttpClient http(gw.webPort());
  std::map<std::string, const Sample*> sent;  // recipient -> sample
  std::set<std::string> ids;
  int n = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (const Sample& s : samples()) {
      const std::string r = recipient(n++);
      std::string id = submitQuery(http, r, "ReceiptRequested=Yes&" + s.query);
      ASSERT_FALSE(id.empty()) << r;
      ids.insert(id);
      sent[r] = &s;
    }
  }
  const size_t expected_submits = kRounds * (samples().size() + 1);  // long ones: 2 segments
  auto accepted_count = [&] {
    size_t c = 0;
    for (const auto& rec : sim.records()) c += accepted(rec);
    return c;
  };
  ASSERT_TRUE(
      waitUntil([&] { return accepted_count() >= expected_submits && gw.queued().empty(); }, 60s));

  std::map<std::pair<std::string, std::string>, int> once;  // (recipient, udh) -> count
  for (const auto& rec : sim.records()) {
    if (!accepted(rec)) continue;
    // Recipients reach the centre with an international prefix form.
    std::string r = rec.to.substr(rec.to.size() >= 11 ? rec.to.size() - 11 : 0);
    ASSERT_TRUE(sent.count(r)) << rec.to;
    ++once[{r, rec.udh}];
    const Sample& s = *sent[r];
    if (s.long_message) {
      EXPECT_FALSE(rec.udh.empty()) << r;
    } else {
      EXPECT_EQ(rec.text, s.expected) << r;
    }
    if (s.query.rfind("Sender=ALPHA", 0) == 0) {
      EXPECT_EQ(rec.originator, "ALPHA") << r;
    }
  }
  EXPECT_EQ(once.size(), expected_submits);
  for (const auto& [key, count] : once) EXPECT_EQ(count, 1) << key.first << " " << key.second;

  // Receipts: each names one of the submitted messages by the gateway's id;
  // every fourth reports a failure.
  std::map<std::string, int> receipted;
  int failed = 0;
  std::vector<std::string> mo;
  auto scan = [&] {
    receipted.clear();
    failed = 0;
    mo.clear();
    std::vector<std::string> files;
    collectFiles(gw.data() + "/", "*", &files);
    for (const auto& f : files) {
      if (platform::globMatchNoCase("*.log", f) || platform::globMatchNoCase("*.ini", f)) continue;
      const std::string text = "\n" + readText(f);
      std::string rid = fileValue(text, "ReceiptMessageId");
      if (!rid.empty() && ids.count(rid)) {
        ++receipted[rid];
        if (platform::equalsNoCase(fileValue(text, "ReceiptFailed"), "Yes")) ++failed;
      } else if (fileValue(text, "Sender").find("447700900123") != std::string::npos) {
        mo.push_back(f);
      }
    }
    return receipted.size() >= kRounds * (samples().size() - 1) && mo.size() >= 3;
  };
  EXPECT_TRUE(waitUntil(scan, 40s)) << receipted.size() << " receipts, " << mo.size() << " inbound";
  EXPECT_GT(failed, 0);
  for (const auto& [id, count] : receipted) EXPECT_LE(count, 2) << id;  // long: one per segment
}

// Throttling and error answers follow the retry rules: throttled messages
// go again and reach the centre once; a code in the reject list fails at
// once; a connection the centre drops is made again and loses nothing.
TEST_P(TextLinkOutsideTest, ThrottlingErrorsAndDroppedConnections) {
  const std::string kind = GetParam();
  const int kCount = 60;
  const std::string error_flag = kind == "ucp" ? "--error-ec" : "--error-code";
  const std::string error_code = kind == "ucp" ? "06" : "300";
  std::vector<std::string> common;
  if (kind == "cimd") common = {"--user", "gw", "--password", "pw"};
  auto with = [&](std::vector<std::string> v) {
    v.insert(v.end(), common.begin(), common.end());
    return v;
  };
  TextSim throttling(dir_.path(), kind, with({"--throttle", "0.1"}));
  TextSim refusing(dir_.path(), kind, with({"--error-rate", "0.1", error_flag, error_code}));
  TextSim dropping(dir_.path(), kind, with({"--drop-after", "20", "--drop-repeat"}));
  ASSERT_TRUE(throttling.ready() && refusing.ready() && dropping.ready());
  const std::string login = "UserName=gw\r\nPassword=pw\r\n";
  const std::string reject = std::string(kind == "ucp" ? "UCP" : "CIMD") +
                             "RejectErrorCodes=" + std::to_string(std::atoi(error_code.c_str())) +
                             "\r\n";
  Gateway a(dir_.path() + "throttle"), b(dir_.path() + "refuse"), c(dir_.path() + "drop");
  a.configure(config(linkName(kind, throttling.port()), "WindowSize=10\r\n" + login));
  b.configure(config(linkName(kind, refusing.port()), "WindowSize=10\r\n" + login, reject));
  c.configure(config(linkName(kind, dropping.port()), "WindowSize=10\r\n" + login));
  ASSERT_TRUE(a.start() && b.start() && c.start());
  for (Gateway* g : {&a, &b, &c}) {
    HttpClient http(g->webPort());
    for (int i = 0; i < kCount; ++i)
      ASSERT_FALSE(http.submit("%2B" + recipient(i), "message+" + std::to_string(i)).empty());
  }
  ASSERT_TRUE(waitUntil(
      [&] { return a.queued().empty() && b.queued().empty() && c.queued().empty(); }, 90s));

  for (TextSim* sim : {&throttling, &dropping}) {
    std::map<std::string, int> ok;
    for (const auto& r : sim->records())
      if (accepted(r)) ++ok[r.to];
    EXPECT_EQ(ok.size(), static_cast<size_t>(kCount));
    // A submission the centre took but never answered before it dropped the
    // connection goes again (the gateway cannot know it arrived).
    const int most = sim == &dropping ? 2 : 1;
    for (const auto& [r, count] : ok) EXPECT_LE(count, most) << r;
  }
  EXPECT_GT(throttling.records().size(), static_cast<size_t>(kCount));  // throttled answers came
  EXPECT_TRUE(a.queued("*.ERR").empty());
  EXPECT_TRUE(c.queued("*.ERR").empty());

  auto refused = refusing.records();
  EXPECT_EQ(refused.size(), static_cast<size_t>(kCount));  // never tried twice
  EXPECT_EQ(b.queued("*.ERR").size(), static_cast<size_t>(kCount / 10));
}

INSTANTIATE_TEST_SUITE_P(Kinds, TextLinkOutsideTest, ::testing::Values("ucp", "cimd"));

// Kannel's test_cimd2 as a second CIMD2 centre: it logs what it received,
// so the check here is that every message was accepted and none is left.
TEST(TextLinkKannelTest, EveryMessageIsAcceptedByTestCimd2) {
  VEK_REQUIRE_ORACLES();
  const std::string binary = "/usr/lib/kannel/test/test_cimd2";
  if (!platform::pathExists(binary)) GTEST_SKIP() << "test_cimd2 not installed";
  if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
  TempDir dir;
  const uint16_t port = freeTcpPort();
  platform::ProcessOptions o;
  o.argv = {binary,       "--port", std::to_string(port), "--user", "gw",
            "--password", "pw",     "--activity",         "1"};
  o.output_path = dir.path() + "test_cimd2.out";  // it logs much; a pipe would fill
  o.time_limit = std::chrono::minutes(5);
  auto centre = platform::ChildProcess::spawn(o);
  ASSERT_TRUE(centre.ok());
  // It serves one client only: wait until its port is taken rather than
  // connecting to it.
  ASSERT_TRUE(waitUntil([&] { return !platform::listenTcp("127.0.0.1", port).ok(); }, 15s));
  const std::string link = "CIMD - 127.0.0.1:" + std::to_string(port);
  Gateway gw(dir.path() + "gw");
  gw.configure("InitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=1\r\nModem1=" + link +
               "\r\n[" + link + "]\r\nUserName=gw\r\nPassword=pw\r\nWindowSize=20\r\n");
  ASSERT_TRUE(gw.start());
  HttpClient http(gw.webPort());
  const int kCount = 40;
  for (int i = 0; i < kCount; ++i) {
    const Sample& s = samples()[static_cast<size_t>(i) % samples().size()];
    ASSERT_FALSE(submitQuery(http, platform::format("4477%07d", i), s.query).empty());
  }
  const std::string log = dir.path() + "test_cimd2.out";
  EXPECT_TRUE(waitUntil([&] { return gw.queued().empty(); }, 60s))
      << gw.queued().size() << " queued; centre: " << readText(log).substr(0, 3000);
  EXPECT_TRUE(gw.queued("*.ERR").empty());
  gw.stop();
  centre->kill();  // it ignores SIGTERM
}

}  // namespace
}  // namespace vek::testing
