#include "hostlib/mms_notifications.h"

#include <sqlite3.h>

#include <mutex>

#include "hostlib/host.h"
#include "hostlib/sqlite_util.h"
#include "platform/clock.h"

namespace vek::hostlib {
namespace {

std::mutex g_mu;
sqlite3* g_db = nullptr;

sqlite3* db() {
  if (g_db) return g_db;
  std::string path = GetPrivateDataDirectory() + "MMSNOTIFY.DB";
  if (sqlite3_open_v2(path.c_str(), &g_db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(g_db);
    g_db = nullptr;
    return nullptr;
  }
  sqlite3_busy_timeout(g_db, 5000);
  (void)exec(g_db, "PRAGMA journal_mode=WAL");
  (void)exec(g_db,
             "CREATE TABLE IF NOT EXISTS notifications (link TEXT NOT NULL COLLATE NOCASE,"
             " location TEXT NOT NULL, added INTEGER NOT NULL, PRIMARY KEY (link, location))");
  return g_db;
}

}  // namespace

bool MMSNotificationExist(std::string_view link, std::string_view location) {
  std::scoped_lock lk(g_mu);
  sqlite3* d = db();
  if (!d) return false;
  Statement st(d, "SELECT 1 FROM notifications WHERE link = ? AND location = ?");
  if (!st) return false;
  bindText(st.get(), 1, link);
  bindText(st.get(), 2, location);
  return sqlite3_step(st.get()) == SQLITE_ROW;
}

bool MMSNotificationAdd(std::string_view link, std::string_view location) {
  MMSNotificationAddIfNew(link, location);
  return MMSNotificationExist(link, location);
}

bool MMSNotificationAddIfNew(std::string_view link, std::string_view location) {
  std::scoped_lock lk(g_mu);
  sqlite3* d = db();
  if (!d) return false;
  Statement st(d, "INSERT OR IGNORE INTO notifications (link, location, added) VALUES (?,?,?)");
  if (!st) return false;
  bindText(st.get(), 1, link);
  bindText(st.get(), 2, location);
  sqlite3_bind_int64(st.get(), 3, platform::unixNow());
  return sqlite3_step(st.get()) == SQLITE_DONE && sqlite3_changes(d) == 1;
}

void purgeMMSNotifications(int retain_days) {
  std::scoped_lock lk(g_mu);
  sqlite3* d = db();
  if (!d) return;
  Statement st(d, "DELETE FROM notifications WHERE added < ?");
  if (!st) return;
  sqlite3_bind_int64(st.get(), 1, platform::unixNow() - int64_t{retain_days} * 86400);
  sqlite3_step(st.get());
}

void closeMMSNotificationStore() {
  std::scoped_lock lk(g_mu);
  sqlite3_close(g_db);
  g_db = nullptr;
}

}  // namespace vek::hostlib
