#include "hostlib/interface_events.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/strings.h"

namespace vek::hostlib {
namespace {

std::mutex g_mu;
std::map<std::string, std::shared_ptr<platform::Event>> g_events;

std::string key(std::string_view family, std::string_view name) {
  return platform::toLower(family) + '\n' + platform::toLower(name);
}

}  // namespace

std::shared_ptr<platform::Event> CreateEventForInterface(std::string_view family,
                                                         std::string_view name) {
  std::scoped_lock lk(g_mu);
  auto& slot = g_events[key(family, name)];
  if (!slot) slot = std::make_shared<platform::Event>(platform::Event::Mode::kAutoReset);
  return slot;
}

std::shared_ptr<platform::Event> OpenEventForInterface(std::string_view family,
                                                       std::string_view name) {
  std::scoped_lock lk(g_mu);
  auto it = g_events.find(key(family, name));
  return it == g_events.end() ? nullptr : it->second;
}

bool SetEventForInterface(std::string_view family, std::string_view name) {
  auto e = OpenEventForInterface(family, name);
  if (!e) return false;
  e->set();
  return true;
}

}  // namespace vek::hostlib
