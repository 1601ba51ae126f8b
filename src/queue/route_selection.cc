#include "queue/route_selection.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "foundation/wildcard.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/snapshot.h"
#include "platform/strings.h"
#include "queue/link_status.h"
#include "queue/queue_tree.h"
#include "queue/routing_db.h"
#include "queue/send_gate.h"

namespace vek::queue {

using foundation::DebugLog;
using foundation::DebugLogf;
using platform::equalsNoCase;
using platform::startsWithNoCase;

size_t NoCaseHash::operator()(std::string_view s) const {
  uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= static_cast<unsigned char>(platform::asciiLower(c));
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  return equalsNoCase(a, b);
}

int RouteTable::find(std::string_view link_name) const {
  auto it = by_name.find(link_name);
  return it == by_name.end() ? -1 : static_cast<int>(it->second);
}

namespace {

constexpr size_t kSenderListBuffer = 500;
constexpr size_t kAllowedUserBuffer = 250;
constexpr size_t kBackupBuffer = foundation::kLinkNameBuffer;

std::string readCut(const hostlib::IniFile& ini, const std::string& section, std::string_view key,
                    size_t buffer) {
  auto v = ini.get(section, key);
  return v ? std::string(v->substr(0, buffer - 1)) : std::string();
}

std::string literalPrefix(std::string_view pattern) {
  size_t end = pattern.find_first_of("*?");
  return std::string(pattern.substr(0, end));
}

// Adds the link's Route%u values to the table.
void addRoutes(const hostlib::IniFile& ini, const std::string& section, uint32_t index,
               RouteTable* t) {
  RouteLink& link = t->links[index];
  for (unsigned n = 1; n <= kMaxRouteKeys; ++n) {
    std::string value = readCut(ini, section, platform::format("Route%u", n), kRoutePatternBuffer);
    if (value.empty()) break;
    if (n == 1) link.has_route1 = true;
    RouteEntry e;
    e.link = index;
    std::string_view rest = value;
    if (rest.front() == '!') {
      e.block = true;
      rest.remove_prefix(1);
    }
    e.service = rest.find('=') != std::string_view::npos;
    std::string list_entry = std::string(e.block ? "!" : "") + (e.service ? "=" : "") +
                             std::string(rest) + "," + link.name;
    if (e.service) {
      if (startsWithNoCase(rest, kServiceTypeRoute)) {
        rest.remove_prefix(kServiceTypeRoute.size());
      } else {
        e.matches_nothing = true;
      }
    }
    e.pattern = std::string(rest);
    e.prefix = literalPrefix(e.pattern);
    uint32_t at = static_cast<uint32_t>(t->entries.size());
    if (e.block) {
      link.blocks.push_back(at);
    } else if (e.service) {
      link.services.push_back(at);
      t->services.push_back(at);
    } else {
      t->routes.push_back(at);
    }
    t->entries.push_back(std::move(e));
    t->route_list.push_back(std::move(list_entry));
  }
}

void addSenders(const hostlib::IniFile& ini, const std::string& section, uint32_t index,
                RouteTable* t) {
  std::string owned = readCut(ini, section, "PhoneNumber", kSenderListBuffer);
  if (owned.empty()) owned = readCut(ini, section, "SenderAddress", kSenderListBuffer);
  for (const std::string& item : platform::split(owned, ",")) {
    std::string address(platform::trim(item));
    if (address.empty()) continue;
    std::vector<uint32_t>& owners = t->senders[address];
    if (std::find(owners.begin(), owners.end(), index) == owners.end()) owners.push_back(index);
    t->sender_list.push_back(address + "," + t->links[index].name);
  }
}

void addLink(const hostlib::IniFile& ini, const foundation::ConfiguredLink& configured,
             RouteTable* t) {
  uint32_t index = static_cast<uint32_t>(t->links.size());
  t->links.emplace_back();
  RouteLink& link = t->links.back();
  link.name = configured.name;
  link.number = configured.number;
  const std::string section = foundation::linkSectionName(link.name);
  link.route_name = readCut(ini, section, "RouteName", foundation::kRouteNameBuffer);
  link.backup_for = std::string(
      foundation::stripModemSectionPrefix(readCut(ini, section, "BackupForRoute", kBackupBuffer)));
  link.route_pref_only = foundation::yesNo(readCut(ini, section, "RoutePrefOnly", 50));
  link.allowed_user_only = foundation::yesNo(readCut(ini, section, "AllowedUserOnly", 50));
  if (link.allowed_user_only) {
    for (unsigned n = 1; n <= kMaxRouteKeys; ++n) {
      std::string user =
          readCut(ini, section, platform::format("AllowedUser%u", n), kAllowedUserBuffer);
      if (user.empty()) break;
      link.allowed_users.push_back(std::move(user));
    }
  }
  std::string kind = readCut(ini, section, "BinaryOrTextOnly", 50);
  if (equalsNoCase(kind, "Binary")) link.kind_rule = KindRule::kBinaryOnly;
  if (equalsNoCase(kind, "Text")) link.kind_rule = KindRule::kTextOnly;
  link.sdk = foundation::linkKind(link.name) == foundation::LinkKind::kSdk;
  link.send_interval_ms = parseSendLimit(readCut(ini, section, "SMSCSendLimit", 100));
  t->by_name.emplace(link.name, index);  // a repeated name: the first link keeps it
  addRoutes(ini, section, index, t);
  addSenders(ini, section, index, t);
}

platform::Snapshot<RouteTable>& published() {
  static platform::Snapshot<RouteTable> table;
  return table;
}

void logRouteListChange(const RouteTable& before, const RouteTable& after) {
  if (!foundation::debugEnabled()) return;
  const auto& a = before.route_list;
  const auto& b = after.route_list;
  if (a.size() != b.size()) {
    DebugLogf("LoadPreferredRouteList", "Route list updated - %zu/%zu", a.size(), b.size());
  } else {
    auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    if (diff.first != a.end())
      DebugLogf("LoadPreferredRouteList", "Route list updated - %s/%s", diff.first->c_str(),
                diff.second->c_str());
  }
  DebugLog("LoadPreferredRouteList", "Reload");
  for (const std::string& e : b) DebugLog("LoadPreferredRouteList", "preferred routing = " + e);
}

void logSenderListChange(const RouteTable& after) {
  if (!foundation::debugEnabled()) return;
  DebugLog("LoadPreferredSenderList", "Reload");
  for (const std::string& e : after.sender_list)
    DebugLog("LoadPreferredSender", "preferred sender = " + e);
}

// One decision: the table, the message and the asking link.
class Decision {
 public:
  Decision(const RouteTable& t, const RouteQuery& q) : t_(t), q_(q) {
    for (uint32_t i : t.services) {
      const RouteEntry& e = t.entries[i];
      if (static_cast<int64_t>(e.pattern.size()) > service_max_ && matches(e, q.service_type))
        service_max_ = static_cast<int64_t>(e.pattern.size());
    }
  }

