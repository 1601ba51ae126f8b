// Message-id store keys of modem submissions: how a status report from a
// GSM modem finds the message it reports on. Here, below the modem driver,
// because the receipt thread resolves the same keys when a report arrived
// before its submission was recorded.
//
// A modem answers a submission with its own reference ("+CMGS: <mr>",
// 1-255). When a receipt was asked for, the message is recorded under the
// key "%02X-%s": that reference and the last 8 digits of the recipient (all
// of them when shorter), taken without a leading "+" because a status
// report may give the same number with or without it. The gateway id
// stored is the queue file's name up to its first full stop.
//
// A status report is looked up with the message centre's id text, a hyphen
// and the same 8 digits first (when the report carries such an id), then
// with the reference key.
//
// Thread-safe (the store locks for itself).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hostlib/message_ids.h"

namespace vek::inbound {

// The reference in a "+CMGS:" answer (blanks skipped, decimal digits), or
// -1 when there is none in 1-255.
int cmgsReference(std::string_view answer);

// "%02X-" plus the last 8 digits of `recipient`.
std::string modemMessageKey(unsigned reference, std::string_view recipient);

// RecordModemMessageId: records a submission. False when the answer has no
// reference in 1-255 or the store refused.
bool RecordModemMessageId(std::string_view link_name, std::string_view answer,
                          std::string_view queue_file_name, std::string_view account,
                          std::string_view sender, std::string_view recipient);

// FindModemMessageId: the submission a status report names. `centre_id`
// may be empty.
std::optional<hostlib::MessageIdRecord> FindModemMessageId(std::string_view link_name,
                                                           std::string_view centre_id,
                                                           unsigned reference,
                                                           std::string_view recipient);

}  // namespace vek::inbound
