#include <gtest/gtest.h>

#include "foundation/service_state.h"
#include "http/recipients.h"
#include "http/send_params.h"
#include "support/test_support.h"

namespace vek::http {
namespace {

using Recipients = std::vector<std::string>;

TEST(SubmitParamsTest, RecipientListsAreSplitAndReduced) {
  struct Case {
    const char* value;
    bool allow_alpha;
    Recipients want;
    int port;  // -1 none
  };
  const Case cases[] = {
      {"+44123,+44456", false, {"+44123", "+44456"}, -1},
      {"+44 123;456\t789", false, {"+44", "123", "456", "789"}, -1},
      {"(0044) 12-3", false, {"0044", "123"}, -1},
      {"abc,+,44+1", false, {"441"}, -1},
      {"192.168.1.10,1.2.3", false, {"192.168.1.10", "123"}, -1},
      {"+44123:5000,+44456:6000", false, {"+44123", "+44456"}, 5000},
      {"Bob,+44:1", true, {"Bob", "+44:1"}, -1},
  };
  for (const Case& c : cases) {
    RecipientOptions o;
    o.allow_alpha = c.allow_alpha;
    RecipientList got = parseRecipients(c.value, o);
    EXPECT_EQ(got.recipients, c.want) << c.value;
    EXPECT_EQ(got.destination_port.has_value() ? *got.destination_port : -1, c.port) << c.value;
  }
}

TEST(SubmitParamsTest, ItemsNamingAListStandForItsMembers) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("friends.txt"),
                          "\xEF\xBB\xBF+1111 Alice Smith\r\n\r\n  +2222\n");
  vek::testing::writeText(dir.file("x.TXT"), "+3333\n");
  RecipientOptions o;
  o.list_directory = dir.path();
  // A name that would leave the directory is never taken as a list.
  RecipientList got = parseRecipients("FRIENDS,+9,../x,....//x,..", o);
  EXPECT_EQ(got.recipients, (Recipients{"+1111", "+2222", "+9"}));
  EXPECT_FALSE(got.too_many);

  // A list named again and again cannot grow the request without bound.
  o.max_recipients = 5;
  got = parseRecipients("friends,friends,friends,+1", o);
  EXPECT_TRUE(got.too_many);
  EXPECT_EQ(got.recipients.size(), 5u);
}

TEST(SubmitParamsTest, DelayUntilAndContinueURL) {
  struct Delay {
    const char* value;
    bool present;
    bool invalid;
  };
  const Delay delays[] = {
      {"209912310905", true, false},  {"2099-12-31 09:05", true, false},
      {"000012310905", false, false}, {"2099123109", false, true},
      {"209913310905", false, true},  {"209912312460", false, true},
  };
  for (const Delay& d : delays) {
    bool invalid = false;
    auto t = parseDelayUntil(d.value, &invalid);
    EXPECT_EQ(t.has_value(), d.present) << d.value;
    EXPECT_EQ(invalid, d.invalid) << d.value;
  }
  bool invalid = false;
  auto t = parseDelayUntil("2099-12-31 09:05", &invalid);
  EXPECT_EQ(t->day, 31);
  EXPECT_EQ(t->minute, 5);

  const std::pair<const char*, const char*> urls[] = {
      {"", "javascript:history.back()"},
      {"javascript:history.back()", "javascript:history.back()"},
      {"javascript:alert(1)", "javascript:history.back()"},
      {"JaVaScRiPt:alert(1)", "javascript:history.back()"},
      {"ftp://x/y", "javascript:history.back()"},
      {"https://example.com/a?b=1", "https://example.com/a?b=1"},
      {"www.example.com/x", "http://www.example.com/x"},
  };
  for (auto [value, want] : urls) EXPECT_EQ(checkedContinueURL(value), want) << value;
}

TEST(SubmitParamsTest, OneLineParametersRefuseControlCharacters) {
  foundation::setExtraHttpArgs({"CustomerRef"});
  const std::pair<const char*, const char*> cases[] = {
      {"GET /?Sender=a%0D%0ASMSCRoute=x HTTP/1.1", "Sender"},
      {"GET /?Validity=1%0A2 HTTP/1.1", "Validity"},
      {"GET /?SMPPOption_x=a%01b HTTP/1.1", "SMPPOption_x"},
      {"GET /?CustomerRef=a%09b HTTP/1.1", "CustomerRef"},
      {"GET /?Sender=ok&Text=line1%0D%0Aline2 HTTP/1.1", ""},
  };
  for (auto [request, name] : cases) {
    SendParams p = readSendParams(std::string(request) + "\r\n\r\n", WebSettings{});
    EXPECT_EQ(p.invalid_parameter, name) << request;
  }
  foundation::setExtraHttpArgs({});
}

TEST(SubmitParamsTest, ParametersAreCollected) {
  foundation::setExtraHttpArgs({"CustomerRef", "Missing"});
  WebSettings settings;
  settings.receipt_requested = true;
  SendParams p = readSendParams(
      "GET /?Sender=Shop:9200&SMPPOption_a=1&smppoption_A=2&SMPPOption_b=x%20y&Receipt=No"
      "&ReceiptRequested=Yes&CustomerRef=42&DestPort=5499&pid=7f&dcs=10 HTTP/1.1\r\n\r\n",
      settings);
  EXPECT_EQ(p.sender, "Shop");
  EXPECT_EQ(p.source_port, 9200);
  EXPECT_EQ(p.destination_port, 5499);
  EXPECT_EQ(p.smpp_options, "SMPPOption_a=1; SMPPOption_b=x y");
  EXPECT_FALSE(p.receipt_requested);  // Receipt wins
  EXPECT_EQ(p.extra_args,
            (std::vector<std::pair<std::string, std::string>>{{"CustomerRef", "42"}}));
  EXPECT_EQ(p.pid, 0x7F);
  EXPECT_EQ(p.dcs, 0x10);

  p = readSendParams("GET /?Text=x HTTP/1.1\r\n\r\n", settings);
  EXPECT_TRUE(p.receipt_requested);  // the setting's default
  EXPECT_EQ(parseShiftTables(" 1, 13,x,300,0"), (std::vector<int>{1, 13}));
  foundation::setExtraHttpArgs({});
}

}  // namespace
}  // namespace vek::http
