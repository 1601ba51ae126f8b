// Bulk job texts: recipient lines, output names, request text, flag names,
// and the line splitter over pieces and oversized lines.
#include "queue/bulk_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek::queue {
namespace {

TEST(BulkListTest, RecipientLinesAreSplitAndChecked) {
  struct Case {
    std::string line;
    unsigned templates;
    LineVerdict verdict;
    std::string name, recipient, route;
  };
  const std::vector<Case> cases = {
      {"0000ABCD.req=+4477", 1, LineVerdict::kOk, "0000ABCD.req", "+4477", ""},
      {"0000ABCD.REQ=4477;UK Route", 1, LineVerdict::kOk, "0000ABCD.REQ", "4477", "UK Route"},
      {"SAR-x-1-3-@@CTR@@.req=5;", 3, LineVerdict::kOk, "SAR-x-1-3-@@CTR@@.req", "5", ""},
      {"a.req=1=2", 1, LineVerdict::kOk, "a.req", "1=2", ""},
      {"no equals sign", 1, LineVerdict::kNoEquals, "", "", ""},
      {"../x.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"/etc/x.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"..\\x.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {".hidden.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"c:x.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"a\x01.req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"message.txt=1", 1, LineVerdict::kBadName, "", "", ""},
      {".req=1", 1, LineVerdict::kBadName, "", "", ""},
      {"=1", 1, LineVerdict::kBadName, "", "", ""},
      {std::string(196, 'a') + ".req=1", 1, LineVerdict::kOk, std::string(196, 'a') + ".req", "1",
       ""},
      {std::string(197, 'a') + ".req=1", 1, LineVerdict::kBadName, "", "", ""},
      // The name is checked with the largest template number it gets.
      {std::string(189, 'a') + "@@CTR@@.req=1", 99, LineVerdict::kOk,
       std::string(189, 'a') + "@@CTR@@.req", "1", ""},
      {std::string(195, 'a') + "@@CTR@@.req=1", 99, LineVerdict::kBadName, "", "", ""},
      {"a.req=", 1, LineVerdict::kNoRecipient, "", "", ""},
      {"a.req=  ;route", 1, LineVerdict::kNoRecipient, "", "", ""},
      {"a.req=" + std::string(1100, '1'), 1, LineVerdict::kTooLong, "", "", ""},
  };
  for (const Case& c : cases) {
    RecipientLine r;
    EXPECT_EQ(parseRecipientLine(c.line, c.templates, &r), c.verdict) << c.line.substr(0, 40);
    if (c.verdict != LineVerdict::kOk) continue;
    EXPECT_EQ(r.name, c.name);
    EXPECT_EQ(r.recipient, c.recipient);
    EXPECT_EQ(r.route, c.route);
  }
}

TEST(BulkListTest, OutputNamesAndTextCarryTemplateNumberRecipientAndRoute) {
  EXPECT_EQ(requestFileName("SAR-a-@@CTR@@-@@CTR@@.req", 12), "SAR-a-12-12.req");
  EXPECT_EQ(requestFileName("0000ABCD.req", 2), "0000ABCD.req");
  EXPECT_EQ(bulkRequestText("[SMS]\r\nData=x\r\n", "123", ""),
            "[SMS]\r\nData=x\r\nPhoneNumber=123\r\n");
  // A template without its last line end does not swallow the recipient.
  EXPECT_EQ(bulkRequestText("[SMS]\r\nData=x", "123", "Route A"),
            "[SMS]\r\nData=x\r\nPhoneNumber=123\r\nSMSCRoute=Route A\r\n");
  EXPECT_EQ(bulkRequestText("[SMS]\n",
                            "1\x02"
                            "2",
                            "r\x7f"),
            "[SMS]\nPhoneNumber=1 2\r\nSMSCRoute=r \r\n");
}

TEST(BulkListTest, FlagNamesAndLocalTimesCompareToTheMinute) {
  auto t = parseDelayFlagName("QDelay-202612091305.FLG");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->year, 2026);
  EXPECT_EQ(t->month, 12);
  EXPECT_EQ(t->day, 9);
  EXPECT_EQ(t->hour, 13);
  EXPECT_EQ(t->minute, 5);
  EXPECT_TRUE(parseDelayFlagName("qdelay-202612091305.flg"));
  EXPECT_TRUE(parseDelayFlagName("QDelay-202612091305-junk.FLG")) << "12 digits are enough";
  for (const char* bad : {"QDelay-2026120913.FLG", "QDelay-20261209130x.FLG", "QDelay-.FLG",
                          "Delay-202612091305.FLG", "QDelay-+02612091305.FLG"})
    EXPECT_FALSE(parseDelayFlagName(bad)) << bad;

  platform::CalendarTime now;
  now.year = 2026, now.month = 12, now.day = 9, now.hour = 13, now.minute = 5, now.second = 59;
  struct Case {
    int y, mo, d, h, mi;
    bool later;
  };
  for (const Case& c : std::vector<Case>{{2026, 12, 9, 13, 5, false},
                                         {2026, 12, 9, 13, 6, true},
                                         {2026, 12, 9, 12, 59, false},
                                         {2027, 1, 1, 0, 0, true},
                                         {2026, 11, 30, 23, 59, false},
                                         {2026, 13, 1, 0, 0, true}}) {
    platform::CalendarTime t2;
    t2.year = c.y, t2.month = c.mo, t2.day = c.d, t2.hour = c.h, t2.minute = c.mi;
    EXPECT_EQ(laterToTheMinute(t2, now), c.later) << c.y << c.mo << c.d << c.h << c.mi;
  }
}

TEST(BulkListTest, SplitterJoinsPiecesAndCutsOversizedLines) {
  std::vector<std::string> lines;
  std::vector<uint64_t> long_lengths;
  LineSplitter::Visit visit = [&](const LineSplitter::Line& l) {
    lines.emplace_back(l.text);
    if (l.too_long) long_lengths.push_back(l.length);
  };
  LineSplitter s;
  const std::string text = "a=1\r\n\r\nb=2\rc=3\n\nd=4";
  for (char c : text) s.feed(std::string_view(&c, 1), visit);
  s.finish(visit);
  EXPECT_EQ(lines, (std::vector<std::string>{"a=1", "b=2", "c=3", "d=4"}));

  // A 10 MB line is reported once, cut, and never kept whole.
  lines.clear();
  LineSplitter big;
  const std::string block(1 << 20, 'x');
  big.feed("e=5\n", visit);
  for (int i = 0; i < 10; ++i) big.feed(block, visit);
  big.feed("\nf=6", visit);
  big.finish(visit);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "e=5");
  EXPECT_EQ(lines[1].size(), kMaxRecipientLine);
  EXPECT_EQ(lines[2], "f=6");
  EXPECT_EQ(long_lengths, (std::vector<uint64_t>{10u << 20}));
}

}  // namespace
}  // namespace vek::queue
