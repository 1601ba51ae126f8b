#include "http/server/param_lookup.h"

#include "http/server/params.h"
#include "platform/strings.h"

namespace vek::http {

ParamLookup::ParamLookup(std::string_view msg) : msg_(msg) {
  if (msg.size() <= kCopyLimit) {
    lower_ = platform::toLower(msg);
    copied_ = true;
  }
}

bool ParamLookup::mayHave(std::string_view name) const {
  if (name.empty()) return false;
  std::string key = platform::toLower(name);
  key += '=';
  return contains(key);
}

bool ParamLookup::contains(std::string_view text) const {
  const std::string needle = platform::toLower(text);
  if (copied_) return lower_.find(needle) != std::string::npos;
  // Lower-cases the request a window at a time into one buffer; windows
  // overlap by the needle's length less one so that no occurrence falls
  // between two.
  constexpr size_t kWindow = 256u << 10;
  if (needle.empty()) return true;
  std::string window(kWindow + needle.size() - 1, '\0');
  for (size_t at = 0; at < msg_.size(); at += kWindow) {
    std::string_view part = msg_.substr(at, window.size());
    for (size_t i = 0; i < part.size(); ++i) {
      char c = part[i];
      window[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    if (std::string_view(window.data(), part.size()).find(needle) != std::string_view::npos)
      return true;
    if (at + part.size() >= msg_.size()) break;
  }
  return false;
}

std::optional<std::string> ParamLookup::get(std::string_view name, size_t size) const {
  if (!mayHave(name)) return std::nullopt;
  return requestParameter(msg_, name, size);
}

}  // namespace vek::http
