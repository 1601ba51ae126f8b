#include "encoding/gsm_alphabet.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/septet_packing.h"

namespace vek::encoding {
namespace {

std::string hexOf(const std::string& septets) {
  std::string out;
  char buf[3];
  for (unsigned char c : septets) {
    snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

TEST(GsmAlphabetTest, TextToSeptetsAndBack) {
  struct Case {
    const char* text;
    const char* septets_hex;  // unpacked septets
    const char* back;         // GSMToUTF8String of them
    bool needs_unicode;
  };
  const Case cases[] = {
      {"hello", "68656C6C6F", "hello", false},
      {"@$_", "000211", "@$_", false},
      {"x[y]", "781B3C791B3E", "x[y]", false},
      {"\xE2\x82\xAC", "1B65", "\xE2\x82\xAC", false},          // euro
      {"a\xE2\x80\x99", "612D", "a-", true},                    // U+2019 -> hyphen
      {"\xCE\x93\xCE\xA9", "1315", "\xCE\x93\xCE\xA9", false},  // Gamma Omega
      {"`", "27", "'", true},                                   // grave -> apostrophe
      {"\xC3\xA7", "09", "\xC3\x87", true},                     // c cedilla -> C cedilla
      {"\xC3\xA9\xC3\xA8", "0504", "\xC3\xA9\xC3\xA8", false},
      {"\xC2\xA4\xC2\xA7\xC3\x9F", "245F1E", "\xC2\xA4\xC2\xA7\xC3\x9F", false},
      {"tab\there", "7461622D68657265", "tab-here", true},
      {"\xF0\x9F\x98\x80!", "2D21", "-!", true},  // emoji: one hyphen
      {"line\r\nend", "6C696E650D0A656E64", "line\r\nend", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string septets = UTF8ToGSMString(c.text);
    EXPECT_EQ(hexOf(septets), c.septets_hex);
    EXPECT_EQ(GSMToUTF8String(septets), c.back);
    EXPECT_EQ(UTF8StringRequiresUnicodeEncoding(c.text), c.needs_unicode);
    EXPECT_EQ(GSMStringLength(c.text), septets.size());
  }
}

TEST(GsmAlphabetTest, BracketsCountTwoSeptetsAndRoundTrip) {
  const std::string text = "Price [12] ok";  // 13 characters
  ASSERT_EQ(text.size(), 13u);
  EXPECT_EQ(GSMStringLength(text), 15u);
  EXPECT_FALSE(UTF8StringRequiresUnicodeEncoding(text));
  EXPECT_FALSE(UTF8StringRequiresUnicodeEncoding("\xE2\x82\xAC[]"));
  EXPECT_EQ(GSMStringLength("\xE2\x82\xAC[]"), 6u);
}

TEST(GsmAlphabetTest, LimitNeverSplitsAnEscapePair) {
  EXPECT_EQ(hexOf(UTF8ToGSMString("ab[", 3)), "6162");
  EXPECT_EQ(hexOf(UTF8ToGSMString("ab[", 4)), "61621B3C");
  EXPECT_EQ(hexOf(UTF8ToGSMString("abc", 2)), "6162");
}

TEST(GsmAlphabetTest, EscapeAtTheEndAndBytesWithTopBit) {
  EXPECT_EQ(GSMToUTF8String(std::string("a\x1B", 2)), "a-");
  EXPECT_EQ(GSMToLatin1String(std::string("a\x1B", 2)), "a-");
  EXPECT_EQ(GSMToUTF8String("\x1B\x41"), "-");  // unknown escape
  EXPECT_EQ(GSMToUTF8String("a\x80\xFF"
                            "b"),
            "ab");
  EXPECT_EQ(GSMToLatin1String("\x1B\x65\x10\x5B"), "\x80-\xC4");
}

TEST(GsmAlphabetTest, DeparturesOfTheCodePointTable) {
  struct Case {
    unsigned cp;
    const char* septets_hex;
  };
  const Case cases[] = {
      {0x00, "2D"},   {0x09, "2D"}, {0x7F, "2D"}, {0x5C, "1B2F"}, {0x5E, "1B14"}, {0x7C, "1B40"},
      {0x7E, "1B3D"}, {0x82, "27"}, {0x84, "22"}, {0x85, "2E"},   {0x8A, "53"},   {0x98, "1B3D"},
      {0x9F, "59"},   {0xA0, "20"}, {0xA2, "63"}, {0xA6, "1B40"}, {0xB0, "6F"},   {0xB4, "27"},
      {0xB7, "2E"},   {0xBB, "22"}, {0xC2, "41"}, {0xD7, "78"},   {0xDE, "2D"},   {0xE3, "61"},
      {0xF7, "2D"},   {0xFF, "79"}, {0xBF, "60"}, {0xA5, "03"},   {0xA3, "01"},   {0xDF, "1E"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    std::string s;
    const uint8_t code = latin1ToGsm(static_cast<uint8_t>(c.cp));
    s.push_back(static_cast<char>(code));
    if (code == kGsmEscape) s.push_back(static_cast<char>(latin1ToGsmExtension(c.cp)));
    EXPECT_EQ(hexOf(s), c.septets_hex);
  }
}

TEST(GsmAlphabetTest, GreekFolding) {
  std::string text = "\xCE\x91\xCE\x92\xCE\x93";  // Alpha Beta Gamma
  EXPECT_TRUE(FoldGreekLookalikes(&text));
  EXPECT_EQ(text, "AB\xCE\x93");
  EXPECT_FALSE(UTF8StringRequiresUnicodeEncoding(text));
  std::string plain = "no greek \xCE\x93";
  EXPECT_FALSE(FoldGreekLookalikes(&plain));
  EXPECT_EQ(plain, "no greek \xCE\x93");
}

TEST(GsmAlphabetTest, LossTestCutsAtTheLimits) {
  // The decoder holds 8191 characters, which stay below the 0x4000
  // septets of the loss test even as escape pairs.
  EXPECT_FALSE(UTF8StringRequiresUnicodeEncoding(std::string(8191, 'a')));
  EXPECT_TRUE(UTF8StringRequiresUnicodeEncoding(std::string(8192, 'a')));
  EXPECT_FALSE(UTF8StringRequiresUnicodeEncoding(std::string(8191, '[')));
  EXPECT_TRUE(UTF8StringRequiresUnicodeEncoding(std::string(8192, '[')));
  EXPECT_EQ(GSMStringLength(std::string(8191, '[')), 16382u);
}

}  // namespace
}  // namespace vek::encoding
