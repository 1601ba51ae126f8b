// Link names: how a configured link is named and where its settings live.
//
// A link is named by the value of a `Modem%u` key in section `SMSGW`. Its
// settings section is that name, with "Modem - " put in front unless it
// already begins (ignoring case) with "SMPP - ", "HTTP - ", "UCP - ",
// "CIMD - " or "IPModem - ", and with every '[' written as "\x5B" and every
// ']' as "\x5D" (a bracket would end the section header). The reverse rule
// turns those back into brackets.
//
// Reads go through the host library's configuration calls, so they always
// see the current "SMSGW.INI". Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vek::foundation {

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

// The route name a link carries: `RouteName` of its settings section when
// set, else the link name itself. Used to resolve a request's `ModemName`.
std::string linkRouteName(std::string_view link_name);

}  // namespace vek::foundation