  // A link index or -1 (a link that is not configured: no settings).
  const RouteLink& link(int x) const { return x < 0 ? kUnknown : t_.links[x]; }

  static bool matches(const RouteEntry& e, std::string_view text) {
    if (e.matches_nothing || !startsWithNoCase(text, e.prefix)) return false;
    return foundation::wildcardMatch(std::string_view(e.pattern).substr(e.prefix.size()),
                                     text.substr(e.prefix.size()));
  }

  bool anyServiceMatch() const { return service_max_ >= 0; }

  // X has a service-type route among the longest that match S.
  bool winsService(int x) const {
    if (service_max_ < 0) return false;
    for (uint32_t i : link(x).services) {
      const RouteEntry& e = t_.entries[i];
      if (static_cast<int64_t>(e.pattern.size()) == service_max_ && matches(e, q_.service_type))
        return true;
    }
    return false;
  }

  bool allowed(int x) const {
    const RouteLink& l = link(x);
    if (!l.allowed_user_only) return true;
    for (const std::string& user : l.allowed_users) {
      if (equalsNoCase(user, q_.account)) return true;
      if (equalsNoCase(user, "localsystem") && startsWithNoCase(q_.account, "localsystem-"))
        return true;
    }
    return false;
  }

  bool kindFits(int x) const {
    switch (link(x).kind_rule) {
      case KindRule::kBinaryOnly:
        return q_.binary;
      case KindRule::kTextOnly:
        return !q_.binary;
      case KindRule::kBoth:
        break;
    }
    return true;
  }

  bool admits(int x) const { return allowed(x) && kindFits(x); }

