// The submission interface from outside: requests on a listener running in
// this process, request files read back from the data directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include "encoding/base64.h"
#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "http/server/event_loop.h"
#include "http/server/server_fixture.h"
#include "http/web/templates.h"
#include "http/web/web_auth.h"
#include "queue/request_file.h"
#include "queue/unique_id.h"

namespace vek::http {
namespace {

using namespace std::chrono_literals;
using testing::Client;
using testing::Response;
namespace fs = std::filesystem;

class SubmitServerTest : public testing::ServerTest {
 protected:
  void SetUp() override {
    program_ = dir_.file("program/");
    fs::create_directories(program_ + "HTML");
    ::setenv("VEKSMS_PROGRAM_DIR", program_.c_str(), 1);
    ServerTest::SetUp();
    queue::resetUniqueMessageIdsForTesting(dir_.file("private/UID.DAT"));
    hostlib::MMSCIniSetFilename(dir_.file("MMSC.INI"));
    resetWebAuthForTesting();
    clearTemplateCache();
  }
  void TearDown() override {
    ServerTest::TearDown();
    hostlib::closeAllMessageIdStores();
    resetWebAuthForTesting();
    clearTemplateCache();
    ::unsetenv("VEKSMS_PROGRAM_DIR");
  }

  std::optional<Response> get(const std::string& target, const std::string& headers = "") {
    Client c(port_);
    return c.exchange("GET " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "\r\n");
  }
  // Regular files below `sub` of the data directory, sorted.
  std::vector<std::string> files(const std::string& sub = "Q") {
    std::vector<std::string> out;
    if (!fs::exists(dir_.file(sub))) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir_.file(sub)))
      if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  queue::SMSMessage load(const std::string& path) {
    queue::SMSMessage m;
    EXPECT_TRUE(queue::LoadSMSMessageFile(path, &m));
    return m;
  }
  void addAccount(const hostlib::Account& a) {
    ASSERT_TRUE(hostlib::openAccountStore(dir_.file("private/USERS.DB")).ok());
    ASSERT_TRUE(hostlib::accountStore()->add(a).ok());
  }
  static std::string basic(const std::string& user, const std::string& password) {
    return "Authorization: Basic " + encoding::base64Encode(user + ":" + password) + "\r\n";
  }

