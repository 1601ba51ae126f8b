#include "http/server/address_rules.h"

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "http/server/listeners.h"
#include "platform/snapshot.h"
#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

platform::Snapshot<AddressList>& allowedSnapshot() {
  static platform::Snapshot<AddressList> s;
  return s;
}

platform::Snapshot<AddressList>& blockedSnapshot() {
  static platform::Snapshot<AddressList> s;
  return s;
}

std::vector<std::string> readEntries(std::string_view prefix) {
  std::vector<std::string> out;
  for (unsigned i = 1;; ++i) {
    std::string key = std::string(prefix) + std::to_string(i);
    std::string v = hostlib::SMSIniGetProfileString("IPRestrictions", key, "", 150);
    if (v.empty()) break;
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace

bool addressMatchesPattern(std::string_view pattern, std::string_view address) {
  auto p = parseAddressPattern(pattern);
  return p && patternMatches(*p, address);
}

bool AddressList::matches(std::string_view address) const {
  for (const auto& p : patterns)
    if (patternMatches(p, address)) return true;
  return false;
}

std::shared_ptr<const AddressList> allowedAddresses() {
  return allowedSnapshot().get();
}
std::shared_ptr<const AddressList> blockedAddresses() {
  return blockedSnapshot().get();
}

bool addressAdmitted(std::string_view address) {
  if (address == "127.0.0.1" || address == "::1") return true;
  if (blockedAddresses()->matches(address)) return false;
  auto allowed = allowedAddresses();
  return allowed->entries.empty() || allowed->matches(address);
}

bool adminAddressAllowed(std::string_view address) {
  std::string list = hostlib::SMSIniGetProfileString("SMSGW", "AdminIPAddressList", "", 1024);
  bool any = false;
  for (const auto& item : platform::split(list, ",;")) {
    std::string_view pattern = platform::trim(item);
    if (pattern.empty()) continue;
    any = true;
    if (addressMatchesPattern(pattern, address)) return true;
  }
  return !any;
}

bool isOwnAddress(std::string_view address) {
  if (platform::isLoopbackAddress(address)) return true;
  for (const auto& a : platform::interfaceAddresses())
    if (a == address) return true;
  return false;
}

bool reloadAddressList(std::string_view prefix, bool allowed) {
  auto& snap = allowed ? allowedSnapshot() : blockedSnapshot();
  std::vector<std::string> entries = readEntries(prefix);
  if (snap.get()->entries == entries) return false;
  AddressList next;
  for (const auto& e : entries)
    if (auto p = parseAddressPattern(e)) next.patterns.push_back(*p);
  next.entries = std::move(entries);
  snap.publish(std::move(next));
  return true;
}

bool LoadAllowedList() {
  bool rebuilt = reloadAddressList("Allowed", true);
  if (rebuilt) foundation::DebugLog("LoadAllowedList", "Reload");
  return rebuilt;
}

bool LoadBlockedList() {
  bool rebuilt = reloadAddressList("Blocked", false);
  if (rebuilt) foundation::DebugLog("LoadBlockedList", "Reload");
  return rebuilt;
}

}  // namespace vek::http
