#include "http/server/closing.h"

#include <gtest/gtest.h>

#include <future>

#include "http/server/send.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::http {
namespace {

using platform::IoStatus;
using platform::UniqueFd;

// A connected pair over loopback: {client, server}.
std::pair<UniqueFd, UniqueFd> connectedPair() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  auto c = platform::connectTcp("127.0.0.1", platform::localPort(l->get()), 5000);
  auto s = platform::acceptConnection(l->get(), 5000);
  return {std::move(c.value()), std::move(s.value())};
}

TEST(ClosingTest, AliveTestTreatsAnyReadableIdleConnectionAsDead) {
  {
    auto [client, server] = connectedPair();
    tls::Stream s(std::move(server));
    EXPECT_TRUE(connectionAlive(s));
  }
  {
    auto [client, server] = connectedPair();
    ASSERT_EQ(platform::sendAll(client.get(), "unexpected", 1000), IoStatus::kOk);
    ASSERT_TRUE(vek::testing::waitUntil(
        [&] { return platform::waitReadable(server.get(), 0) != 0; }, std::chrono::seconds(2)));
    tls::Stream s(std::move(server));
    EXPECT_FALSE(connectionAlive(s));
  }
  {
    auto [client, server] = connectedPair();
    client.reset();
    ASSERT_TRUE(vek::testing::waitUntil(
        [&] { return platform::waitReadable(server.get(), 0) != 0; }, std::chrono::seconds(2)));
    EXPECT_FALSE(connectionAlive(server.get()));
  }
}

TEST(ClosingTest, GracefulCloseDeliversTheResponseDespiteUnreadInput) {
  auto [client, server] = connectedPair();
  // The client sent more than the server will ever read.
  ASSERT_EQ(platform::sendAll(client.get(), std::string(20000, 'j'), 5000), IoStatus::kOk);
  std::string response(16 << 20, 'r');
  auto done = std::async(std::launch::async, [&, fd = std::move(server)]() mutable {
    tls::Stream s(std::move(fd));
    bool ok = sendData(s, response);
    gracefulClose(s, std::chrono::seconds(5));
    return ok;
  });
  std::string got;
  char buf[65536];
  for (;;) {
    size_t n = 0;
    IoStatus st = platform::recvSome(client.get(), buf, sizeof buf, 5000, &n);
    if (st != IoStatus::kOk) {
      EXPECT_EQ(st, IoStatus::kClosed);
      break;
    }
    got.append(buf, n);
  }
  EXPECT_EQ(got.size(), response.size());
  client.reset();  // lets the drain end
  EXPECT_TRUE(done.get());
}

TEST(ClosingTest, SendFileSendsHeaderAndBlocks) {
  vek::testing::TempDir dir;
  std::string content;
  for (int i = 0; i < 40000; ++i) content.push_back(static_cast<char>('a' + i % 26));
  vek::testing::writeText(dir.file("f.bin"), content);
  auto [client, server] = connectedPair();
  tls::Stream s(std::move(server));
  auto sent = std::async(std::launch::async,
                         [&] { return sendFile(s, dir.file("f.bin"), "HEAD\r\n\r\n"); });
  std::string got(content.size() + 8, '\0');
  ASSERT_EQ(platform::recvExact(client.get(), got.data(), got.size(), 5000), IoStatus::kOk);
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(got, "HEAD\r\n\r\n" + content);
  EXPECT_FALSE(sendFile(s, dir.file("missing.bin")));
}

}  // namespace
}  // namespace vek::http