  std::string program_;
};

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::string lastLine(const std::string& text) {
  size_t end = text.rfind("\r\n");
  size_t start = text.rfind("\r\n", end - 1);
  return text.substr(start + 2, end - start - 2);
}

TEST_F(SubmitServerTest, TwoRecipientsBecomeTwoRequestFiles) {
  startPlain();
  auto r = get("/?PhoneNumber=%2B44123,%2B44456&Text=hi");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 200 OK");
  EXPECT_EQ(count(r->body(), "MessageID="), 2);
  EXPECT_NE(r->body().find(", Recipient=+44456\r\n"), std::string::npos);
  auto queued = files();
  ASSERT_EQ(queued.size(), 2u);
  std::vector<std::string> recipients;
  for (const std::string& path : queued) {
    std::string text = vek::testing::readText(path);
    EXPECT_EQ(lastLine(text).rfind("PhoneNumber=", 0), 0u) << text;
    EXPECT_EQ(r->body().find("MessageID=" + fs::path(path).stem().string()) != std::string::npos,
              true);
    queue::SMSMessage m = load(path);
    EXPECT_EQ(m.Data, "hi");
    EXPECT_EQ(m.SubmittedBy, "127.0.0.1");
    EXPECT_FALSE(m.Binary);
    recipients.push_back(m.PhoneNumber);
  }
  std::sort(recipients.begin(), recipients.end());
  EXPECT_EQ(recipients, (std::vector<std::string>{"+44123", "+44456"}));
}

TEST_F(SubmitServerTest, LongAndNationalTextsAreQueuedAsEncodedSegments) {
  startPlain("ShiftTables=1\n");
  std::string cyrillic;
  for (int i = 0; i < 100; ++i) cyrillic += "%D0%96";
  struct Case {
    std::string text;
    size_t files;
    const char* udh_start;
    size_t first_data;  // hex digits in the first file's Data
  };
  const Case cases[] = {
      {std::string(200, 'a'), 2, "050003", 268},
      {cyrillic, 2, "050003", 67 * 4},
      {"%C5%9Feker %C4%9F%C3%BCzel", 1, "", 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_.file("Q"));
    auto r = get("/?PhoneNumber=%2B4477&Text=" + c.text);
    ASSERT_TRUE(r);
    auto queued = files();
    ASSERT_EQ(queued.size(), c.files) << c.text;
    std::set<std::string> references;
    for (const std::string& path : queued) {
      queue::SMSMessage m = load(path);
      EXPECT_TRUE(m.Binary);
      if (c.files > 1) {
        EXPECT_EQ(fs::path(path).filename().string().rfind("SAR-", 0), 0u);
        EXPECT_EQ(m.UDH.rfind(c.udh_start, 0), 0u) << m.UDH;
        references.insert(m.UDH.substr(6, 2));
      } else {
        EXPECT_TRUE(m.UDH.find("240101") != std::string::npos ||
                    m.UDH.find("250101") != std::string::npos)
            << m.UDH;
      }
    }
    if (c.files > 1) {
      EXPECT_EQ(references.size(), 1u);
      EXPECT_EQ(load(queued[0]).Data.size(), c.first_data);
    }
  }
}

// Each value keeps at most its limit: one character less than the size the
// interface names (the size counts the terminating NUL of its buffer).
TEST_F(SubmitServerTest, OverLongValuesKeepTheirLimit) {
  foundation::setExtraHttpArgs({"CustomerRef"});
  startPlain();
  struct Case {
    const char* parameter;
    size_t sent;
    std::string queue;  // where the file goes
    const char* key;    // "" : the value is checked in the answer
    size_t kept;
  };
  const Case cases[] = {
      {"Sender", 200, "Q", "Sender", 149},
      {"Validity", 80, "Q", "Validity", 49},
      {"ServiceType", 150, "Q", "ServiceType", 99},
      {"BillingInfo", 150, "Q", "BillingInfo", 99},
      {"AcctInfo", 150, "Q", "AcctInfo", 99},
      {"SMPPOption_x", 1100, "Q", "SMPPOptions", std::string("SMPPOption_x=").size() + 1023},
      {"CustomerRef", 8300, "Q", "CustomerRef", 8191},
      {"LocalUser", 150, "SMS-IN", "RouteToLocalUser", 99},
      {"ContinueURL", 1100, "Q", "", 1023},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameter);
    fs::remove_all(dir_.file(c.queue));
    auto r =
        get("/?PhoneNumber=1&Text=x&" + std::string(c.parameter) + "=" + std::string(c.sent, 'v'));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status_line(), "HTTP/1.1 200 OK") << r->body();
    if (*c.key == '\0') {
      EXPECT_NE(r->body().find("href=\"http://" + std::string(c.kept, 'v') + "\""),
                std::string::npos);
      EXPECT_EQ(r->body().find(std::string(c.kept + 1, 'v')), std::string::npos);
      continue;
    }
    auto queued = files(c.queue);
    ASSERT_EQ(queued.size(), 1u);
    const std::string text = vek::testing::readText(queued[0]);
    const std::string key = std::string("\r\n") + c.key + "=";
    const size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos) << text;
    const size_t start = at + key.size();
    EXPECT_EQ(text.find("\r\n", start) - start, c.kept);
  }
  foundation::setExtraHttpArgs({});
}

