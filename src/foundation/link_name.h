// Link names: how a configured link is named and where its settings live.
//
// A link is named by the value of a `Modem%u` key in section `SMSGW`. Its
// settings section is that name, with "Modem - " put in front unless it
// already begins (ignoring case) with "SMPP - ", "HTTP - ", "UCP - ",
// "CIMD - " or "IPModem - ", and with every '[' written as "\x5B" and every
// ']' as "\x5D" (a bracket would end the section header). The reverse rule
// turns those back into brackets.
//
// A link's kind follows from its name's prefix (ignoring case): "SMPP - ",
// "UCP - ", "CIMD - ", "HTTP - " and "IPModem - " name host and port after
// the prefix, "SDKLink - " an application link, anything else a GSM modem
// on a local port. Link number 0 is reserved for the internal link
// "SDKLINK - VirtualSMSC".
//
// Reads go through the host library's configuration calls, so they always
// see the current "SMSGW.INI" (or the parse a caller passes). Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vek::hostlib {
class IniFile;
}

namespace vek::foundation {

enum class LinkKind { kSmpp, kUcp, kCimd, kHttp, kSdk, kIpModem, kModem };
LinkKind linkKind(std::string_view link_name);
// "SMPP", "UCP", "CIMD", "HTTP", "SDKLink", "IPModem", "Modem".
const char* linkKindName(LinkKind kind);

// The internal link of number 0.
constexpr std::string_view kVirtualLinkName = "SDKLINK - VirtualSMSC";
// A link name is read into a 150-character buffer: at most 149 characters.
constexpr size_t kLinkNameBuffer = 150;
// `RouteName` is read into a 100-character buffer.
constexpr size_t kRouteNameBuffer = 100;

std::string linkSectionName(std::string_view link_name);
// The reverse bracket rule ("\x5B" -> '[', "\x5D" -> ']'); the prefix stays.
std::string unescapeLinkSection(std::string_view section);

struct ConfiguredLink {
  unsigned number = 0;  // n of `Modem%u`
  std::string name;
};
// Every configured link in number order: keys `Modem1`, `Modem2`, ...
// read through number 201 whatever the gaps, and after that up to the first
// gap (the scan that start-up does).
std::vector<ConfiguredLink> configuredLinks();
std::vector<ConfiguredLink> configuredLinks(const hostlib::IniFile& ini);

// The name of link `number` now: its `Modem%u` value (cut to 149
// characters), "SDKLINK - VirtualSMSC" for 0, "" when the key is empty.
std::string linkNameOf(unsigned number);
std::string linkNameOf(const hostlib::IniFile& ini, unsigned number);

// A `BackupForRoute` value as used: without a leading "Modem - "
// (ignoring case), so a value copied from a section header names the link.
std::string_view stripModemSectionPrefix(std::string_view value);

// The route name a link carries: `RouteName` of its settings section when
// set, else the link name itself. Used to resolve a request's `ModemName`.
std::string linkRouteName(std::string_view link_name);

}  // namespace vek::foundation
