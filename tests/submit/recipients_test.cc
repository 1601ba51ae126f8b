#include "submit/recipients.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace vek::submit {
namespace {

using Recipients = std::vector<std::string>;

TEST(RecipientsTest, RecipientListsAreSplitAndReduced) {
  struct Case {
    const char* value;
    bool allow_alpha;
    Recipients want;
    int port;  // -1 none
  };
  const Case cases[] = {
      {"+44123,+44456", false, {"+44123", "+44456"}, -1},
      {"+44 123;456\t789", false, {"+44", "123", "456", "789"}, -1},
      {"(0044) 12-3", false, {"0044", "123"}, -1},
      {"abc,+,44+1", false, {"441"}, -1},
      {"192.168.1.10,1.2.3", false, {"192.168.1.10", "123"}, -1},
      {"+44123:5000,+44456:6000", false, {"+44123", "+44456"}, 5000},
      {"Bob,+44:1", true, {"Bob", "+44:1"}, -1},
  };
  for (const Case& c : cases) {
    RecipientOptions o;
    o.allow_alpha = c.allow_alpha;
    RecipientList got = parseRecipients(c.value, o);
    EXPECT_EQ(got.recipients, c.want) << c.value;
    EXPECT_EQ(got.destination_port.has_value() ? *got.destination_port : -1, c.port) << c.value;
  }
}

TEST(RecipientsTest, ItemsNamingAListStandForItsMembers) {
  vek::testing::TempDir dir;
  vek::testing::writeText(dir.file("friends.txt"),
                          "\xEF\xBB\xBF+1111 Alice Smith\r\n\r\n  +2222\n");
  vek::testing::writeText(dir.file("x.TXT"), "+3333\n");
  RecipientOptions o;
  o.list_directory = dir.path();
  // A name that would leave the directory is never taken as a list.
  RecipientList got = parseRecipients("FRIENDS,+9,../x,....//x,..", o);
  EXPECT_EQ(got.recipients, (Recipients{"+1111", "+2222", "+9"}));
  EXPECT_FALSE(got.too_many);

  // A list named again and again cannot grow the request without bound.
  o.max_recipients = 5;
  got = parseRecipients("friends,friends,friends,+1", o);
  EXPECT_TRUE(got.too_many);
  EXPECT_EQ(got.recipients.size(), 5u);
}

}  // namespace
}  // namespace vek::submit