  bool blocked(int x) const {
    const RouteLink& l = link(x);
    for (uint32_t i : l.blocks) {
      const RouteEntry& e = t_.entries[i];
      if (!matches(e, e.service ? q_.service_type : q_.recipient)) continue;
      if (foundation::debug2Enabled()) {
        const bool with_service = !q_.service_type.empty();
        foundation::Debug2Logf("CheckBlockedRoute", "%.*s%s%.*s is blocked for route %s: %s",
                               static_cast<int>(q_.recipient.size()), q_.recipient.data(),
                               with_service ? "/" : "", static_cast<int>(q_.service_type.size()),
                               q_.service_type.data(), l.name.c_str(), e.pattern.c_str());
      }
      return true;
    }
    if (l.services.empty()) return false;
    for (uint32_t i : l.services)
      if (matches(t_.entries[i], q_.service_type)) return false;
    if (foundation::debug2Enabled())
      foundation::Debug2Log(
          "CheckBlockedRoute",
          std::string(q_.service_type) + " does not match service type for route " + l.name);
    return true;
  }

  enum class Best { kNone, kAsking, kOther };
  // The best recipient route for L among links that pass `eligible`:
  // service winners first, then the longest pattern, ties to L.
  template <typename Eligible>
  Best bestRoute(int l, Eligible eligible) const {
    bool l_found = false, o_found = false;
    std::pair<bool, size_t> l_rank{}, o_rank{};
    for (uint32_t i : t_.routes) {
      const RouteEntry& e = t_.entries[i];
      int x = static_cast<int>(e.link);
      if (!matches(e, q_.recipient) || !eligible(x)) continue;
      if (x != l && !admits(x)) continue;
      std::pair<bool, size_t> rank{winsService(x), e.pattern.size()};
      bool& found = x == l ? l_found : o_found;
      std::pair<bool, size_t>& best = x == l ? l_rank : o_rank;
      if (found && rank <= best) continue;
      // Blocked is the dearest test: only for a candidate that would count.
      if (blocked(x)) continue;
      found = true;
      best = rank;
    }
    if (l_found && (!o_found || l_rank >= o_rank)) return Best::kAsking;
    return o_found ? Best::kOther : Best::kNone;
  }

  bool sdkRecipient() const {
    return t_.sdk_link_enabled && t_.sdk_recipients.count(q_.recipient) != 0;
  }

