// Inbound routing: which local account receives a received message.
//
// The table is section "Inbound SMS Routing" of SMSGW.INI, one line per
// account: the account name as key, a comma-separated list of patterns as
// value:
//
//   [Inbound SMS Routing]
//   alice=44*
//   bob=447*, !4471*
//   dave=service_type=WAP
//
// A pattern matches the destination address; one beginning "service_type="
// matches the service type instead; a leading '!' makes it an exclusion.
// Patterns are wildcards (foundation/wildcard.h: '?' one character, '*'
// any run, backtracking, case ignored).
//
// Choosing, line by line in order: a line with a matching exclusion is
// skipped; a line with service-type patterns none of which matches is
// skipped; the first line whose service type matches discards what earlier
// lines chose; among matching destination patterns a longer one than the
// best so far makes the line's account the best; a line whose service type
// matched and that has no destination patterns is taken only when nothing
// is chosen yet (and a later matching destination pattern replaces it).
// Lines whose account does not exist are skipped (a typo in the table
// never swallows messages), and lines naming the inbound directory
// ("~SMSIN...") are ignored: routing a message back to where it came from
// would loop.
//
// The table is cached: read again at most every 15 seconds, and only when
// SMSGW.INI's last-write time changed. The cache is shared by every thread;
// readers take an immutable snapshot.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/snapshot.h"

namespace vek::inbound {

inline constexpr std::string_view kRoutingSection = "Inbound SMS Routing";

class RoutingTable {
 public:
  // From the section's key/value pairs in file order.
  static RoutingTable parse(const std::vector<std::pair<std::string, std::string>>& entries);

  // The account chosen for a message, or "". `account` maps a line's key to
  // the existing account it names (nullopt skips the line).
  using AccountOf = std::function<std::optional<std::string>(std::string_view key)>;
  std::string choose(std::string_view destination, std::string_view service_type,
                     const AccountOf& account) const;

  size_t size() const { return lines_.size(); }

 private:
  struct Line {
    std::string user;
    std::vector<std::string> destinations;
    std::vector<std::string> service_types;
    std::vector<std::string> excluded_destinations;
    std::vector<std::string> excluded_service_types;
  };
  std::vector<Line> lines_;
};

// The cached table of one configuration file.
class RoutingTableCache {
 public:
  // Reads the table: the section's entries and the file's last-write time.
  struct Source {
    std::function<std::vector<std::pair<std::string, std::string>>()> entries;
    std::function<std::optional<platform::SystemTime>()> modified;
  };
  explicit RoutingTableCache(Source source) : source_(std::move(source)) {}

  // The table in force at `now`: re-read when 15 seconds have passed since
  // the last check and the file's last-write time changed.
  std::shared_ptr<const RoutingTable> get(platform::SteadyTime now);
  // The next get() reads the table again.
  void invalidate();

 private:
  static constexpr std::chrono::seconds kRecheck{15};
  Source source_;
  std::mutex mu_;
  bool loaded_ = false;
  platform::SteadyTime next_check_{};
  std::optional<platform::SystemTime> modified_;
  platform::Snapshot<RoutingTable> table_;
};

// The process-wide cache over SMSGW.INI.
std::shared_ptr<const RoutingTable> inboundRoutingTable();
// Tests: the next lookup reads the file again.
void reloadInboundRoutingTable();

// The account (or "~SMSIN" target) that receives a message to
// `destination` with `service_type`, given the `local_user` the message
// names: that user when it is the inbound directory target, or an
// existing account with "RECV.FLG"; otherwise the table's choice. "" when
// nobody receives it.
std::string InboundRouting(std::string_view destination, std::string_view service_type,
                           std::string_view local_user);

}  // namespace vek::inbound
