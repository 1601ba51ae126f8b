#include "http/server/params.h"

#include <gtest/gtest.h>

#include "http/server/param_lookup.h"

namespace vek::http {
namespace {

const char kPost[] =
    "POST /send?PhoneNumber=%2B4912345&Text=from+query HTTP/1.1\r\nHost: gw\r\nContent-Length: "
    "40\r\n\r\n"
    "Text=from+body&Sender=a%20b+c&xData=1&Data=2&Empty=&Data=3 ";

TEST(ParamsTest, FirstOccurrenceQueryBeforeBody) {
  struct Case {
    const char* name;
    std::optional<std::string> value;
  } cases[] = {
      {"text", "from query"},       // query wins, name without regard to case
      {"PhoneNumber", "+4912345"},  //
      {"Sender", "a b c"},          // %20 and + decoded, from the body
      {"Data", "2"},                // "xData" is not "Data"
      {"Empty", ""},                // found, empty
      {"Missing", std::nullopt},    //
      {"Host", std::nullopt},       // headers are not parameters
  };
  for (const auto& c : cases) EXPECT_EQ(requestParameter(kPost, c.name), c.value) << c.name;
}

TEST(ParamsTest, RequestLineBoundariesAndTerminators) {
  EXPECT_EQ(requestParameter("GET /Text=a/b?x=1 HTTP/1.1\r\n\r\n", "Text"), "a/b");
  EXPECT_EQ(requestParameter("GET /x\\Text=a HTTP/1.1\r\n\r\n", "Text"), "a");
  EXPECT_EQ(requestParameter("GET /xText=a HTTP/1.1\r\n\r\n", "Text"), std::nullopt);
  EXPECT_EQ(requestParameter("GET /?Text=a%2 HTTP/1.1\r\n\r\n", "Text"), "a%2");
  EXPECT_EQ(requestParameter("GET /?Text=abcdef HTTP/1.1\r\n\r\n", "Text", 4), "abc");
  // In the body the value runs to "&" (spaces kept, trailing ones trimmed).
  EXPECT_EQ(requestParameter("POST / HTTP/1.1\r\n\r\nText=a b \r\n", "Text"), "a b");
}

TEST(ParamsTest, IndexedAndBodyOnlyReaders) {
  EXPECT_EQ(requestParameterAt(kPost, "Data", 1), "2");
  EXPECT_EQ(requestParameterAt(kPost, "Data", 2), "3");
  EXPECT_EQ(requestParameterAt(kPost, "Data", 3), std::nullopt);
  EXPECT_EQ(requestParameterAt("GET /?a=1&a=2 HTTP/1.1\r\n\r\na=3", "a", 2), "2");
  EXPECT_EQ(requestParameterAt("GET /?a=1 HTTP/1.1\r\n\r\na=3&a=4", "a", 2), "4");

  EXPECT_EQ(bodyParameter(kPost, "Text"), "from body");                // the query is not looked at
  EXPECT_EQ(bodyParameter(kPost, "Empty"), std::nullopt);              // empty counts as absent
  EXPECT_EQ(bodyParameter("POST / HTTP/1.1\r\n\r\nT=a b", "T"), "a");  // ends at a space
  EXPECT_EQ(bodyParameterAt(kPost, "Data", 2), "3");

  std::string opts = "GET /?SMPPOption_a=1&x=2&smppoption_B=3 HTTP/1.1\r\n\r\nSMPPOption_c=4";
  EXPECT_EQ(parameterNameAt(opts, "SMPPOption_", 1), "SMPPOption_a");
  EXPECT_EQ(parameterNameAt(opts, "SMPPOption_", 2), "smppoption_B");
  EXPECT_EQ(parameterNameAt(opts, "SMPPOption_", 3), "SMPPOption_c");
  EXPECT_EQ(parameterNameAt(opts, "SMPPOption_", 4), std::nullopt);
}

// A request over the lookup's copy limit is searched in place: the
// answers must not change with its size.
TEST(ParamsTest, LookupAnswersAlikeForSmallAndLargeRequests) {
  const std::string small = std::string(kPost) + "&PAD=";
  const std::string large = small + std::string(ParamLookup::kCopyLimit, 'u');
  for (const std::string& msg : {small, large}) {
    ParamLookup lookup(msg);
    SCOPED_TRACE(msg.size());
    EXPECT_EQ(lookup.get("phonenumber"), "+4912345");
    EXPECT_EQ(lookup.get("TEXT"), "from query");
    EXPECT_EQ(lookup.get("sender"), "a b c");
    EXPECT_EQ(lookup.get("Missing"), std::nullopt);
    EXPECT_TRUE(lookup.mayHave("DATA"));
    EXPECT_FALSE(lookup.mayHave("Host"));
    EXPECT_TRUE(lookup.contains("content-LENGTH"));
    EXPECT_FALSE(lookup.contains("no such text"));
  }
}

}  // namespace
}  // namespace vek::http
