#include "foundation/service_state.h"

#include <mutex>

#include "platform/socket.h"

namespace vek::foundation {
namespace {
std::atomic<int> g_listeners[4] = {-1, -1, -1, -1};
std::mutex g_facts_mu;
StartupFacts g_facts;
platform::Snapshot<std::vector<std::string>> g_extra_args;
std::atomic<bool> g_routing_reset{false};
std::atomic<bool> g_link_restart{false};
}  // namespace

void requestRoutingDbReset() {
  g_routing_reset.store(true);
}
bool takeRoutingDbResetRequest() {
  return g_routing_reset.exchange(false);
}

void requestLinkRestart() {
  g_link_restart.store(true);
}
bool takeLinkRestartRequest() {
  return g_link_restart.exchange(false);
}

const char* productVersion() {
  return "v2026.12.08";
}
const char* productBanner() {
  return "Vek SMS/MMS Gateway v2026.12.08";
}

platform::Event& inboundEventA() {
  static platform::Event e(platform::Event::Mode::kAutoReset);
  return e;
}

platform::Event& inboundEventB() {
  static platform::Event e(platform::Event::Mode::kAutoReset);
  return e;
}

void setListeningSocket(Listener which, int fd) {
  g_listeners[static_cast<int>(which)].store(fd);
}

int listeningSocket(Listener which) {
  return g_listeners[static_cast<int>(which)].load();
}

void wakeListeningSockets() {
  for (auto& l : g_listeners) {
    int fd = l.load();
    if (fd >= 0) platform::wakeSocket(fd);
  }
}

StartupFacts startupFacts() {
  std::scoped_lock lk(g_facts_mu);
  return g_facts;
}

void setStartupFacts(const StartupFacts& facts) {
  std::scoped_lock lk(g_facts_mu);
  g_facts = facts;
}

std::shared_ptr<const std::vector<std::string>> extraHttpArgs() {
  return g_extra_args.getOften();
}

void setExtraHttpArgs(std::vector<std::string> names) {
  g_extra_args.publish(std::move(names));
}

}  // namespace vek::foundation
