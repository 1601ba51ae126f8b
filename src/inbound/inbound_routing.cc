#include "inbound/inbound_routing.h"

#include "foundation/wildcard.h"
#include "hostlib/host.h"
#include "inbound/local_accounts.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kServiceTypePrefix = "service_type=";

bool anyMatches(const std::vector<std::string>& patterns, std::string_view text) {
  for (const std::string& p : patterns) {
    if (foundation::wildcardMatch(p, text)) return true;
  }
  return false;
}

}  // namespace

RoutingTable RoutingTable::parse(const std::vector<std::pair<std::string, std::string>>& entries) {
  RoutingTable table;
  for (const auto& [key, value] : entries) {
    std::string_view user = platform::trim(key);
    if (user.empty() || inboundDirectoryTarget(user) || user.front() == '~') continue;
    Line line;
    line.user = user;
    for (const std::string& item : platform::split(value, ",")) {
      std::string_view p = platform::trim(item);
      const bool excluded = !p.empty() && p.front() == '!';
      if (excluded) p = platform::trim(p.substr(1));
      const bool service = platform::startsWithNoCase(p, kServiceTypePrefix);
      if (service) p.remove_prefix(kServiceTypePrefix.size());
      if (p.empty()) continue;
      auto& list = excluded ? (service ? line.excluded_service_types : line.excluded_destinations)
                            : (service ? line.service_types : line.destinations);
      list.emplace_back(p);
    }
    table.lines_.push_back(std::move(line));
  }
  return table;
}

std::string RoutingTable::choose(std::string_view destination, std::string_view service_type,
                                 const AccountOf& account) const {
  std::string best;
  size_t best_length = 0;
  bool chosen_by_service = false;
  for (const Line& line : lines_) {
    if (anyMatches(line.excluded_destinations, destination) ||
        anyMatches(line.excluded_service_types, service_type)) {
      continue;
    }
    const bool service_matched =
        !line.service_types.empty() && anyMatches(line.service_types, service_type);
    if (!line.service_types.empty() && !service_matched) continue;

    size_t longest = 0;
    bool destination_matched = false;
    for (const std::string& p : line.destinations) {
      if (foundation::wildcardMatch(p, destination)) {
        destination_matched = true;
        longest = std::max(longest, p.size());
      }
    }
    const bool takes_over_service = service_matched && !chosen_by_service;
    const bool takes_destination = destination_matched && longest > best_length;
    const bool takes_empty =
        service_matched && line.destinations.empty() && (takes_over_service || best.empty());
    if (!takes_over_service && !takes_destination && !takes_empty) continue;

    std::optional<std::string> user = account(line.user);
    if (!user) continue;
    if (takes_over_service) {
      best.clear();
      best_length = 0;
      chosen_by_service = true;
    }
    if (destination_matched && longest > best_length) {
      best = *user;
      best_length = longest;
    } else if (service_matched && line.destinations.empty() && best.empty()) {
      best = *user;
    }
  }
  return best;
}

std::shared_ptr<const RoutingTable> RoutingTableCache::get(platform::SteadyTime now) {
  std::scoped_lock lk(mu_);
  if (!loaded_ || now >= next_check_) {
    next_check_ = now + kRecheck;
    std::optional<platform::SystemTime> modified = source_.modified();
    if (!loaded_ || modified != modified_) {
      table_.publish(RoutingTable::parse(source_.entries()));
      modified_ = modified;
      loaded_ = true;
    }
  }
  return table_.get();
}

void RoutingTableCache::invalidate() {
  std::scoped_lock lk(mu_);
  loaded_ = false;
}

namespace {

RoutingTableCache& processCache() {
  static RoutingTableCache cache(RoutingTableCache::Source{
      [] { return hostlib::smsIni().current()->sectionEntries(kRoutingSection); },
      [] { return hostlib::smsIni().modifiedTime(); }});
  return cache;
}

}  // namespace

std::shared_ptr<const RoutingTable> inboundRoutingTable() {
  return processCache().get(platform::monotonicNow());
}

void reloadInboundRoutingTable() {
  processCache().invalidate();
}

std::string InboundRouting(std::string_view destination, std::string_view service_type,
                           std::string_view local_user) {
  if (!local_user.empty()) {
    if (inboundDirectoryTarget(local_user)) return std::string(local_user);
    if (auto account = existingAccount(local_user); account && receivesMessages(*account))
      return *account;
  }
  return inboundRoutingTable()->choose(destination, service_type, existingAccount);
}

}  // namespace vek::inbound
