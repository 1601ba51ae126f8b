// Message references of modem submissions.
//
// The reference sent in each SMS-SUBMIT is a one-byte counter shared by
// every modem of the gateway: raised before each submission, never 0
// (after 255 comes 1), or always 0 with `TestZeroMR`.
//
// The store keys that let a status report find the message it reports on
// (cmgsReference, modemMessageKey, RecordModemMessageId,
// FindModemMessageId) live in inbound/modem_receipt_keys.h: the receipt
// thread resolves them too.
//
// Thread-safe (the counter is atomic; the store locks for itself).
#pragma once

#include <cstdint>

#include "inbound/modem_receipt_keys.h"

namespace vek::modem {

uint8_t nextMessageReference(bool test_zero_mr);

using inbound::cmgsReference;
using inbound::modemMessageKey;

}  // namespace vek::modem
