// Address restrictions of the web interface: the address pattern rule, the
// allow and block lists (section IPRestrictions, keys Allowed%u and
// Blocked%u), the administration address list, and the test for the host's
// own addresses.
//
// Address patterns (IPv4 dotted quads with "*", IPv6 addresses with an
// optional prefix length) and how an address matches them, IPv4-mapped
// clients of the dual-stack listener included: platform/address_pattern.h.
//
// The lists are immutable snapshots: the loaders (listeners.h) publish a
// new list whole and readers take no lock. Thread-safe.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/address_pattern.h"

namespace vek::http {

using platform::AddressPattern;
using platform::parseAddressPattern;
using platform::patternMatches;

bool addressMatchesPattern(std::string_view pattern, std::string_view address);

struct AddressList {
  std::vector<std::string> entries;      // as configured, for the reload comparison
  std::vector<AddressPattern> patterns;  // the valid ones
  bool matches(std::string_view address) const;
};

std::shared_ptr<const AddressList> allowedAddresses();
std::shared_ptr<const AddressList> blockedAddresses();

// Admission to the web interface: the loopback "127.0.0.1" (and "::1")
// always; otherwise refused
// when a blocked pattern matches, else admitted when the allow list is
// empty or one of its patterns matches.
bool addressAdmitted(std::string_view address);

// `AdminIPAddressList` (section SMSGW, patterns separated by "," or ";",
// read on every call): empty admits every address.
bool adminAddressAllowed(std::string_view address);

// One of the host's own addresses: 127.0.0.0/8, ::1, or an address of one
// of its interfaces.
bool isOwnAddress(std::string_view address);

// Builds the list from numbered keys `prefix`1, 2, ... of section
// IPRestrictions (up to the first missing or empty one; values cut at 149
// characters) and publishes it when it differs from the list in force.
// True when it published. Used by LoadAllowedList / LoadBlockedList.
bool reloadAddressList(std::string_view prefix, bool allowed);

}  // namespace vek::http
