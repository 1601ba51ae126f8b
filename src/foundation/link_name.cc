#include "foundation/link_name.h"

#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/strings.h"

namespace vek::foundation {
namespace {

constexpr std::string_view kOwnSectionPrefixes[] = {"SMPP - ", "HTTP - ", "UCP - ", "CIMD - ",
                                                    "IPModem - "};
constexpr unsigned kLinkScanThrough = 201;

std::string cut(std::string_view v, size_t buffer) {
  return std::string(v.substr(0, buffer - 1));
}

// The `Modem%u` scan of start-up over any source of values.
template <typename Read>
std::vector<ConfiguredLink> scanLinks(Read read) {
  std::vector<ConfiguredLink> links;
  for (unsigned n = 1;; ++n) {
    std::string name = read(n);
    if (name.empty()) {
      if (n > kLinkScanThrough) break;
      continue;
    }
    links.push_back({n, std::move(name)});
  }
  return links;
}

}  // namespace

LinkKind linkKind(std::string_view name) {
  using platform::startsWithNoCase;
  if (startsWithNoCase(name, "SMPP - ")) return LinkKind::kSmpp;
  if (startsWithNoCase(name, "UCP - ")) return LinkKind::kUcp;
  if (startsWithNoCase(name, "CIMD - ")) return LinkKind::kCimd;
  if (startsWithNoCase(name, "HTTP - ")) return LinkKind::kHttp;
  if (startsWithNoCase(name, "SDKLink - ")) return LinkKind::kSdk;
  if (startsWithNoCase(name, "IPModem - ")) return LinkKind::kIpModem;
  return LinkKind::kModem;
}

const char* linkKindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::kSmpp:
      return "SMPP";
    case LinkKind::kUcp:
      return "UCP";
    case LinkKind::kCimd:
      return "CIMD";
    case LinkKind::kHttp:
      return "HTTP";
    case LinkKind::kSdk:
      return "SDKLink";
    case LinkKind::kIpModem:
      return "IPModem";
    case LinkKind::kModem:
      break;
  }
  return "Modem";
}

std::string_view stripModemSectionPrefix(std::string_view value) {
  constexpr std::string_view kPrefix = "Modem - ";
  if (platform::startsWithNoCase(value, kPrefix)) value.remove_prefix(kPrefix.size());
  return value;
}

std::string linkSectionName(std::string_view link_name) {
  bool own = false;
  for (std::string_view prefix : kOwnSectionPrefixes) {
    if (platform::startsWithNoCase(link_name, prefix)) own = true;
  }
  std::string section = own ? std::string() : std::string("Modem - ");
  section.reserve(section.size() + link_name.size() + 8);
  for (char c : link_name) {
    if (c == '[') {
      section += "\\x5B";
    } else if (c == ']') {
      section += "\\x5D";
    } else {
      section += c;
    }
  }
  return section;
}

std::string unescapeLinkSection(std::string_view section) {
  std::string out;
  out.reserve(section.size());
  for (size_t i = 0; i < section.size(); ++i) {
    std::string_view rest = section.substr(i);
    if (platform::startsWithNoCase(rest, "\\x5B")) {
      out += '[';
      i += 3;
    } else if (platform::startsWithNoCase(rest, "\\x5D")) {
      out += ']';
      i += 3;
    } else {
      out += section[i];
    }
  }
  return out;
}

std::vector<ConfiguredLink> configuredLinks() {
  return configuredLinks(*hostlib::smsIni().current());
}

std::vector<ConfiguredLink> configuredLinks(const hostlib::IniFile& ini) {
  return scanLinks([&](unsigned n) { return linkNameOf(ini, n); });
}

std::string linkNameOf(unsigned number) {
  return linkNameOf(*hostlib::smsIni().current(), number);
}

std::string linkNameOf(const hostlib::IniFile& ini, unsigned number) {
  if (number == 0) return std::string(kVirtualLinkName);
  auto v = ini.get("SMSGW", platform::format("Modem%u", number));
  return v ? cut(*v, kLinkNameBuffer) : std::string();
}

std::string linkRouteName(std::string_view link_name) {
  std::string route = hostlib::SMSIniGetProfileString(linkSectionName(link_name), "RouteName", "",
                                                      kRouteNameBuffer);
  return route.empty() ? std::string(link_name) : route;
}

}  // namespace vek::foundation
