#include "inbound/extra_params.h"

#include "hostlib/host.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

// Appends "SMPPOption_<name>=<value>" unless that takes the list past its
// limit; false when the list is full.
bool appendOption(std::string* list, std::string_view name, std::string_view value) {
  name = name.substr(0, kMaxOptionName);
  value = value.substr(0, kMaxOptionValue);
  const size_t separator = list->empty() ? 0 : 2;
  const size_t item = kOptionPrefix.size() + name.size() + 1 + value.size();
  if (list->size() + separator + item > kMaxOptionList) return false;
  if (separator != 0) list->append("; ");
  list->append(kOptionPrefix);
  list->append(name);
  list->push_back('=');
  list->append(value);
  return true;
}

bool configuredOption(std::string_view name) {
  return !hostlib::SMSIniGetProfileString("SMPPOptions", name, "", 100).empty();
}

}  // namespace

std::vector<ExtraItem> extraItems(std::string_view extra) {
  std::vector<ExtraItem> items;
  size_t pos = 0;
  while (pos <= extra.size()) {
    size_t end = extra.find(';', pos);
    if (end == std::string_view::npos) end = extra.size();
    std::string_view item = platform::trim(extra.substr(pos, end - pos));
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos) {
      std::string_view name = platform::trim(item.substr(0, eq));
      if (!name.empty()) items.push_back({name, platform::trim(item.substr(eq + 1))});
    }
    pos = end + 1;
  }
  return items;
}

std::optional<std::string_view> extraValue(std::string_view extra, std::string_view name) {
  for (const ExtraItem& item : extraItems(extra)) {
    if (platform::equalsNoCase(item.name, name)) return item.value;
  }
  return std::nullopt;
}

std::string smppOptionList(std::string_view extra, OptionFilter filter) {
  std::string list;
  for (const ExtraItem& item : extraItems(extra)) {
    if (!platform::startsWithNoCase(item.name, kOptionPrefix)) continue;
    std::string_view name = item.name.substr(kOptionPrefix.size());
    if (name.empty()) continue;
    if (filter == OptionFilter::kConfigured && !configuredOption(name)) continue;
    if (!appendOption(&list, name, item.value)) break;
  }
  return list;
}

std::string normaliseOptionList(std::string_view given) {
  std::string list;
  for (const ExtraItem& item : extraItems(given)) {
    std::string_view name = item.name;
    if (platform::startsWithNoCase(name, kOptionPrefix)) name.remove_prefix(kOptionPrefix.size());
    if (name.empty()) continue;
    if (!appendOption(&list, name, item.value)) break;
  }
  return list;
}

}  // namespace vek::inbound
