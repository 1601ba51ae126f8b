#include "http/server/text_util.h"

#include <gtest/gtest.h>

namespace vek::http {
namespace {

TEST(TextUtilTest, HexDigitsTrimmingAndFormDecoding) {
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
