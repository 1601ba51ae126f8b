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
// A refusal that named a user raises a process-wide failure counter and
// holds the connection thread for that many seconds (at most 100; a
// shutdown ends the wait); the next acceptance resets it. Concurrent
// failures may race on the counter; its exact value does not matter.
//
// Thread-safe.
#pragma once

#include <chrono>
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
};

AuthResult authenticateWebRequest(const Connection& conn, const Request& request, bool web_auth);

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

// Tests: the failure counter back to 0 and an empty account cache.
void resetWebAuthForTesting();
unsigned authenticationFailureCount();

}  // namespace vek::http