// An over-long text or data keeps its limit of 8191 characters, cut where a
// character (a UTF-8 sequence, a data octet) ends.
TEST_F(SubmitServerTest, OverLongContentIsCutAtACharacterBoundary) {
  startPlain();
  std::string cyrillic;
  for (int i = 0; i < 4096; ++i) cyrillic += "%D0%96";  // 8192 bytes
  struct Case {
    const char* what;
    std::string content;
    size_t files;
    bool ucs2;
    std::string unit;  // what every unit of the joined data is
    size_t units;
  };
  const Case cases[] = {
      // 8191 characters of 7-bit text: 54 segments of 153, not UCS-2.
      {"GSM text", "Text=" + std::string(8192, 'a'), 54, false, "a", 8191},
      {"Cyrillic text", "Text=" + cyrillic, 62, true, "0416", 4095},
      {"data", "Data=" + std::string(8192, 'B'), 31, false, "BB", 4095},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_.file("Q"));
    auto r = get("/?PhoneNumber=1&" + c.content);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status_line(), "HTTP/1.1 200 OK") << r->body();
    auto queued = files();
    ASSERT_EQ(queued.size(), c.files);
    std::string joined;
    for (size_t n = 1; n <= queued.size(); ++n) {
      // Segment files in part order.
      const std::string suffix = "-" + std::to_string(n) + ".req";
      auto it = std::find_if(queued.begin(), queued.end(),
                             [&](const std::string& p) { return p.ends_with(suffix); });
      ASSERT_NE(it, queued.end()) << n;
      queue::SMSMessage m = load(*it);
      EXPECT_EQ(m.dcs, c.ucs2 ? 0x08 : (c.unit == "BB" ? 0xF5 : 0x00));
      if (c.unit == "a") {
        joined += encoding::GSMToUTF8String(encoding::UnpackHexToGSMSeptets(m.Data, 6));
      } else {
        joined += m.Data;
      }
    }
    ASSERT_EQ(joined.size(), c.unit.size() * c.units);
    for (size_t i = 0; i < joined.size(); i += c.unit.size())
      ASSERT_EQ(joined.substr(i, c.unit.size()), c.unit) << i;
  }
}

