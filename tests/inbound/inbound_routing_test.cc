#include "inbound/inbound_routing.h"

#include <gtest/gtest.h>

#include <set>

#include "inbound/inbound_env.h"

namespace vek::inbound {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using namespace std::chrono_literals;

// Accounts that exist in these tables: every name but "ghost".
std::optional<std::string> known(std::string_view key) {
  if (key == "ghost") return std::nullopt;
  return std::string(key);
}

TEST(RoutingTableTest, ChoosesByLengthExclusionAndServiceType) {
  const Entries table = {
      {"alice", "44*"},
      {"bob", "447*"},
      {"carol", "!4471*, 44*, 4471234"},
      {"ghost", "4479*"},
      {"dave", "service_type=WAP"},
      {"erin", "4478*"},
      {"frank", "!service_type=WAP, 33*"},
      {"~SMSIN", "*"},
      {"gina", "*12341234"},
  };
  struct Case {
    const char* destination;
    const char* service_type;
    const char* expected;
  } cases[] = {
      {"4471234", "", "bob"},       // the longer pattern wins; carol excludes it
      {"4481234", "", "alice"},     // first of the equally long patterns
      {"4471299", "", "bob"},       // carol's exclusion skips her exact pattern too
      {"4479000", "", "bob"},       // ghost does not exist: its line is skipped
      {"4481234", "WAP", "dave"},   // service type takes it from earlier lines
      {"4478000", "WAP", "erin"},   // ... and a later destination takes it back
      {"33000", "WAP", "dave"},     // frank excludes service type WAP
      {"33000", "", "frank"},       //
      {"+4412341234", "", "gina"},  // the matcher backtracks
      {"99", "", ""},               // nobody; never the inbound directory
      {"4471234", "wap", "dave"},   // service types compare without case
  };
  RoutingTable t = RoutingTable::parse(table);
  for (const Case& c : cases) {
    EXPECT_EQ(t.choose(c.destination, c.service_type, known), c.expected)
        << c.destination << " / " << c.service_type;
  }
}

TEST(RoutingTableTest, CacheRereadsOnlyAfterItsIntervalAndAChangedFile) {
  int reads = 0;
  std::optional<platform::SystemTime> modified = platform::SystemTime(1s);
  Entries entries = {{"alice", "1*"}};
  RoutingTableCache cache({[&] {
                             ++reads;
                             return entries;
                           },
                           [&] { return modified; }});
  const platform::SteadyTime t0{};
  EXPECT_EQ(cache.get(t0)->size(), 1u);
  entries.push_back({"bob", "2*"});
  modified = platform::SystemTime(2s);
  EXPECT_EQ(cache.get(t0 + 14s)->size(), 1u);  // not yet looked at again
  EXPECT_EQ(cache.get(t0 + 15s)->size(), 2u);
  EXPECT_EQ(cache.get(t0 + 31s)->size(), 2u);  // looked at, unchanged: not read
  EXPECT_EQ(reads, 2);
}

class InboundRoutingTest : public InboundTest {};

TEST_F(InboundRoutingTest, NamedAccountNeedsReceiveFlagAndExistenceElseTheTableDecides) {
  account("Alice", true);
  account("bob");
  account("table");
  configure("", "[Inbound SMS Routing]\r\ntable=*\r\n");
  struct Case {
    const char* local_user;
    const char* expected;
  } cases[] = {
      {"alice", "Alice"},           // any case, the store's spelling
      {"bob", "table"},             // no RECV.FLG
      {"nobody", "table"},          // no such account
      {"../USERS/Alice", "table"},  // never a path
      {"~SMSIN", "~SMSIN"},
      {"~SMSIN::BAD", "~SMSIN::BAD"},
      {"~SMSIN::../x", "table"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InboundRouting("123", "", c.local_user), c.expected) << c.local_user;
}

}  // namespace
}  // namespace vek::inbound
