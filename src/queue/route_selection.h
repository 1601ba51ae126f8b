// Route selection: whether a link may send a queued message, which links
// could, and the routing-database entries that remember the answer.
//
// Inputs are read from every configured link's section into one immutable
// RouteTable (published as a snapshot; readers never lock):
//   Route1, Route2, ... (up to 10000, to the first empty one): recipient
//     patterns (foundation/wildcard.h, whole recipient, ignoring case).
//     "!pattern" blocks; a value holding '=' is a service-type route, of
//     which only "service_type=<pattern>" is recognised (matched against
//     the message's service type; other forms match nothing).
//   RoutePrefOnly, AllowedUserOnly with AllowedUser1, 2, ... ("localsystem"
//   admits every "localsystem-..." account), BinaryOrTextOnly ("Binary",
//   "Text"), PhoneNumber (else SenderAddress: the link's own senders),
//   RouteName, BackupForRoute, SMSCSendLimit; `SDKLinkEnabled` and the keys
//   of section `SDKLink` (recipients that only SDK links serve).
// The preferred-route list has one entry per pattern ("!" for a block, "="
// when the pattern holds one, the pattern, ",", the link name); the
// preferred-sender list one per sender address ("address,link").
// ReloadRouteTable() builds the table and publishes it only when something
// changed; a changed list is logged ("Reload" under LoadPreferredRouteList /
// LoadPreferredSenderList, each entry under LoadPreferredRouteList /
// LoadPreferredSender) and asks for a routing-database reset.
//
// MayLinkSend(query, link L), in this order:
//  1. SDK: with `SDKLinkEnabled`, a recipient listed in `SDKLink` goes only
//     to "SDKLink - " links, any other recipient never does.
//  2. L must admit the message's kind and account (Allowed, Kind).
//  3. When service-type routes match the service type S, only the links
//     with the longest matching pattern win S (ties: all of them); L must
//     be one of them.
//  4. A sender F that some links own: when L owns it, the best route among
//     the owners decides (below), else an owner without RoutePrefOnly (L
//     first, else the last), else L when it has no Route1, else the last
//     owner without Route1; when none, yes. When L does not own F: no,
//     unless L wins S and no owner does (then on to 5).
//  5. Best route among all patterns matching the recipient, of links that
//     are not blocked and are L or admit the message: links that win S
//     first, then the longest pattern, ties to L. Yes when that is L.
//  6. Nothing matched: yes when L has RoutePrefOnly off and is not blocked.
//     Otherwise no; and `no_link` is set when no link could ever take the
//     message: none with RoutePrefOnly off that is not blocked, admits the
//     message and does not lose S to L.
// Blocked(X): one of X's block patterns matches (the recipient, or S for
// "!service_type="), or X has service-type routes and none matches S.
//
// Routing-database values: "*=" + route for a message that names one,
// else the CandidateLinks names joined by tabs. MessageRoutesCheck compares
// whole names, ignoring case.
//
// Link names: a link answers to its name, its RouteName, and for a backup
// link the name it backs up (and that link's RouteName).
//
// Thread-safe: the table is immutable; the routing database locks itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/link_name.h"
#include "queue/request_file.h"

namespace vek::hostlib {
class IniFile;
}

namespace vek::queue {

constexpr unsigned kMaxRouteKeys = 10000;  // Route%u and AllowedUser%u
constexpr size_t kRoutePatternBuffer = 500;
constexpr std::string_view kServiceTypeRoute = "service_type=";

// Hash and equality ignoring ASCII case, for lookups by string_view.
struct NoCaseHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const;
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
template <typename V>
using NoCaseMap = std::unordered_map<std::string, V, NoCaseHash, NoCaseEqual>;

enum class KindRule { kBoth, kBinaryOnly, kTextOnly };

struct RouteEntry {
  std::string pattern;  // recipient or service-type pattern (without "!" / "service_type=")
  std::string prefix;   // its literal beginning, before any '*' or '?'
  uint32_t link = 0;    // index into RouteTable::links
  bool block = false;
  bool service = false;          // the value held '='
  bool matches_nothing = false;  // a service-type form that is not recognised
  bool operator==(const RouteEntry&) const = default;
};

struct RouteLink {
  std::string name;  // the `Modem%u` value
  unsigned number = 0;
  std::string route_name;
  std::string backup_for;  // `BackupForRoute`, "Modem - " removed
  bool route_pref_only = false;
  bool allowed_user_only = false;
  std::vector<std::string> allowed_users;
  KindRule kind_rule = KindRule::kBoth;
  bool has_route1 = false;
  bool sdk = false;                // the name begins with "SDKLink - "
  std::vector<uint32_t> blocks;    // its block entries
  std::vector<uint32_t> services;  // its service-type route entries
  uint32_t send_interval_ms = 0;
  bool operator==(const RouteLink&) const = default;
};

struct RouteTable {
  std::vector<RouteLink> links;              // `Modem%u` order
  std::vector<RouteEntry> entries;           // preferred-route list order
  std::vector<uint32_t> routes;              // recipient route entries (not blocks, not service)
  std::vector<uint32_t> services;            // service-type route entries (not blocks)
  NoCaseMap<std::vector<uint32_t>> senders;  // address -> owning links, list order
  std::vector<std::string> route_list;       // the preferred-route list's entries
  std::vector<std::string> sender_list;      // the preferred-sender list's entries
  bool sdk_link_enabled = false;
  NoCaseMap<bool> sdk_recipients;  // keys of section `SDKLink`
  NoCaseMap<uint32_t> by_name;

