// The modem session as the link sender drives it, against a scripted modem:
// the result codes the retry policy acts on, the service-centre recovery
// after CMS ERROR 330, "AT+CMMS=2" once per pass, the between-pass test, a
// modem that stops answering; and the modem allocator.
#include "links/modem_link.h"

#include <gtest/gtest.h>

#include <thread>

#include "link_env.h"
#include "links/modem_allocator.h"
#include "modem/port.h"
#include "queue/request_file.h"

namespace vek::links {
namespace {

using namespace std::chrono_literals;

constexpr const char* kModemName = "IPModem - modem.test:7000";

// What the scripted modem saw and how it answers. Every line (ended by CR,
// or a PDU ended by Ctrl-Z) goes to `answer`; an empty answer is silence.
struct Script {
  std::vector<std::string> lines;
  std::function<std::string(const std::string&)> answer;
  bool silent = false;
};

std::string defaultAnswer(const std::string& line) {
  if (line.rfind("AT+CMGS=", 0) == 0) return "\r\n> ";
  if (line.rfind("AT", 0) != 0) return "\r\n+CMGS: 7\r\n\r\nOK\r\n";  // a PDU
  if (line == "ATI0") return "\r\nScripted modem\r\n\r\nOK\r\n";
  return "\r\nOK\r\n";
}

class ScriptPort final : public modem::Port {
 public:
  explicit ScriptPort(std::shared_ptr<Script> s) : s_(std::move(s)) {}
  Kind kind() const override { return Kind::kTcp; }
  const std::string& name() const override { return name_; }
  platform::IoStatus write(std::string_view data, int) override {
    for (char c : data) {
      if (c == '\r' || c == '\x1A') {
        if (!line_.empty()) {
          s_->lines.push_back(line_);
          if (!s_->silent) out_ += s_->answer ? s_->answer(line_) : defaultAnswer(line_);
        }
        line_.clear();
      } else if (c == '\x1B') {
        line_.clear();
      } else {
        line_.push_back(c);
      }
    }
    return platform::IoStatus::kOk;
  }
  platform::IoStatus read(char* buf, size_t len, int timeout_ms, size_t* got) override {
    *got = 0;
    if (out_.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 2)));
      return platform::IoStatus::kTimeout;
    }
    *got = std::min(len, out_.size());
    std::copy_n(out_.begin(), *got, buf);
    out_.erase(0, *got);
    return platform::IoStatus::kOk;
  }
  void discardInput() override { out_.clear(); }

 private:
  std::shared_ptr<Script> s_;
  std::string line_, out_, name_ = "script";
};

class ModemLinkTest : public LinkEnv {
 protected:
  void SetUp() override {
    LinkEnv::SetUp();
    ::setenv("VEKSMS_MODEM_TIME_SCALE", "0.01", 1);
    script_ = std::make_shared<Script>();
  }
  void TearDown() override {
    link_.reset();
    ::unsetenv("VEKSMS_MODEM_TIME_SCALE");
    LinkEnv::TearDown();
  }
  // The link with `section` keys, opened on the scripted modem.
  void open(const std::string& section = "") {
    config(std::string("[IPModem - modem.test:7000]\r\n") + section);
    link_ = std::make_unique<ModemLink>(kModemName);
    link_->loadSettings();
    link_->setPortFactory([s = script_] { return std::make_unique<ScriptPort>(s); });
    std::string failure;
    ASSERT_TRUE(link_->open(LinkRole::kTransceiver, &failure)) << failure;
    script_->lines.clear();
  }
  static SubmitRequest message(const std::string& recipient) {
    SubmitRequest m;
    m.recipient = recipient;
    m.data = "hello";
    m.request_file = "MSG1";
    return m;
  }
  size_t count(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& l : script_->lines)
      if (l.rfind(prefix, 0) == 0) ++n;
    return n;
  }

  std::shared_ptr<Script> script_;
  std::unique_ptr<ModemLink> link_;
};

