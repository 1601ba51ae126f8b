// The gateway-wide statistics counters as their callers use them: day
// counters (submitted, sent, received, failed, retried, inbound MMS from
// modems) and the three queue-size gauges.
//
// PLACEHOLDER: the counter files under "STATS" and their periodic flush
// come with the reporting issue. Until then every call is accepted and
// nothing is counted. Callers are already wired at their final call points.
//
// Thread-safe (no state yet).
#pragma once

#include <cstdint>

namespace vek::reporting {

enum class Counter {
  kSubmitted,      // "SMSSUBMIT"
  kSent,           // "SMSSENT"
  kReceived,       // "SMSRECEIVED"
  kFailed,         // "SMSFAILED"
  kRetry,          // "SMSRETRY"
  kMmsInModem,     // "MMSIN-MODEM"
  kOutboundQueue,  // gauge "SMSQSIZE"
  kInboundQueue,   // gauge "SMSINQSIZE"
  kReceiptQueue,   // gauge "SMSRCPTQSIZE"
};

// Adds to today's count (a gauge's current value).
void addToCounter(Counter counter, uint32_t amount = 1);
// Subtracts, never below 0 (gauges, when a queued message leaves).
void subtractFromCounter(Counter counter, uint32_t amount = 1);

}  // namespace vek::reporting