TEST_F(SubmitServerTest, TheCharsetOfAPostBodyAppliesWithoutACharsetParameter) {
  startPlain();
  struct Case {
    const char* what;
    std::string content_type;
    std::string body;
    std::string want;
  };
  const Case cases[] = {
      {"Content-Type charset", "application/x-www-form-urlencoded; charset=ISO-8859-1",
       "PhoneNumber=1&Text=%E9t%E9", "\xC3\xA9t\xC3\xA9"},
      {"quoted", "application/x-www-form-urlencoded; charset=\"windows-1252\"",
       "PhoneNumber=1&Text=%80", "\xE2\x82\xAC"},
      {"the parameter wins", "application/x-www-form-urlencoded; charset=iso-8859-1",
       "PhoneNumber=1&charset=utf-8&Text=%C3%A9", "\xC3\xA9"},
      {"no charset: UTF-8", "application/x-www-form-urlencoded", "PhoneNumber=1&Text=%C3%A9",
       "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_.file("Q"));
    Client client(port_);
    auto r = client.exchange("POST / HTTP/1.1\r\nHost: t\r\nContent-Type: " + c.content_type +
                             "\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" +
                             c.body);
    ASSERT_TRUE(r);
    auto queued = files();
    ASSERT_EQ(queued.size(), 1u) << r->body();
    EXPECT_EQ(load(queued[0]).Data, c.want);
  }
}

TEST_F(SubmitServerTest, RefusedRequestsAnswerTheErrorPageAndWriteNothing) {
  startPlain();
  struct Case {
    const char* target;
    bool browser;
    const char* status;
    const char* text;
  };
  const Case cases[] = {
      {"/?PhoneNumber=1&Text=x&SMSCRoute=nosuch", false, "400 Bad Request",
       "Unknown smscRoute=nosuch"},
      {"/?PhoneNumber=1&Text=x&SMSCRoute=nosuch", true, "200 OK", "Unknown smscRoute=nosuch"},
      {"/?PhoneNumber=1&Text=x&Sender=a%0D%0ASMSCRoute=x", false, "400 Bad Request",
       "Invalid character in parameter Sender"},
      {"/?PhoneNumber=abc&Text=x", false, "400 Bad Request",
       "Invalid format for telephone number."},
      {"/?PhoneNumber=1&UDH=0G&Text=x", false, "400 Bad Request", "Invalid format for UDH"},
      {"/?PhoneNumber=1&Data=hello", false, "400 Bad Request", "Invalid format for Text/Data"},
      {"/?PhoneNumber=1&WAPURL=http://x/", false, "400 Bad Request",
       "Unsupported message content: WAPURL"},
      {"/?ReceiptMessageId=nope", false, "400 Bad Request",
       "ReceiptMessageId not found in our local database"},
      {"/?PhoneNumber=1&Text=<b>&SMSCRoute=%3Cscript%3E", false, "400 Bad Request",
       "Unknown smscRoute=&lt;script&gt;"},
  };
  for (const Case& c : cases) {
    auto r = get(c.target, c.browser ? "User-Agent: Mozilla/5.0\r\n" : "");
    ASSERT_TRUE(r) << c.target;
    EXPECT_EQ(r->status_line(), std::string("HTTP/1.1 ") + c.status) << c.target;
    EXPECT_NE(r->body().find(c.text), std::string::npos) << r->body();
  }
  EXPECT_TRUE(files().empty());
  EXPECT_TRUE(files("SMS-IN").empty());
}

TEST_F(SubmitServerTest, WebAuthRefusesWithTheRealmAndSlowsRepeatedFailures) {
  useFakeClock();
  startPlain("WebAuth=Yes\n");
  hostlib::Account alice;
  alice.name = "alice";
  alice.password = "Secret";
  addAccount(alice);
  const std::string target = "/?PhoneNumber=123&Text=hi";

  auto r = get(target);  // no user: no delay
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 401 Authorization Required");
  EXPECT_NE(r->text.find("WWW-Authenticate: Basic realm=\"Vek SMS/MMS Gateway\"\r\n"),
            std::string::npos);
  EXPECT_NE(r->text.find("Content-Length: "), std::string::npos);
  EXPECT_EQ(loginFailures().addressFailures("127.0.0.1"), 0u);

  vek::testing::writeText(dir_.file("MMSC.INI"), "[MMSC]\nHostName=mms.\"example\".org\n");
  hostlib::mmscIni().invalidate();
  // The n-th failure in a row is answered n seconds later, on one
  // kept-alive connection.
  Client c(port_);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(c.send("GET " + target + " HTTP/1.1\r\n" + basic("alice", "wrong") + "\r\n"));
    ASSERT_TRUE(vek::testing::waitUntil([] { return serverStats().parked == 1; }, 5s));
    advance(std::chrono::seconds(i) - 1ms);
    EXPECT_TRUE(c.quiet()) << i;
    advance(1ms);
    r = c.read();
    ASSERT_TRUE(r) << i;
    EXPECT_EQ(r->status_line(), "HTTP/1.1 401 Authorization Required");
    EXPECT_NE(r->text.find("Connection: Keep-Alive\r\n"), std::string::npos);
  }
  EXPECT_NE(r->text.find("realm=\"mms.example.org\""), std::string::npos);
  EXPECT_TRUE(files().empty());

  r = get(target, basic("ALICE", "secret"));  // password ignores case
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 200 OK");
  EXPECT_EQ(loginFailures().accountFailures("alice"), 0u);
  EXPECT_EQ(loginFailures().addressFailures("127.0.0.1"), 0u);
  r = get(target + "&User=alice&Password=Secret");
  EXPECT_EQ(r ? r->status_line() : "", "HTTP/1.1 200 OK");
}

TEST_F(SubmitServerTest, AccountsQueueInTheirOwnQueueWithTheirSenders) {
  startPlain("WebAuth=Yes\n");
  hostlib::Account alice;
  alice.name = "alice";
  alice.password = "pw";
  alice.senders = "Shop, Other";
  addAccount(alice);
  ASSERT_TRUE(initLocalSystemAccess().ok());
  const std::string key = dir_.file("private/LOCALSYS.KEY");
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const struct {
    std::string auth;
    std::string sender;
    std::string want_sender;
    std::string user;
  } cases[] = {
      {basic("alice", "pw"), "Evil", "Shop", "alice"},
      {basic("alice", "pw"), "other", "other", "alice"},
      {basic("localsystem", localSystemAccessCode()), "Any", "Any", "localsystem"},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_.file("Q"));
    auto r = get("/?PhoneNumber=123&Text=hi&Sender=" + c.sender, c.auth);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status_line(), "HTTP/1.1 200 OK") << c.user;
    auto queued = files();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(fs::path(queued[0]).parent_path().filename().string(), c.user);
    queue::SMSMessage m = load(queued[0]);
    EXPECT_EQ(m.Sender, c.want_sender);
    EXPECT_EQ(m.SubmitUser, c.user);
  }
  auto r = get("/?PhoneNumber=123&Text=hi", basic("localsystem", "guess"));
  EXPECT_EQ(r ? r->status_line() : "", "HTTP/1.1 401 Authorization Required");
}

