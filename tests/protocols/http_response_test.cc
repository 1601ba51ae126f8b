#include <gtest/gtest.h>

#include <cstring>

#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "protocols/http/message.h"
#include "protocols/http/response_reader.h"
#include "support/test_support.h"

namespace vek::httpwire {
namespace {

using platform::IoStatus;
using RS = ResponseStatus;

// Hands out `data` in pieces of `piece` bytes, then the end of the connection.
class PiecesTransport final : public Transport {
 public:
  PiecesTransport(std::string data, size_t piece) : data_(std::move(data)), piece_(piece) {}
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    if (pos_ >= data_.size()) return IoStatus::kClosed;
    *got = std::min({len, piece_, data_.size() - pos_});
    std::memcpy(buf, data_.data() + pos_, *got);
    pos_ += *got;
    return IoStatus::kOk;
  }

 private:
  std::string data_;
  size_t piece_;
  size_t pos_ = 0;
};

struct Case {
  std::string wire{};
  RS status{};
  int code = 0;
  std::string body{};
  bool reusable = false;
};

ResponseStatus readAll(const std::string& wire, size_t piece, Response* out, std::string* error,
                       ResponseWaitOptions options = {}) {
  PiecesTransport t(wire, piece);
  return HttpResponseWait(t, options, out, error);
}

TEST(HttpResponseTest, FramingOfResponses) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const Case cases[] = {
      {ok + "Content-Length: 5\r\n\r\nhello", RS::kOk, 200, "hello", true},
      {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n0\r\n\r\n", RS::kOk, 200, "Hi", true},
      {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n0\r\nX-Sum: 1\r\n\r\n", RS::kOk, 200,
       "Hi", true},
      // No body whatever the header says, and the connection stays usable.
      {"HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", RS::kOk, 204, "", true},
      {"HTTP/1.1 304 Not Modified\r\n\r\n", RS::kOk, 304, "", true},
      // Interim answers are skipped, however many.
      {"HTTP/1.1 100 Continue\r\n\r\n" + ok + "Content-Length: 2\r\n\r\nok", RS::kOk, 200, "ok",
       true},
      {"HTTP/1.1 100 Continue\r\n\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" + ok +
           "Content-Length: 0\r\n\r\n",
       RS::kOk, 200, "", true},
      // Kept only for framed HTTP/1.1 answers without "close" and surplus.
      {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", RS::kOk, 200, "x", false},
      {ok + "Connection: close\r\nContent-Length: 1\r\n\r\nx", RS::kOk, 200, "x", false},
      {ok + "\r\nuntil the end", RS::kOk, 200, "until the end", false},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnot", RS::kOk, 404, "not", true},
      // Cut short: a failure, never a shorter body.
      {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n", RS::kTruncated},
      {ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nHi\r\n0\r\n", RS::kTruncated},
      {ok + "Content-Length: 10\r\n\r\nabc", RS::kTruncated},
      {ok + "Content-Length: 10\r\n", RS::kTruncated},
      {"", RS::kNoResponse},
      // Bad input.
      {"SSH-2.0-OpenSSH_9.2\r\n", RS::kMalformed},
      {"HTTP/1.1 abc\r\n\r\n", RS::kMalformed},
      {"HTTP/2 200\r\n\r\n", RS::kMalformed},
      {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\n", RS::kMalformed},
      {ok + "Content-Length: 2147483648\r\n\r\n", RS::kTooLarge},
      {ok + "Content-Length: -1\r\n\r\n", RS::kMalformed},
      {ok + "Content-Length: 1\r\nContent-Length: 1\r\n\r\nx", RS::kMalformed},
      {ok + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nxy", RS::kMalformed},
      {ok + "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n",
       RS::kMalformed},
      {ok + "Transfer-Encoding: chunked\r\n\r\n" + std::string(40, 'F') + "\r\n", RS::kTooLarge},
      {ok + "X: " + std::string(100000, 'a'), RS::kTooLarge},
      {ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n" + std::string(100000, 'a'), RS::kTooLarge},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{1} << 20}) {
      SCOPED_TRACE(c.wire.substr(0, 120) + " / pieces of " + std::to_string(piece));
      Response r;
      std::string error;
      ASSERT_EQ(readAll(c.wire, piece, &r, &error), c.status) << error;
      if (c.status != RS::kOk) {
        EXPECT_FALSE(error.empty());
        continue;
      }
      EXPECT_EQ(r.status, c.code);
      EXPECT_EQ(r.body(), c.body);
      EXPECT_EQ(r.connectionReusable(), c.reusable);
    }
  }
}

TEST(HttpResponseTest, HeadSurplusAndSizeLimit) {
  ResponseWaitOptions head;
  head.head_request = true;
  Response r;
  std::string error;
  ASSERT_EQ(readAll("HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n", 3, &r, &error, head), RS::kOk);
  EXPECT_EQ(r.body(), "");

  // Bytes after the answer (read with it) rule out reusing the connection.
  ASSERT_EQ(readAll("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxSURPLUS", 1 << 20, &r, &error),
            RS::kOk);
  EXPECT_EQ(r.body(), "x");
  EXPECT_EQ(r.surplus, 7u);
  EXPECT_FALSE(r.connectionReusable());

  ResponseWaitOptions small;
  small.limits.max_message = 100;
  const std::string body_to_close = "HTTP/1.1 200 OK\r\n\r\n" + std::string(200, 'b');
  EXPECT_EQ(readAll(body_to_close, 13, &r, &error, small), RS::kTooLarge);
  const std::string declared = "HTTP/1.1 200 OK\r\nContent-Length: 90\r\n\r\n";
  EXPECT_EQ(readAll(declared, 13, &r, &error, small), RS::kTooLarge);
  EXPECT_NE(error.find("MaxHTTPResponseSize"), std::string::npos) << error;
}

TEST(HttpResponseTest, AStalledServerFailsWithinTheReadTimeout) {
  auto pair = platform::socketPair();
  ASSERT_TRUE(pair.ok());
  ASSERT_EQ(
      platform::sendAll(pair->first.get(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", 1000),
      IoStatus::kOk);
  tls::Stream stream(std::move(pair->second));
  StreamTransport transport(stream);
  ResponseWaitOptions options;
  options.read_timeout = std::chrono::milliseconds(200);
  Response r;
  std::string error;
  auto start = platform::monotonicNow();
  EXPECT_EQ(HttpResponseWait(transport, options, &r, &error), RS::kTimedOut);
  auto took = platform::monotonicNow() - start;
  EXPECT_GE(took, std::chrono::milliseconds(190));
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_NE(error.find("stalled"), std::string::npos) << error;
}

// Endless interim answers, one byte at a time: each byte resets the read
// timeout, so only the whole-response deadline ends it.
class EndlessInterim final : public Transport {
 public:
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    static const std::string kInterim = "HTTP/1.1 100 Continue\r\n\r\n";
    if (len == 0) return IoStatus::kError;
    *static_cast<char*>(buf) = kInterim[pos_++ % kInterim.size()];
    *got = 1;
    return IoStatus::kOk;
  }

 private:
  size_t pos_ = 0;
};

TEST(HttpResponseTest, TheDeadlineEndsATricklingServer) {
  EndlessInterim transport;
  ResponseWaitOptions options;
  options.read_timeout = std::chrono::seconds(10);
  options.deadline = platform::monotonicNow() + std::chrono::milliseconds(150);
  Response r;
  std::string error;
  auto start = platform::monotonicNow();
  EXPECT_EQ(HttpResponseWait(transport, options, &r, &error), RS::kTimedOut);
  EXPECT_LT(platform::monotonicNow() - start, std::chrono::seconds(3));
  EXPECT_NE(error.find("time limit"), std::string::npos) << error;
}

// The server side keeps its rules: the request tests in tests/http/ cover
// them; here only that the roles do not leak into each other.
TEST(HttpResponseTest, RequestFramingIsUnchangedByTheResponseRole) {
  const std::string twice = "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx";
  EXPECT_EQ(checkMessage(twice).state, MessageState::kComplete);
  MessageScanner response(MessageLimits{}, MessageRole::kResponse);
  EXPECT_EQ(
      response.scan("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\nx").state,
      MessageState::kMalformed);
  // A request without a length has no body; a response without one runs
  // to the close.
  EXPECT_EQ(checkMessage("GET / HTTP/1.1\r\n\r\n").state, MessageState::kComplete);
  MessageScanner open_ended(MessageLimits{}, MessageRole::kResponse);
  std::string_view data = "HTTP/1.1 200 OK\r\n\r\nabc";
  EXPECT_EQ(open_ended.scan(data).state, MessageState::kIncomplete);
  MessageCheck at_close = open_ended.finishAtClose(data);
  EXPECT_EQ(at_close.state, MessageState::kComplete);
  EXPECT_EQ(at_close.length, data.size());
}

}  // namespace
}  // namespace vek::httpwire
