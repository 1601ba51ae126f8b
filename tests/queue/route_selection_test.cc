#include "queue/route_selection.h"

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/files.h"
#include "queue/link_status.h"
#include "queue/routing_db.h"
#include "queue/send_gate.h"
#include "queue_env.h"

namespace vek::queue {
namespace {

constexpr const char* kA = "SMPP - a:1";
constexpr const char* kB = "SMPP - b:1";

struct LinkSpec {
  std::string name;
  std::string body;
};

// Section SMSGW (`gateway` keys and the links), the link sections, then
// `extra` sections.
std::string iniText(const std::vector<LinkSpec>& links, const std::string& gateway = "",
                    const std::string& extra = "") {
  std::string text = "[SMSGW]\r\n" + gateway;
  for (size_t i = 0; i < links.size(); ++i)
    text += "Modem" + std::to_string(i + 1) + "=" + links[i].name + "\r\n";
  for (const LinkSpec& l : links)
    text += "[" + foundation::linkSectionName(l.name) + "]\r\n" + l.body;
  return text + extra;
}

RouteTable table(const std::vector<LinkSpec>& links, const std::string& gateway = "",
                 const std::string& extra = "") {
  return buildRouteTable(hostlib::IniFile::parse(iniText(links, gateway, extra)));
}

RouteQuery to(std::string_view recipient) {
  RouteQuery q;
  q.recipient = recipient;
  return q;
}

class RouteSelectionTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    ASSERT_TRUE(routingDatabase().create());
  }
  void TearDown() override {
    routingDatabase().destroy();
    publishRouteTable(RouteTable{});
    QueueTestBase::TearDown();
  }
};

TEST_F(RouteSelectionTest, MayLinkSendFollowsTheRouteRules) {
  struct Case {
    const char* name;
    std::vector<LinkSpec> links;
    RouteQuery query;
    const char* asking;
    bool may;
    bool no_link;
    std::string gateway = "";
    std::string extra = "";
  };
  RouteQuery cmt = to("+4477");
  cmt.service_type = "CMT";
  RouteQuery wap = to("+4477");
  wap.service_type = "WAP";
  RouteQuery shop = to("+4977");
  shop.sender = "Shop";
  RouteQuery bob = to("4412");
  bob.account = "bob";
  RouteQuery local = to("4412");
  local.account = "LocalSystem-web";
  RouteQuery binary = to("4412");
  binary.binary = true;

  const std::vector<LinkSpec> longer = {{kA, "Route1=44*\r\n"}, {kB, "Route1=447*\r\n"}};
  const std::vector<LinkSpec> equal = {{kA, "Route1=44*\r\n"}, {kB, "Route1=44*\r\n"}};
  const std::vector<LinkSpec> blocked = {{kA, "Route1=!44*\r\n"}};
  const std::vector<LinkSpec> users = {
      {kA, "AllowedUserOnly=Yes\r\nAllowedUser1=alice\r\nAllowedUser2=localsystem\r\n"}};
  const std::vector<LinkSpec> pref_only = {{kA, "RoutePrefOnly=Yes\r\nRoute1=33*\r\n"},
                                           {kB, "RoutePrefOnly=Yes\r\nRoute1=34*\r\n"}};
  const std::vector<LinkSpec> one_open = {{kA, "RoutePrefOnly=Yes\r\nRoute1=33*\r\n"}, {kB, ""}};
  const std::vector<LinkSpec> service = {{kA, "Route1=service_type=CMT\r\n"}, {kB, ""}};
  const std::vector<LinkSpec> senders = {{kA, "SenderAddress=Shop,Other\r\n"},
                                         {kB, "Route1=49*\r\n"}};
  const std::vector<LinkSpec> binary_only = {{kA, "BinaryOrTextOnly=binary\r\n"}};
  const std::vector<LinkSpec> sdk = {{kA, ""}, {"SDKLink - App", ""}};

  Case cases[] = {
      {"longer pattern wins 4479", longer, to("447912"), kB, true, false},
      {"longer pattern loses for 44", longer, to("447912"), kA, false, false},
      {"shorter pattern 4412", longer, to("441200"), kA, true, false},
      {"no 447 for 4412", longer, to("441200"), kB, false, false},
      {"equal patterns favour A", equal, to("4412"), kA, true, false},
      {"equal patterns favour B", equal, to("4412"), kB, true, false},
      {"block on the only link", blocked, to("4412"), kA, false, true},
      {"block spares others", blocked, to("3312"), kA, true, false},
      {"allowed user", users, to("4412"), kA, false, false},
      {"unlisted account", users, bob, kA, false, false},
      {"localsystem entry", users, local, kA, true, false},
      {"pref-only match", pref_only, to("3312"), kA, true, false},
      {"pref-only other match", pref_only, to("3312"), kB, false, false},
      {"pref-only nothing matches", pref_only, to("4412"), kA, false, true},
      {"pref-only leaves it to the open link", one_open, to("4412"), kA, false, false},
      {"open link takes it", one_open, to("4412"), kB, true, false},
      {"service type winner", service, cmt, kA, true, false},
      {"service type loser", service, cmt, kB, false, false},
      {"service routes block others", service, wap, kA, false, false},
      {"plain link for other service", service, wap, kB, true, false},
      {"sender owner", senders, shop, kA, true, false},
      {"not the owner", senders, shop, kB, false, false},
      {"binary only takes binary", binary_only, binary, kA, true, false},
      {"binary only refuses text", binary_only, to("4412"), kA, false, false},
      {"sdk recipient", sdk, to("+4412"), "SDKLink - App", true, false, "SDKLinkEnabled=Yes\r\n",
       "[SDKLink]\r\n+4412=1\r\n"},
      {"sdk recipient not for others", sdk, to("+4412"), kA, false, false, "SDKLinkEnabled=Yes\r\n",
       "[SDKLink]\r\n+4412=1\r\n"},
      {"sdk link only for its recipients", sdk, to("+4499"), "SDKLink - App", false, false,
       "SDKLinkEnabled=Yes\r\n"},
      {"unconfigured link takes the rest", equal, to("3312"), "SDKLINK - VirtualSMSC", true, false},
  };
  for (const Case& c : cases) {
    RouteTable t = table(c.links, c.gateway, c.extra);
    bool no_link = false;
    EXPECT_EQ(MayLinkSend(t, c.query, c.asking, &no_link), c.may) << c.name;
    EXPECT_EQ(no_link, c.no_link) << c.name;
  }
}

