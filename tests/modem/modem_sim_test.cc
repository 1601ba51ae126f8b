// The driver against the modem simulator (modem-sim.js): as an IP modem
// over TCP and as a serial port over a pseudo-terminal. Every wait of the
// dialogue runs at a twentieth of its real length.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "encoding/gsm_alphabet.h"
#include "encoding/long_message.h"
#include "encoding/septet_packing.h"
#include "encoding/shift_tables.h"
#include "encoding/utf8.h"
#include "hostlib/host.h"
#include "modem_sim.h"
#include "platform/strings.h"
#include "queue/request_file.h"
#include "support/test_support.h"

namespace vek::modem {
namespace {

using namespace std::chrono_literals;
using testing::decodeWithOracle;
using testing::fastOptions;
using testing::jsonRaw;
using testing::jsonString;
using testing::ModemSim;

class ModemSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }

  // The inbound files written so far, by extension ("in", "rec", "rct").
  std::vector<queue::SMSMessage> inbound(const std::string& extension) {
    std::vector<queue::SMSMessage> out;
    const std::string in_dir = dir_.path() + "SMS-IN/";
    DIR* d = ::opendir(in_dir.c_str());
    if (!d) return out;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > extension.size() + 1 &&
          n.substr(n.size() - extension.size() - 1) == "." + extension)
        names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) {
      queue::SMSMessage m;
      queue::parseSMSMessage(vek::testing::readText(in_dir + n), &m);
      out.push_back(std::move(m));
    }
    return out;
  }

  vek::testing::TempDir dir_;
};

void openAndInitialise(Modem& m) {
  auto s = m.open();
  ASSERT_TRUE(s.ok()) << s.message();
  s = m.initialise();
  ASSERT_TRUE(s.ok()) << s.message();
}

OutboundSms textMessage(const std::string& to, const std::string& text) {
  OutboundSms m;
  m.recipient = to;
  m.data = text;
  return m;
}

TEST_F(ModemSimTest, SerialModemThatAnswersOnlyAt2400IsFoundAndSends) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), true, {"--only-baud", "2400"});
  ASSERT_TRUE(sim.ready());
  Modem m(fastOptions(sim.linkName()));
  openAndInitialise(m);
  EXPECT_EQ(m.facts().speed, 2400u);
  EXPECT_TRUE(m.send(textMessage("+46701234567", "Over the serial port")).sent());
  m.close();
  auto lines = sim.logLines("submit");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(jsonString(lines[0], "text"), "Over the serial port");
}

TEST_F(ModemSimTest, IpModemBehindLoginPromptsAndPin) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false,
               {"--login-user", "gw", "--login-password", "s3cret", "--banner",
                "Welcome to the adapter", "--pin", "4321"});
  ASSERT_TRUE(sim.ready());
  ModemOptions o = fastOptions(sim.linkName());
  o.username = "gw";
  o.password = "s3cret";
  o.pin = "4321";
  Modem m(o);
  openAndInitialise(m);
  EXPECT_TRUE(m.send(textMessage("0701234567", "After login and PIN")).sent());
  m.close();
  const std::string summary = sim.stop();
  EXPECT_EQ(jsonRaw(summary, "logins_ok"), "1");
  EXPECT_EQ(jsonRaw(summary, "messages_sent"), "1");
}

TEST_F(ModemSimTest, RefusedPinIsNotOfferedAgain) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--pin", "1111"});
  ASSERT_TRUE(sim.ready());
  ModemOptions o = fastOptions(sim.linkName());
  o.link_name = sim.linkName();
  o.pin = "2222";
  for (int session = 0; session < 3; ++session) {
    Modem m(o);
    ASSERT_TRUE(m.open().ok());
    EXPECT_FALSE(m.initialise().ok());
  }
  const std::string summary = sim.stop();
  // One wrong PIN only: the SIM keeps two tries and is not locked.
  EXPECT_NE(jsonRaw(summary, "command_counts").find("\"+CPIN=\":1"), std::string::npos) << summary;
}

struct Sent {
  std::string to;
  std::string text;
};

// What the simulator logged and pdu.js decodes must both be the message.
void expectDecodedAs(const std::string& log_line, const Sent& want) {
  EXPECT_EQ(jsonString(log_line, "to"), want.to);
  EXPECT_EQ(jsonString(log_line, "result"), "ok") << log_line;
  const std::string decoded = decodeWithOracle(jsonString(log_line, "pdu"));
  std::string number = jsonString(jsonRaw(decoded, "address"), "number");
  if (number.find('+') == std::string::npos && want.to[0] == '+') number.insert(0, "+");
  EXPECT_EQ(number, want.to) << decoded;
}

