#include "hostlib/accounts.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "hostlib/host.h"
#include "hostlib/sqlite_util.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "platform/unique_fd.h"

namespace vek::hostlib {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
    " password TEXT NOT NULL DEFAULT '',"
    " full_name TEXT NOT NULL DEFAULT '',"
    " disabled INTEGER NOT NULL DEFAULT 0,"
    " web_login INTEGER NOT NULL DEFAULT 1,"
    " smpp_login INTEGER NOT NULL DEFAULT 0,"
    " smtp_login INTEGER NOT NULL DEFAULT 0,"
    " addresses TEXT NOT NULL DEFAULT '',"
    " senders TEXT NOT NULL DEFAULT '',"
    " recipients TEXT NOT NULL DEFAULT '',"
    " web_menu INTEGER NOT NULL DEFAULT 176,"
    " admin INTEGER NOT NULL DEFAULT 0,"
    " inbox INTEGER NOT NULL DEFAULT 0,"
    " receive INTEGER NOT NULL DEFAULT 0,"
    " throughput TEXT NOT NULL DEFAULT '',"
    " daily_limit INTEGER NOT NULL DEFAULT 0,"
    " monthly_limit INTEGER NOT NULL DEFAULT 0,"
    " credit INTEGER NOT NULL DEFAULT 0)";

constexpr const char* kColumns =
    "name, password, full_name, disabled, web_login, smpp_login, smtp_login, addresses, senders,"
    " recipients, web_menu, admin, inbox, receive, throughput, daily_limit, monthly_limit, credit";

const char* const kFieldNames[] = {
    "password",  "full_name",  "disabled",    "web_login",     "smpp_login", "smtp_login",
    "addresses", "senders",    "recipients",  "web_menu",      "admin",      "inbox",
    "receive",   "throughput", "daily_limit", "monthly_limit", "credit"};

Account readRow(sqlite3_stmt* st) {
  Account a;
  a.name = columnText(st, 0);
  a.password = columnText(st, 1);
  a.full_name = columnText(st, 2);
  a.disabled = sqlite3_column_int(st, 3) != 0;
  a.web_login = sqlite3_column_int(st, 4) != 0;
  a.smpp_login = sqlite3_column_int(st, 5) != 0;
  a.smtp_login = sqlite3_column_int(st, 6) != 0;
  a.addresses = columnText(st, 7);
  a.senders = columnText(st, 8);
  a.recipients = columnText(st, 9);
  a.web_menu = sqlite3_column_int(st, 10);
  a.admin = sqlite3_column_int(st, 11) != 0;
  a.inbox = sqlite3_column_int(st, 12) != 0;
  a.receive = sqlite3_column_int(st, 13) != 0;
  a.throughput = columnText(st, 14);
  a.daily_limit = sqlite3_column_int(st, 15);
  a.monthly_limit = sqlite3_column_int(st, 16);
  a.credit = sqlite3_column_int(st, 17) != 0;
  return a;
}

void bindAccount(sqlite3_stmt* st, const Account& a) {
  bindText(st, 1, a.name);
  bindText(st, 2, a.password);
  bindText(st, 3, a.full_name);
  sqlite3_bind_int(st, 4, a.disabled);
  sqlite3_bind_int(st, 5, a.web_login);
  sqlite3_bind_int(st, 6, a.smpp_login);
  sqlite3_bind_int(st, 7, a.smtp_login);
  bindText(st, 8, a.addresses);
  bindText(st, 9, a.senders);
  bindText(st, 10, a.recipients);
  sqlite3_bind_int(st, 11, a.web_menu);
  sqlite3_bind_int(st, 12, a.admin);
  sqlite3_bind_int(st, 13, a.inbox);
  sqlite3_bind_int(st, 14, a.receive);
  bindText(st, 15, a.throughput);
  sqlite3_bind_int(st, 16, a.daily_limit);
  sqlite3_bind_int(st, 17, a.monthly_limit);
  sqlite3_bind_int(st, 18, a.credit);
}

std::mutex g_store_mu;
std::unique_ptr<AccountStore> g_store;

}  // namespace

bool isValidAccountName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

platform::Result<std::unique_ptr<AccountStore>> AccountStore::open(const std::string& path) {
  // The store holds passwords: the file exists 0600 before SQLite opens it,
  // and SQLite gives its journal files the database file's mode. (Not by
  // changing the umask: that is process-wide and other threads create files.)
  {
    platform::UniqueFd created(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!created) return platform::Status::fromErrno("create", path);
    if (::fchmod(created.get(), 0600) != 0) return platform::Status::fromErrno("chmod", path);
  }
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return platform::Status::error("open " + path + ": " + why, EIO);
  }
  sqlite3_busy_timeout(db, 5000);
  if (auto st = exec(db, "PRAGMA journal_mode=WAL"); !st.ok()) {
    sqlite3_close(db);
    return st;
  }
  if (auto st = exec(db, kSchema); !st.ok()) {
    sqlite3_close(db);
    return st;
  }
  return std::unique_ptr<AccountStore>(new AccountStore(db));
}

AccountStore::~AccountStore() {
  sqlite3_close(db_);
}

