#include <gtest/gtest.h>

#include "foundation/service_state.h"
#include "http/web/send_params.h"
#include "support/test_support.h"

namespace vek::http {
namespace {

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
    SendRequest p = readSendRequest(std::string(request) + "\r\n\r\n", WebSettings{});
    EXPECT_EQ(p.invalid_parameter, name) << request;
  }
  foundation::setExtraHttpArgs({});
}

TEST(SubmitParamsTest, ParametersAreCollected) {
  foundation::setExtraHttpArgs({"CustomerRef", "Missing"});
  WebSettings settings;
  settings.receipt_requested = true;
  SendRequest p = readSendRequest(
      "GET /?Sender=Shop:9200&SMPPOption_a=1&smppoption_A=2&SMPPOption_b=x%20y&Receipt=No"
      "&ReceiptRequested=Yes&CustomerRef=42&DestPort=5499&pid=7f&dcs=10 HTTP/1.1\r\n\r\n",
      settings);
  const submit::Message& m = p.message;
  EXPECT_EQ(m.sender, "Shop");
  EXPECT_EQ(m.content.source_port, 9200);
  EXPECT_EQ(m.content.destination_port, 5499);
  EXPECT_TRUE(m.content.binary);  // a port makes it binary
  EXPECT_EQ(m.smpp_options, "SMPPOption_a=1; SMPPOption_b=x y");
  EXPECT_FALSE(m.receipt_requested);  // Receipt wins
  EXPECT_EQ(m.extra_keys,
            (std::vector<std::pair<std::string, std::string>>{{"CustomerRef", "42"}}));
  EXPECT_EQ(m.content.pid, 0x7F);
  EXPECT_EQ(m.content.dcs, 0x10);

  p = readSendRequest("GET /?Text=x HTTP/1.1\r\n\r\n", settings);
  EXPECT_TRUE(p.message.receipt_requested);  // the setting's default
  EXPECT_FALSE(p.message.content.dcs.has_value());
  foundation::setExtraHttpArgs({});
}

}  // namespace
}  // namespace vek::http