TEST_F(ModemSimTest, PdusDecodeToTheSameRecipientAndText) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--send-delay", "0"});
  ASSERT_TRUE(sim.ready());
  Modem m(fastOptions(sim.linkName()));
  openAndInitialise(m);

  // GSM 7-bit text, with extension characters.
  const std::string gsm = "Plain GSM text {with} [escapes] and 10\xE2\x82\xAC";
  ASSERT_TRUE(m.send(textMessage("+46701112222", gsm)).sent());

  // Turkish: single-shift table announced in the header, packed septets.
  const std::string turkish =
      "\xC4\x9Fü\xC5\x9F\xC4\xB1\xC3\xB6\xC3\xA7 \xC4\x9E\xC3\x9C\xC5\x9E\xC4\xB0 Turkish";
  std::string turkish_septets, turkish_udh = "03250101";
  {
    ASSERT_EQ(encoding::UTF8ToShiftTableString(1, turkish, &turkish_septets),
              encoding::kLockingShiftUsed);
    OutboundSms t;
    t.recipient = "+905321234567";
    t.udh = turkish_udh;
    t.data = encoding::PackGSMSeptetsToHex(turkish_septets, t.udh.size() / 2);
    t.binary = true;
    ASSERT_TRUE(m.send(t).sent());
  }

  // UCS-2.
  const std::string cyrillic =
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xBD\xA0\xE5\xA5\xBD";
  {
    OutboundSms u;
    u.recipient = "0701234567";
    u.data = encoding::UTF8ToUCS2Hex(cyrillic);
    u.dcs = 0x08;
    u.binary = true;
    ASSERT_TRUE(m.send(u).sent());
  }

  // A 3-part long message with concatenation headers.
  std::string long_text;
  for (int i = 0; long_text.size() < 400; ++i)
    long_text += "Segment text " + std::to_string(i) + ". ";
  auto split = encoding::splitText(encoding::encodeSMSText(long_text), 0x42, {});
  ASSERT_TRUE(split.ok());
  ASSERT_EQ(split->segments.size(), 3u);
  for (const auto& seg : split->segments) {
    OutboundSms s;
    s.recipient = "+46709998877";
    s.udh = seg.udh;
    s.data = seg.data;
    s.binary = true;
    ASSERT_TRUE(m.send(s).sent());
  }
  m.close();

  // The simulator writes its log line after its answer.
  ASSERT_TRUE(vek::testing::waitUntil([&] { return sim.logLines("submit").size() >= 6; },
                                      std::chrono::seconds(5)));
  auto lines = sim.logLines("submit");
  ASSERT_EQ(lines.size(), 6u);
  expectDecodedAs(lines[0], {"+46701112222", gsm});
  EXPECT_EQ(jsonString(lines[0], "text"), gsm);
  EXPECT_EQ(jsonString(decodeWithOracle(jsonString(lines[0], "pdu")), "text", true), gsm);

  // Neither peer knows the national tables: both read the septets with the
  // default alphabet. Those septets must be the Turkish table's for the
  // text, announced by the header.
  expectDecodedAs(lines[1], {"+905321234567", turkish});
  EXPECT_EQ(jsonString(lines[1], "udh"), turkish_udh.substr(2));
  EXPECT_EQ(jsonString(lines[1], "text"), encoding::GSMToUTF8String(turkish_septets)) << lines[1];
  EXPECT_EQ(encoding::nationalSeptetsToUTF8(
                turkish_septets, encoding::shiftLanguagesOf(std::string("\x03\x25\x01\x01", 4))),
            turkish);

  expectDecodedAs(lines[2], {"0701234567", cyrillic});
  EXPECT_EQ(jsonString(lines[2], "text"), cyrillic);
  EXPECT_EQ(jsonString(decodeWithOracle(jsonString(lines[2], "pdu")), "text", true), cyrillic);

  std::string joined, oracle_joined;
  for (size_t i = 3; i < 6; ++i) {
    expectDecodedAs(lines[i], {"+46709998877", ""});
    EXPECT_EQ(jsonRaw(lines[i], "concat"),
              platform::format("{\"ref\":66,\"total\":3,\"seq\":%zu,\"bits\":8}", i - 2))
        << lines[i];
    joined += jsonString(lines[i], "text");
    oracle_joined += jsonString(decodeWithOracle(jsonString(lines[i], "pdu")), "text", true);
  }
  EXPECT_EQ(joined, long_text);
  EXPECT_EQ(oracle_joined, long_text);
}

