#include "foundation/link_name.h"

#include "hostlib/host.h"
#include "platform/strings.h"

namespace vek::foundation {
namespace {

constexpr std::string_view kOwnSectionPrefixes[] = {"SMPP - ", "HTTP - ", "UCP - ", "CIMD - ",
                                                    "IPModem - "};
constexpr unsigned kLinkScanThrough = 201;
// A value is read into a 150-character buffer, as for a link name elsewhere.
constexpr size_t kLinkNameBuffer = 150;
constexpr size_t kRouteNameBuffer = 100;

}  // namespace

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
  std::vector<ConfiguredLink> links;
  for (unsigned n = 1;; ++n) {
    std::string name = hostlib::SMSIniGetProfileString("SMSGW", platform::format("Modem%u", n), "",
                                                       kLinkNameBuffer);
    if (name.empty()) {
      if (n > kLinkScanThrough) break;
      continue;
    }
    links.push_back({n, std::move(name)});
  }
  return links;
}

std::string linkRouteName(std::string_view link_name) {
  std::string route = hostlib::SMSIniGetProfileString(linkSectionName(link_name), "RouteName", "",
                                                      kRouteNameBuffer);
  return route.empty() ? std::string(link_name) : route;
}

}  // namespace vek::foundation
