// Who sent a web request: authentication of the submission interface.
//
// Credentials come from "Authorization: Basic", else (when both are empty)
// from the parameters `User` and `Password` (250 characters each). With
// `WebAuth` off every request is anonymous. With it on a request is
// accepted when
//  - it is the internal login "localsystem" with the access code written at
//    start-up (initLocalSystemAccess), from one of the host's own
//    addresses; or
//  - the account exists, is not disabled, the client's address matches the
//    account's address list (when it has one; dotted-quad patterns with
//    "*") and the password matches without regard to case.
// Accounts are read through a cache whose copies are used for 59 seconds.
//
// A refusal that named a user counts a failure for that account name (any
// address) and for the client's address (any account; IPv6 by its /64), and
// its answer is held back by the larger of the two counts in seconds (at
// most 100): the caller parks the connection on a timer (no thread waits).
// An acceptance resets only its own account's and address's counts, so an
// attacker who owns an account cannot clear the count of the one he
// guesses at. Counts are forgotten an hour after their last failure, and
// at most kMaxFailureEntries names and addresses are remembered (the least
// recently failed go first).
//
// Thread-safe.
#pragma once

#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "hostlib/accounts.h"
#include "http/server/connection.h"
#include "http/server/request.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace vek::http {

inline constexpr std::string_view kLocalSystemUser = "localsystem";
// The file in the private data directory that holds the access code of
// the internal login (mode 0600), for the local companion programs.
inline constexpr std::string_view kLocalSystemAccessFile = "LOCALSYS.KEY";
inline constexpr std::string_view kDefaultRealm = "Vek SMS/MMS Gateway";
inline constexpr unsigned kMaxFailureDelaySeconds = 100;
inline constexpr size_t kMaxFailureEntries = 100000;

// The user a request runs as.
struct WebUser {
  std::string name;                         // "" when anonymous
  std::optional<hostlib::Account> account;  // the record (none for anonymous and localsystem)
  bool local_system = false;

  bool anonymous() const { return name.empty(); }
  bool admin() const { return account && account->admin; }
};

struct AuthResult {
  bool accepted = false;
  WebUser user;
  // A refusal: how long its answer is held back (the failed-login delay).
  std::chrono::seconds delay{0};
};

AuthResult authenticateWebRequest(const Connection& conn, const Request& request, bool web_auth);

// The request names credentials in its head: an "Authorization: Basic"
// header, or `User`/`Password` in the request line.
bool headCarriesCredentials(const Request& head);

// Failed logins by account name and by client address (see the top).
class LoginFailures {
 public:
  explicit LoginFailures(size_t max_entries = kMaxFailureEntries,
                         std::chrono::minutes forget_after = std::chrono::minutes(60));
  // Counts one failure; the delay for its answer.
  std::chrono::seconds recordFailure(std::string_view account, std::string_view address);
  void recordSuccess(std::string_view account, std::string_view address);
  unsigned accountFailures(std::string_view account) const;
  unsigned addressFailures(std::string_view address) const;
  void clear();

 private:
  // Counters by key, the least recently failed first in `order`.
  struct Table {
    struct Entry {
      unsigned count = 0;
      platform::SteadyTime last;
      std::list<std::string>::iterator pos;
    };
    std::unordered_map<std::string, Entry> entries;
    std::list<std::string> order;
    unsigned bump(const std::string& key, platform::SteadyTime now, size_t max_entries,
                  std::chrono::minutes forget_after);
    void erase(const std::string& key);
    unsigned count(const std::string& key, platform::SteadyTime now,
                   std::chrono::minutes forget_after) const;
  };
  const size_t max_entries_;
  const std::chrono::minutes forget_after_;
  mutable std::mutex mu_;
  Table accounts_;
  Table addresses_;
};
LoginFailures& loginFailures();

// The realm of the 401 answer: `HostName` of section MMSC in "MMSC.INI",
// else kDefaultRealm; quotes, backslashes and control characters dropped.
std::string authenticationRealm();
// The complete "401 Authorization Required" answer.
std::string authorizationRequiredResponse(const Connection& conn, std::string_view realm);

// A sender the account may use: `requested` when the account has no sender
// list or the list holds it (ignoring case), else the first list entry.
std::string allowedSender(const hostlib::Account& account, std::string_view requested);

// Makes a new random access code for "localsystem" and writes it to
// kLocalSystemAccessFile in the private data directory (mode 0600).
// Until this has succeeded the internal login is refused.
platform::Status initLocalSystemAccess();
// The code in force ("" before initLocalSystemAccess).
std::string localSystemAccessCode();

// Account records by name (ignoring case), each copy read again after
// `max_age`. Unknown names are not remembered.
class AccountCache {
 public:
  explicit AccountCache(std::chrono::seconds max_age = std::chrono::seconds(59))
      : max_age_(max_age) {}
  std::optional<hostlib::Account> find(std::string_view name);
  void clear();

 private:
  struct Entry {
    hostlib::Account account;
    platform::SystemTime read;
  };
  const std::chrono::seconds max_age_;
  std::mutex mu_;
  std::unordered_map<std::string, Entry> entries_;
};
AccountCache& webAccountCache();

// Tests: no failures counted and an empty account cache.
void resetWebAuthForTesting();

}  // namespace vek::http