ModemOptions receivingOptions(const std::string& link_name) {
  ModemOptions o = fastOptions(link_name);
  o.receive_sms = true;
  o.direct_receive = true;
  o.allow_phase2plus = true;
  return o;
}

TEST_F(ModemSimTest, StatusReportBecomesAReceiptForTheRightMessage) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--status-reports", "--sr-delay", "50", "--mr-start", "17"});
  ASSERT_TRUE(sim.ready());
  Modem m(receivingOptions(sim.linkName()));
  openAndInitialise(m);
  EXPECT_TRUE(m.facts().phase2plus);
  OutboundSms plain = textMessage("+46701230000", "No receipt for this one");
  ASSERT_TRUE(m.send(plain).sent());
  OutboundSms wanted = textMessage("+46700900123", "Receipt please");
  wanted.flags = queue::kFlagReceiptRequested;
  wanted.queue_file_name = "0000ABCD.REQ";
  wanted.account = "alice";
  wanted.sender = "+46709999999";
  SendResult r = m.send(wanted);
  ASSERT_TRUE(r.sent()) << r.error;
  EXPECT_EQ(r.message_id, "12-00900123");  // the simulator's reference 18
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] {
        m.listen(0.5);
        return !inbound("rec").empty();
      },
      10s));
  m.close();
  auto receipts = inbound("rec");
  ASSERT_EQ(receipts.size(), 1u);
  const queue::SMSMessage& rec = receipts[0];
  EXPECT_EQ(rec.ReceiptMessageId, "0000ABCD");
  EXPECT_EQ(rec.RouteToLocalUser, "alice");
  EXPECT_EQ(rec.Sender, "+46700900123");
  EXPECT_EQ(rec.PhoneNumber, "+46709999999");
  EXPECT_EQ(rec.ModemName, sim.linkName());
  EXPECT_TRUE(rec.MessageFlags & queue::kFlagReceiptDelivered);
  EXPECT_EQ(rec.Data.rfind("id:0000ABCD sub:001 dlvrd:001 submit date:", 0), 0u) << rec.Data;
  EXPECT_NE(rec.Data.find("stat:DELIVRD err:000"), std::string::npos) << rec.Data;
  EXPECT_TRUE(inbound("rct").empty());
  const std::string summary = sim.stop();
  EXPECT_EQ(jsonRaw(summary, "status_reports_acked"), "1") << summary;
}

TEST_F(ModemSimTest, InterleavedIncomingMessagesAreAllStoredNoneLost) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false,
               {"--mo", "5", "--interleave", "--mo-delay", "50", "--mo-interval", "40"});
  ASSERT_TRUE(sim.ready());
  Modem m(receivingOptions(sim.linkName()));
  openAndInitialise(m);
  // Sending while the messages arrive: the simulator writes each +CMT
  // inside the answer of the command that follows, CMGS answers included.
  for (int i = 0; i < 12; ++i)
    ASSERT_TRUE(m.send(textMessage("+4670100000" + std::to_string(i % 10), "out")).sent());
  ASSERT_TRUE(vek::testing::waitUntil(
      [&] {
        m.listen(0.3);
        return inbound("in").size() >= 6;
      },
      15s));
  m.close();
  const std::string summary = sim.stop();
  EXPECT_EQ(jsonRaw(summary, "mo_pdus"), "6") << summary;
  EXPECT_EQ(jsonRaw(summary, "mo_delivered"), "6") << summary;
  EXPECT_NE(jsonRaw(summary, "urc_interleaved"), "0") << summary;
  auto in = inbound("in");
  ASSERT_EQ(in.size(), 6u);
  std::multiset<std::string> mo_texts;
  for (const auto& line : sim.logLines("mo")) mo_texts.insert(jsonString(line, "text"));
  std::multiset<std::string> got;
  size_t segments = 0;
  for (const auto& f : in) {
    EXPECT_FALSE(f.Sender.empty());
    EXPECT_EQ(f.ModemName, sim.linkName());
    if (!f.UDH.empty()) ++segments;
    got.insert(f.Binary ? encoding::UCS2HexToUTF8(f.Data) : f.Data);
  }
  EXPECT_EQ(segments, 2u);
  // Each whole message the simulator sent is among what was stored.
  for (const auto& t : mo_texts) {
    if (t.empty()) continue;
    bool found = got.count(t) > 0;
    if (!found) {  // the 2-part message: its two halves
      for (const auto& a : got)
        for (const auto& b : got)
          if (a + b == t) found = true;
    }
    EXPECT_TRUE(found) << t;
  }
}

