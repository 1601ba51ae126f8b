#include "hostlib/message_ids.h"

#include <sqlite3.h>

#include <map>
#include <mutex>

#include "hostlib/host.h"
#include "hostlib/sqlite_util.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::hostlib {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS message_ids ("
    " link TEXT NOT NULL COLLATE NOCASE,"
    " smsc_id TEXT NOT NULL,"
    " local_id TEXT NOT NULL DEFAULT '',"
    " account TEXT NOT NULL DEFAULT '',"
    " sender TEXT NOT NULL DEFAULT '',"
    " recipient TEXT NOT NULL DEFAULT '',"
    " flag INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (link, smsc_id))";

struct DayDb {
  sqlite3* db = nullptr;
  int synchronous = -1;  // the last mode a batch set (-1: SQLite's default, FULL)
  ~DayDb() { sqlite3_close(db); }
};

std::mutex g_mu;
std::map<std::string, std::unique_ptr<DayDb>> g_open;  // path -> connection

int retainDays() {
  int days = static_cast<int>(
      platform::parseLeadingInt(SMSIniGetProfileString("SMSGW", "SMPPDataRetainDays")));
  return days <= 0 ? 15 : days;
}

std::string dayPath(const platform::CalendarTime& day) {
  return messageIdDirectory() + platform::dateStamp(day) + ".DB";
}

// Opens (and when `create`, creates) the file of one day. Caller holds g_mu.
sqlite3* dayDb(const std::string& path, bool create) {
  auto it = g_open.find(path);
  if (it != g_open.end()) return it->second->db;
  if (!create && !platform::isRegularFile(path)) return nullptr;
  auto d = std::make_unique<DayDb>();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &d->db, flags, nullptr) != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(d->db, 5000);
  if (!exec(d->db, "PRAGMA journal_mode=WAL").ok() || !exec(d->db, kSchema).ok()) return nullptr;
  sqlite3* db = d->db;
  g_open.emplace(path, std::move(d));
  // Days beyond the retention window are not kept open.
  while (g_open.size() > static_cast<size_t>(retainDays()) + 2) g_open.erase(g_open.begin());
  return db;
}

std::optional<MessageIdRecord> lookup(std::string_view link, std::string_view smsc_id) {
  std::scoped_lock lk(g_mu);
  auto now = platform::clock().now();
  int days = retainDays();
  for (int back = 0; back <= days; ++back) {
    auto day = platform::toLocal(now - std::chrono::hours(24) * back);
    sqlite3* db = dayDb(dayPath(day), false);
    if (!db) continue;
    Statement st(db,
                 "SELECT local_id, account, sender, recipient, flag FROM message_ids"
                 " WHERE link = ? AND smsc_id = ?");
    if (!st) continue;
    bindText(st.get(), 1, link);
    bindText(st.get(), 2, smsc_id);
    if (sqlite3_step(st.get()) == SQLITE_ROW) {
      MessageIdRecord r;
      r.local_id = columnText(st.get(), 0);
      r.account = columnText(st.get(), 1);
      r.sender = columnText(st.get(), 2);
      r.recipient = columnText(st.get(), 3);
      r.flag = sqlite3_column_int(st.get(), 4);
      return r;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string messageIdDirectory() {
  std::string dir =
      configuredDirectory(SMSIniGetProfileString("SMSGW", "MessageIDTrackingDir", "", 260),
                          GetProgramDataDirectory(), "SMPPData");
  (void)platform::makeDirectories(dir);
  return dir;
}

bool SMSCMessageIdAdd(std::string_view link, std::string_view smsc_id, std::string_view local_id,
                      std::string_view account, std::string_view sender,
                      std::string_view recipient) {
  if (smsc_id.empty()) return false;
  std::scoped_lock lk(g_mu);
  sqlite3* db = dayDb(dayPath(platform::localNow()), true);
  if (!db) return false;
  Statement st(
      db,
      "INSERT OR REPLACE INTO message_ids (link, smsc_id, local_id, account, sender, recipient)"
      " VALUES (?,?,?,?,?,?)");
  if (!st) return false;
  bindText(st.get(), 1, link);
  bindText(st.get(), 2, smsc_id);
  bindText(st.get(), 3, local_id);
  bindText(st.get(), 4, account);
  bindText(st.get(), 5, sender);
  bindText(st.get(), 6, recipient);
  return sqlite3_step(st.get()) == SQLITE_DONE;
}

bool SMSCMessageIdAddBatch(const std::vector<MessageIdEntry>& entries, bool durable) {
  std::scoped_lock lk(g_mu);
  std::string path = dayPath(platform::localNow());
  sqlite3* db = dayDb(path, true);
  if (!db) return false;
  DayDb& day = *g_open.at(path);
  const int mode = durable ? 2 : 1;  // FULL syncs each commit; NORMAL only at checkpoints
  if (day.synchronous != mode) {
    if (!exec(db, durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL").ok())
      return false;
    day.synchronous = mode;
  }
  if (!exec(db, "BEGIN IMMEDIATE").ok()) return false;
  bool ok = true;
  {
    Statement st(
        db,
        "INSERT OR REPLACE INTO message_ids (link, smsc_id, local_id, account, sender, recipient)"
        " VALUES (?,?,?,?,?,?)");
    ok = static_cast<bool>(st);
    for (size_t i = 0; ok && i < entries.size(); ++i) {
      const MessageIdEntry& e = entries[i];
      if (e.smsc_id.empty()) continue;
      bindText(st.get(), 1, e.link);
      bindText(st.get(), 2, e.smsc_id);
      bindText(st.get(), 3, e.local_id);
      bindText(st.get(), 4, e.account);
      bindText(st.get(), 5, e.sender);
      bindText(st.get(), 6, e.recipient);
      ok = sqlite3_step(st.get()) == SQLITE_DONE;
      sqlite3_reset(st.get());
    }
  }
  if (ok && exec(db, "COMMIT").ok()) return true;
  (void)exec(db, "ROLLBACK");
  return false;
}

std::optional<MessageIdRecord> SMSCMessageIdGet(std::string_view link, std::string_view smsc_id) {
  return lookup(link, smsc_id);
}

std::optional<MessageIdRecord> SMSCMessageIdGet2(std::string_view link, std::string_view smsc_id) {
  return lookup(link, smsc_id);
}

void closeAllMessageIdStores() {
  std::scoped_lock lk(g_mu);
  g_open.clear();
}

bool messageIdStoreHasOpen(const std::string& path) {
  std::scoped_lock lk(g_mu);
  return g_open.count(path) != 0;
}

bool testDatabaseOK(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  bool ok = false;
  {
    Statement st(db, "PRAGMA quick_check");
    ok = st && sqlite3_step(st.get()) == SQLITE_ROW && columnText(st.get(), 0) == "ok";
  }
  sqlite3_close(db);
  return ok;
}

}  // namespace vek::hostlib
