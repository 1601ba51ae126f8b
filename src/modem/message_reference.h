// Message references of modem submissions and the keys that let a status
// report find the message it reports on.
//
// The reference sent in each SMS-SUBMIT is a one-byte counter shared by
// every modem of the gateway: raised before each submission, never 0
// (after 255 comes 1), or always 0 with `TestZeroMR`.
//
// The modem answers a submission with its own reference ("+CMGS: <mr>",
// 1-255); when a receipt was asked for, the message is recorded in the
// message-id store under the key "%02X-%s": that reference and the last 8
// digits of the recipient (all of them when shorter). The digits are taken
// without a leading "+", because a status report may give the same number
// with or without it. The gateway id stored is the queue file's name up to
// its first full stop.
//
// Thread-safe (the counter is atomic; the store locks for itself).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hostlib/message_ids.h"

namespace vek::modem {

uint8_t nextMessageReference(bool test_zero_mr);

// The reference in a "+CMGS:" answer (blanks skipped, decimal digits),
// or -1 when there is none in 1-255.
int cmgsReference(std::string_view answer);

// "%02X-" plus the last 8 digits of `recipient`.
std::string modemMessageKey(unsigned reference, std::string_view recipient);

// Records a submission (RecordModemMessageId). False when the answer has
// no reference in 1-255 or the store refused.
bool recordModemMessageId(std::string_view link_name, std::string_view answer,
                          std::string_view queue_file_name, std::string_view account,
                          std::string_view sender, std::string_view recipient);

// Finds the submission a status report names (FindModemMessageId).
std::optional<hostlib::MessageIdRecord> findModemMessageId(std::string_view link_name,
                                                           unsigned reference,
                                                           std::string_view recipient);

}  // namespace vek::modem
