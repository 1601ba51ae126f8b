#include <gtest/gtest.h>

#include <random>

#include "encoding/base64.h"
#include "encoding/quoted_printable.h"

namespace vek::encoding {
namespace {

TEST(TextCodecsTest, Base64KnownValuesAndDecodeRules) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
  };
  for (auto [plain, coded] : vectors) {
    EXPECT_EQ(base64Encode(plain), coded);
    EXPECT_EQ(base64Decode(coded), plain);
  }
  EXPECT_EQ(base64Decode("Zm9v!Zm9v"), "foo");  // a group without value ends decoding
  EXPECT_EQ(base64Decode("Zm9vY"), "foo");      // a lone first character yields nothing
  EXPECT_EQ(base64Decode("Zm9\r\nv"), "fo");
  EXPECT_EQ(base64DecodeSkippingBlanks("Zm9\r\n v YmE="), "fooba");
}

TEST(TextCodecsTest, QuotedPrintableEncodesWithSoftBreaksAt76) {
  EXPECT_EQ(quotedPrintableEncode("a=b\r\n\x1b\xe9"), "a=3Db=0D=0A\x1b=E9");
  std::mt19937 rng(7);
  std::string data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<char>(rng() % 256));
  std::string coded = quotedPrintableEncode(data);
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
  EXPECT_EQ(quotedPrintableDecode(coded), data);
}

TEST(TextCodecsTest, QuotedPrintableDecode) {
  EXPECT_EQ(quotedPrintableDecode("caf=C3=A9 =\r\nsoft=\nbreak=\rs =3d =zz ="),
            "café softbreaks = =zz =");
}

}  // namespace
}  // namespace vek::encoding
