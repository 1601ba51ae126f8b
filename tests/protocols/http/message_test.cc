#include "protocols/http/message.h"

#include <gtest/gtest.h>

namespace vek::httpwire {
namespace {

TEST(MessageTest, BodyOffsetFindsTheFirstBlankLine) {
  struct Case {
    std::string msg;
    size_t strict, tolerant;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\nbody", 27, 27},
      {"GET / HTTP/1.1\nHost: a\n\nbody", 24, 24},
      {"GET / HTTP/1.1\r\nHost: a\r\n", 0, 25},
      // A lone CR after a line feed, and blanks before the next one, count
      // as a blank line only for the lenient variant.
      {"GET / HTTP/1.1\n\rx=1", 0, 16},
      {"GET / HTTP/1.1\r\n  \r\nx=1", 0, 20},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bodyOffset(c.msg), c.strict) << c.msg;
    EXPECT_EQ(tolerantBodyOffset(c.msg), c.tolerant) << c.msg;
  }
}

TEST(MessageTest, HeadersAreFoundOnlyAtLineStartsInTheHeaderArea) {
  std::string msg =
      "POST /x HTTP/1.1\r\nX-Host: evil\r\nhost:  gw.example:8800 trailing\r\nUser-Agent: "
      "Mozilla/5.0\r\n"
      "Content-Length: 52\r\n\r\nAuthorization: Basic dXNlcjpwYXNz\r\nAccept: text/x\r\n";
  EXPECT_EQ(hostHeader(msg), "gw.example:8800");
  EXPECT_EQ(headerValue(msg, "HOST:"), "gw.example:8800 trailing");
  EXPECT_EQ(userAgent(msg), "Mozilla/5.0");
  EXPECT_EQ(findHeader(msg, "Authorization:"), std::nullopt);
  EXPECT_EQ(acceptHeader(msg), "");
  EXPECT_TRUE(basicCredentials(msg).user.empty());
  EXPECT_EQ(contentLength(msg), 52u);
  EXPECT_EQ(headerValue(msg, "Host:", 5), "gw.e");  // size - 1 characters
}

TEST(MessageTest, BasicCredentials) {
  struct Case {
    const char* header;
    const char* user;
    const char* password;
  } cases[] = {
      {"Authorization: Basic dXNlcjpwYXNz", "user", "pass"},
      {"authorization:basic   dXNlcjpwOmFzcw==", "user", "p:ass"},
      {"Authorization: Basic YWRtaW4=", "admin", ""},  // no colon: all of it is the user
      {"Authorization: Bearer dXNlcjpwYXNz", "", ""},
      {"Authorization: Basicx dXNlcjpwYXNz", "", ""},
      {"X-Other: 1", "", ""},
  };
  for (const auto& c : cases) {
    std::string msg = std::string("GET / HTTP/1.1\r\n") + c.header + "\r\n\r\n";
    Credentials cr = basicCredentials(msg);
    EXPECT_EQ(cr.user, c.user) << c.header;
    EXPECT_EQ(cr.password, c.password) << c.header;
  }
}

TEST(MessageTest, ResponseStatusCode) {
  EXPECT_EQ(responseStatusCode("HTTP/1.1 200 OK\r\n"), 200);
  EXPECT_EQ(responseStatusCode("  http/1.0   404 Not Found"), 404);
  EXPECT_EQ(responseStatusCode("HTTP/1.1\r\n"), 0);
  EXPECT_EQ(responseStatusCode("ICY 200 OK"), 0);
}

struct CheckCase {
  std::string data;
  MessageState state;
  size_t length;
};

void expectCheck(const CheckCase& c, const MessageLimits& limits = {}) {
  MessageCheck r = checkMessage(c.data, limits);
  EXPECT_EQ(static_cast<int>(r.state), static_cast<int>(c.state)) << c.data << " / " << r.reason;
  if (c.state == MessageState::kComplete) {
    EXPECT_EQ(r.length, c.length) << c.data;
  }
  // Fed one byte at a time the scanner must reach the same verdict (it
  // resumes where it stopped; a verdict may come earlier for a refusal).
  MessageScanner s(limits);
  MessageCheck last;
  for (size_t i = 1; i <= c.data.size(); ++i) {
    last = s.scan(std::string_view(c.data).substr(0, i));
    if (last.state != MessageState::kIncomplete) break;
  }
  EXPECT_EQ(static_cast<int>(last.state), static_cast<int>(c.state)) << "bytewise: " << c.data;
  if (c.state == MessageState::kComplete) {
    EXPECT_EQ(last.length, c.length) << "bytewise: " << c.data;
  }
}

TEST(MessageTest, CompletenessAndFraming) {
  using S = MessageState;
  const std::string h = "POST /x HTTP/1.1\r\n";
  const CheckCase cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n", S::kIncomplete, 0},
      {"GET / HTTP/1.1\r\n\r\n", S::kComplete, 18},
      {"GET / HTTP/1.1\n\nGET /2", S::kComplete, 16},  // pipelined bytes follow
      {h + "Content-Length: 5\r\n\r\nhel", S::kIncomplete, 0},
      {h + "Content-Length: 5\r\n\r\nhelloGET", S::kComplete, 44},
      {h + "Content-Length:  5 \r\ncontent-length: 5\r\n\r\nhello", S::kComplete, 65},
      {h + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", S::kComplete, 63},
      {h + "Transfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n0\n\r\nNEXT", S::kComplete, 68},
      {h + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", S::kIncomplete, 0},
      // Refused framing.
      {h + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\nX-Trailer: 1\r\n\r\n",
       S::kMalformed, 0},
      {h + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", S::kMalformed, 0},
      {h + "Transfer-Encoding: chunked\r\n\r\n5\r\nhelloXX0\r\n\r\n", S::kMalformed, 0},
      {h + "Transfer-Encoding: chunked\r\n\r\n5 x\r\nhello\r\n0\r\n\r\n", S::kMalformed, 0},
      {h + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       S::kMalformed, 0},
      {h + "Transfer-Encoding: gzip\r\n\r\n", S::kMalformed, 0},
      {h + "Content-Length: 5x\r\n\r\nhello", S::kMalformed, 0},
      {h + "Content-Length: -1\r\n\r\n", S::kMalformed, 0},
      {h + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", S::kMalformed, 0},
      // 2^32 + 1 is refused, not wrapped to 1.
      {h + "Content-Length: 4294967297\r\n\r\nx", S::kTooLarge, 0},
      {h + "Content-Length: 99999999999999999999999999\r\n\r\n", S::kTooLarge, 0},
      {h + "Content-Length: 18446744073709551621\r\n\r\nhello", S::kTooLarge, 0},  // 2^64 + 5
      {h + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n", S::kTooLarge, 0},
  };
  for (const auto& c : cases) expectCheck(c);
}

TEST(MessageTest, LimitsBoundHeaderAndBody) {
  MessageLimits limits;
  limits.max_message = 100;
  limits.max_header = 50;
  using S = MessageState;
  const CheckCase cases[] = {
      {"GET / HTTP/1.1\r\nX: " + std::string(40, 'a'), S::kHeaderTooLarge, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 90\r\n\r\n", S::kTooLarge, 0},
      {"POST / HTTP/1.1\r\nContent-Length: 61\r\n\r\n" + std::string(61, 'b'), S::kComplete, 100},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(60, '0') + "1\r\n",
       S::kTooLarge, 0},
  };
  for (const auto& c : cases) expectCheck(c, limits);
}

TEST(MessageTest, RemoveChunkingLeavesThePlainBody) {
  std::string msg =
      "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;x=y\r\n "
      "\r\nA\r\n0123456789\r\n0\r\n\r\n";
  size_t body = bodyOffset(msg);
  ASSERT_TRUE(removeChunking(&msg, body));
  EXPECT_EQ(msg.substr(body), "hello 0123456789");
  EXPECT_EQ(msg.substr(0, body), "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");

  std::string broken = "POST / HTTP/1.1\r\n\r\n5\r\nhelloXX";
  std::string copy = broken;
  EXPECT_FALSE(removeChunking(&broken, bodyOffset(broken)));
  EXPECT_EQ(broken, copy);
}

}  // namespace
}  // namespace vek::httpwire
