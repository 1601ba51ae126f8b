#include "modem/response_reader.h"

#include <gtest/gtest.h>

namespace vek::modem {
namespace {

struct ReadCase {
  const char* name;
  const char* bytes;
  ResponseReader::Expect expect;
  Completion want;
  const char* want_text;  // nullptr: not checked
  size_t reports;         // set aside
};

TEST(ResponseReaderTest, FinalResultsMatchOnlyAsWholeLines) {
  const ReadCase cases[] = {
      {"plain OK", "\r\nOK\r\n", {}, Completion::kOk, "OK", 0},
      {"text holding OK", "\r\n+CMGL: 1,0,,5\r\nBOOKS OK\r\n", {}, Completion::kNone, nullptr, 0},
      {"text holding ERROR",
       "\r\nTERRORS\r\nERROR happened\r\n",
       {},
       Completion::kNone,
       nullptr,
       0},
      {"OK without line end yet", "\r\nOK", {}, Completion::kNone, nullptr, 0},
      {"cms error ends at once",
       "\r\n+CMS ERROR: 500\r\n",
       {},
       Completion::kError,
       "+CMS ERROR: 500",
       0},
      {"cme error", "\r\n+CME ERROR: 16\r\n", {}, Completion::kError, nullptr, 0},
      {"no carrier", "\r\nNO CARRIER\r\n", {}, Completion::kError, nullptr, 0},
      {"OK before the wait-for text",
       "\r\nOK\r\n",
       {"+CMGS:", false},
       Completion::kNone,
       nullptr,
       0},
      {"OK after the wait-for text",
       "\r\n+CMGS: 4\r\n\r\nOK\r\n",
       {"+CMGS:", false},
       Completion::kOk,
       "+CMGS: 4\r\nOK",
       0},
      {"prompt", "\r\n> ", {"", true}, Completion::kPrompt, nullptr, 0},
      {"no prompt outside prompt mode", "\r\n> ", {}, Completion::kNone, nullptr, 0},
      {"NUL bytes read as blanks", "\r\nO\0K\r\nOK\r\n", {}, Completion::kOk, "O K\r\nOK", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResponseReader r;
    r.start(c.expect);
    // Bytes as they come, NUL included.
    std::string_view bytes(c.bytes, std::char_traits<char>::length(c.bytes));
    if (std::string_view(c.name) == "NUL bytes read as blanks")
      bytes = std::string_view(c.bytes, sizeof("\r\nO\0K\r\nOK\r\n") - 1);
    r.feed(bytes);
    EXPECT_EQ(r.completion(), c.want);
    if (c.want_text) {
      EXPECT_EQ(r.text(), c.want_text);
    }
    EXPECT_EQ(r.setAside().size(), c.reports);
  }
}

TEST(ResponseReaderTest, ReportsInTheMiddleOfAnAnswerAreSetAsideWhole) {
  ResponseReader r;
  r.start({});
  // A +CMT between the information text and the final result, split
  // across reads at awkward places.
  const std::string answer =
      "\r\n+CMGS: 12\r\n\r\n+CMT: ,24\r\n0791640700009F9040B91640700\r\n+CMTI: "
      "\"SM\",3\r\n\r\nOK\r\n";
  for (char c : answer) r.feed(std::string_view(&c, 1));
  EXPECT_EQ(r.completion(), Completion::kOk);
  EXPECT_EQ(r.text(), "+CMGS: 12\r\nOK");
  ASSERT_EQ(r.setAside().size(), 2u);
  EXPECT_EQ(r.setAside()[0].kind, Unsolicited::Kind::kCmt);
  EXPECT_EQ(r.setAside()[0].header, "+CMT: ,24");
  EXPECT_EQ(r.setAside()[0].body, "0791640700009F9040B91640700");
  EXPECT_EQ(r.setAside()[1].kind, Unsolicited::Kind::kCmti);
  EXPECT_TRUE(r.takeNewMessageFlag());
  EXPECT_FALSE(r.takeNewMessageFlag());
}

TEST(ResponseReaderTest, BytesAfterTheFinalResultWaitForTheNextResponse) {
  ResponseReader r;
  r.start({});
  r.feed("\r\nOK\r\n\r\n+CDS: 25\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);
  EXPECT_TRUE(r.setAside().empty());
  r.start({});
  EXPECT_TRUE(r.awaitingReportBody());
  r.feed("07916407000090F906\r\n\r\n+CSQ: 20,99\r\n\r\nOK\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);
  EXPECT_EQ(r.text(), "+CSQ: 20,99\r\nOK");
  ASSERT_EQ(r.setAside().size(), 1u);
  EXPECT_EQ(r.setAside()[0].kind, Unsolicited::Kind::kCds);
  EXPECT_EQ(r.setAside()[0].body, "07916407000090F906");
}

TEST(ResponseReaderTest, ReportWhosePduNeverCameIsDroppedNotTakenForTheAnswer) {
  ResponseReader r;
  r.start({});
  r.feed("\r\n+CMT: ,30\r\nOK\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);
  EXPECT_TRUE(r.setAside().empty());
  EXPECT_FALSE(r.awaitingReportBody());
}

TEST(ResponseReaderTest, TextModeStatusReportIsOneLine) {
  ResponseReader r(true);
  r.start({});
  r.feed(
      "\r\n+CDS: "
      "6,12,\"+46700900123\",145,\"26/12/09,13:02:03+00\",\"26/12/09,13:02:53+00\",0\r\nOK\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);
  ASSERT_EQ(r.setAside().size(), 1u);
  EXPECT_TRUE(r.setAside()[0].body.empty());
}

TEST(ResponseReaderTest, MemoryStaysBoundedWhateverArrives) {
  ResponseReader r;
  r.start({});
  // A megabyte without a line end, fed as a port delivers it.
  const std::string block(4096, 'A');
  for (int i = 0; i < 256; ++i) r.feed(block);
  EXPECT_GE(r.discardedBytes(), 1000000u);
  EXPECT_LE(r.text().size(), kMaxLine);
  // The line ends; the reader is usable at once.
  r.feed("AAAA\r\nOK\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);
  EXPECT_EQ(r.text(), "OK");

  // Endless short lines: the response text stops growing at its bound.
  r.start({});
  const std::string lines = [] {
    std::string s;
    for (int i = 0; i < 400; ++i) s += "junk line of some length\r\n";
    return s;
  }();
  for (int i = 0; i < 40; ++i) r.feed(lines);
  EXPECT_TRUE(r.overflowed());
  EXPECT_LE(r.text().size(), kMaxResponse);
  r.feed("OK\r\n");
  EXPECT_EQ(r.completion(), Completion::kOk);

  // Reports beyond the set-aside bound are counted, not stored.
  r.start({});
  for (size_t i = 0; i < kMaxSetAside + 10; ++i) r.feed("+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(r.setAside().size(), kMaxSetAside);
  EXPECT_EQ(r.droppedReports(), 10u);
}

TEST(ResponseReaderTest, HelpersReadErrorCodesAndLines) {
  EXPECT_EQ(cmsErrorCode("+CMGS: 1\r\n+CMS ERROR: 330"), 330);
  EXPECT_EQ(cmsErrorCode("+CME ERROR: 16"), 16);
  EXPECT_EQ(cmsErrorCode("ERROR"), -1);
  EXPECT_EQ(cmsErrorCode("+CMS ERROR: abc"), -1);
  EXPECT_EQ(findLineStarting("x\r\n+CPMS: 1,2\r\nOK", "+CPMS:"), "+CPMS: 1,2");
  EXPECT_EQ(printable("a\x01\x1A"
                      "b",
                      10),
            "a  b");
}

}  // namespace
}  // namespace vek::modem
