// UCP/EMI and CIMD2 links without a message centre process: the settings
// they read, the texts of a link that cannot come up, the translation of
// results, and the ReceivePort listener with a fake serve entry.
#include "links/text_link.h"

#include <gtest/gtest.h>

#include <atomic>

#include "link_env.h"
#include "links/cimd_link.h"
#include "links/receive_port.h"
#include "links/sender_thread.h"
#include "links/ucp_link.h"
#include "platform/socket.h"
#include "protocols/framed_session.h"

namespace vek::links {
namespace {

using namespace std::chrono_literals;

class TextLinkTest : public LinkEnv {};

TEST_F(TextLinkTest, SettingsAndConnectionFailures) {
  const uint16_t closed = [] {
    auto l = platform::listenTcp("127.0.0.1", 0);
    return platform::localPort(l->get());  // closed again when `l` goes
  }();
  const std::string ucp = "UCP - 127.0.0.1:" + std::to_string(closed);
  const std::string cimd = "CIMD - 127.0.0.1:" + std::to_string(closed);
  config("[" + ucp + "]\r\nWindowSize=500\r\nCommandTimeout=0\r\nKeepAlive=30\r\n[" + cimd +
         "]\r\nWindowSize=50\r\nCommandTimeout=7\r\nValidity=60\r\n");

  auto u = makeLinkProtocol(ucp);
  auto c = makeLinkProtocol(cimd);
  ASSERT_TRUE(u && c);
  EXPECT_EQ(u->kind(), foundation::LinkKind::kUcp);
  EXPECT_EQ(c->kind(), foundation::LinkKind::kCimd);
  u->loadSettings();
  c->loadSettings();
  // Windows are capped below the engines' numbering ranges.
  EXPECT_EQ(u->knobs().window, 99);
  EXPECT_EQ(c->knobs().window, 50);
  EXPECT_EQ(u->knobs().command_timeout, 120s);
  EXPECT_EQ(c->knobs().command_timeout, 7s);
  EXPECT_EQ(u->knobs().keep_alive_s, 30);
  EXPECT_EQ(c->knobs().validity, "60");
  // One connection each: the sender starts no separate receiver for them.
  EXPECT_FALSE(planRole(u->knobs(), 1).start_receiver);
  EXPECT_TRUE(u->asyncAvailable());

  std::string failure;
  EXPECT_FALSE(u->open(LinkRole::kTransmitter, &failure));
  EXPECT_EQ(failure.rfind("UCP Failure -- Unable to connect", 0), 0u) << failure;
  EXPECT_FALSE(c->open(LinkRole::kTransmitter, &failure));
  EXPECT_EQ(failure.rfind("CIMD Failure -- Unable to connect", 0), 0u) << failure;
  EXPECT_FALSE(u->linkUp());
  std::string id;
  EXPECT_EQ(u->submit(SubmitRequest{}, &id), kResultNotConnected);
  bool error = false;
  EXPECT_EQ(u->yield(1ms, &error), 0);
  EXPECT_TRUE(error);

  // A library missing a required entry: its text, before any connection.
  protocols::UcpLibrary partial = protocols::ucpLibrary();
  partial.UCPBind = nullptr;
  UcpLink broken(ucp, &partial);
  broken.loadSettings();
  EXPECT_FALSE(broken.open(LinkRole::kTransmitter, &failure));
  EXPECT_EQ(failure, "UCP Failure -- Support DLL LINKUCP.DLL did not initialize");
}

TEST(TextLinkResultTest, OnlyALostConnectionIsTranslated) {
  // The sender lets the message go unchanged on a lost connection; the
  // other local codes stay what the retry rules know as temporary.
  EXPECT_EQ(toLinkResult(protocols::local::kConnectionError), kResultConnectionLost);
  EXPECT_EQ(toLinkResult(protocols::local::kTimeout), protocols::local::kTimeout);
  EXPECT_EQ(toLinkResult(4), 4u);
  EXPECT_EQ(toEngineResult(kResultConnectionLost), protocols::local::kConnectionError);
  EXPECT_EQ(ucpLinkErrorText(4), ucp::UCPErrorText(4));
  EXPECT_EQ(cimdLinkErrorText(kResultConnectionLost),
            cimd::CIMDErrorText(protocols::local::kConnectionError));
}

TEST(ReceivePortTest, ServesEachConnectionAndStopsThemAll) {
  std::atomic<int> served{0};
  std::atomic<int> seen_link_ok{0};
  ReceivePortListener listener(
      "UCP", "UCP - centre:1",
      [&](tls::Stream stream, const std::string& link, const std::string& peer,
          const std::function<bool()>& stop) {
        if (link == "UCP - centre:1" && peer == "127.0.0.1") ++seen_link_ok;
        ++served;
        // Hold the connection until the peer closes it or the listener stops.
        char b;
        size_t got = 0;
        while (!stop()) {
          auto st = stream.readSome(&b, 1, 20, &got);
          if (st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) break;
        }
        return 0;
      });
  std::string failure;
  ASSERT_TRUE(listener.start("127.0.0.1", 0, &failure)) << failure;
  ASSERT_NE(listener.port(), 0);

  // A second listener on the same port fails with the bind text.
  ReceivePortListener other("CIMD", "x", {});
  EXPECT_FALSE(other.start("127.0.0.1", listener.port(), &failure));
  EXPECT_EQ(failure, "CIMD Receive Failure -- Socket Bind Error");

  std::vector<platform::UniqueFd> clients;
  for (int i = 0; i < 3; ++i) {
    auto c = platform::connectTcp("127.0.0.1", listener.port(), 2000);
    ASSERT_TRUE(c.ok());
    clients.push_back(std::move(*c));
  }
  ASSERT_TRUE(vek::testing::waitUntil([&] { return listener.connections() == 3; }, 10s));
  clients[0].reset();  // the centre closes one
  ASSERT_TRUE(vek::testing::waitUntil([&] { return listener.connections() == 2; }, 10s));
  const uint16_t port = listener.port();
  listener.stop();  // ends the other two
  EXPECT_FALSE(listener.running());
  EXPECT_EQ(served.load(), 3);
  EXPECT_EQ(seen_link_ok.load(), 3);
  EXPECT_FALSE(platform::connectTcp("127.0.0.1", port, 200).ok());
}

}  // namespace
}  // namespace vek::links