TEST_F(RouteSelectionTest, CandidateLinksListsEveryLinkThatMaySend) {
  struct Case {
    const char* name;
    std::vector<LinkSpec> links;
    const char* recipient;
    std::vector<std::string> expected;
  } cases[] = {
      {"longest pattern", {{kA, "Route1=44*\r\n"}, {kB, "Route1=447*\r\n"}}, "4479", {kB}},
      {"equal patterns", {{kA, "Route1=44*\r\n"}, {kB, "Route1=44*\r\n"}}, "4479", {kA, kB}},
      {"no match: open links", {{kA, "Route1=33*\r\nRoutePrefOnly=Yes\r\n"}, {kB, ""}}, "44", {kB}},
      {"blocked everywhere", {{kA, "Route1=!44*\r\n"}}, "4412", {}},
      {"wildcards backtrack",
       {{kA, "Route1=*1234\r\n"}, {kB, "Route1=+4*\r\n"}},
       "+4412341234",
       {kA}},
      {"both specific enough",
       {{kA, "Route1=*1234\r\n"}, {kB, "Route1=+441*\r\n"}},
       "+4412341234",
       {kA, kB}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CandidateLinks(table(c.links), to(c.recipient)), c.expected) << c.name;
}

TEST_F(RouteSelectionTest, RoutingDatabaseEntriesCompareWholeNames) {
  publishRouteTable(table({{"SMPP - host:1", "Route1=44*\r\n"}, {"SMPP - host:10", ""}}));
  SMSMessage routed;
  routed.PhoneNumber = "4412";
  routed.SMSCRoute = "UK";
  MessageRoutesAdd("RT_-_UK_-_/1.req", routed);
  EXPECT_EQ(routingDatabase().lookup("RT_-_UK_-_/1.req"), "*=UK");
  bool cached = false;
  EXPECT_TRUE(MessageRoutesCheck("RT_-_UK_-_/1.req", {"SMPP - x:1", "uk"}, &cached));
  EXPECT_TRUE(cached);
  EXPECT_FALSE(MessageRoutesCheck("RT_-_UK_-_/1.req", {"SMPP - x:1"}));

  SMSMessage plain;
  plain.PhoneNumber = "4412";
  MessageRoutesAdd("2.req", plain);
  EXPECT_EQ(routingDatabase().lookup("2.req"), "SMPP - host:1");
  EXPECT_TRUE(MessageRoutesCheck("2.req", {"smpp - HOST:1"}));
  EXPECT_FALSE(MessageRoutesCheck("2.req", {"SMPP - host:10"}));
  EXPECT_FALSE(routeEntryAllows("SMPP - host:10\tSMPP - b", {"SMPP - host:1"}));
  EXPECT_TRUE(routeEntryAllows("SMPP - host:10\tSMPP - b", {"SMPP - B"}));
  cached = false;
  EXPECT_TRUE(MessageRoutesCheck("absent.req", {"x"}, &cached));
  EXPECT_FALSE(cached);
  MessageRoutesRemove("2.req");
  EXPECT_FALSE(routingDatabase().lookup("2.req"));

  settings([](foundation::Settings& s) { s.UseRouteCache = false; });
  MessageRoutesAdd("3.req", plain);
  EXPECT_FALSE(routingDatabase().lookup("3.req"));
}

TEST_F(RouteSelectionTest, ReloadPublishesOnlyChangedListsAndAsksForAReset) {
  (void)foundation::takeRoutingDbResetRequest();
  auto first = hostlib::IniFile::parse(iniText({{kA, "Route1=44*\r\nPhoneNumber=1,2\r\n"}}));
  EXPECT_TRUE(reloadRouteTable(first));
  EXPECT_TRUE(foundation::takeRoutingDbResetRequest());
  EXPECT_EQ(routeTable()->route_list, std::vector<std::string>{"44*," + std::string(kA)});
  EXPECT_EQ(routeTable()->sender_list,
            (std::vector<std::string>{"1," + std::string(kA), "2," + std::string(kA)}));
  auto before = routeTable();
  EXPECT_FALSE(reloadRouteTable(first));
  EXPECT_FALSE(foundation::takeRoutingDbResetRequest());
  EXPECT_EQ(routeTable(), before);  // nothing changed: the same snapshot

  // A flag changes: a new snapshot, but the lists (and the cache) stand.
  EXPECT_FALSE(reloadRouteTable(hostlib::IniFile::parse(
      iniText({{kA, "Route1=44*\r\nPhoneNumber=1,2\r\nRoutePrefOnly=Yes\r\n"}}))));
  EXPECT_NE(routeTable(), before);
  EXPECT_FALSE(foundation::takeRoutingDbResetRequest());

  EXPECT_TRUE(reloadRouteTable(hostlib::IniFile::parse(
      iniText({{kA, "Route1=!44*\r\nRoute2=service_type=CMT\r\nRoute3=x=y\r\n"}}))));
  EXPECT_TRUE(foundation::takeRoutingDbResetRequest());
  EXPECT_EQ(
      routeTable()->route_list,
      (std::vector<std::string>{"!44*," + std::string(kA), "=service_type=CMT," + std::string(kA),
                                "=x=y," + std::string(kA)}));
}

TEST_F(RouteSelectionTest, RoutesThatNoLinkServesAreKnown) {
  RouteTable t = table(
      {{kA, "RouteName=UK\r\n"}, {"COM1", "BackupForRoute=Modem - " + std::string(kA) + "\r\n"}});
  EXPECT_EQ(linkNames(t, "COM1"), (std::vector<std::string>{"COM1", kA, "UK"}));
  EXPECT_TRUE(routeServed(t, "uk"));
  EXPECT_TRUE(routeServed(t, "com1"));
  EXPECT_FALSE(routeServed(t, "FR"));
  EXPECT_TRUE(routeServed(RouteTable{}, "FR"));  // nothing loaded yet: fail nothing
  EXPECT_FALSE(partitionOrphaned(t, "RT_-_UK_-_sub"));
  EXPECT_TRUE(partitionOrphaned(t, "RT_-_FR_-_"));
  EXPECT_FALSE(partitionOrphaned(t, "userq"));

  SMSMessage m;
  m.SMSCRoute = "FR";
  EXPECT_EQ(messageRoute(m), "FR");
  m.ModemName = "COM1";
  m.ModemRoute = "COM1";
  EXPECT_EQ(messageRoute(m), "COM1");
}

TEST_F(RouteSelectionTest, BackupWaitsUntilEveryPrimaryIsDown) {
  ASSERT_TRUE(hostlib::setDataDirectory(dir_.path()).ok());
  RouteTable t = table({{kA, "RouteName=UK\r\n"},
                        {kB, "RouteName=UK\r\n"},
                        {"COM1", "BackupForRoute=UK\r\nRouteName=UK\r\n"}});
  EXPECT_FALSE(primaryDown(t, "UK"));
  ASSERT_TRUE(setLinkStatus(kA, "SMPP Failure -- Unable to connect").ok());
  EXPECT_TRUE(linkIsDown(kA));
  EXPECT_FALSE(primaryDown(t, "UK"));
  ASSERT_TRUE(setLinkStatus(kB, "").ok());  // an empty status file is not "down"
  EXPECT_FALSE(primaryDown(t, "UK"));
  ASSERT_TRUE(setLinkStatus(kB, "down").ok());
  EXPECT_TRUE(primaryDown(t, "UK"));  // the backup itself does not count
  ASSERT_TRUE(clearLinkStatus(kA).ok());
  EXPECT_FALSE(primaryDown(t, "UK"));

  EXPECT_EQ(linkStatusPathIn("/p/", "SMPP - h:1/../..\\x"), "/p/SMPP - h-1-..-..-x.ERR");
  EXPECT_EQ(linkStatusText(kB), "down");
}

TEST_F(RouteSelectionTest, SendLimitAndGate) {
  struct Case {
    const char* value;
    uint32_t interval;
  } cases[] = {{"10/60", 6000}, {"5", 200}, {"0", 0},        {"", 0},
               {"abc", 0},      {"3/0", 0}, {" 2 / 1", 500}, {"1/99999999999", kMaxSendIntervalMs},
               {"1000000", 0}};
  for (const Case& c : cases) EXPECT_EQ(parseSendLimit(c.value), c.interval) << c.value;

  auto t0 = platform::monotonicNow();
  SendGate open(0);
  EXPECT_TRUE(open.tryOpen(t0));
  EXPECT_TRUE(open.tryOpen(t0));
  SendGate gate(200);
  EXPECT_TRUE(gate.tryOpen(t0));
  EXPECT_FALSE(gate.tryOpen(t0 + std::chrono::milliseconds(199)));
  EXPECT_EQ(gate.waitMs(t0 + std::chrono::milliseconds(150)), 50u);
  EXPECT_TRUE(gate.tryOpen(t0 + std::chrono::milliseconds(201)));
  // Exactly one millisecond late: the opening is recorded 1 ms earlier.
  EXPECT_TRUE(gate.tryOpen(t0 + std::chrono::milliseconds(400)));
  EXPECT_EQ(gate.waitMs(t0 + std::chrono::milliseconds(400)), 200u);
}

TEST_F(RouteSelectionTest, HostileRouteListsStayWithinBounds) {
  std::string body;
  const char* patterns[] = {"*", "?", "!", ",,", "*a*a*a*a*b", "!service_type=", "=", "??*??"};
  for (unsigned n = 1; n <= 5000; ++n)
    body += "Route" + std::to_string(n) + "=" + patterns[n % 8] + std::to_string(n % 3) + "\r\n";
  body += "PhoneNumber=,, ,x," + std::string(100 * 1024, '1') + "\r\n";
  std::vector<LinkSpec> links{{kA, body}};
  for (int i = 0; i < 50; ++i) links.push_back({"COM" + std::to_string(i), "Route1=*\r\n"});
  RouteTable t = table(links);
  EXPECT_EQ(t.links.size(), 51u);
  EXPECT_EQ(t.entries.size(), 5050u);
  // As long as a loaded recipient can be.
  std::string number(kLimitPhoneNumber, 'a');
  RouteQuery q = to(number);
  q.sender = "x";
  q.service_type = std::string_view(number).substr(0, 99);
  bool no_link = false;
  (void)MayLinkSend(t, q, kA, &no_link);
  (void)MayLinkSend(t, q, "COM3", &no_link);
  EXPECT_LE(CandidateLinks(t, q).size(), t.links.size());

  std::vector<LinkSpec> many;
  for (int i = 0; i < 10000; ++i) many.push_back({"COM" + std::to_string(i), ""});
  many[9999].body = "RoutePrefOnly=Yes\r\nRoute1=!*\r\n";
  RouteTable wide = table(many);
  EXPECT_EQ(wide.links.size(), 10000u);
  no_link = false;
  EXPECT_FALSE(MayLinkSend(wide, to("4412"), "COM9999", &no_link));
  EXPECT_FALSE(no_link);
}

}  // namespace
}  // namespace vek::queue
