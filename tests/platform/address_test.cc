// Address patterns of the address lists, and the dual-stack listener whose
// clients they judge.
#include <gtest/gtest.h>

#include "platform/address_pattern.h"
#include "platform/socket.h"

namespace vek::platform {
namespace {

bool matches(std::string_view pattern, std::string_view address) {
  auto p = parseAddressPattern(pattern);
  return p && patternMatches(*p, address);
}

TEST(AddressPatternTest, IPv4WildcardsIPv6PrefixesAndMappedClients) {
  const struct {
    const char* pattern;
    const char* address;
    bool match;
  } cases[] = {
      {"10.1.*.*", "10.1.200.3", true},
      {"10.1.*.*", "10.2.0.1", false},
      {"10.1", "10.1.0.0", true},  // missing components are 0
      {"10.1", "10.1.0.1", false},
      {" 192.168.1.7\r", "192.168.1.7", true},
      {"10.1.2.3.4", "10.1.2.3", false},  // invalid: matches nothing
      {"10.256.0.0", "10.255.0.0", false},
      {"*.*.*.*", "2001:db8::1", false},  // an IPv4 pattern never takes an IPv6 client
      // A dual-stack listener sees IPv4 clients as IPv4-mapped addresses.
      {"192.0.2.*", "::ffff:192.0.2.9", true},
      {"192.0.2.*", "::FFFF:c000:0209", true},
      {"127.0.0.1", "::ffff:127.0.0.2", false},
      // IPv6 entries match by value, not spelling; a prefix length widens them.
      {"2001:db8::7", "2001:0db8:0:0::7", true},
      {"[2001:db8::7]", "2001:db8::7", true},
      {"2001:db8::7", "2001:db8::8", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},
      {"2001:db8::/129", "2001:db8::1", false},  // invalid prefix
      {"::1", "::1", true},
      {"::1", "127.0.0.1", false},
      {"::ffff:10.0.0.0/104", "10.9.8.7", true},  // an IPv4 client against a mapped range
      {"2001:db8::zz", "2001:db8::1", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matches(c.pattern, c.address), c.match) << c.pattern << " / " << c.address;
}

TEST(AddressPatternTest, AnyAddressListenerTakesIPv4AndIPv6Clients) {
  auto listener = listenTcp("", 0);
  ASSERT_TRUE(listener.ok()) << listener.status().message();
  uint16_t port = localPort(listener->get());
  struct {
    const char* connect_to;
    const char* seen_as;
  } clients[] = {{"127.0.0.1", "127.0.0.1"}, {"::1", "::1"}};
  for (const auto& c : clients) {
    auto client = connectTcp(c.connect_to, port, 5000);
    if (!client.ok() && std::string(c.connect_to) == "::1") {
      GTEST_SKIP() << "no IPv6 loopback on this host";
    }
    ASSERT_TRUE(client.ok()) << c.connect_to << ": " << client.status().message();
    std::string peer;
    auto accepted = acceptConnection(listener->get(), 5000, &peer);
    ASSERT_TRUE(accepted.ok()) << c.connect_to;
    EXPECT_EQ(peer, c.seen_as);
  }
  // An explicit IPv4 "any" stays IPv4 only.
  auto v4 = listenTcp("0.0.0.0", 0);
  ASSERT_TRUE(v4.ok());
  EXPECT_FALSE(connectTcp("::1", localPort(v4->get()), 5000).ok());
}

}  // namespace
}  // namespace vek::platform
