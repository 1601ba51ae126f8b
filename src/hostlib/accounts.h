// Accounts: the gateway's user store, one SQLite database "USERS.DB" in the
// private data directory (mode 0600). An account record holds everything the
// submission interfaces, the SMPP server, quotas and the administration
// pages read.
//
// Field updates are transactions on the named columns, never a
// read-modify-write of the whole record, so two administrators changing
// different fields of one account do not undo each other. Names compare
// without regard to case.
//
// An AccountStore is thread-safe (one connection behind a mutex; SQLite
// serialises writers across processes).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

struct sqlite3;

namespace vek::hostlib {

// Web menu option codes of an account.
enum WebMenu : int {
  kWebMenuAdvanced = 176,
  kWebMenuTextOnly = 177,
  kWebMenuSmsMms = 178,
  kWebMenuSmsWapMm = 179,
  kWebMenuSmsMmsWapMm = 180,
};

struct Account {
  std::string name;
  std::string password;
  std::string full_name;
  bool disabled = false;
  bool web_login = true;    // may submit over HTTP
  bool smpp_login = false;  // may bind to the SMPP server
  bool smtp_login = false;
  std::string addresses;   // IP addresses it may connect from (comma list; empty: any)
  std::string senders;     // sender addresses it may use (comma list; empty: any)
  std::string recipients;  // recipient addresses it may send to (comma list; empty: any)
  int web_menu = kWebMenuAdvanced;
  bool admin = false;
  bool inbox = false;
  bool receive = false;     // receives messages routed to it (RECV.FLG)
  std::string throughput;   // "N[/S[/C]]": N messages per S seconds, C connections
  int32_t daily_limit = 0;  // 0: the gateway default
  int32_t monthly_limit = 0;
  bool credit = false;  // credit balance enforced
};

// The names an operator may give an account: not empty, not "." or "..",
// no '/', '\', ':' or control characters, at most 64 bytes.
bool isValidAccountName(std::string_view name);

class AccountStore {
 public:
  // Opens (creating when missing) the database at `path`.
  static platform::Result<std::unique_ptr<AccountStore>> open(const std::string& path);
  ~AccountStore();
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  size_t count();
  // Record `index` in name order (0-based); nullopt past the end.
  std::optional<Account> at(size_t index);
  std::vector<Account> all();
  std::optional<Account> find(std::string_view name);
  // Adds a new account; EEXIST when the name is taken (ignoring case),
  // EINVAL for a name isValidAccountName refuses.
  platform::Status add(const Account& account);
  // Replaces every field of an existing account (ENOENT when absent).
  platform::Status replace(const Account& account);
  // Sets the named fields only (column names as in Account), in one transaction.
  struct FieldValue {
    std::string field;
    std::string value;  // booleans "1"/"0", numbers in decimal
  };
  platform::Status update(std::string_view name, const std::vector<FieldValue>& fields);
  platform::Status remove(std::string_view name);

 private:
  explicit AccountStore(sqlite3* db) : db_(db) {}
  std::mutex mu_;
  sqlite3* db_;
};

// The process's store in the private data directory (opened at first use).
AccountStore* accountStore();
// Tests and tools: use the store at `path` from now on.
platform::Status openAccountStore(const std::string& path);

}  // namespace vek::hostlib
