#include "submit/validation.h"

#include <gtest/gtest.h>

#include "submit/content.h"

namespace vek::submit {
namespace {

Message binary(std::string data, std::string udh) {
  Message m;
  m.recipients = {"1"};
  m.content.binary = true;
  m.content.text = std::move(data);
  m.content.udh = std::move(udh);
  return m;
}

// A header's length octet and elements are checked the same way whether the
// message fits one SMS or is split.
TEST(ValidationTest, AMalformedHeaderIsRefusedForShortAndLongMessages) {
  const std::string long_data(2 * 200, 'A');
  struct Case {
    const char* udh;
    const char* error;  // nullptr: accepted
  };
  const Case cases[] = {
      {"060504158A0000", nullptr},
      {"00", nullptr},
      {"070504158A0000", "Invalid format for UDH (length octet does not match the header)."},
      {"050504158A0000", "Invalid format for UDH (length octet does not match the header)."},
      {"0504158A0000", "Invalid format for UDH (an element runs past the header)."},
      {"0605", "Invalid format for UDH (length octet does not match the header)."},
  };
  for (const Case& c : cases) {
    for (const std::string& data : {std::string("0102"), long_data}) {
      SCOPED_TRACE(std::string(c.udh) + (data.size() > 4 ? " long" : " short"));
      auto error = validateMessage(binary(data, c.udh));
      if (!c.error) {
        EXPECT_FALSE(error.has_value()) << error->text;
        auto out = encodeMessage(binary(data, c.udh), EncodeOptions{}, [] { return uint16_t{7}; });
        EXPECT_TRUE(out.ok()) << out.error().text;
        continue;
      }
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->kind, ErrorKind::kInvalidHeader);
      EXPECT_EQ(error->text, c.error);
    }
  }
}

TEST(ValidationTest, BinaryDataSaysWhetherItsDigitsOrItsLengthAreWrong) {
  const std::string digits =
      "Invalid format for Text/Data parameter when binary flag is set (hexadecimal digit "
      "characters only).";
  const std::string odd =
      "Invalid format for Text/Data parameter when binary flag is set (odd number of hexadecimal "
      "digits).";
  const std::pair<const char*, std::string> cases[] = {
      {"ABC", odd}, {"0", odd}, {"hello", digits}, {"ABG", digits}, {"AB CD", digits},
  };
  for (const auto& [data, want] : cases) {
    auto error = validateMessage(binary(data, ""));
    ASSERT_TRUE(error.has_value()) << data;
    EXPECT_EQ(error->kind, ErrorKind::kInvalidData);
    EXPECT_EQ(error->text, want) << data;
  }
  EXPECT_FALSE(validateMessage(binary("ABC", "060504158A0000")).has_value())
      << "after a header it is a text";
}

}  // namespace
}  // namespace vek::submit