TEST_F(ModemSimTest, CmsErrorIsRetryableAndEachMessageGoesOutOnce) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--error-rate", "0.2", "--cms-error", "500"});
  ASSERT_TRUE(sim.ready());
  Modem m(fastOptions(sim.linkName()));
  openAndInitialise(m);
  int failures = 0;
  for (int i = 0; i < 10; ++i) {
    const OutboundSms msg =
        textMessage("+467020000" + std::to_string(10 + i), "n" + std::to_string(i));
    SendResult r = m.send(msg);
    for (int attempt = 0; !r.sent() && attempt < 3; ++attempt) {
      ++failures;
      EXPECT_EQ(r.outcome, SendResult::Outcome::kFailed);
      EXPECT_EQ(r.cms_error, 500);
      EXPECT_FALSE(r.modem_error);
      EXPECT_EQ(r.error, "ERROR - Modem Response (2):  +CMS ERROR: 500");
      r = m.send(msg);
    }
    EXPECT_TRUE(r.sent());
  }
  m.close();
  EXPECT_GE(failures, 2);
  std::map<std::string, int> delivered;
  for (const auto& line : sim.logLines("submit"))
    if (jsonString(line, "result") == "ok") ++delivered[jsonString(line, "to")];
  EXPECT_EQ(delivered.size(), 10u);
  for (const auto& [to, n] : delivered) EXPECT_EQ(n, 1) << to;
}

// Sends until the modem stops answering (or hangs up), then runs the
// session's error path: recovery, a new session, the message again.
void sendThroughAFault(Modem& m, const std::string& what) {
  int sent = 0;
  SendResult r;
  for (int i = 0; i < 40; ++i) {
    r = m.send(textMessage("+46703000000", what + " " + std::to_string(i)));
    if (!r.sent()) break;
    ++sent;
  }
  ASSERT_FALSE(r.sent()) << "the fault never came";
  EXPECT_TRUE(r.modem_error) << r.error;
  const bool reset = m.recoverAfterError();
  m.close(reset);
  // A hung-up serial port comes back under its name a moment later; the
  // session retries the way it does after any failed start.
  ASSERT_TRUE(vek::testing::waitUntil([&] { return m.open().ok() && m.initialise().ok(); }, 10s));
  EXPECT_TRUE(m.send(textMessage("+46703000000", what + " after recovery")).sent());
  m.close();
}

TEST_F(ModemSimTest, SilentModemRecoversThroughTheErrorPath) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--silent-after", "45", "--faults-once"});
  ASSERT_TRUE(sim.ready());
  ModemOptions o = fastOptions(sim.linkName());
  o.time_scale = 0.02;  // the silence is waited out many times
  Modem m(o);
  openAndInitialise(m);
  sendThroughAFault(m, "silent");
  const std::string summary = sim.stop();
  EXPECT_EQ(jsonRaw(summary, "silent_events"), "1");
}

TEST_F(ModemSimTest, DroppedConnectionAndHungUpPortRecover) {
  VEK_REQUIRE_ORACLES();
  for (bool pty : {false, true}) {
    SCOPED_TRACE(pty ? "serial" : "tcp");
    vek::testing::TempDir dir;
    ModemSim sim(dir.path(), pty, {"--drop-after", "45", "--faults-once"});
    ASSERT_TRUE(sim.ready());
    Modem m(fastOptions(sim.linkName()));
    openAndInitialise(m);
    sendThroughAFault(m, "drop");
    const std::string summary = sim.stop();
    EXPECT_EQ(jsonRaw(summary, "drops"), "1");
  }
}

TEST_F(ModemSimTest, HardResetThenANewSessionEntersThePinAgain) {
  VEK_REQUIRE_ORACLES();
  ModemSim sim(dir_.path(), false, {"--pin", "1234", "--reset-seconds", "1"});
  ASSERT_TRUE(sim.ready());
  ModemOptions o = fastOptions(sim.linkName());
  o.pin = "1234";
  Modem m(o);
  openAndInitialise(m);
  ASSERT_TRUE(m.hardReset());
  m.close(true);
  // The modem is silent for a second after the reset; the session waits.
  ASSERT_TRUE(vek::testing::waitUntil([&] { return m.open().ok() && m.initialise().ok(); }, 20s));
  EXPECT_TRUE(m.send(textMessage("+46704000000", "after the reset")).sent());
  m.close();
  const std::string summary = sim.stop();
  EXPECT_EQ(jsonRaw(summary, "resets"), "1");
  EXPECT_NE(jsonRaw(summary, "command_counts").find("\"+CPIN=\":2"), std::string::npos) << summary;
}

}  // namespace
}  // namespace vek::modem
