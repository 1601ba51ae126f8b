#include "encoding/mime.h"

#include <gtest/gtest.h>

#include <vector>

namespace vek::encoding {
namespace {

std::vector<std::string> allLines(std::string_view text, size_t size) {
  TextCursor c{text};
  std::vector<std::string> out;
  std::string line;
  while (readTextLine(c, &line, size) && out.size() < 100) out.push_back(line);
  return out;
}

TEST(MimeTest, TextLineReader) {
  using V = std::vector<std::string>;
  EXPECT_EQ(allLines("a\r\nb\nc\rd", 100), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(allLines("\x1a\x1a"
                     "a\r\r\nb",
                     100),
            (V{"a ", "b"}));
  EXPECT_EQ(allLines("\r\n\r\n", 100), (V{"", ""}));
  // A full buffer is cut after its last space; the rest is the next line.
  EXPECT_EQ(allLines("one two three\nx", 9), (V{"one two ", "three", "x"}));
  EXPECT_EQ(allLines("abcdefghij\n", 5), (V{"abcd", "efgh", "ij"}));
  // A line exactly as long as the buffer keeps its break.
  EXPECT_EQ(allLines("abcd\nef", 5), (V{"abcd", "ef"}));

  std::string long_line = "x" + std::string(600, 'y');
  TextCursor c{long_line};
  std::string line;
  ASSERT_TRUE(readShortTextLine(c, &line));
  EXPECT_EQ(line.size(), 511u);
}

TEST(MimeTest, BoundaryLines) {
  EXPECT_TRUE(isBoundaryLine("--AbC", "--abc"));
  EXPECT_TRUE(isBoundaryLine("--abc--  ", "--abc"));
  EXPECT_FALSE(isBoundaryLine("--abcd", "--abc"));
  EXPECT_FALSE(isBoundaryLine("x--abc", "--abc"));
  EXPECT_TRUE(isClosingBoundary("--abc--", "--abc"));
  EXPECT_FALSE(isClosingBoundary("--abc", "--abc"));
}

TEST(MimeTest, RawCopyIsByteExactAndStopsAtTheBoundary) {
  std::string binary = "\x89PNG\r\n\x1a\n\r\rdata\n";
  std::string body = binary + "\r\n--b\r\nnext";
  TextCursor c{body};
  std::string out;
  ASSERT_TRUE(copyMimePartRaw(c, "--b", &out));
  EXPECT_EQ(out, binary);
  EXPECT_EQ(body.substr(c.pos, 3), "--b");

  TextCursor empty{std::string_view("--b--\r\n")};
  out.clear();
  EXPECT_TRUE(copyMimePartRaw(empty, "--b", &out));
  EXPECT_EQ(out, "");
  EXPECT_EQ(empty.pos, 0u);
}

TEST(MimeTest, QuotedPrintableAndBase64Copies) {
  std::string qp = "caf=C3=A9 soft=\r\nbreak\r\n..dot\r\n--b--\r\n";
  TextCursor c{qp};
  std::string out;
  ASSERT_TRUE(copyMimePartQuotedPrintable(c, "--b", &out));
  EXPECT_EQ(out, "café softbreak\r\n.dot");

  // Groups split across lines are carried over.
  std::string b64 = "Zm9v\r\nYm\r\nFy\r\n--b\r\n";
  TextCursor d{b64};
  out.clear();
  ASSERT_TRUE(copyMimePartBase64(d, "--b", &out));
  EXPECT_EQ(out, "foobar");
  EXPECT_EQ(b64.substr(d.pos), "--b\r\n");
}

}  // namespace
}  // namespace vek::encoding
