#include "smpp_server/server_settings.h"

#include <algorithm>
#include <optional>

#include "foundation/config_rules.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/strings.h"

namespace vek::smpp_server {
namespace {

// The value of a key that is present and not blank.
std::optional<int32_t> numberIfSet(const hostlib::IniFile& ini, std::string_view section,
                                   std::string_view key) {
  auto v = ini.get(section, key);
  if (!v || platform::trim(*v).empty()) return std::nullopt;
  return foundation::number(*v);
}

// Absent, blank, zero or negative: the default.
int positiveOr(const hostlib::IniFile& ini, std::string_view key, int def) {
  auto v = numberIfSet(ini, "SMSGW", key);
  return v && *v > 0 ? *v : def;
}

unsigned portOf(const hostlib::IniFile& ini, std::string_view key) {
  auto v = numberIfSet(ini, "SMSGW", key);
  return v && *v > 0 ? static_cast<unsigned>(*v) : 0;
}

}  // namespace

ServerSettings loadServerSettings() {
  auto ini = hostlib::smsIni().current();
  ServerSettings s;
  s.port = portOf(*ini, "SMPPPort");
  s.ssl_port = portOf(*ini, "SMPPPortSSL");
  // 0 is a value of its own here: never close an idle connection.
  if (auto v = numberIfSet(*ini, "SMSGW", "SMPPServerEnquireLink"))
    s.enquire_link_seconds = std::max(*v, 0);
  s.max_connections_per_user = positiveOr(*ini, "SMPPServerMaxConnectionsPerUser", 4);
  s.validate_interval_seconds = positiveOr(*ini, "SMPPServerValidateUserInterval", 60);
  if (auto v = numberIfSet(*ini, "SMSGW", "SMPPServerAsyncWindowSize"))
    s.window = std::clamp(*v, 0, kMaxWindow);
  s.max_unbound_per_address = positiveOr(*ini, "SMPPServerMaxUnboundPerAddress", 32);
  s.max_unbound = positiveOr(*ini, "SMPPServerMaxUnboundConnections", 512);
  s.bind_timeout_seconds = positiveOr(*ini, "SMPPServerBindTimeout", 120);
  if (auto v = ini->get("SMSGW", "SMPPNoDelay")) s.no_delay = foundation::yesNo(*v);
  return s;
}

int windowFor(const ServerSettings& settings, std::string_view account) {
  auto ini = hostlib::smsIni().current();
  if (auto v = numberIfSet(*ini, "SMPPServerAsyncWindowSize", account))
    return std::clamp(*v, 0, kMaxWindow);
  return std::clamp(settings.window, 0, kMaxWindow);
}

bool optionKept(std::string_view name) {
  if (name.empty()) return false;
  auto ini = hostlib::smsIni().current();
  auto v = ini->get("SMPPOptions", name);
  return v && !platform::trim(*v).empty();
}

}  // namespace vek::smpp_server
