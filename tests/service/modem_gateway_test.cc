// GSM modem links from outside: the gateway program with modem links to the
// modem simulator (an IP modem over TCP, a serial port over a PTY),
// messages submitted over HTTP, checked in the simulator's log and with an
// independent PDU decoder; received messages and status reports checked in
// the gateway's inbound files. The modem's waits are shrunk
// (VEKSMS_MODEM_TIME_SCALE) so each case takes seconds; scripts/outside/modem
// runs the full sizes with the real waits.
//
// Size: VEKSMS_MODEM_MESSAGES messages in the fault and two-modem case
// (default 20).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "encoding/shift_tables.h"
#include "foundation/link_name.h"
#include "modem_outside.h"

namespace vek::testing {
namespace {

// The value of "key" in pretty-printed JSON (pdu.js): a string, the last
// occurrence when `last`.
std::string jsonText(const std::string& json, const std::string& key, bool last = false) {
  const std::string tag = "\"" + key + "\":";
  size_t p = last ? json.rfind(tag) : json.find(tag);
  if (p == std::string::npos) return {};
  p += tag.size();
  while (p < json.size() && json[p] == ' ') ++p;
  return jsonField("{\"v\":" + json.substr(p), "v");
}

std::string urlEncode(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out += platform::format("%%%02X", c);
    }
  }
  return out;
}

// Waits grow with the modem's waits (the full-size run uses the real ones).
std::chrono::seconds bound(int seconds) {
  const char* v = ::getenv("VEKSMS_MODEM_TIME_SCALE");
  const double scale = v ? std::atof(v) : 0.05;
  return std::chrono::seconds(static_cast<int>(seconds * std::max(1.0, scale / 0.05)));
}

int messageCount() {
  const char* v = ::getenv("VEKSMS_MODEM_MESSAGES");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 20;
}

class ModemOutsideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VEK_REQUIRE_ORACLES();
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
    if (!::getenv("VEKSMS_MODEM_TIME_SCALE")) shrinkModemWaits();
  }
  static constexpr const char* kGlobal =
      "InitRetryDelay=1\r\nInitRetryDelayMax=1\r\nRetryDelay=1\r\n"
      "ReceiveSMS=Yes\r\n"
      "ShiftTables=1\r\n";
  // "SMSGW.INI" for modem links: `Modem<n>` per entry, each section with its keys.
  static std::string links(const std::vector<std::pair<std::string, std::string>>& modems) {
    std::string keys, sections;
    int n = 0;
    for (const auto& [name, section_keys] : modems) {
      keys += platform::format("Modem%d=", ++n) + name + "\r\n";
      sections += "[" + foundation::linkSectionName(name) + "]\r\n" + section_keys;
    }
    return kGlobal + keys + sections;
  }
  static std::string recipient(int i) { return platform::format("+4670%07d", i); }
  static std::string debugLog(const ModemGateway& gw) { return gw.debugLog(); }
  static size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

  TempDir dir_;
};

