// Delivery: the messages queued for an account (its queue directory, which
// inbound routing and receipts fill) handed to a receiver or transceiver
// client as deliver_sm, synchronously (window 0: one at a time, each
// waiting for its answer) or with a window of deliveries outstanding.
//
// A pass walks "*.REQ" in the queue directory and its batch sub-directories
// in listing order. Each file is claimed (queue/queue_claim.h) and loaded;
// one that does not load is left alone for the next pass; one whose retry
// time has not come (queue/retry_policy.h, section `SMSGW`) waits; one
// retried more than `RetryMaxAttempts` times fails for good. The deliver_sm
// carries the file's sender, recipient, pid, dcs, header, data, flags (a
// receipt goes with esm_class 0x04 and its "ReceiptMessageId=") and the
// parameters "<SMPPOptions>; ServiceType=...; SMSCRouteInfo=...".
//
// The file stays claimed until the client's answer decides it (nothing is
// deleted before that):
//   0                               delivered: the file is deleted;
//   0x08, 0x64                      kept for a retry ("[ErrorDetail]" with
//                                   RetryCount + 1 and LastRetryTime);
//   0x14, 0x58, no answer (time-out, connection lost, an answer that does
//   not decode)                     kept for a retry, and the pass ends: the
//                                   client is busy or gone;
//   any other status, and a message the engine cannot build
//                                   failed for good: its ".ERR" copy is kept,
//                                   the debug log and the failed counter say
//                                   so, and the file is deleted.
//
// With a window, at most `window` deliveries are outstanding; while the
// window is full the pass yields to the engine (which also serves the
// client's submissions) and settles the answers that arrive. A pass ends at
// its deadline so the connection's checks keep their pace.
//
// A Deliverer belongs to the connection's thread; the engine completes the
// contexts on that thread while it yields, so the outstanding list needs no
// lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocols/smpp/server.h"
#include "queue/request_file.h"
#include "queue/retry_policy.h"

namespace vek::smpp_server {

enum class Verdict {
  kDelivered,   // delete
  kRetry,       // keep with a retry record
  kRetryLater,  // keep with a retry record and end the pass
  kFailed,      // ".ERR" copy, then delete
};
Verdict verdictFor(uint32_t result);

// The parameter string of a deliver_sm for a loaded file.
std::string deliveryParams(const queue::SMSMessage& msg);

struct DeliveryOptions {
  std::string queue_directory;  // the account's queue
  std::string account;          // for log lines
  int window = 0;               // 0: synchronous
  uint8_t version = 0x34;
};

struct DeliveryCounts {
  uint64_t delivered = 0, retried = 0, failed = 0;
};

class Deliverer {
 public:
  Deliverer(smpp::ServerConnection& conn, DeliveryOptions options);
  ~Deliverer();
  Deliverer(const Deliverer&) = delete;
  Deliverer& operator=(const Deliverer&) = delete;

  // One pass over the queue. True when it stopped at `deadline` with files
  // possibly left (the caller starts the next pass soon); false when it
  // went through, or ended because the client is busy or gone.
  bool pass(platform::SteadyTime deadline);
  // Settles the deliveries whose answers came in.
  void collect();
  size_t outstanding() const { return outstanding_.size(); }
  // At the end of the connection: yields up to `bound` for the answers
  // still owed, then keeps every file without one for a retry.
  void finish(std::chrono::milliseconds bound);
  const DeliveryCounts& counts() const { return counts_; }

 private:
  struct Pending;
  bool deliverOne(const std::string& relative);
  Verdict settle(Pending& p, uint32_t result);
  bool waitForRoom(platform::SteadyTime deadline);

  smpp::ServerConnection& conn_;
  DeliveryOptions options_;
  std::vector<std::shared_ptr<Pending>> outstanding_;
  bool busy_ = false;  // a retry-later answer came: end the pass
  queue::RetrySettings retry_;
  DeliveryCounts counts_;
};

}  // namespace vek::smpp_server