TEST_F(ModemLinkTest, ResultCodesSayWhatTheRetryPolicyMustDo) {
  struct Case {
    const char* name;
    const char* recipient;
    std::string pdu_answer;  // the modem's answer to the PDU ("" silence)
    uint32_t code;
    bool link_up;
  } cases[] = {
      {"sent", "+46701234567", "\r\n+CMGS: 7\r\n\r\nOK\r\n", 0, true},
      {"refused with a number", "+46701234567", "\r\n+CMS ERROR: 500\r\n", 500, true},
      {"letters in the recipient never go", "+4670ABC", "", kModemUnsendable, true},
      {"no answer ends the session", "+46701234567", "", kResultConnectionLost, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = std::make_shared<Script>();
    open();
    script_->answer = [&](const std::string& line) {
      if (line.rfind("AT", 0) != 0) return c.pdu_answer;
      return defaultAnswer(line);
    };
    std::string id;
    EXPECT_EQ(link_->submit(message(c.recipient), &id), c.code);
    EXPECT_EQ(link_->linkUp(), c.link_up);
    if (c.code == 0) {
      EXPECT_EQ(id, "07-01234567");
    } else {
      EXPECT_FALSE(link_->errorText(c.code).empty());
    }
    link_->close(c.link_up);
  }
  EXPECT_EQ(queue::decideFailure(foundation::LinkKind::kIpModem, kModemUnsendable, 0, false, {}),
            queue::FailureOutcome::kUnsendable);
}

TEST_F(ModemLinkTest, NoServiceCentreIsLearnedFromTheModemOnce) {
  for (const bool modem_knows : {true, false}) {
    SCOPED_TRACE(modem_knows);
    script_ = std::make_shared<Script>();
    open();
    script_->answer = [&](const std::string& line) {
      if (line == "AT+CSCA?")
        return std::string(modem_knows ? "\r\n+CSCA: \"+46708000000\",145\r\n\r\nOK\r\n"
                                       : "\r\n+CSCA: \"\",129\r\n\r\nOK\r\n");
      // A PDU without a service centre (it starts with the octet 00) is refused.
      if (line.rfind("AT", 0) != 0 && line.rfind("00", 0) == 0)
        return std::string("\r\n+CMS ERROR: 330\r\n");
      return defaultAnswer(line);
    };
    std::string id;
    EXPECT_EQ(link_->submit(message("+46701234567"), &id), modem_knows ? 0u : 330u);
    EXPECT_EQ(count("AT+CSCA?"), 1u);
    if (modem_knows) {
      // The next message carries the number at once.
      script_->lines.clear();
      EXPECT_EQ(link_->submit(message("+46701234568"), &id), 0u);
      EXPECT_EQ(count("AT+CSCA?"), 0u);
      EXPECT_EQ(count("AT+CMGS="), 1u);
    } else {
      EXPECT_NE(link_->errorText(330).find("330"), std::string::npos);
    }
    link_->close(true);
  }
}

TEST_F(ModemLinkTest, PassesSendCmmsOnceAndTestTheModemAfterwards) {
  open("ReceiveSMS=No\r\n");
  std::string id;
  link_->beforePass();
  ASSERT_EQ(link_->submit(message("+46701234567"), &id), 0u);
  ASSERT_EQ(link_->submit(message("+46701234568"), &id), 0u);
  EXPECT_EQ(count("AT+CMMS=2"), 1u);
  EXPECT_TRUE(link_->afterPass(2));
  EXPECT_GE(count("ATE0V1"), 1u);
  link_->beforePass();
  ASSERT_EQ(link_->submit(message("+46701234569"), &id), 0u);
  EXPECT_EQ(count("AT+CMMS=2"), 2u);

  // A modem that stops answering fails the test and ends the session.
  script_->silent = true;
  EXPECT_FALSE(link_->afterPass(0));
  EXPECT_FALSE(link_->linkUp());
  link_->close(false);
}

TEST_F(ModemLinkTest, AllocatorHandsAModemToOneHolderAtATime) {
  auto& a = ModemAllocator::instance();
  const std::string modem = "COM7:";
  ASSERT_TRUE(a.allocate(modem, "sms", 10ms));
  EXPECT_TRUE(a.allocate("com7:", "sms", 10ms)) << "the holder again, any case";
  EXPECT_FALSE(a.allocate(modem, "mms", 20ms));
  a.request(modem);
  EXPECT_TRUE(a.requested(modem));
  a.release(modem, "mms");  // not the holder: no effect
  EXPECT_EQ(a.holder(modem), "sms");
  std::thread waiter([&] { EXPECT_TRUE(a.allocate(modem, "mms", 10s)); });
  a.release(modem, "sms");
  waiter.join();
  EXPECT_EQ(a.holder(modem), "mms");
  EXPECT_FALSE(a.requested(modem));
  a.release(modem, "mms");
  EXPECT_EQ(a.holder(modem), "");
}

}  // namespace
}  // namespace vek::links
