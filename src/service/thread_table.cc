#include "service/thread_table.h"

#include "foundation/settings.h"
#include "http/server/listeners.h"
#include "inbound/inbound_worker.h"
#include "queue/queue_cache.h"
#include "smpp_server/listener.h"

namespace vek::service {
namespace {

bool serverCertificateExists(const StartupContext& c) {
  return c.facts.server_certificate;
}

bool smppLibraryPresent(const StartupContext& c) {
  return c.smpp_library;
}

bool smppLibraryAndTls(const StartupContext& c) {
  return c.smpp_library && c.facts.tls_available;
}

// The inbound thread pairs beyond the first.
int extraInboundPairs(const StartupContext&) {
  return inbound::inboundThreadPairs() - 1;
}

// One row per thread, in start order. Components add theirs here.
const ThreadRow kThreads[] = {
    // name, phase, condition, body, argument, copies, prepare
    {"ThreadListenForConnections", Phase::kBeforeReport, nullptr, http::ThreadListenForConnections,
     0, nullptr, nullptr},
    {"ThreadLsitenForSSLConnections", Phase::kBeforeReport, serverCertificateExists,
     http::ThreadListenForSSLConnections, 0, nullptr, nullptr},
    {"ThreadListenForSMPPConnections", Phase::kBeforeReport, smppLibraryPresent,
     smpp_server::ThreadListenForSMPPConnections, 0, nullptr, nullptr},
    {"ThreadListenForSSLSMPPConnections", Phase::kBeforeReport, smppLibraryAndTls,
     smpp_server::ThreadListenForSSLSMPPConnections, 0, nullptr, nullptr},
    {"ThreadProcessQCache", Phase::kBeforeReport,
     [](const StartupContext&) { return foundation::settings()->UseQCache; },
     queue::ThreadProcessQCache, 0, nullptr, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundMessagesAndJoining, nullptr, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundReceipts, nullptr, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundMessages, extraInboundPairs, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundReceipts, extraInboundPairs, nullptr},
    {nullptr, Phase::kBeforeReport, nullptr, nullptr, 0, nullptr, nullptr},
};

}  // namespace

std::span<const ThreadRow> threadTable() {
  // The sentinel row keeps the array non-empty while no component has a row.
  size_t n = sizeof kThreads / sizeof kThreads[0];
  if (n > 0 && kThreads[n - 1].name == nullptr) --n;
  return std::span<const ThreadRow>(kThreads, n);
}

}  // namespace vek::service
