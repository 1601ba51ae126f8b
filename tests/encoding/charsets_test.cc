#include "encoding/charsets.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/code_page.h"
#include "encoding/dcs.h"
#include "encoding/windows1252.h"

namespace vek::encoding {
namespace {

TEST(DcsTest, CodingGroups) {
  struct Case {
    uint8_t dcs;
    bool gsm7;
    bool ucs2;
  };
  const Case cases[] = {
      {0x00, true, false},  {0x04, false, false}, {0x08, false, true},  {0x0C, true, false},
      {0x10, true, false},  {0x18, false, true},  {0x20, false, false}, {0x28, false, false},
      {0x40, true, false},  {0x44, false, false}, {0x48, false, true},  {0x4C, true, false},
      {0x50, true, false},  {0x58, false, true},  {0x60, false, false}, {0x68, false, false},
      {0x80, false, false}, {0xBF, false, false}, {0xC0, true, false},  {0xDF, true, false},
      {0xE0, false, true},  {0xEF, false, true},  {0xF0, true, false},  {0xF4, false, false},
      {0xF3, true, false},  {0xFF, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.dcs));
    EXPECT_EQ(DCSIsGSM7Bit(c.dcs), c.gsm7);
    EXPECT_EQ(DCSIsUCS2(c.dcs), c.ucs2);
  }
}

TEST(CharsetsTest, NamesNumbersAndCodePages) {
  EXPECT_EQ(MIBenumToCharset(106), "utf-8");
  EXPECT_EQ(MIBenumToCharset(17), "shift_JIS");
  EXPECT_EQ(MIBenumToCharset(99), "unknown");
  EXPECT_EQ(CharsetToMIBenum("ISO-8859-7"), 10);
  EXPECT_EQ(CharsetToMIBenum("Big5"), 2026);
  EXPECT_EQ(CharsetToMIBenum("klingon"), 0);

  EXPECT_EQ(CharsetToCodePage("gbk"), 936u);
  EXPECT_EQ(CharsetToCodePage("US-ASCII"), 1252u);
  EXPECT_EQ(CharsetToCodePage("iso-8859-9"), 1254u);
  EXPECT_EQ(CharsetToCodePage("koi8-r"), 20866u);
  EXPECT_EQ(CharsetToCodePage("windows-1251"), 1251u);
  EXPECT_EQ(CharsetToCodePage("iso-8859-15"), 28605u);
  EXPECT_EQ(CharsetToCodePage("no-such-charset"), 0u);
  EXPECT_EQ(CharsetToCodePage(""), 0u);
}

TEST(CharsetsTest, CharsetToUtf8) {
  struct Case {
    std::string charset;
    std::string text;
    bool converted;
    std::string result;
    std::string charset_after;
  };
  const Case cases[] = {
      {"iso-8859-1", "caf\xE9 \x80", true, "caf\xC3\xA9 \xE2\x82\xAC", "iso-8859-1"},
      {"ISO-8859-2", "\xB9", true, "\xC4\x85", "ISO-8859-2"},  // read as CP1250
      {"koi8-r", "\xC1", true, "\xD0\xB0", "koi8-r"},
      {"utf-8", "\xC3\xA9", false, "\xC3\xA9", "utf-8"},
      {"", "abc", false, "abc", ""},
      {"x-unknown", "abc", false, "abc", "x-unknown"},
      {"iso-8859-1", "", false, "", "iso-8859-1"},
      // JIS "a" (hiragana, 0x2422) between escapes becomes Shift-JIS, then UTF-8.
      {"ISO-2022-JP", "\x1B$B\x24\x22\x1B(B!", true, "\xE3\x81\x82!", "shift-jis"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset + ":" + c.text);
    std::string charset = c.charset;
    std::string text = c.text;
    EXPECT_EQ(CharsetToUTF8(&charset, &text), c.converted);
    EXPECT_EQ(text, c.result);
    EXPECT_EQ(charset, c.charset_after);
  }
}

TEST(CharsetsTest, Iso2022JpToShiftJis) {
  std::string out;
  EXPECT_TRUE(ISO2022JPToShiftJIS("A\x1B$B\x30\x21\x7E\x7E\x1B(JB", &out));
  EXPECT_EQ(out,
            "A\x88\x9F\xEF\xFC"
            "B");
  EXPECT_FALSE(ISO2022JPToShiftJIS("plain", &out));
  EXPECT_EQ(out, "plain");
}

TEST(CodePageTest, LocalStringsAndBack) {
  std::string text = "\xD9\xA1\xD9\xA2 \xD8\xA8";  // Arabic-Indic 1 2, beh
  ASSERT_TRUE(UTF8ToLocalString(&text, 1256));
  EXPECT_EQ(text, "12 \xC8");

  text = "\xE2\x82\xAC\xC5\x93x\xE2\x98\x83";  // euro, oe, x, snowman
  ASSERT_TRUE(UTF8ToLocalString(&text, 1252));
  EXPECT_EQ(text, "\x80\x9Cx?");

  text = "\xD0\x96\xE2\x98\x83";  // Zhe, snowman
  ASSERT_TRUE(UTF8ToLocalString(&text, 1251));
  EXPECT_EQ(text, "\xC6?");

  text = "A\xE2\x82\xAC";
  ASSERT_TRUE(UTF8ToLocalString(&text, 1200));
  EXPECT_EQ(text, std::string("A\0\xAC\x20", 4));

  text = "\xE6\x97\xA5\xE6\x9C\xAC";  // Japanese "Nihon"
  ASSERT_TRUE(UTF8ToLocalString(&text, 932, 4));
  EXPECT_EQ(text, "\x93\xFA");  // the second character does not fit

  text = "keep";
  EXPECT_FALSE(UTF8ToLocalString(&text, 4242));
  EXPECT_EQ(text, "keep");

  text = "\x93\xFA\x96\x7B";
  ASSERT_TRUE(CodePageToUTF8(&text, 932));
  EXPECT_EQ(text, "\xE6\x97\xA5\xE6\x9C\xAC");
  text = "\x81\x8D\x8F\x90\x9D";  // bytes glibc refuses in CP1252
  ASSERT_TRUE(CodePageToUTF8(&text, 1252));
  EXPECT_EQ(text, "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_FALSE(CodePageToUTF8(&text, 4242));
}

TEST(CodePageTest, Windows1252Table) {
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(UTF8ToWindows1252(Windows1252ToUTF8(one)), one) << b;
  }
  EXPECT_EQ(Windows1252ToUTF8("\x80\x99"), "\xE2\x82\xAC\xE2\x84\xA2");
  EXPECT_EQ(UTF8ToWindows1252("\xE2\x98\x83"), "?");
  EXPECT_EQ(Windows1252ToUTF8(std::string(9000, 'a')).size(), 8191u);
}

}  // namespace
}  // namespace vek::encoding