TEST_F(ModemOutsideTest, IpModemBehindLoginAndPinSendsEveryCodingAndReportsReceipts) {
  ModemSimulator sim(
      dir_.path(), false,
      {"--login-user", "gw", "--login-password", "s3cret", "--banner", "Welcome to the adapter",
       "--pin", "4321", "--status-reports", "--sr-delay", "100", "--send-delay", "0"});
  ASSERT_TRUE(sim.ready());
  ModemGateway gw(dir_.path() + "gw");
  gw.configure(links({{sim.linkName(), "Username=gw\r\nPassword=s3cret\r\nPIN=4321\r\n"}}));
  ASSERT_TRUE(gw.start());

  const std::string gsm = "Plain GSM {text} with [escapes] and 100%";
  const std::string turkish =
      "G\xC3\xBCnayd\xC4\xB1n, \xC5\x9F"
      "imdi \xC3\xA7"
      "al\xC4\xB1\xC5\x9F\xC4\xB1yor";
  const std::string ucs2 =
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xBD\xA0\xE5\xA5\xBD";
  std::string long_text;
  for (int i = 0; long_text.size() < 400; ++i)
    long_text += "Segment text " + std::to_string(i) + ". ";
  long_text.pop_back();  // the web front end trims a trailing blank

  HttpClient http(gw.webPort());
  const std::string receipt_id =
      http.submit(urlEncode(recipient(1)), urlEncode(gsm), "&ReceiptRequested=Yes");
  ASSERT_FALSE(receipt_id.empty());
  ASSERT_FALSE(http.submit(urlEncode(recipient(2)), urlEncode(turkish)).empty());
  ASSERT_FALSE(http.submit(urlEncode(recipient(3)), urlEncode(ucs2)).empty());
  ASSERT_FALSE(http.submit(urlEncode(recipient(4)), urlEncode(long_text)).empty());

  ASSERT_TRUE(
      waitUntil([&] { return sim.lines("submit").size() >= 6 && gw.queued().empty(); }, bound(90)))
      << debugLog(gw);
  std::map<std::string, std::vector<std::string>> by_recipient;
  for (const std::string& line : sim.lines("submit")) {
    EXPECT_EQ(jsonField(line, "result"), "ok") << line;
    const std::string decoded = decodePdu(jsonField(line, "pdu"));
    EXPECT_EQ("+" + jsonText(decoded, "number"), jsonField(line, "to")) << decoded;
    by_recipient[jsonField(line, "to")].push_back(line);
  }
  ASSERT_EQ(by_recipient.size(), 4u);
  auto oracleText = [](const std::string& line) {
    return jsonText(decodePdu(jsonField(line, "pdu")), "text", true);
  };
  EXPECT_EQ(oracleText(by_recipient[recipient(1)].at(0)), gsm);
  EXPECT_EQ(oracleText(by_recipient[recipient(3)].at(0)), ucs2);
  // Neither peer reads the national tables: the header must announce the
  // Turkish table and the septets must be that table's for the text.
  const std::string& t = by_recipient[recipient(2)].at(0);
  const std::string udh = jsonField(t, "udh");
  EXPECT_TRUE(udh.find("2401") != std::string::npos || udh.find("2501") != std::string::npos) << t;
  const std::string decoded_turkish = decodePdu(jsonField(t, "pdu"));
  EXPECT_EQ(encoding::GSM7ToUTF8String(
                platform::format("%02X", static_cast<unsigned>(udh.size() / 2)) + udh,
                jsonText(decoded_turkish, "user_data_hex")),
            turkish)
      << decoded_turkish;
  const auto& parts = by_recipient[recipient(4)];
  ASSERT_EQ(parts.size(), 3u);
  std::string joined;
  for (const std::string& p : parts) {
    EXPECT_FALSE(jsonField(p, "udh").empty()) << p;
    joined += oracleText(p);
  }
  EXPECT_EQ(joined, long_text);

  // The status report comes back as a receipt naming the gateway's id.
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const std::string& f : filesUnder(gw.data() + "/SMS-IN", "*"))
          if (readText(f).find("ReceiptMessageId=" + receipt_id) != std::string::npos) return true;
        return false;
      },
      bound(30)))
      << debugLog(gw);
  gw.stop();
}

TEST_F(ModemOutsideTest, SerialModemAt2400WithPinSendsAndStoresInterleavedMessages) {
  ModemSimulator sim(dir_.path(), true,
                     {"--only-baud", "2400", "--pin", "1234", "--mo", "5", "--interleave",
                      "--mo-delay", "200", "--mo-interval", "150", "--send-delay", "0"});
  ASSERT_TRUE(sim.ready());
  ModemGateway gw(dir_.path() + "gw");
  gw.configure(links({{sim.linkName(), "PIN=1234\r\nReceiveTo=Direct\r\n"}}));
  ASSERT_TRUE(gw.start());
  HttpClient http(gw.webPort());
  for (int i = 0; i < 6; ++i)
    ASSERT_FALSE(http.submit(urlEncode(recipient(i)), "over+the+serial+port").empty());
  ASSERT_TRUE(
      waitUntil([&] { return sim.delivered().size() >= 6 && gw.queued().empty(); }, bound(90)))
      << debugLog(gw);
  EXPECT_NE(debugLog(gw).find("Initialised modem at 2400 bps"), std::string::npos);
  // Five received messages (one of two parts), all stored, none twice.
  ASSERT_TRUE(waitUntil([&] { return sim.lines("mo").size() >= 5; }, bound(30)));
  auto stored = [&] { return filesUnder(gw.data() + "/SMS-IN", "*.SMS").size(); };
  EXPECT_TRUE(waitUntil([&] { return stored() >= 5; }, bound(60))) << debugLog(gw);
  gw.stop();
  EXPECT_EQ(stored(), 5u);
  for (const auto& [to, n] : sim.delivered()) EXPECT_EQ(n, 1) << to;
}

