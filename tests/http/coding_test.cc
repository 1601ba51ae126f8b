#include <gtest/gtest.h>

#include <random>

#include "encoding/base64.h"
#include "encoding/quoted_printable.h"
#include "foundation/http_date.h"
#include "http/text_util.h"

namespace vek::http {
namespace {

TEST(CodingTest, Base64KnownValuesAndDecodeRules) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
  };
  for (auto [plain, coded] : vectors) {
    EXPECT_EQ(encoding::base64Encode(plain), coded);
    EXPECT_EQ(encoding::base64Decode(coded), plain);
  }
  EXPECT_EQ(encoding::base64Decode("Zm9v!Zm9v"), "foo");  // a group without value ends decoding
  EXPECT_EQ(encoding::base64Decode("Zm9vY"), "foo");      // a lone first character yields nothing
  EXPECT_EQ(encoding::base64Decode("Zm9\r\nv"), "fo");
  EXPECT_EQ(encoding::base64DecodeSkippingBlanks("Zm9\r\n v YmE="), "fooba");
}

TEST(CodingTest, QuotedPrintableEncodesWithSoftBreaksAt76) {
  EXPECT_EQ(encoding::quotedPrintableEncode("a=b\r\n\x1b\xe9"), "a=3Db=0D=0A\x1b=E9");
  std::mt19937 rng(7);
  std::string data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<char>(rng() % 256));
  std::string coded = encoding::quotedPrintableEncode(data);
  size_t start = 0;
  while (start < coded.size()) {
    size_t end = coded.find("\r\n", start);
    std::string_view line(coded.data() + start,
                          (end == std::string::npos ? coded.size() : end) - start);
    EXPECT_LE(line.size(), 76u);
    if (end != std::string::npos) {
      EXPECT_EQ(line.back(), '=');  // only soft breaks
    }
    start = end == std::string::npos ? coded.size() : end + 2;
  }
  EXPECT_EQ(encoding::quotedPrintableDecode(coded), data);
}

TEST(CodingTest, QuotedPrintableDecode) {
  EXPECT_EQ(encoding::quotedPrintableDecode("caf=C3=A9 =\r\nsoft=\nbreak=\rs =3d =zz ="),
            "café softbreaks = =zz =");
}

TEST(CodingTest, HttpDateAndHexHelpers) {
  platform::CalendarTime t;
  t.year = 1994;
  t.month = 11;
  t.day = 6;
  t.hour = 8;
  t.minute = 49;
  t.second = 37;
  t.weekday = 0;
  EXPECT_EQ(foundation::httpDate(t), "Sun, 06 Nov 1994 08:49:37 GMT");
  t.month = 13;
  t.weekday = 9;
  EXPECT_EQ(foundation::httpDate(t), "Sun, 06 Jan 1994 08:49:37 GMT");

  EXPECT_EQ(hexDigitValue('b'), 11);
  EXPECT_EQ(hexDigitValue('G'), 0);
  EXPECT_EQ(hexDigitChar(12), 'C');
  EXPECT_EQ(hexDigitChar(16), '0');
  EXPECT_EQ(formDecode("a%20b+c%4"), "a b c%4");
  EXPECT_EQ(trimTrailing("ab \r\n\t"), "ab");
  EXPECT_EQ(cutAtSpace("ab cd"), "ab");
}

}  // namespace
}  // namespace vek::http
