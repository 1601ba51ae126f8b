// RouteInboundToLocalUser: hands a loaded inbound message to a local
// account, or writes it back into the inbound directory.
//
// For an account (an existing one: local_accounts.h) the message becomes an
// "[SMS]" file with extension "req" in the account's queue directory (a
// batch sub-directory of it with EnableBulkSmsIn), where the account
// collects it; the account's "SMSReceive" log entry follows and, with
// AccountingExtended, the accounting report "SMSOut". For "~SMSIN" the
// message becomes an "[SMS-IN]" ".in" file in the inbound directory (for
// "~SMSIN::<ext>" that extension), and its threads are woken.
//
// The copy is written whole or not at all (formatRoutedCopy in
// inbound_file.h). Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"
#include "queue/request_file.h"

namespace vek::inbound {

// Writes `msg` for `user`; `source` is the inbound file it came from (for
// the debug log). Returns the new file's path; an error when `user` names
// no account (EINVAL) or the file could not be created.
platform::Result<std::string> RouteInboundToLocalUser(const queue::SMSMessage& msg,
                                                      std::string_view user,
                                                      std::string_view source);

// The bookkeeping of a message an account received (written as
// `message_id`): its "SMSReceive" log entry and, with AccountingExtended,
// the accounting report "SMSOut".
void recordLocalDelivery(const queue::SMSMessage& msg, const std::string& account,
                         const std::string& message_id);

}  // namespace vek::inbound