TEST_F(ModemOutsideTest, SilenceAndHangUpAreRecoveredAndTheQueuedMessagesGoOut) {
  struct Case {
    const char* name;
    bool pty;
    std::vector<std::string> fault;
  } cases[] = {
      {"IP modem falls silent", false, {"--silent-after", "42"}},
      {"serial port hangs up", true, {"--drop-after", "42"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The faults fall soon after the initialisation (about 35 commands),
    // while messages are still queued.
    std::vector<std::string> args = c.fault;
    args.insert(args.end(), {"--faults-once", "--send-delay", "0"});
    ModemSimulator sim(dir_.path(), c.pty, args);
    ASSERT_TRUE(sim.ready());
    ModemGateway gw(dir_.path() + "gw-" + std::to_string(c.pty));
    gw.configure(links({{sim.linkName(), ""}}));
    ASSERT_TRUE(gw.start());
    HttpClient http(gw.webPort());
    for (int i = 0; i < 12; ++i)
      ASSERT_FALSE(http.submit(urlEncode(recipient(i)), "after+the+fault").empty());
    ASSERT_TRUE(
        waitUntil([&] { return sim.delivered().size() >= 12 && gw.queued().empty(); }, bound(120)))
        << debugLog(gw);
    const std::string log = debugLog(gw);
    const std::string reinit = "Re-initializing modem:  " + sim.linkName();
    const size_t second = log.find(reinit, log.find(reinit) + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(log.find(sim.linkName() + ":  Processing", second), std::string::npos);
    gw.stop();
    for (const auto& [to, n] : sim.delivered()) EXPECT_EQ(n, 1) << to;
  }
}

TEST_F(ModemOutsideTest, TwoModemsShareOneQueueThroughRefusalsAndAHangUp) {
  const int count = messageCount();
  // One modem refuses every fifth submission, the other hangs up once;
  // every message goes out once, over one modem or the other.
  ModemSimulator a(dir_.path(), false,
                   {"--error-rate", "0.2", "--cms-error", "500", "--send-delay", "0"});
  ModemSimulator b(dir_.path(), false,
                   {"--drop-after", "42", "--faults-once", "--send-delay", "0"});
  ASSERT_TRUE(a.ready() && b.ready());
  ModemGateway gw(dir_.path() + "gw");
  gw.configure(links({{a.linkName(), ""}, {b.linkName(), ""}}));
  ASSERT_TRUE(gw.start());
  HttpClient http(gw.webPort());
  std::set<std::string> submitted;
  for (int i = 0; i < count; ++i) {
    ASSERT_FALSE(http.submit(urlEncode(recipient(i)), "shared+queue+" + std::to_string(i)).empty());
    submitted.insert(recipient(i));
  }
  auto all = [&] {
    std::map<std::string, int> out = a.delivered();
    for (const auto& [to, n] : b.delivered()) out[to] += n;
    return out;
  };
  ASSERT_TRUE(waitUntil([&] { return all().size() >= submitted.size() && gw.queued().empty(); },
                        bound(180)))
      << debugLog(gw);
  gw.stop();
  for (const auto& [to, n] : all()) EXPECT_EQ(n, 1) << to;
  size_t refused = 0;
  for (const std::string& line : a.lines("submit"))
    if (jsonField(line, "result") == "cms:500") ++refused;
  EXPECT_GE(refused, 1u);
  EXPECT_GE(a.delivered().size(), 1u);
  EXPECT_GE(b.delivered().size(), 1u);
}

}  // namespace
}  // namespace vek::testing
