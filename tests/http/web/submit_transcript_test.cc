// The submission interface answer for answer and file for file: a fixed set
// of requests, each answered by a listener in this process, and the whole
// response plus every file it left in the data directory compared byte for
// byte with the transcripts in submit_transcripts.txt.
//
// The transcripts guard the send path against any change in what a client
// or a link sender sees. A deliberate change of behaviour updates them:
// run with VEKSMS_RECORD_TRANSCRIPTS=1 and review the difference.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "hostlib/message_ids.h"
#include "http/server/server_fixture.h"
#include "platform/clock.h"
#include "queue/unique_id.h"

namespace vek::http {
namespace {

using testing::Client;
namespace fs = std::filesystem;

const std::string kTranscripts = std::string(VEKSMS_HTTP_TEST_DATA) + "/submit_transcripts.txt";

struct Case {
  std::string name;
  std::string request;  // the whole request
};

std::string getRequest(const std::string& target, const std::string& headers = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: t\r\n" + headers + "\r\n";
}

std::string postRequest(const std::string& target, const std::string& content_type,
                        const std::string& body) {
  return "POST " + target + " HTTP/1.1\r\nHost: t\r\nContent-Type: " + content_type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Line ends shown, so that a transcript file keeps every byte visible.
std::string visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>\n";
    } else {
      out += c;
    }
  }
  return out;
}

// The concatenation reference comes from a counter started at the time of
// day: it is shown as "rr" (all segments of one message still share it).
std::string withoutReferences(std::string text) {
  for (const std::string_view element : {"UDH=050003", "UDH=060804"}) {
    const size_t digits = element == "UDH=050003" ? 2 : 4;
    for (size_t p = text.find(element); p != std::string::npos; p = text.find(element, p + 1)) {
      text.replace(p + element.size(), digits, std::string(digits, 'r'));
    }
  }
  return text;
}

class SubmitTranscriptTest : public testing::ServerTest {
 protected:
  void SetUp() override {
    program_ = dir_.file("program/");
    fs::create_directories(program_ + "HTML");
    ::setenv("VEKSMS_PROGRAM_DIR", program_.c_str(), 1);
    ServerTest::SetUp();
    hostlib::MMSCIniSetFilename(dir_.file("MMSC.INI"));
  }
  void TearDown() override {
    ServerTest::TearDown();
    hostlib::closeAllMessageIdStores();
    foundation::setExtraHttpArgs({});
    ::unsetenv("VEKSMS_PROGRAM_DIR");
  }

  // Runs one case from a fresh queue with ids counted from 1000 (0x3E8).
  std::string run(const Case& c) {
    for (const char* sub : {"Q", "SMS-IN", "BULKQ"}) fs::remove_all(dir_.file(sub));
    fs::create_directories(dir_.file("private"));
    vek::testing::writeText(dir_.file("private/UID.DAT"), std::string(4, '\0'));
    queue::resetUniqueMessageIdsForTesting(dir_.file("private/UID.DAT"));
    Client client(port_);
    auto response = client.exchange(c.request);
    std::string out = "=== " + c.name + "\n";
    out += response ? visible(response->text) : "(no response)<LF>\n";
    std::vector<std::string> paths;
    for (const char* sub : {"Q", "SMS-IN", "BULKQ"}) {
      if (!fs::exists(dir_.file(sub))) continue;
      for (const auto& e : fs::recursive_directory_iterator(dir_.file(sub)))
        if (e.is_regular_file()) paths.push_back(e.path().string());
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& p : paths) {
      out += "--- " + p.substr(dir_.path().size()) + "\n";
      out += visible(withoutReferences(vek::testing::readText(p)));
    }
    return out;
  }

  // Splits a transcript file into its cases by name.
  static std::map<std::string, std::string> load() {
    std::map<std::string, std::string> cases;
    std::string text = vek::testing::readText(kTranscripts);
    size_t pos = 0;
    while ((pos = text.find("=== ", pos)) != std::string::npos) {
      size_t end = text.find("\n=== ", pos);
      end = end == std::string::npos ? text.size() : end + 1;
      std::string one = text.substr(pos, end - pos);
      cases[one.substr(4, one.find('\n') - 4)] = one;
      pos = end;
    }
    return cases;
  }

