#include <gtest/gtest.h>

#include "encoding/base64.h"
#include "hostlib/host.h"
#include "http_peers.h"
#include "protocols/http/client.h"
#include "support/test_support.h"
#include "tls/tls.h"

namespace vek::httpwire {
namespace {

using testing::ConnectProxy;
using testing::TestHttpServer;
using Reply = TestHttpServer::Reply;

Reply okText(const std::string& body) {
  return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body};
}

class HttpClientTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tls::sslInitLib());
    if (!testing::makeCertificate(dir_.path())) GTEST_SKIP() << "openssl program not available";
    useConfiguration("");
  }
  void useConfiguration(const std::string& smsgw) {
    vek::testing::writeText(dir_.file("SMSGW.INI"), "[SMSGW]\n" + smsgw);
    hostlib::SMSIniSetFilename(dir_.file("SMSGW.INI"));
  }
  RetrieveOptions trusting(bool trust_our_certificate) const {
    RetrieveOptions o;
    o.timeout = std::chrono::seconds(5);
    o.connect_timeout = std::chrono::seconds(2);
    o.trust = TlsTrust{};
    if (trust_our_certificate) o.trust->ca_file = dir_.file("SSLCERT.PEM");
    return o;
  }
  vek::testing::TempDir dir_;
};

TEST_F(HttpClientTlsTest, SelfSignedFailsByDefaultAndPassesWithItsCertificateTrusted) {
  TestHttpServer server([](const std::string&, int, int) { return okText("secret"); }, dir_.path());
  std::string by_name = "https://localhost:" + std::to_string(server.port()) + "/";

  RetrieveResult r = RetrieveURL(server.url(), trusting(false));
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.error.starts_with("SSL/TLS Error - ")) << r.error;

  r = RetrieveURL(server.url(), trusting(true));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "secret");
  r = RetrieveURL(by_name, trusting(true));
  ASSERT_TRUE(r.ok) << r.error;

  // Trusting a file for one request trusts it for that request only.
  EXPECT_FALSE(RetrieveURL(server.url(), trusting(false)).ok);

  // The setting for a trusted CA file applies when the caller names none.
  useConfiguration("HTTPClientCAFile=" + dir_.file("SSLCERT.PEM") + "\n");
  RetrieveOptions configured;
  configured.timeout = std::chrono::seconds(5);
  r = RetrieveURL(server.url(), configured);
  EXPECT_TRUE(r.ok) << r.error;
}

TEST_F(HttpClientTlsTest, TheCertificateMustNameTheServer) {
  TestHttpServer server([](const std::string&, int, int) { return okText("x"); }, dir_.path());
  // The proxy leads to our server under a name its certificate lacks.
  ConnectProxy proxy(server.port());
  RetrieveOptions o = trusting(true);
  o.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  RetrieveResult r = RetrieveURL("https://wrong.example.test/", o);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.error.starts_with("SSL/TLS Error - ")) << r.error;
}

TEST_F(HttpClientTlsTest, HttpsNeverFallsBackToPlainHttp) {
  TestHttpServer plain([](const std::string&, int, int) { return okText("plain"); });
  RetrieveResult r =
      RetrieveURL("https://127.0.0.1:" + std::to_string(plain.port()) + "/", trusting(true));
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.error.starts_with("SSL/TLS Error - ")) << r.error;
}

TEST_F(HttpClientTlsTest, KeepAliveOverTls) {
  TestHttpServer server([](const std::string&, int, int) { return okText("again"); }, dir_.path());
  KeepAliveSlot slot;
  ASSERT_TRUE(RetrieveURL(server.url("/1"), trusting(true), &slot).ok);
  RetrieveResult r = RetrieveURL(server.url("/2"), trusting(true), &slot);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.reused_connection);
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(HttpClientTlsTest, ConnectProxyCarriesTlsEndToEnd) {
  TestHttpServer server(
      [](const std::string& head, int, int) { return okText(head.substr(0, head.find("\r\n"))); },
      dir_.path());
  ConnectProxy proxy(server.port());
  RetrieveOptions o = trusting(true);
  o.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  RetrieveResult r = RetrieveURL("https://tls.example.test:4443/secret?k=v", o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "GET /secret?k=v HTTP/1.1");  // origin form inside the tunnel

  auto heads = proxy.heads();
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0],
            "CONNECT tls.example.test:4443 HTTP/1.1\r\nHost: tls.example.test:4443\r\n\r\n");
  EXPECT_EQ(proxy.relayedToServer().find("secret"), std::string::npos);  // encrypted
  EXPECT_NE(server.heads()[0].find("Host: tls.example.test:4443\r\n"), std::string::npos);
}

TEST_F(HttpClientTlsTest, ARefusingProxyFailsTheRequest) {
  TestHttpServer refusing([](const std::string&, int, int) {
    return Reply{"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"};
  });
  RetrieveOptions o = trusting(true);
  o.proxy = "127.0.0.1:" + std::to_string(refusing.port());
  RetrieveResult r = RetrieveURL("https://tls.example.test/", o);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Proxy Server rejected SSL/TLS connection attempt");
}

TEST_F(HttpClientTlsTest, CredentialsAreDroppedFromHttpsToHttp) {
  TestHttpServer plain([](const std::string&, int, int) { return okText("plain"); });
  std::string target = "http://127.0.0.1:" + std::to_string(plain.port()) + "/p";
  TestHttpServer secure(
      [&](const std::string&, int, int) {
        return Reply{"HTTP/1.1 302 Found\r\nLocation: " + target + "\r\nContent-Length: 0\r\n\r\n"};
      },
      dir_.path());
  std::string url = "https://user:pw@127.0.0.1:" + std::to_string(secure.port()) + "/";
  RetrieveResult r = RetrieveURL(url, trusting(true));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_NE(secure.heads()[0].find("Authorization: Basic"), std::string::npos);
  ASSERT_EQ(plain.heads().size(), 1u);
  EXPECT_EQ(plain.heads()[0].find("Authorization:"), std::string::npos);
}

TEST_F(HttpClientTlsTest, TheLocalAliasTrustsTheGatewaysOwnCertificate) {
  TestHttpServer server([](const std::string&, int, int) { return okText("self"); }, dir_.path());
  tls::sslSetCertificateDirectory(dir_.path());
  useConfiguration("WebPortSSL=" + std::to_string(server.port()) + "\n");
  RetrieveResult r = RetrieveURL("https://veksmslocal/x", trusting(false));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body(), "self");
}

}  // namespace
}  // namespace vek::httpwire