TEST_F(SubmitServerTest, RoutesDelaysAndKeyOrder) {
  foundation::setExtraHttpArgs({"CustomerRef"});
  startPlain("Modem1=SMPP - smsc:2775\n", "[SMPP - smsc:2775]\nRouteName=fast\n");
  auto r =
      get("/?PhoneNumber=123&Text=a%0Db&SMSCRoute=FAST&Sender=S&Validity=60&ServiceType=T"
          "&BillingInfo=B&AcctInfo=A&ReplyRequested=Yes&Receipt=Yes&ReceiptFailed=Yes"
          "&SMPPOption_0x1400=AB&CustomerRef=42&pid=41&dcs=F0");
  ASSERT_TRUE(r);
  auto queued = files();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(fs::path(queued[0]).parent_path().filename().string(), "RT_-_FAST_-_");
  EXPECT_EQ(vek::testing::readText(queued[0]),
            "[SMS]\r\nSubmittedBy=127.0.0.1\r\nSender=S\r\nReplyRequested=Yes\r\n"
            "ReceiptRequested=Yes\r\nReceiptFailed=Yes\r\nValidity=60\r\nServiceType=T\r\n"
            "BillingInfo=B\r\nAcctInfo=A\r\nSMSCRoute=FAST\r\nSMPPOptions=SMPPOption_0x1400=AB\r\n"
            "Data=a\\rb\r\npid=41\r\ndcs=F0\r\nCustomerRef=42\r\nPhoneNumber=123\r\n");
  foundation::setExtraHttpArgs({});

  fs::remove_all(dir_.file("Q"));
  r = get(
      "/?PhoneNumber=123&Text=later&SMSCRoute=SMPP%20-%20smsc:2775&DelayUntil=2099-12-31%2009:05");
  ASSERT_TRUE(r);
  queued = files();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_NE(queued[0].find("/Q/DELAYQ/20991231/0905/RT_-_SMPP - smsc-2775_-_/"), std::string::npos)
      << queued[0];
}

TEST_F(SubmitServerTest, InboundMessagesAndReceiptsAreInjected) {
  startPlain("WebAuth=Yes\n");
  hostlib::Account alice, bob, admin;
  alice.name = "alice";
  bob.name = "bob";
  admin.name = "root";
  admin.admin = true;
  for (auto* a : {&alice, &bob, &admin}) {
    a->password = "pw";
    addAccount(*a);
  }
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd("HTTP", "c-17", "0000ABCD", "alice", "+111", "+222"));

  auto r = get("/?PhoneNumber=123&Text=in&InboundMessage=Yes&LocalUser=bob", basic("alice", "pw"));
  ASSERT_TRUE(r);
  auto in = files("SMS-IN");
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(fs::path(in[0]).extension(), ".in");
  queue::SMSMessage m = load(in[0]);
  EXPECT_TRUE(m.Inbound);
  EXPECT_EQ(m.RouteToLocalUser, "bob");
  EXPECT_EQ(m.Data, "in");
  fs::remove_all(dir_.file("SMS-IN"));

  r = get("/?ReceiptMessageId=c-17&ReceiptFailed=Yes", basic("bob", "pw"));
  EXPECT_NE(r->body().find("ReceiptMessageId not found"), std::string::npos);
  EXPECT_TRUE(files("SMS-IN").empty());

  for (const char* user : {"alice", "root"}) {
    fs::remove_all(dir_.file("SMS-IN"));
    r = get("/?ReceiptMessageId=c-17&ReceiptFailed=Yes", basic(user, "pw"));
    ASSERT_EQ(r ? r->status_line() : "", "HTTP/1.1 200 OK") << user;
    auto rec = files("SMS-IN");
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_EQ(fs::path(rec[0]).extension(), ".rec");
    m = load(rec[0]);
    EXPECT_EQ(m.ReceiptMessageId, "0000ABCD");
    EXPECT_EQ(m.RouteToLocalUser, "alice");
    EXPECT_EQ(m.PhoneNumber, "+222");
    EXPECT_EQ(m.Sender, "+111");
    EXPECT_EQ(m.MessageFlags, queue::kFlagIsReceipt | queue::kFlagReceiptFailed);
    EXPECT_EQ(m.Data.rfind("id:0000ABCD sub:001 dlvrd:000 submit date:", 0), 0u) << m.Data;
    EXPECT_NE(m.Data.find(" stat:REJECTD err:3E7"), std::string::npos) << m.Data;
  }
}

