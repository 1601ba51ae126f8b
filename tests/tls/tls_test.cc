#include "tls/tls.h"

#include <gtest/gtest.h>

#include <future>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "support/test_support.h"
#include "tls/stream.h"

namespace vek::tls {
namespace {

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sslInitLib());
    platform::ProcessOptions o;
    o.argv = {"openssl",  "req",
              "-x509",    "-newkey",
              "rsa:2048", "-nodes",
              "-days",    "1",
              "-subj",    "/CN=localhost",
              "-keyout",  dir_.file("SSLKEY.PEM"),
              "-out",     dir_.file("SSLCERT.PEM")};
    auto r = platform::runProcess(o);
    if (!r.exitedWith(0)) GTEST_SKIP() << "openssl program not available";
    sslSetCertificateDirectory(dir_.path());
  }
  vek::testing::TempDir dir_;
};

TEST_F(TlsTest, ServerAndClientExchangeDataAndVerificationIsOnByDefault) {
  ASSERT_TRUE(sslServerCertExists());
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  uint16_t port = platform::localPort(listener->get());

  auto server = std::async(std::launch::async, [&] {
    std::string answer;
    for (int i = 0; i < 2; ++i) {
      auto c = platform::acceptConnection(listener->get(), 5000);
      if (!c.ok()) return answer;
      std::string err;
      TlsSession* s = sslAcceptSession(c->get(), 5000, &err);
      if (!s) {
        answer += "refused;";
        continue;
      }
      Stream stream(std::move(c.value()), SessionPtr(s));
      char buf[16];
      size_t got;
      if (stream.readSome(buf, sizeof buf, 5000, &got) == platform::IoStatus::kOk) {
        answer += std::string(buf, got) + ";";
        (void)stream.writeAll("pong", 5000);
      }
    }
    return answer;
  });

  // A self-signed certificate fails verification, which is on by default.
  {
    auto fd = platform::connectTcp("127.0.0.1", port, 5000);
    ASSERT_TRUE(fd.ok());
    std::string err;
    ClientOptions opts;
    opts.server_name = "localhost";
    EXPECT_EQ(sslInitSession(fd->get(), &err, opts), nullptr);
    EXPECT_FALSE(err.empty());
  }
  {
    auto fd = platform::connectTcp("127.0.0.1", port, 5000);
    ASSERT_TRUE(fd.ok());
    std::string err;
    ClientOptions opts;
    opts.server_name = "localhost";
    opts.ca_file = dir_.file("SSLCERT.PEM");
    TlsSession* s = sslInitSession(fd->get(), &err, opts);
    ASSERT_NE(s, nullptr) << err;
    Stream stream(std::move(fd.value()), SessionPtr(s));
    ASSERT_EQ(stream.writeAll("ping", 5000), platform::IoStatus::kOk);
    char buf[4];
    ASSERT_EQ(stream.readExact(buf, 4, 5000), platform::IoStatus::kOk);
    EXPECT_EQ(std::string(buf, 4), "pong");
  }
  EXPECT_EQ(server.get(), "refused;ping;");
}

TEST_F(TlsTest, AHalfOpenHandshakeTimesOut) {
  auto listener = platform::listenTcp("127.0.0.1", 0);
  ASSERT_TRUE(listener.ok());
  auto client = platform::connectTcp("127.0.0.1", platform::localPort(listener->get()), 5000);
  ASSERT_TRUE(client.ok());
  auto c = platform::acceptConnection(listener->get(), 5000);
  ASSERT_TRUE(c.ok());
  std::string err;
  platform::FakeClock fake;
  fake.setAutoAdvance(true);  // the silent peer's time passes at once
  platform::ScopedClock use(&fake);
  auto start = platform::monotonicNow();
  EXPECT_EQ(sslAcceptSession(c->get(), 30000, &err), nullptr);
  EXPECT_EQ(platform::monotonicNow() - start, std::chrono::seconds(30));
  EXPECT_NE(err.find("timed out"), std::string::npos) << err;
}

TEST(TlsNoCertTest, MissingCertificateMeansNoServer) {
  vek::testing::TempDir dir;
  sslSetCertificateDirectory(dir.path());
  EXPECT_FALSE(sslServerCertExists());
}

}  // namespace
}  // namespace vek::tls
