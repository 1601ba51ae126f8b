#include "service/thread_table.h"

#include "foundation/config_rules.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "http/server/listeners.h"
#include "inbound/inbound_worker.h"
#include "queue/bulk_queue.h"
#include "queue/delay_queue.h"
#include "inbound/receipt_worker.h"
#include "inbound/two_way_mms.h"
#include "queue/queue_cache.h"
#include "reporting/counters.h"
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

// Messages the bulk and delay queues put into the outbound queue.
void countQueued(uint32_t files) {
  reporting::addToCounter(reporting::Counter::kOutboundQueue, files);
}

// `EnableReceiptProcessing` (default Yes) starts the receipt thread.
bool receiptProcessing(const StartupContext&) {
  return foundation::yesNo(
      hostlib::SMSIniGetProfileString("SMSGW", "EnableReceiptProcessing", "Yes"));
}
// A second receipt thread beside further inbound thread pairs.
bool secondReceiptThread(const StartupContext& c) {
  return inbound::inboundThreadPairs() > 1 && receiptProcessing(c);
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
    {"ThreadProcessInboundReceipts", Phase::kAfterReport, receiptProcessing,
     inbound::ThreadProcessInboundReceipts, 1, nullptr, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundMessages, extraInboundPairs, nullptr},
    {"ThreadProcessInboundSMS", Phase::kAfterReport, nullptr, inbound::ThreadProcessInboundSMS,
     inbound::kInboundReceipts, extraInboundPairs, nullptr},
    {"ThreadProcessBulkQ", Phase::kAfterReport, nullptr,
     [](int) { queue::ThreadProcessBulkQ(countQueued); }, 1,
     [](const StartupContext&) { return 3; }, nullptr},
    {"ThreadProcessDelayQ", Phase::kAfterReport, nullptr,
     [](int) { queue::ThreadProcessDelayQ(countQueued); }, 1, nullptr, nullptr},
    {"ThreadProcessInboundReceipts", Phase::kAfterReport, secondReceiptThread,
     inbound::ThreadProcessInboundReceipts, 0, nullptr, nullptr},
    {"ThreadProcess2WayMMS", Phase::kAfterReport, nullptr, inbound::ThreadProcess2WayMMS, 0,
     nullptr, nullptr},
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