  std::string program_;
};

std::vector<Case> plainCases() {
  const std::string cyrillic = repeat("%D0%96", 100);
  const std::string errors_target = "/?PhoneNumber=1&Text=x";
  return {
      {"text to two recipients",
       getRequest("/?PhoneNumber=%2B44123,%2B44456&Text=Hello%0D%0Aworld&Sender=Shop")},
      {"ports from sender and recipient",
       getRequest("/?PhoneNumber=%2B44123:9200&Text=hi&Sender=Shop:1234")},
      {"long GSM text", getRequest("/?PhoneNumber=%2B4477&Text=" +
                                   repeat("The+quick+brown+fox+jumps+over+the+lazy+dog.+", 5))},
      {"Cyrillic text as UCS-2 segments", getRequest("/?PhoneNumber=%2B4477&Text=" + cyrillic)},
      {"Turkish text with a shift table",
       getRequest("/?PhoneNumber=%2B4477&Text=%C5%9Feker+%C4%9F%C3%BCzel")},
      {"binary data with header, pid and dcs",
       getRequest("/?PhoneNumber=1&Data=0102aabb&UDH=060504158a0000&pid=7F&dcs=F6")},
      {"binary data without dcs", getRequest("/?PhoneNumber=1&Data=48656C6C6F")},
      {"UCS-2 text with a flash dcs", getRequest("/?PhoneNumber=1&Text=%D0%96%D0%96&dcs=F0")},
      {"UCS-2 text with a class dcs", getRequest("/?PhoneNumber=1&Text=%D0%96&dcs=11")},
      {"plain text after a header",
       getRequest("/?PhoneNumber=1&UDH=060504158A0000&Text=plain+text")},
      {"Cyrillic text after a header",
       getRequest("/?PhoneNumber=1&UDH=060504158A0000&Text=%D0%96")},
      {"long binary data", getRequest("/?PhoneNumber=1&dcs=F5&Data=" + repeat("AB", 300))},
      {"long UCS-2 data", getRequest("/?PhoneNumber=1&dcs=08&Data=" + repeat("0416", 100))},
      {"long 7-bit data", getRequest("/?PhoneNumber=1&dcs=F0&Data=" + repeat("C1", 180))},
      {"port parameters", getRequest("/?PhoneNumber=1&DestPort=5000&SourcePort=6000&Data=CAFE")},
      {"every key",
       getRequest("/?PhoneNumber=123&Text=a%0Db&SMSCRoute=FAST&Sender=S&Validity=60"
                  "&ServiceType=T&BillingInfo=B&AcctInfo=A&ReplyRequested=Yes&Receipt=Yes"
                  "&ReceiptDelivered=Yes&ReceiptFailed=Yes&ReceiptIntransit=Yes"
                  "&SMPPOption_0x1400=AB&SMPPOption_x=1&CustomerRef=42&pid=41&dcs=F0")},
      {"delayed to a route",
       getRequest("/?PhoneNumber=123&Text=later&SMSCRoute=SMPP%20-%20smsc:2775"
                  "&DelayUntil=2099-12-31%2009:05")},
      {"injected inbound message",
       getRequest("/?PhoneNumber=123&Text=in&InboundMessage=Yes&LocalUser=bob&Sender=77")},
      {"injected receipt", getRequest("/?ReceiptMessageId=c-17&ReceiptIntransit=Yes")},
      {"form body", postRequest("/", "application/x-www-form-urlencoded",
                                "PhoneNumber=%2B4499&Text=from+a+form")},
      {"charset parameter", getRequest("/?PhoneNumber=1&Text=%E9t%E9&charset=iso-8859-1")},
      {"distribution list", getRequest("/?PhoneNumber=team,%2B444&Text=to+the+team")},
      {"error: unknown route", getRequest(errors_target + "&SMSCRoute=nosuch")},
      {"error: unknown route to a browser",
       getRequest(errors_target + "&SMSCRoute=nosuch", "User-Agent: Mozilla/5.0\r\n")},
      {"error: control character", getRequest(errors_target + "&Sender=a%0D%0Ab")},
      {"error: no recipient", getRequest("/?PhoneNumber=abc&Text=x")},
      {"error: UDH not hexadecimal", getRequest(errors_target + "&UDH=0G")},
      {"error: header length octet too big", getRequest(errors_target + "&UDH=070504158A0000")},
      {"error: long message, header length octet too big",
       getRequest("/?PhoneNumber=1&UDH=070504158A0000&Data=" + repeat("AB", 200))},
      {"error: data not hexadecimal", getRequest("/?PhoneNumber=1&Data=hello")},
      {"error: data of odd length", getRequest("/?PhoneNumber=1&Data=ABC")},
      {"error: DelayUntil", getRequest(errors_target + "&DelayUntil=2099-13-01-00-00")},
      {"error: content family", getRequest("/?PhoneNumber=1&WAPURL=http://x/")},
      {"error: unknown receipt id", getRequest("/?ReceiptMessageId=nope")},
      {"error: header too long to split",
       getRequest("/?PhoneNumber=1&UDH=8C708A" + repeat("00", 138) + "&Data=" + repeat("AB", 10))},
  };
}

