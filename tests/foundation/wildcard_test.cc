#include "foundation/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace vek::foundation {
namespace {

TEST(WildcardTest, MatchesWholeTextWithBacktracking) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  } cases[] = {
      {"44*", "447700900123", true},
      {"447*", "4412", false},
      {"*1234", "+4412341234", true},  // the first "1234" is not the end
      {"*12*34", "9912x1234", true},
      {"4?7*", "447", true},
      {"4?7*", "47", false},
      {"HELP*", "help", true},  // a trailing asterisk matches nothing
      {"abc", "ABC", true},
      {"abc", "abcd", false},
      {"", "", true},
      {"", "a", false},
      {"*", "", true},
      {"**", "anything", true},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"?", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wildcardMatch(c.pattern, c.text), c.match) << c.pattern << " vs " << c.text;
}

TEST(WildcardTest, HostilePatternStaysCheap) {
  // Exponential backtracking would never finish this; the bounded matcher
  // answers at once.
  std::string text(100000, 'a');
  EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*b", text));
  EXPECT_TRUE(wildcardMatch("*a*a*a*a*a*a*a*a*", text));
}

}  // namespace
}  // namespace vek::foundation
