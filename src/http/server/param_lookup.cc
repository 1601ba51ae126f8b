#include "http/server/param_lookup.h"

#include "http/server/params.h"
#include "platform/strings.h"

namespace vek::http {

ParamLookup::ParamLookup(std::string_view msg) : msg_(msg), lower_(platform::toLower(msg)) {}

bool ParamLookup::mayHave(std::string_view name) const {
  if (name.empty()) return false;
  std::string key = platform::toLower(name);
  key += '=';
  return lower_.find(key) != std::string::npos;
}

bool ParamLookup::contains(std::string_view text) const {
  return lower_.find(platform::toLower(text)) != std::string::npos;
}

std::optional<std::string> ParamLookup::get(std::string_view name, size_t size) const {
  if (!mayHave(name)) return std::nullopt;
  return requestParameter(msg_, name, size);
}

}  // namespace vek::http
