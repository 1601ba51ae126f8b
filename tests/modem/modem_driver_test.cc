// The driver against a scripted modem: the order of storing and
// acknowledging, what stays with the modem when storing fails, the text
// mode listing, and modems that send rubbish or hang up.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "fake_modem.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "modem/modem.h"
#include "modem/pdu_submit.h"
#include "queue/request_file.h"
#include "support/test_support.h"

namespace vek::modem {
namespace {

using testing::FakeModemState;
using testing::FakePort;
using testing::standardAnswer;

const std::string kDeliverPdu =
    "07916407000090F9040B916407000000F10000622190312030001FC8329BFD0699E5EF36A8FD2697DBAD79BAC"
    "D02B5CBF379F85C06C500";
const char kDeliverText[] = "Hello from modem-sim, message 1";

std::string statusReportPdu(uint8_t reference, uint8_t status) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "07916407000090F906%02X0B91%s6221903120300062219031203500%02X",
                reference, swappedDigits("+46700900123").c_str(), status);
  return buf;
}

class ModemDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
    state_ = std::make_shared<FakeModemState>();
  }
  void TearDown() override { hostlib::closeAllMessageIdStores(); }

  ModemOptions options() {
    ModemOptions o;
    o.link_name = "Test Modem";
    o.time_scale = 0.01;
    o.stop = &stop_;
    o.receive_sms = true;
    o.direct_receive = true;
    o.allow_phase2plus = true;
    return o;
  }

  // A driver on the scripted modem, initialised; inbound items go to
  // `handed_` (or fail while `refuse_` is set).
  std::unique_ptr<Modem> start(ModemOptions o) {
    auto m = std::make_unique<Modem>(o, [this](const InboundSms& s) {
      if (refuse_) return platform::Status::error("disk full");
      handed_.push_back(s);
      handed_at_.push_back(state_->written.size());
      return handInboundSms(s);
    });
    m->attachPort(std::make_unique<FakePort>(state_));
    auto st = m->initialise();
    EXPECT_TRUE(st.ok()) << st.message();
    state_->lines.clear();
    return m;
  }
  std::unique_ptr<Modem> start() { return start(options()); }

  size_t count(const std::string& line) const {
    return static_cast<size_t>(std::count(state_->lines.begin(), state_->lines.end(), line));
  }
  size_t filesIn(const std::string& dir, const std::string& suffix) const {
    size_t n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
          ++n;
      }
      ::closedir(d);
    }
    return n;
  }

  vek::testing::TempDir dir_;
  std::shared_ptr<FakeModemState> state_;
  std::atomic<bool> stop_{false};
  std::vector<InboundSms> handed_;
  std::vector<size_t> handed_at_;
  bool refuse_ = false;
};

TEST_F(ModemDriverTest, ReportInsideASendAnswerIsStoredThenAcknowledged) {
  auto m = start();
  ASSERT_TRUE(m->facts().phase2plus);
  state_->responder = [](const std::string& line) {
    if (line.rfind("AT", 0) != 0 && !line.empty())
      return "\r\n+CMGS: 9\r\n\r\n+CMT: ," + std::to_string(kDeliverPdu.size() / 2 - 8) + "\r\n" +
             kDeliverPdu + "\r\n\r\nOK\r\n";
    return standardAnswer(line);
  };
  OutboundSms msg;
  msg.recipient = "+46701234567";
  msg.data = "out";
  SendResult r = m->send(msg);
  ASSERT_TRUE(r.sent()) << r.error;
  EXPECT_EQ(r.message_reference, 9);
  ASSERT_EQ(handed_.size(), 1u);
  EXPECT_EQ(handed_[0].data, kDeliverText);
  EXPECT_EQ(handed_[0].sender, "+46700000001");
  EXPECT_EQ(handed_[0].recipient, "+46700000000");  // the modem's number from +CNUM
  EXPECT_EQ(handed_[0].received_smsc, "+46700000099");
  // Acknowledged once, and only after it was stored.
  EXPECT_EQ(count("AT+CNMA"), 1u);
  EXPECT_GT(state_->written.find("AT+CNMA\r"), handed_at_[0] - 1);
  EXPECT_EQ(filesIn(dir_.path() + "SMS-IN/", ".in"), 1u);
}