  // Index of a configured link, or -1.
  int find(std::string_view link_name) const;
};

RouteTable buildRouteTable(const hostlib::IniFile& ini);

// The published table (empty before the first reload).
std::shared_ptr<const RouteTable> routeTable();
// Builds from the current "SMSGW.INI" and publishes when anything changed.
// True when a list changed (a routing-database reset was then requested).
bool ReloadRouteTable();
bool reloadRouteTable(const hostlib::IniFile& ini);
// Tests and benchmarks: publish a table as it is.
void publishRouteTable(RouteTable table);

struct RouteQuery {
  std::string_view account;  // SubmitUser
  std::string_view sender;
  std::string_view recipient;
  bool binary = false;
  std::string_view service_type;
};
RouteQuery routeQueryOf(const SMSMessage& m);

// Whether `link_name` may send the message (steps above). `no_link`, when
// given, is set only when no link at all can take it.
bool MayLinkSend(const RouteTable& t, const RouteQuery& q, std::string_view link_name,
                 bool* no_link = nullptr);
bool MayLinkSend(const RouteQuery& q, std::string_view link_name, bool* no_link = nullptr);
// Every link that may send the message.
std::vector<std::string> CandidateLinks(const RouteTable& t, const RouteQuery& q);
std::vector<std::string> CandidateLinks(const RouteQuery& q);

// The names a link answers to (see above).
std::vector<std::string> linkNames(const RouteTable& t, std::string_view link_name);
// The route a message names: the route name of its `ModemName`, else its
// `SMSCRoute` ("" when neither).
std::string_view messageRoute(const SMSMessage& m);
// Whether one of `names` is `route` (ignoring case).
bool routeServedBy(std::string_view route, const std::vector<std::string>& names);
// Whether any configured link answers to `route`. A message whose route no
// link serves can never be sent: the sender fails it with kNoRouteError
// instead of leaving it in the queue for ever.
bool routeServed(const RouteTable& t, std::string_view route);
// Whether a route partition of the queue tree belongs to no configured
// link (so that a sender may look into it and fail what it holds).
bool partitionOrphaned(const RouteTable& t, std::string_view directory_name);

// Routing-database entries, keyed by the file's path relative to the
// queue root. Add stores nothing unless `UseRouteCache` is on.
void MessageRoutesAdd(const RouteTable& t, std::string_view relative, const SMSMessage& m);
void MessageRoutesAdd(std::string_view relative, const SMSMessage& m);
// Whether the link known by `names` may send the file: yes without an
// entry; for "*=route" when a name is the route; for a list when a name is
// one of its tab-separated items. `decided_by_cache` is set when an entry
// allowed it.
bool MessageRoutesCheck(std::string_view relative, const std::vector<std::string>& names,
                        bool* decided_by_cache = nullptr);
bool routeEntryAllows(std::string_view value, const std::vector<std::string>& names);
void MessageRoutesRemove(std::string_view relative);

// Backup links: whether the link `target` names is down, i.e. every link
// that serves it (the link of that name, and links without BackupForRoute
// whose RouteName is `target`) has a non-empty status file. A target no
// configured link serves counts as down.
bool primaryDown(const RouteTable& t, std::string_view target);

}  // namespace vek::queue
