// The message-id store: links record the message centre's id of every
// submitted message so that a delivery receipt arriving later can be matched
// to the gateway's own message id, account, sender and recipient.
//
// One SQLite file per day, "%04u%02u%02u.DB" (local date of the insert), in
// the message-id tracking directory (`MessageIDTrackingDir`, else
// "SMPPData" under the program data directory), WAL journaling. A lookup
// searches today's file first, then earlier days back to the retention age
// (`SMPPDataRetainDays`, default 15). Link names compare without regard to
// case; message-centre ids exactly (hex and decimal forms are different
// texts and stay so).
//
// Thread-safe. Connections stay open until closeAll() or until their day
// falls out of the retention window.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vek::hostlib {

struct MessageIdRecord {
  std::string local_id;  // the gateway's message id (request file name without extension)
  std::string account;   // submitting account
  std::string sender;
  std::string recipient;
  int flag = 0;
};

// Stores a record for (link, smsc_id). A second add for the same pair
// replaces the first (the centre reused the id). True when stored.
bool SMSCMessageIdAdd(std::string_view link, std::string_view smsc_id, std::string_view local_id,
                      std::string_view account, std::string_view sender,
                      std::string_view recipient);
// Several records in one transaction (one disk sync for all), for links
// that store the ids of many answered submissions at once. `durable`: the
// transaction reaches the disk before this returns (`SyncQueueWrites`);
// otherwise it survives a crash of the process (like the queue files) but
// a power loss may take the last ones. Entries without a centre id are
// skipped. True when every entry was stored; false stores none.
struct MessageIdEntry {
  std::string link;
  std::string smsc_id;
  std::string local_id;
  std::string account;
  std::string sender;
  std::string recipient;
};
bool SMSCMessageIdAddBatch(const std::vector<MessageIdEntry>& entries, bool durable);
// Finds the record of (link, smsc_id) in today's or an earlier day's file.
std::optional<MessageIdRecord> SMSCMessageIdGet(std::string_view link, std::string_view smsc_id);
std::optional<MessageIdRecord> SMSCMessageIdGet2(std::string_view link, std::string_view smsc_id);

// The directory the per-day files live in: `MessageIDTrackingDir` by the
// rule of every directory setting (configuredDirectory), else "SMPPData" in
// the program data directory; ends in '/', created when missing. The store
// and the start-up integrity check both use it.
std::string messageIdDirectory();
// Closes every open day file (shutdown, crash, repair).
void closeAllMessageIdStores();
// True when the store holds `path` open (repair must not rename it then).
bool messageIdStoreHasOpen(const std::string& path);
// Runs an integrity check on a database file: true when it is sound.
bool testDatabaseOK(const std::string& path);

}  // namespace vek::hostlib