TEST_F(SubmitServerTest, LargeListsBecomeABulkJob) {
  startPlain();
  foundation::Settings s;
  s.MaxQDirEntries = 2;
  foundation::publishSettings(s);
  auto r =
      get("/?PhoneNumber=1,2,3,4,5&Text=" + std::string(200, 'x') + "&DelayUntil=209901020304");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 200 OK");
  EXPECT_EQ(count(r->body(), "MessageID=SAR-"), 10);
  EXPECT_TRUE(files().empty());
  auto job = files("BULKQ");
  std::vector<std::string> names;
  for (const std::string& f : job) names.push_back(fs::path(f).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"M1.REQ", "M2.REQ", "QDelay-209901020304.FLG",
                                             "R0000001.BLK", "R0000002.BLK", "R0000003.BLK"}));
  std::string block = vek::testing::readText(job[3]);
  EXPECT_EQ(count(block, "-@@CTR@@.req=1\r\n") + count(block, "-@@CTR@@.req=2\r\n"), 2) << block;
  EXPECT_EQ(block.rfind("SAR-1-", 0), 0u);
  std::string tmpl = vek::testing::readText(job[0]);
  EXPECT_EQ(tmpl.find("PhoneNumber"), std::string::npos);
  EXPECT_NE(tmpl.find("UDH=050003"), std::string::npos);
}

TEST_F(SubmitServerTest, UnwritableQueueAnswers500NamingTheRecipients) {
  startPlain();
  vek::testing::writeText(dir_.file("Q"), "not a directory");
  auto r = get("/?PhoneNumber=111,222&Text=hi");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 500 Internal Server Error");
  EXPECT_NE(r->body().find("could not be queued for: 111, 222"), std::string::npos) << r->body();
  EXPECT_EQ(r->body().find("Message Submitted"), std::string::npos);
}

TEST_F(SubmitServerTest, ResultTemplateIsFilledAndEscaped) {
  vek::testing::writeText(
      program_ + "HTML/submitok.htm",
      "<p>Done</p>\r\n<li>@@SubmitInfo@@</li>\n<a href=\"@@ContinueURL@@\">on</a>\n");
  startPlain();
  auto r = get("/?PhoneNumber=1,2&Text=x&ContinueURL=example.com/a%3Fb%3D%22%3E");
  ASSERT_TRUE(r);
  EXPECT_EQ(count(r->body(), "<li>MessageID="), 2);
  EXPECT_NE(r->body().find("<a href=\"http://example.com/a?b=&quot;&gt;\">on</a>\r\n"),
            std::string::npos)
      << r->body();
  r = get("/?PhoneNumber=1&Text=x&ContinueURL=javascript:alert(1)");
  EXPECT_NE(r->body().find("href=\"javascript:history.back()\""), std::string::npos);
}

