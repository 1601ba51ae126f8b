#include "http/server/server_limits.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "hostlib/host.h"
#include "http/server/address_rules.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

// The key's number when it is a positive value no larger than `max`.
std::optional<uint64_t> positive(std::string_view key, uint64_t max) {
  int32_t v = foundation::number(hostlib::SMSIniGetProfileString("SMSGW", key));
  if (v <= 0 || static_cast<uint64_t>(v) > max) return std::nullopt;
  return static_cast<uint64_t>(v);
}

// Same, but 0 is a value of its own ("no limit") when written as such.
std::optional<uint64_t> zeroOrPositive(std::string_view key, uint64_t max) {
  std::string text(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", key)));
  if (text == "0") return 0;
  return positive(key, max);
}

}  // namespace

ServerLimits serverLimitsFromConfiguration() {
  ServerLimits l;
  if (auto v = positive("MaxHTTPConnections", 1000000)) l.max_connections = *v;
  if (auto v = zeroOrPositive("MaxHTTPConnectionsPerAddress", 1000000)) l.max_per_address = *v;
  if (auto v = zeroOrPositive("MaxHTTPIncompleteRequestsPerAddress", 1000000))
    l.max_incomplete_per_address = *v;
  l.exempt = hostlib::SMSIniGetProfileString("SMSGW", "HTTPAddressLimitsExempt", "", 1024);
  if (auto v = positive("HTTPRequestHeadTimeout", 3600)) l.head_timeout = std::chrono::seconds(*v);
  if (auto v = zeroOrPositive("HTTPMinBodyRate", 1u << 30))
    l.min_body_rate = static_cast<uint32_t>(*v);
  if (auto v = positive("MaxHTTPRequestSize", INT32_MAX)) l.message.max_message = *v;
  l.message.max_header = std::min(l.message.max_header, l.message.max_message);
  if (auto v = zeroOrPositive("MaxHTTPUnauthenticatedBody", INT32_MAX)) l.unauthenticated_body = *v;
  if (auto v = positive("MaxHTTPBodyMemoryMB", 1u << 20)) l.body_memory = *v << 20;
  if (auto v = positive("HTTPWorkerThreads", 1000)) l.workers = static_cast<unsigned>(*v);
  return l;
}

bool exemptFromAddressLimits(const ServerLimits& limits, std::string_view address) {
  for (const std::string& item : platform::split(limits.exempt, ",;")) {
    std::string_view pattern = platform::trim(item);
    if (!pattern.empty() && addressMatchesPattern(pattern, address)) return true;
  }
  return false;
}

std::string addressKey(std::string_view address) {
  if (address.find(':') == std::string_view::npos) return std::string(address);
  // Expand "::" so that the first four groups can be counted.
  std::string head(address.substr(0, address.find('%')));
  size_t gap = head.find("::");
  std::vector<std::string> groups;
  auto take = [&](std::string_view part) {
    for (const std::string& g : platform::split(part, ":"))
      if (!g.empty()) groups.push_back(platform::toLower(g));
  };
  if (gap == std::string::npos) {
    take(head);
  } else {
    take(std::string_view(head).substr(0, gap));
    std::vector<std::string> front = std::move(groups);
    groups.clear();
    take(std::string_view(head).substr(gap + 2));
    size_t missing = front.size() + groups.size() < 8 ? 8 - front.size() - groups.size() : 0;
    front.insert(front.end(), missing, "0");
    front.insert(front.end(), groups.begin(), groups.end());
    groups = std::move(front);
  }
  std::string key;
  for (size_t i = 0; i < 4 && i < groups.size(); ++i) key += groups[i] + ":";
  return key + ":/64";
}

}  // namespace vek::http
