#include <gtest/gtest.h>

#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::platform {
namespace {

TEST(TextTest, GlobMatchesCaseInsensitivelyWithoutBlowingUp) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.REQ", "00001a2b.req", true},
      {"*.REQ", "x.REQ.tmp", false},
      {"R*.BLK", "r0000001.blk", true},
      {"M?.REQ", "M1.REQ", true},
      {"M?.REQ", "M12.REQ", false},
      {"*", "", true},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
       false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(globMatchNoCase(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(TextTest, LeadingIntegerRule) {
  EXPECT_EQ(parseLeadingInt("  -42abc"), -42);
  EXPECT_EQ(parseLeadingInt("+7"), 7);
  EXPECT_EQ(parseLeadingInt(""), 0);
  EXPECT_EQ(parseLeadingInt("x12"), 0);
  EXPECT_EQ(parseLeadingInt("99999999999999999999999"), INT64_MAX);
}

TEST(TextTest, PathComponentsNeverLeaveTheirDirectory) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"alice", "alice"},     {"a:b/c\\d", "a-b-c-d"}, {"..", "_."},
      {".hidden", "_hidden"}, {"../../x", "_.-..-x"},  {"", "_"},
      {"a\nb\x01", "ab"},
  };
  for (const auto& c : cases) {
    std::string got = safePathComponent(c.in);
    EXPECT_EQ(got, c.out) << c.in;
    EXPECT_EQ(got.find('/'), std::string::npos);
    EXPECT_NE(got, "..");
  }
  EXPECT_FALSE(isSafePathComponent(".."));
  EXPECT_FALSE(isSafePathComponent("a/b"));
  EXPECT_TRUE(isSafePathComponent("list-1.txt"));
  EXPECT_FALSE(isContainedRelativePath("a/../../etc"));
  EXPECT_FALSE(isContainedRelativePath("....//x"));
  EXPECT_FALSE(isContainedRelativePath("%2e%2e/x"));
  EXPECT_FALSE(isContainedRelativePath("/etc/passwd"));
  EXPECT_TRUE(isContainedRelativePath("HTML/menu.htm"));
}

TEST(TextTest, EscapesForRecordsDocumentsAndMail) {
  EXPECT_EQ(singleLine("a\r\nSMSCRoute=x\x0b"), "a  SMSCRoute=x ");
  EXPECT_TRUE(hasControlCharacters("a\tb"));
  EXPECT_FALSE(hasControlCharacters("plain text"));
  EXPECT_EQ(xmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&apos;");
  EXPECT_EQ(htmlEscape("<script>"), "&lt;script&gt;");
  EXPECT_EQ(smtpDotStuff(".top\n..two\r\nend"), "..top\r\n...two\r\nend");
}

}  // namespace
}  // namespace vek::platform
