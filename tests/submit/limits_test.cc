#include "submit/limits.h"

#include <gtest/gtest.h>

#include "submit/message.h"

namespace vek::submit {
namespace {

TEST(LimitsTest, CutsNeverEndInsideACharacter) {
  const std::string zhe = "\xD0\x96";            // 2 bytes
  const std::string euro = "\xE2\x82\xAC";       // 3 bytes
  const std::string smile = "\xF0\x9F\x98\x80";  // 4 bytes
  struct Case {
    std::string text;
    size_t max;
    std::string want;
  };
  const Case texts[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc"},
      {zhe + zhe, 3, zhe},
      {zhe + zhe, 4, zhe + zhe},
      {"a" + euro, 3, "a"},
      {"a" + euro, 4, "a" + euro},
      {smile + "x", 3, ""},
      {smile + "x", 4, smile},
      {"\x80\x80\x80\x80\x80", 2, "\x80\x80"},  // not UTF-8: cut where asked
  };
  for (const Case& c : texts) EXPECT_EQ(cutText(c.text, c.max), c.want) << c.text;

  struct Hex {
    std::string hex;
    size_t max;
    bool ucs2;
    std::string want;
  };
  const Hex hexes[] = {
      {"0A0B0C", 5, false, "0A0B"},
      {"0A0B0C", 6, false, "0A0B0C"},
      {"041604160416", 11, true, "04160416"},
      {"0416D83DDE00", 11, true, "0416"},  // a surrogate pair stays whole
      {"0416D83DDE00", 12, true, "0416D83DDE00"},
  };
  for (const Hex& h : hexes) EXPECT_EQ(cutHexData(h.hex, h.max, h.ucs2), h.want) << h.hex;

  EXPECT_EQ(cutContent("ABCDE", true, false, 3), "AB");
  EXPECT_EQ(cutContent("AB" + zhe, true, false, 3), "AB");
  EXPECT_EQ(cutContent("ABCDE", false, false, 3), "ABC");
}

TEST(LimitsTest, FitToLimitsCutsOneLineValues) {
  Message m;
  m.sender = std::string(148, 's') + "\xD0\x96";
  m.validity = std::string(60, '1');
  m.route = std::string(120, 'r');
  m.extra_keys = {{"Ref", std::string(9000, 'e')}};
  fitToLimits(&m);
  EXPECT_EQ(m.sender, std::string(148, 's'));
  EXPECT_EQ(m.validity.size(), kMaxValidity);
  EXPECT_EQ(m.route.size(), kMaxRoute);
  EXPECT_EQ(m.extra_keys[0].second.size(), kMaxExtraValue);
}

}  // namespace
}  // namespace vek::submit
