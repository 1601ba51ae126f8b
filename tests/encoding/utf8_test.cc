#include "encoding/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"

namespace vek::encoding {
namespace {

TEST(Utf8Test, DecodingTable) {
  struct Case {
    std::string utf8;
    std::u16string ucs2;
  };
  const Case cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9", u"\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x90\x80\x8A", u"\xD800\xDC0A"},  // U+1000A: a pair, never a line feed
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      // Malformed sequences: each bad lead byte is a Windows-1252 character.
      {"\xC3(", u"\u00C3("},                              // bad continuation
      {"\xC0\x80", u"\u00C0\u20AC"},                      // overlong NUL
      {"\xE0\x80\xAF", u"\u00E0\u20AC\u00AF"},            // overlong slash
      {"\xED\xA0\x80", u"\u00ED\u00A0\u20AC"},            // encoded surrogate
      {"\x80\x81\x9F", u"\u20AC\u0081\u0178"},            // stray continuation bytes
      {"\xF4\x90\x80\x80", u"\u00F4\u0090\u20AC\u20AC"},  // above U+10FFFF
      {"\xF8\x88", u"\u00F8\u02C6"},
      {"ab\xE2\x82", u"ab\u00E2\u201A"},  // truncated at the end
      {std::string("a\0b", 3), u"a"},     // NUL ends the text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(UTF8ToUCS2(c.utf8), c.ucs2);
  }
}

TEST(Utf8Test, EncodingPairsAndLoneHalves) {
  EXPECT_EQ(UCS2ToUTF8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(UCS2ToUTF8(u"a\xD83D"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(UCS2ToUTF8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(UCS2ToUTF8(u"\u00E9\u0800"), "\xC3\xA9\xE0\xA0\x80");
}

TEST(Utf8Test, LimitsNeverSplitASurrogatePair) {
  // Capacity 4 leaves room for three units: "ab" and not half the emoji.
  EXPECT_EQ(UTF8ToUCS2("ab\xF0\x9F\x98\x80", 4), u"ab");
  EXPECT_EQ(UTF8ToUCS2("ab\xF0\x9F\x98\x80", 5), u"ab\xD83D\xDE00");
  // Output capacity: writing stops once 10 - 7 bytes are reached.
  EXPECT_EQ(UCS2ToUTF8(u"abcdef", 10), "abc");
  EXPECT_EQ(UCS2ToUTF8(u"\xD83D\xDE00\xD83D\xDE00", 8), "\xF0\x9F\x98\x80");
}

TEST(Utf8Test, Ucs2HexAndGsmForCharactersAboveTheBmp) {
  EXPECT_EQ(UTF8ToUCS2Hex("\xF0\x9F\x98\x80"), "D83DDE00");
  EXPECT_EQ(UTF8ToUCS2Hex("A\xE2\x82\xAC"), "004120AC");
  EXPECT_EQ(UCS2HexToUTF8("D83DDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(UCS2HexToUTF8("0041XYZW0042"), "A");
  // U+1000A must not become a line feed on its way to GSM.
  EXPECT_EQ(UTF8ToGSMString("\xF0\x90\x80\x8A"), "-");
}

TEST(Utf8Test, HexHelpersAndCharacterValues) {
  EXPECT_EQ(HexStringToInt("1aF!"), 0x1AFu);
  EXPECT_EQ(HexStringToInt("zz"), 0u);
  std::string_view cursor = "4Fx";
  EXPECT_EQ(HexPairToByte(&cursor), 0x4F);
  EXPECT_EQ(cursor, "x");
  EXPECT_EQ(HexPairToByte(&cursor), 0);
  EXPECT_EQ(cursor, "x");
  cursor = "A";
  EXPECT_EQ(HexPairToByte(&cursor), 0x0A);
  EXPECT_TRUE(cursor.empty());

  EXPECT_EQ(ParseCharacterValue("0x41"), 0x41u);
  EXPECT_EQ(ParseCharacterValue("2C"), 0x2Cu);
  EXPECT_EQ(ParseCharacterValue("12345"), 0x2345u);
  EXPECT_EQ(ParseCharacterValue("A"), static_cast<uint32_t>('A'));
  EXPECT_EQ(ParseCharacterValue("\xE2\x82\xAC"), 0x20ACu);
  EXPECT_EQ(ParseCharacterValue(""), 0u);
  EXPECT_TRUE(TextHas8BitBytes("a\xC3\xA9"));
  EXPECT_FALSE(TextHas8BitBytes("plain"));
  // Read eight bytes at a time: a high byte is found in every place.
  for (size_t size = 1; size <= 17; ++size) {
    EXPECT_FALSE(TextHas8BitBytes(std::string(size, 'x')));
    for (size_t at = 0; at < size; ++at) {
      std::string text(size, 'x');
      text[at] = '\x80';
      EXPECT_TRUE(TextHas8BitBytes(text)) << size << "/" << at;
    }
  }
}

}  // namespace
}  // namespace vek::encoding