TEST_F(ModemDriverTest, WhatCannotBeStoredStaysWithTheModem) {
  auto m = start();
  refuse_ = true;
  // A direct report: not acknowledged, kept for a later round.
  state_->to_read = "\r\n+CMT: ,47\r\n" + kDeliverPdu + "\r\n";
  m->listen(0.5);
  EXPECT_EQ(count("AT+CNMA"), 0u);
  // A stored message: not deleted.
  state_->responder = [](const std::string& line) {
    if (line == "AT+CMGL=0") return "\r\n+CMGL: 3,0,,47\r\n" + kDeliverPdu + "\r\n\r\nOK\r\n";
    return standardAnswer(line);
  };
  PollResult p = m->pollStorage();
  EXPECT_EQ(p.failed, 1u);
  EXPECT_EQ(count("AT+CMGD=3"), 0u);

  refuse_ = false;
  p = m->pollStorage();
  EXPECT_EQ(p.handed_over, 1u);
  EXPECT_EQ(count("AT+CMGD=3"), 1u);
  // The kept report went too, and was acknowledged after.
  EXPECT_EQ(count("AT+CNMA"), 1u);
  EXPECT_EQ(handed_.size(), 2u);
}

TEST_F(ModemDriverTest, TextModeListingTakesTheSenderFromTheSecondQuotedField) {
  ModemOptions o = options();
  o.text_mode = true;
  o.direct_receive = false;
  auto m = start(o);
  ASSERT_TRUE(m->facts().text_mode);
  state_->responder = [](const std::string& line) -> std::string {
    if (line == "AT+CMGL=\"REC UNREAD\"")
      return "\r\n+CMGL: 2,\"REC UNREAD\",\"+46705556677\",,\"26/12/09,13:02:03+04\"\r\n"
             "Text with OK in it\r\n\r\nOK\r\n";
    return standardAnswer(line);
  };
  PollResult p = m->pollStorage();
  EXPECT_EQ(p.handed_over, 1u);
  ASSERT_EQ(handed_.size(), 1u);
  EXPECT_EQ(handed_[0].sender, "+46705556677");
  EXPECT_EQ(handed_[0].data, "Text with OK in it");
  EXPECT_EQ(count("AT+CMGD=2"), 1u);
}

TEST_F(ModemDriverTest, PduWhoseLengthLiesIsSetAsideAndRemoved) {
  auto m = start();
  std::string lying_udl = kDeliverPdu;
  lying_udl.replace(52, 2, "60");  // 96 septets announced, 28 octets there
  state_->responder = [&](const std::string& line) {
    if (line == "AT+CMGL=0")
      return "\r\n+CMGL: 1,0,,99\r\n" + kDeliverPdu + "\r\n+CMGL: 2,0,,47\r\n" + lying_udl +
             "\r\n+CMGL: 4,0,,47\r\n" + kDeliverPdu + "\r\n\r\nOK\r\n";
    return standardAnswer(line);
  };
  PollResult p = m->pollStorage();
  // Entries 1 (listing length) and 2 (user data length) are unreadable:
  // kept in the set-aside directory, then deleted; entry 4 is stored.
  EXPECT_EQ(handed_.size(), 1u);
  EXPECT_EQ(p.handed_over, 3u);
  for (const char* del : {"AT+CMGD=1", "AT+CMGD=2", "AT+CMGD=4"}) EXPECT_EQ(count(del), 1u) << del;
  size_t set_aside = 0;
  // The set-aside directory: the inbound directory's dated sub-directory.
  if (DIR* d = ::opendir((dir_.path() + "SMS-IN/").c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n[0] != '.') set_aside += filesIn(dir_.path() + "SMS-IN/" + n + "/", ".PDU");
    }
    ::closedir(d);
  }
  EXPECT_EQ(set_aside, 2u);
}

TEST_F(ModemDriverTest, StatusReportsBecomeReceiptsOrAreSuppressed) {
  auto m = start();
  // Recorded at sending: reference 7 from the fake's +CMGS answer.
  OutboundSms msg;
  msg.recipient = "+46700900123";
  msg.data = "x";
  msg.flags = queue::kFlagReceiptRequested;
  msg.queue_file_name = "00000042.REQ";
  msg.account = "bob";
  msg.sender = "+4670111";
  ASSERT_TRUE(m->send(msg).sent());
  state_->to_read = "\r\n+CDS: 25\r\n" + statusReportPdu(7, 0x21) + "\r\n" +  // temporary
                    "\r\n+CDS: 25\r\n" + statusReportPdu(7, 0x00) + "\r\n" +  // delivered
                    "\r\n+CDS: 25\r\n" + statusReportPdu(8, 0x46) + "\r\n";   // nobody's
  m->listen(0.5);
  EXPECT_EQ(count("AT+CNMA"), 3u);
  ASSERT_EQ(handed_.size(), 2u);
  EXPECT_EQ(handed_[0].receipt_message_id, "00000042");
  EXPECT_EQ(handed_[0].route_to_local_user, "bob");
  EXPECT_FALSE(handed_[0].resolve_receipt_id);
  EXPECT_EQ(handed_[1].receipt_message_id, "08-00900123");
  EXPECT_TRUE(handed_[1].resolve_receipt_id);
  EXPECT_EQ(handed_[1].data.rfind("id:unknown ", 0), 0u);
  EXPECT_EQ(filesIn(dir_.path() + "SMS-IN/", ".rec"), 1u);
  EXPECT_EQ(filesIn(dir_.path() + "SMS-IN/", ".rct"), 1u);
}