TEST_F(SubmitServerTest, DistributionListsAndAddressBook) {
  vek::testing::writeText(program_ + "HTML/DList Members.htm",
                          "<h1>@@DListName@@</h1>@@DListMembers@@");
  startPlain();
  struct Step {
    std::string target;
    std::string want;  // start of the status line's status, then a text in the answer
    std::string text;
  };
  const Step steps[] = {
      {"/DLists?DListName=team&DListMember=%2B111&DListMemberName=Al%3Cb%3E", "200", "OK : +111"},
      {"/DLists?DListName=team&DListMember=222", "200", "OK : 222"},
      {"/DLists?DListName=TEAM", "200", "<td>+111</td><td>Al&lt;b&gt;</td>"},
      {"/DLists?DListName=team&DListMember=999&DListMemberAction=Delete", "200",
       "ERROR : 999 not found"},
      {"/DLists?DListName=nobody", "404", ""},
      {"/DLists?DListName=..%2F..%2Fescape&DListMember=1", "400",
       "Invalid character in parameter DListName"},
      {"/DLists?DListName=..&DListAction=Create", "400", "Invalid character"},
      {"/DLists?DListName=a&DListMember=1%0D%0A2", "400",
       "Invalid character in parameter DListMember"},
      {"/DLists", "200", "DListName=team\">team</a>"},
      {"/AddrBook?AddrBookMember=%2B333&AddrBookMemberName=Bo", "200", "OK : +333"},
      {"/AddrBook", "200", "<td>+333</td><td>Bo</td>"},
  };
  for (const Step& s : steps) {
    auto r = get(s.target);
    ASSERT_TRUE(r) << s.target;
    EXPECT_EQ(r->status_line().substr(9, 3), s.want) << s.target;
    EXPECT_NE(r->text.find(s.text), std::string::npos) << s.target << "\n" << r->text;
  }
  EXPECT_FALSE(fs::exists(dir_.file("escape.TXT")));
  EXPECT_FALSE(fs::exists(dir_.file("../escape.TXT")));

  auto r = get("/?PhoneNumber=Team,%2B444&Text=to+the+team");
  EXPECT_EQ(count(r->body(), "MessageID="), 3);
  r = get("/DLists?DListName=team&DListAction=Delete");
  EXPECT_NE(r->body().find("OK : team"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_.file("DLists/team.TXT")));
}

TEST_F(SubmitServerTest, MenuPagesResolveBlocksAndStayInTheirFolder) {
  vek::testing::writeText(program_ + "HTML/default.htm",
                          "menu<!@@StartBlockAdvanced@@>+adv<!@@EndBlockAdvanced@@>"
                          "<!@@StartBlockAdmin@@>+admin<!@@EndBlockAdmin@@>");
  fs::create_directories(program_ + "HTML/Pics");
  vek::testing::writeText(program_ + "HTML/Pics/logo.GIF", "GIF89a");
  vek::testing::writeText(program_ + "secret.htm", "secret");
  startPlain();
  const std::pair<std::string, std::string> cases[] = {
      {"/", "menu+adv"},
      {"/pics/LOGO.gif", "GIF89a"},
      {"/../secret.htm", "menu+adv"},
      {"/..%2Fsecret.htm", "menu+adv"},
      {"/%2e%2e/secret.htm", "menu+adv"},
      {"/....//secret.htm", "menu+adv"},
      {"/..\\secret.htm", "menu+adv"},
  };
  for (const auto& [target, body] : cases) {
    auto r = get(target);
    ASSERT_TRUE(r) << target;
    EXPECT_EQ(r->body(), body) << target;
  }
  auto r = get("/pics/logo.gif");
  EXPECT_NE(r->text.find("Content-Type: image/gif\r\n"), std::string::npos);

  startPlain("WebMenu=No\n");
  r = get("/");
  EXPECT_NE(r->body().find("Unknown request"), std::string::npos);
}

TEST_F(SubmitServerTest, MultipartFormsAreUnpackedAndUploadsRemoved) {
  startPlain();
  const std::string body =
      "--XyZ\r\nContent-Disposition: form-data; name=\"PhoneNumber\"\r\n\r\n+4499\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"Text\"\r\n\r\nfrom a form & more\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"Upload\"; filename=\"a.bin\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n\x01\x02\r\n--XyZ--\r\n";
  Client c(port_);
  auto r = c.exchange(
      "POST / HTTP/1.1\r\nHost: t\r\nContent-Type: multipart/form-data; "
      "boundary=XyZ\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status_line(), "HTTP/1.1 200 OK");
  auto queued = files();
  ASSERT_EQ(queued.size(), 1u);
  queue::SMSMessage m = load(queued[0]);
  EXPECT_EQ(m.PhoneNumber, "+4499");
  EXPECT_EQ(m.Data, "from a form & more");
  // The uploads go when the request ends, just after its answer was sent.
  EXPECT_TRUE(vek::testing::waitUntil([&] { return files("private/TEMP").empty(); }, 5s));
}

}  // namespace
}  // namespace vek::http