 private:
  static const RouteLink kUnknown;
  const RouteTable& t_;
  const RouteQuery& q_;
  int64_t service_max_ = -1;
};

const RouteLink Decision::kUnknown{};

bool contains(const std::vector<uint32_t>& v, int x) {
  return x >= 0 && std::find(v.begin(), v.end(), static_cast<uint32_t>(x)) != v.end();
}

// Step 4.1 when no route pattern decides among the owners of the sender
// (L, index `l`, is one of them).
bool ownerFallback(const RouteTable& t, const std::vector<uint32_t>& owners, int l) {
  int choice = -1;
  for (uint32_t x : owners) {
    if (t.links[x].route_pref_only) continue;
    choice = static_cast<int>(x);
    if (choice == l) return true;
  }
  if (choice >= 0) return false;
  if (!t.links[l].has_route1) return true;
  for (uint32_t x : owners)
    if (!t.links[x].has_route1) choice = static_cast<int>(x);
  return choice < 0 || choice == l;
}

// Step 6's question: can any link take the message at all?
bool someLinkCanTake(const RouteTable& t, const Decision& d, int l) {
  const bool l_wins = d.winsService(l);
  for (size_t i = 0; i < t.links.size(); ++i) {
    int x = static_cast<int>(i);
    const RouteLink& link = t.links[i];
    if (link.route_pref_only || d.blocked(x)) continue;
    if (x != l && !d.admits(x)) continue;
    if (!l_wins || x == l || d.winsService(x)) return true;
  }
  return false;
}

}  // namespace

RouteTable buildRouteTable(const hostlib::IniFile& ini) {
  RouteTable t;
  for (const foundation::ConfiguredLink& link : foundation::configuredLinks(ini))
    addLink(ini, link, &t);
  auto sdk = ini.get("SMSGW", "SDKLinkEnabled");
  t.sdk_link_enabled = sdk && foundation::yesNo(*sdk);
  if (t.sdk_link_enabled) {
    for (const auto& [key, value] : ini.sectionEntries("SDKLink")) t.sdk_recipients[key] = true;
  }
  return t;
}

std::shared_ptr<const RouteTable> routeTable() {
  return published().get();
}

void publishRouteTable(RouteTable table) {
  published().publish(std::move(table));
}

bool reloadRouteTable(const hostlib::IniFile& ini) {
  RouteTable next = buildRouteTable(ini);
  std::shared_ptr<const RouteTable> current = routeTable();
  const bool routes_changed = next.route_list != current->route_list;
  const bool senders_changed = next.sender_list != current->sender_list;
  const bool others_changed = next.links != current->links ||
                              next.sdk_link_enabled != current->sdk_link_enabled ||
                              next.sdk_recipients != current->sdk_recipients;
  if (routes_changed) logRouteListChange(*current, next);
  if (senders_changed) logSenderListChange(next);
  if (routes_changed || senders_changed || others_changed) publishRouteTable(std::move(next));
  // Cached candidate lists were worked out from the old lists.
  if (routes_changed || senders_changed) foundation::requestRoutingDbReset();
  return routes_changed || senders_changed;
}

bool ReloadRouteTable() {
  return reloadRouteTable(*hostlib::smsIni().current());
}

RouteQuery routeQueryOf(const SMSMessage& m) {
  RouteQuery q;
  q.account = m.SubmitUser;
  q.sender = m.Sender;
  q.recipient = m.PhoneNumber;
  q.binary = m.Binary;
  q.service_type = m.ServiceType;
  return q;
}

bool MayLinkSend(const RouteTable& t, const RouteQuery& q, std::string_view link_name,
                 bool* no_link) {
  const int l = t.find(link_name);
  Decision d(t, q);
  // 1. Recipients of the SDK link.
  if (t.sdk_link_enabled) {
    const bool sdk_link = foundation::linkKind(link_name) == foundation::LinkKind::kSdk;
    if (d.sdkRecipient()) return sdk_link;
    if (sdk_link) return false;
  }
  // 2. Kind and account.
  if (!d.admits(l)) return false;
  // 3. Service-type routes.
  if (d.anyServiceMatch() && !d.winsService(l)) return false;
  // 4. The sender's own links.
  if (!q.sender.empty()) {
    auto owned = t.senders.find(q.sender);
    if (owned != t.senders.end()) {
      const std::vector<uint32_t>& owners = owned->second;
      if (contains(owners, l)) {
        auto best = d.bestRoute(l, [&](int x) { return contains(owners, x); });
        if (best != Decision::Best::kNone) return best == Decision::Best::kAsking;
        return ownerFallback(t, owners, l);
      }
      bool owner_wins = false;
      for (uint32_t x : owners) owner_wins = owner_wins || d.winsService(static_cast<int>(x));
      if (!d.winsService(l) || owner_wins) return false;
    }
  }
  // 5. The best route of all.
  auto best = d.bestRoute(l, [](int) { return true; });
  if (best != Decision::Best::kNone) return best == Decision::Best::kAsking;
  // 6. No pattern matched.
  if (!d.link(l).route_pref_only && !d.blocked(l)) return true;
  if (no_link != nullptr && !someLinkCanTake(t, d, l)) *no_link = true;
  return false;
}

bool MayLinkSend(const RouteQuery& q, std::string_view link_name, bool* no_link) {
  return MayLinkSend(*routeTable(), q, link_name, no_link);
}

std::vector<std::string> CandidateLinks(const RouteTable& t, const RouteQuery& q) {
  Decision d(t, q);
  std::vector<std::string> out;
  auto add = [&](uint32_t x) {
    const std::string& name = t.links[x].name;
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  };
  // 1. The SDK link's own recipients.
  if (d.sdkRecipient()) return {std::string(foundation::kVirtualLinkName)};
  // 2. The sender's links that may send it.
  if (!q.sender.empty()) {
    auto owned = t.senders.find(q.sender);
    if (owned != t.senders.end()) {
      for (uint32_t x : owned->second)
        if (MayLinkSend(t, q, t.links[x].name)) add(x);
      if (!out.empty()) return out;
    }
  }
  // 3. The links of the best matching patterns (service winners first,
  //    then the longest; equal ones all kept).
  std::vector<std::pair<uint32_t, std::pair<bool, size_t>>> matched;
  std::pair<bool, size_t> top{};
  for (uint32_t i : t.routes) {
    const RouteEntry& e = t.entries[i];
    int x = static_cast<int>(e.link);
    if (!Decision::matches(e, q.recipient) || !d.admits(x) || d.blocked(x)) continue;
    std::pair<bool, size_t> rank{d.winsService(x), e.pattern.size()};
    if (matched.empty() || rank > top) top = rank;
    matched.push_back({e.link, rank});
  }
  for (const auto& [x, rank] : matched)
    if (rank == top) add(x);
  if (!out.empty()) return out;
  // 4. Every link open to all recipients.
  for (size_t i = 0; i < t.links.size(); ++i) {
    int x = static_cast<int>(i);
    if (!t.links[i].route_pref_only && !d.blocked(x) && d.admits(x)) add(static_cast<uint32_t>(i));
  }
  return out;
}

std::vector<std::string> CandidateLinks(const RouteQuery& q) {
  return CandidateLinks(*routeTable(), q);
}

std::vector<std::string> linkNames(const RouteTable& t, std::string_view link_name) {
  std::vector<std::string> names{std::string(link_name)};
  int l = t.find(link_name);
  if (l < 0) return names;
  const RouteLink& link = t.links[l];
  if (!link.route_name.empty()) names.push_back(link.route_name);
  if (!link.backup_for.empty()) {
    names.push_back(link.backup_for);
    int p = t.find(link.backup_for);
    if (p >= 0 && !t.links[p].route_name.empty()) names.push_back(t.links[p].route_name);
  }
  return names;
}

std::string_view messageRoute(const SMSMessage& m) {
  if (!m.ModemName.empty()) return m.ModemRoute.empty() ? m.ModemName : m.ModemRoute;
  return m.SMSCRoute;
}

bool routeServedBy(std::string_view route, const std::vector<std::string>& names) {
  for (const std::string& n : names)
    if (equalsNoCase(n, route)) return true;
  return false;
}

bool routeServed(const RouteTable& t, std::string_view route) {
  // Before the table is loaded nothing is known: nothing may be failed.
  if (t.links.empty() || equalsNoCase(route, foundation::kVirtualLinkName)) return true;
  for (const RouteLink& link : t.links)
    if (routeServedBy(route, linkNames(t, link.name))) return true;
  return false;
}

bool partitionOrphaned(const RouteTable& t, std::string_view directory_name) {
  std::string route;
  if (t.links.empty() || !routeOfPartition(directory_name, &route)) return false;
  if (routePartitionOpenTo(directory_name, {std::string(foundation::kVirtualLinkName)}))
    return false;
  for (const RouteLink& link : t.links)
    if (routePartitionOpenTo(directory_name, linkNames(t, link.name))) return false;
  return true;
}

void MessageRoutesAdd(const RouteTable& t, std::string_view relative, const SMSMessage& m) {
  if (!foundation::settings()->UseRouteCache) return;
  std::string value;
  std::string_view route = messageRoute(m);
  if (!route.empty()) {
    value = "*=" + std::string(route);
  } else {
    for (const std::string& name : CandidateLinks(t, routeQueryOf(m))) {
      // A name holding a tab, or one that would read as a pinned route,
      // cannot be stored in the list; with no entry every link asks the
      // rules themselves.
      if (name.find('\t') != std::string::npos || name.compare(0, 2, "*=") == 0) return;
      if (!value.empty()) value += '\t';
      value += name;
    }
    if (value.empty()) return;
  }
  if (routingDatabase().add(relative, value)) {
    DebugLog("MessageRoutesAdd", relative);
    DebugLog("MessageRoutesAdd", value);
  }
}

void MessageRoutesAdd(std::string_view relative, const SMSMessage& m) {
  MessageRoutesAdd(*routeTable(), relative, m);
}

bool routeEntryAllows(std::string_view value, const std::vector<std::string>& names) {
  if (value.substr(0, 2) == "*=") return routeServedBy(value.substr(2), names);
  // Whole tab-separated names: "SMPP - host:1" is not "SMPP - host:10".
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t tab = value.find('\t', pos);
    std::string_view item =
        value.substr(pos, tab == std::string_view::npos ? value.npos : tab - pos);
    if (!item.empty() && routeServedBy(item, names)) return true;
    if (tab == std::string_view::npos) break;
    pos = tab + 1;
  }
  return false;
}

bool MessageRoutesCheck(std::string_view relative, const std::vector<std::string>& names,
                        bool* decided_by_cache) {
  auto value = routingDatabase().lookup(relative);
  if (!value) return true;
  bool allowed = routeEntryAllows(*value, names);
  if (allowed && decided_by_cache != nullptr) *decided_by_cache = true;
  return allowed;
}

void MessageRoutesRemove(std::string_view relative) {
  (void)routingDatabase().remove(relative);
}

bool primaryDown(const RouteTable& t, std::string_view target) {
  for (const RouteLink& link : t.links) {
    bool serves = equalsNoCase(link.name, target) ||
                  (link.backup_for.empty() && equalsNoCase(link.route_name, target));
    if (serves && !linkIsDown(link.name)) return false;
  }
  return true;
}

}  // namespace vek::queue