TEST_F(ModemDriverTest, RubbishFromTheModemIsBoundedAndTheNextCommandWorks) {
  auto m = start();
  struct Case {
    const char* name;
    std::string answer;
  };
  const Case cases[] = {
      {"junk bytes", std::string("\x01\xFF\x7F garbage \x1B[0m", 17) + "\r\nOK\r\n"},
      {"endless lines",
       [] {
         std::string s;
         for (int i = 0; i < 20000; ++i) s += "line without end of answer\r\n";
         return s;
       }()},
      {"a megabyte without a line end", std::string(1 << 20, 'Z')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state_->chunk = 4096;
    state_->responder = [&](const std::string& line) {
      return line == "AT+CSQ" ? c.answer : standardAnswer(line);
    };
    Response r = m->exchange("AT+CSQ", 1);
    EXPECT_LE(r.text.size(), kMaxResponse);
    state_->to_read.clear();
    state_->responder = nullptr;
    EXPECT_TRUE(m->exchange("AT", 1).ok());
  }
}

TEST_F(ModemDriverTest, HangUpInTheMiddleOfAnAnswerIsAModemError) {
  auto m = start();
  state_->responder = [&](const std::string& line) {
    if (line.rfind("AT+CMGS=", 0) == 0) return std::string("\r\n> ");
    if (line.rfind("AT", 0) != 0 && !line.empty()) {
      state_->hang_up_when_drained = true;
      return std::string("\r\n+CMG");
    }
    return standardAnswer(line);
  };
  OutboundSms msg;
  msg.recipient = "+4670";
  msg.data = "x";
  SendResult r = m->send(msg);
  EXPECT_FALSE(r.sent());
  EXPECT_TRUE(r.modem_error);
  EXPECT_EQ(r.error, "ERROR - Modem Response (2):  +CMG");
  EXPECT_FALSE(m->isOpen());
  EXPECT_FALSE(m->recoverAfterError());
}

TEST_F(ModemDriverTest, RecipientWithLettersFailsForGood) {
  auto m = start();
  OutboundSms msg;
  msg.recipient = "+4670CALLME";
  msg.data = "x";
  SendResult r = m->send(msg);
  EXPECT_EQ(r.outcome, SendResult::Outcome::kPermanent);
  EXPECT_FALSE(r.modem_error);
  EXPECT_EQ(count("AT+CMGS=9"), 0u);
}

TEST(InboundFileTest, ReceiptAndMessageFilesLoadBack) {
  InboundSms m;
  m.link_name = "COM3:";
  m.sender = "+46700900123";
  m.recipient = "+4670111";
  m.data = "id:00000042 sub:001 dlvrd:001";
  m.flags = queue::kFlagIsReceipt | queue::kFlagReceiptDelivered;
  m.receipt_message_id = "00000042";
  m.route_to_local_user = "bob";
  m.received_smsc = "+46700000099";
  queue::SMSMessage loaded;
  queue::parseSMSMessage(formatInboundSms(m), &loaded);
  EXPECT_TRUE(loaded.Inbound);
  EXPECT_EQ(loaded.ModemName, "COM3:");
  EXPECT_EQ(loaded.Sender, m.sender);
  EXPECT_EQ(loaded.PhoneNumber, m.recipient);
  EXPECT_EQ(loaded.Data, m.data);
  EXPECT_EQ(loaded.MessageFlags, m.flags);
  EXPECT_EQ(loaded.ReceiptMessageId, "00000042");
  EXPECT_EQ(loaded.RouteToLocalUser, "bob");
  EXPECT_EQ(loaded.ReceivedSMSC, m.received_smsc);

  InboundSms b;
  b.sender = "+4670";
  b.data = "00E9";
  b.binary = true;
  b.dcs = 0x08;
  b.udh = "050003010201";
  const std::string text = formatInboundSms(b);
  EXPECT_NE(text.find("\r\ndcs=8\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nBinary=1\r\n"), std::string::npos) << text;
  queue::parseSMSMessage(text, &loaded);
  EXPECT_TRUE(loaded.Binary);
  EXPECT_EQ(loaded.UDH, b.udh);
  EXPECT_EQ(loaded.dcs, 0x08);
}

}  // namespace
}  // namespace vek::modem
