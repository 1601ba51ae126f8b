// The receipt thread (ThreadProcessInboundReceipts): works the ".rct" files
// of the inbound directory, receipts that still name the message by the
// message centre's id, and hands each one, in the gateway's own terms, to
// the account that submitted the message or to the two-way commands.
//
// For each file (claimed, loaded; one without sender and destination is
// deleted):
//
//  1. A file that failed to resolve before waits until as many minutes as
//     its retry count have passed since its last try (1, 2, 3, 4 minutes).
//  2. Its "ReceiptMessageId=" is looked up in the message-id store under
//     the receiving link's name ("ModemName="; for an HTTP link also under
//     the shared name "HTTP" that older records carry). Found: the id
//     becomes the gateway's message id (also after "id:" at the start of
//     the text), the destination the stored recipient and the sender the
//     stored sender (when stored), and the stored account the message's
//     account. Not found: "Receipt message id = %s not in database for %s";
//     the retry count is raised and the file waits; after four retries it
//     is worked unresolved, so it still reaches its account or the
//     commands. (A receipt that came before its submission was recorded is
//     thus matched on a later try.)
//  3. With `AccountingExtended` it is reported as "SMSIN". InboundRouting
//     names the account (an existing one with "RECV.FLG", else the routing
//     table's choice): the receipt goes into its queue (and, with
//     `DuplicateUserMessagesFor2Way`, a two-way copy into the inbound
//     directory). Otherwise 8-bit 7-bit/UCS-2 data becomes text and the
//     two-way commands run with "@@RECEIPTMESSAGEID@@" set.
//  4. Finishing: handled, the ".rct" is deleted. No command: the receipt
//     (as resolved) is set aside as ".SMS"; a web command's error status:
//     as ".BAD". The account's queue could not be written or a command
//     could not be run: the receipt goes back into the inbound directory as
//     an ordinary inbound file (".rec" once resolved, else ".in", its
//     account kept), where the inbound threads retry it by the "2Way"
//     schedule. Nothing is deleted before its successor is on disk; a
//     receipt that cannot be handed on stays ".rct" for the next pass.
//
// After each pass the thread waits up to a second for new ".rct" files
// (inbound_queue.h receiptEvent) and drops its web connection when it went
// bad. A ReceiptWorker is owned by one thread; two workers share the
// directory safely through the claims.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hostlib/message_ids.h"
#include "inbound/two_way.h"
#include "queue/request_file.h"

namespace vek::inbound {

// The link name HTTP links have recorded their ids under.
inline constexpr std::string_view kSharedHttpLinkName = "HTTP";
// Lookups that fail before a receipt is worked unresolved.
inline constexpr uint32_t kReceiptLookupRetries = 4;

struct ReceiptPass {
  unsigned completed = 0;    // delivered, or answered by a command
  unsigned retried = 0;      // not found yet: waiting
  unsigned set_aside = 0;    // ".SMS" or ".BAD"
  unsigned handed_back = 0;  // back to the inbound threads to retry
  unsigned skipped = 0;      // held elsewhere, not yet due, or could not be handed on
  unsigned finished() const { return completed + set_aside + handed_back; }
};

class ReceiptWorker {
 public:
  explicit ReceiptWorker(TwoWayOptions two_way = {}) : two_way_(two_way) {}
  ReceiptWorker(const ReceiptWorker&) = delete;
  ReceiptWorker& operator=(const ReceiptWorker&) = delete;

  ReceiptPass runPass();
  void closeIdleConnection() { two_way_.closeIfBad(); }

 private:
  void workFile(const std::string& directory, const std::string& relative, ReceiptPass* pass);

  TwoWayRunner two_way_;
};

// The store's record for a receipt id received on `link`.
std::optional<hostlib::MessageIdRecord> findReceiptOriginal(std::string_view link,
                                                            std::string_view receipt_id);
// Puts the stored record's values into the receipt (step 2 above).
void translateReceipt(queue::SMSMessage* msg, const hostlib::MessageIdRecord& original);
// `text` with the value after a leading "id:" (up to the first character
// at or below the blank) replaced by `id`; other texts unchanged.
std::string replaceReceiptTextId(std::string_view text, std::string_view id);

// The thread body (the argument is not used: every receipt thread works
// alike).
void ThreadProcessInboundReceipts(int);

}  // namespace vek::inbound
