// Process-wide state that the service sets up at start-up and that threads
// of several folders share: the inbound wake-up events, the listening
// sockets (for the start-up report and to wake them at shutdown), what
// start-up learned about TLS and the configuration, and the extra HTTP
// argument names. Everything here is thread-safe.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/snapshot.h"

namespace vek::foundation {

// "Vek SMS/MMS Gateway v<year>.<month>.<day>"
const char* productBanner();
const char* productVersion();

// Inbound wake-up events (auto-reset). Kind-2 inbound threads wait on B,
// the others on A; writers of inbound files set one; shutdown sets both.
platform::Event& inboundEventA();
platform::Event& inboundEventB();

enum class Listener { kWeb = 0, kWebSsl = 1, kSmpp = 2, kSmppSsl = 3 };
// A listener thread registers its socket when it listens (-1 when it
// stops). The descriptor stays owned by the listener thread.
void setListeningSocket(Listener which, int fd);
int listeningSocket(Listener which);
// Wakes every registered listening socket (shutdown), without closing it.
void wakeListeningSockets();

struct StartupFacts {
  bool tls_available = false;
  bool server_certificate = false;
  bool ip_notify_targets = false;  // section IPNotify of MMSC.INI is not empty
};
StartupFacts startupFacts();
void setStartupFacts(const StartupFacts& facts);

// Routing-database reset requests (a link added while running, a rebuilt
// preferred-route list). The supervisor takes the request once a minute.
void requestRoutingDbReset();
bool takeRoutingDbResetRequest();

// The restart-links request: a link's `Modem%u` value changed under its
// running sender (the reload check of link_settings.h). The supervisor
// takes it at its next pass and starts the link threads that are missing.
void requestLinkRestart();
bool takeLinkRestartRequest();

// Names from `ExtraHttpArgList` (split at commas and semicolons).
std::shared_ptr<const std::vector<std::string>> extraHttpArgs();
void setExtraHttpArgs(std::vector<std::string> names);

}  // namespace vek::foundation