TEST_F(SubmitTranscriptTest, RequestsGiveTheRecordedAnswersAndFiles) {
  foundation::setExtraHttpArgs({"CustomerRef"});
  startPlain("ShiftTables=1\nModem1=SMPP - smsc:2775\n", "[SMPP - smsc:2775]\nRouteName=fast\n");
  // The receipt's dates are the current local time; the message-id store
  // keeps a file per day.
  platform::CalendarTime at;
  at.year = 2026;
  at.month = 3;
  at.day = 4;
  at.hour = 5;
  at.minute = 6;
  at.second = 7;
  // The fixture's clock outlives the server's threads, which wait on it.
  useFakeClock().set(platform::fromLocal(at));
  fs::create_directories(dir_.file("DLists"));
  vek::testing::writeText(dir_.file("DLists/team.TXT"), "+111 Al\r\n222\r\n");
  ASSERT_TRUE(hostlib::SMSCMessageIdAdd("HTTP", "c-17", "0000ABCD", "alice", "+111", "+222"));

  std::vector<Case> cases = plainCases();
  std::string actual;
  for (const Case& c : cases) actual += run(c);

  // A bulk job: more recipients than MaxQDirEntries.
  foundation::Settings s = *foundation::settings();
  s.MaxQDirEntries = 2;
  foundation::publishSettings(s);
  actual += run({"bulk job", getRequest("/?PhoneNumber=1,2,3,4,5&Text=" + repeat("x", 200) +
                                        "&DelayUntil=209901020304")});
  actual += run({"bulk job of single messages", getRequest("/?PhoneNumber=1,2,3&Text=short")});

  if (::getenv("VEKSMS_RECORD_TRANSCRIPTS") != nullptr) {
    vek::testing::writeText(kTranscripts, actual);
    GTEST_SKIP() << "recorded " << kTranscripts;
  }
  auto expected = load();
  size_t pos = 0;
  while ((pos = actual.find("=== ", pos)) != std::string::npos) {
    size_t end = actual.find("\n=== ", pos);
    end = end == std::string::npos ? actual.size() : end + 1;
    std::string one = actual.substr(pos, end - pos);
    std::string name = one.substr(4, one.find('\n') - 4);
    EXPECT_EQ(one, expected[name]) << "case: " << name;
    expected.erase(name);
    pos = end;
  }
  for (const auto& [name, text] : expected) ADD_FAILURE() << "case not run: " << name;
}

}  // namespace
}  // namespace vek::http
