#include "http/server/request_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "platform/shutdown.h"

namespace vek::http {
namespace {

using platform::IoStatus;

// Delivers the pieces one read at a time, then ends (closed) or stalls.
class MemoryChannel final : public ByteChannel {
 public:
  explicit MemoryChannel(std::deque<std::string> pieces, bool stall_at_end = false)
      : pieces_(std::move(pieces)), stall_(stall_at_end) {}
  IoStatus readSome(void* buf, size_t len, int, size_t* got) override {
    ++reads;
    if (pieces_.empty()) return stall_ ? IoStatus::kTimeout : IoStatus::kClosed;
    std::string& p = pieces_.front();
    *got = std::min(len, p.size());
    std::memcpy(buf, p.data(), *got);
    p.erase(0, *got);
    if (p.empty()) pieces_.pop_front();
    return IoStatus::kOk;
  }
  IoStatus writeAll(std::string_view data, int) override {
    written += data;
    return IoStatus::kOk;
  }
  std::string written;
  int reads = 0;

 private:
  std::deque<std::string> pieces_;
  bool stall_;
};

TEST(RequestReaderTest, PipelinedRequestsComeOutOneByOne) {
  MemoryChannel ch(
      {"\r\nGET /a HTTP/1.1\r\n\r\nPOST /b HTTP/1.1\r\nContent-Length: 3\r\n\r\nxyz\r\nGET /c "
       "HTTP/1.0\r\n",
       "\r\n"});
  RequestReader reader;
  Request r;
  ASSERT_EQ(reader.read(ch, &r), ReadStatus::kOk);
  EXPECT_EQ(r.target(), "/a");
  EXPECT_TRUE(reader.hasPending());
  ASSERT_EQ(reader.read(ch, &r), ReadStatus::kOk);
  EXPECT_EQ(r.method(), "POST");
  EXPECT_EQ(r.body(), "xyz");
  ASSERT_EQ(reader.read(ch, &r), ReadStatus::kOk);  // leading CR LF dropped, rest arrives later
  EXPECT_EQ(r.requestLine(), "GET /c HTTP/1.0");
  EXPECT_EQ(r.protocol(), "HTTP/1.0");
  EXPECT_EQ(reader.read(ch, &r), ReadStatus::kClosed);
}

TEST(RequestReaderTest, ChunkedBodyArrivingInPiecesIsReadWhole) {
  MemoryChannel ch(
      {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n", "5\r\nhel",
       "lo\r\n0\r", "\n\r\nGET /next HTTP/1.1\r\n\r\n"});
  RequestReader reader;
  Request r;
  ASSERT_EQ(reader.read(ch, &r), ReadStatus::kOk);
  EXPECT_EQ(r.body(), "hello");
  EXPECT_EQ(ch.written, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_EQ(reader.read(ch, &r), ReadStatus::kOk);
  EXPECT_EQ(r.target(), "/next");
}

TEST(RequestReaderTest, RefusalsAndEnds) {
  struct Case {
    std::deque<std::string> pieces;
    bool stall;
    ReadStatus expected;
  } cases[] = {
      {{"POST / HTTP/1.1\r\nContent-Length: 4294967297\r\n\r\n"}, false, ReadStatus::kTooLarge},
      {{"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nq\r\n"},
       false,
       ReadStatus::kMalformed},
      {{"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"}, false, ReadStatus::kClosed},
      {{"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"}, true, ReadStatus::kTimedOut},
      {{"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a')}, false, ReadStatus::kHeaderTooLarge},
  };
  for (auto& c : cases) {
    MemoryChannel ch(c.pieces, c.stall);
    ReaderLimits limits;
    limits.idle_timeout = std::chrono::milliseconds(50);
    limits.wait_slice = std::chrono::milliseconds(10);
    RequestReader reader(limits);
    Request r;
    EXPECT_EQ(reader.read(ch, &r), c.expected) << c.pieces.front().substr(0, 60);
  }
}

TEST(RequestReaderTest, NeverBuffersMuchMoreThanTheLimit) {
  // A body far larger than the limit, without any declared length problem:
  // the reader stops at the limit instead of reading it all.
  std::deque<std::string> pieces;
  pieces.push_back("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n100000\r\n");
  for (int i = 0; i < 64; ++i) pieces.push_back(std::string(65536, 'z'));
  MemoryChannel ch(pieces);
  ReaderLimits limits;
  limits.message.max_message = 100000;
  RequestReader reader(limits);
  Request r;
  EXPECT_EQ(reader.read(ch, &r), ReadStatus::kTooLarge);
  EXPECT_LE(ch.reads, 4);
}

TEST(RequestReaderTest, StopFlagEndsAWait) {
  MemoryChannel ch({"GET / HTTP/1.1\r\n"}, true);
  RequestReader reader;
  platform::requestShutdown();
  Request r;
  EXPECT_EQ(reader.read(ch, &r), ReadStatus::kStopped);
  platform::resetShutdownForTesting();
}

}  // namespace
}  // namespace vek::http