size_t AccountStore::count() {
  std::scoped_lock lk(mu_);
  Statement st(db_, "SELECT COUNT(*) FROM accounts");
  if (!st || sqlite3_step(st.get()) != SQLITE_ROW) return 0;
  return static_cast<size_t>(sqlite3_column_int64(st.get(), 0));
}

std::optional<Account> AccountStore::at(size_t index) {
  std::scoped_lock lk(mu_);
  Statement st(db_, std::string("SELECT ") + kColumns +
                        " FROM accounts ORDER BY name COLLATE NOCASE LIMIT 1 OFFSET ?");
  if (!st) return std::nullopt;
  sqlite3_bind_int64(st.get(), 1, static_cast<sqlite3_int64>(index));
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  return readRow(st.get());
}

std::vector<Account> AccountStore::all() {
  std::scoped_lock lk(mu_);
  std::vector<Account> out;
  Statement st(db_,
               std::string("SELECT ") + kColumns + " FROM accounts ORDER BY name COLLATE NOCASE");
  if (!st) return out;
  while (sqlite3_step(st.get()) == SQLITE_ROW) out.push_back(readRow(st.get()));
  return out;
}

std::optional<Account> AccountStore::find(std::string_view name) {
  std::scoped_lock lk(mu_);
  Statement st(db_, std::string("SELECT ") + kColumns + " FROM accounts WHERE name = ?");
  if (!st) return std::nullopt;
  bindText(st.get(), 1, name);
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  return readRow(st.get());
}

platform::Status AccountStore::add(const Account& account) {
  if (!isValidAccountName(account.name))
    return platform::Status::error(
        "invalid account name \"" + platform::singleLine(account.name) + "\"", EINVAL);
  std::scoped_lock lk(mu_);
  Statement st(db_, std::string("INSERT INTO accounts (") + kColumns +
                        ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  if (!st) return lastError(db_, "prepare insert");
  bindAccount(st.get(), account);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_CONSTRAINT)
    return platform::Status::error("account " + account.name + " already exists", EEXIST);
  if (rc != SQLITE_DONE) return lastError(db_, "insert account");
  return platform::Status();
}

platform::Status AccountStore::replace(const Account& account) {
  std::scoped_lock lk(mu_);
  Statement st(
      db_,
      "UPDATE accounts SET name=?1, password=?2, full_name=?3, disabled=?4, web_login=?5,"
      " smpp_login=?6, smtp_login=?7, addresses=?8, senders=?9, recipients=?10, web_menu=?11,"
      " admin=?12, inbox=?13, receive=?14, throughput=?15, daily_limit=?16,"
      " monthly_limit=?17, credit=?18 WHERE name=?1");
  if (!st) return lastError(db_, "prepare update");
  bindAccount(st.get(), account);
  if (sqlite3_step(st.get()) != SQLITE_DONE) return lastError(db_, "update account");
  if (sqlite3_changes(db_) == 0)
    return platform::Status::error("account " + account.name + " not found", ENOENT);
  return platform::Status();
}

platform::Status AccountStore::update(std::string_view name,
                                      const std::vector<FieldValue>& fields) {
  for (const auto& f : fields) {
    bool known = false;
    for (const char* n : kFieldNames) known = known || f.field == n;
    if (!known) return platform::Status::error("unknown account field " + f.field, EINVAL);
  }
  std::scoped_lock lk(mu_);
  if (auto st = exec(db_, "BEGIN IMMEDIATE"); !st.ok()) return st;
  for (const auto& f : fields) {
    // The column name comes from the fixed list above, never from input.
    Statement st(db_, "UPDATE accounts SET " + f.field + " = ? WHERE name = ?");
    if (!st) {
      (void)exec(db_, "ROLLBACK");
      return lastError(db_, "prepare field update");
    }
    bindText(st.get(), 1, f.value);
    bindText(st.get(), 2, name);
    if (sqlite3_step(st.get()) != SQLITE_DONE) {
      auto err = lastError(db_, "update field " + f.field);
      (void)exec(db_, "ROLLBACK");
      return err;
    }
    if (sqlite3_changes(db_) == 0) {
      (void)exec(db_, "ROLLBACK");
      return platform::Status::error("account " + std::string(name) + " not found", ENOENT);
    }
  }
  return exec(db_, "COMMIT");
}

platform::Status AccountStore::remove(std::string_view name) {
  std::scoped_lock lk(mu_);
  Statement st(db_, "DELETE FROM accounts WHERE name = ?");
  if (!st) return lastError(db_, "prepare delete");
  bindText(st.get(), 1, name);
  if (sqlite3_step(st.get()) != SQLITE_DONE) return lastError(db_, "delete account");
  if (sqlite3_changes(db_) == 0)
    return platform::Status::error("account " + std::string(name) + " not found", ENOENT);
  return platform::Status();
}

AccountStore* accountStore() {
  std::scoped_lock lk(g_store_mu);
  if (!g_store) {
    auto opened = AccountStore::open(GetPrivateDataDirectory() + "USERS.DB");
    if (!opened.ok()) return nullptr;
    g_store = std::move(opened.value());
  }
  return g_store.get();
}

platform::Status openAccountStore(const std::string& path) {
  auto opened = AccountStore::open(path);
  if (!opened.ok()) return opened.status();
  std::scoped_lock lk(g_store_mu);
  g_store = std::move(opened.value());
  return platform::Status();
}

}  // namespace vek::hostlib
