// Extra parameters: the "name=value" items a link hands over with a received
// message, separated by semicolons, e.g.
//
//   ServiceType=WAP; SMPPOption_network_code=12; ReceiptMsgIdOrig=4F2A
//
// A value runs to the next semicolon; blanks around names and values are
// dropped; names compare without regard to case. An item is only ever found
// by its whole name, so "SMPPOption_ServiceType=x" never passes for a
// service type, and a value can never smuggle in an item of its own (the
// engines turn a ';' inside a value into a blank).
//
// Also here: the SMPP option list that inbound files carry in
// "SMPPOptions=", items "SMPPOption_<name>=<value>" joined by "; ".
//
// Pure functions (apart from reading the configuration where said);
// thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek::inbound {

inline constexpr std::string_view kOptionPrefix = "SMPPOption_";
// Limits of an option list: each name and each value, and the whole list.
inline constexpr size_t kMaxOptionName = 99;
inline constexpr size_t kMaxOptionValue = 99;
inline constexpr size_t kMaxOptionList = 500;

struct ExtraItem {
  std::string_view name;
  std::string_view value;
};

// Every item with a name, in order.
std::vector<ExtraItem> extraItems(std::string_view extra);
// The value of the first item called `name`, or nullopt.
std::optional<std::string_view> extraValue(std::string_view extra, std::string_view name);

// Which "SMPPOption_" items an option list keeps.
enum class OptionFilter {
  kAll,         // every one (what a link's receive callback collected)
  kConfigured,  // those whose name has a non-empty value in section "SMPPOptions"
};
// The "SMPPOption_" items of `extra` as an option list: each name and value
// cut to 99 characters; an item that would take the list past 500
// characters ends it (items are never cut in half).
std::string smppOptionList(std::string_view extra, OptionFilter filter);
// An option list as a caller gave it, in the form files carry: items
// without the "SMPPOption_" prefix get it, empty items are dropped, and the
// list ends where the next item would pass 500 characters.
std::string normaliseOptionList(std::string_view list);

}  // namespace vek::inbound
