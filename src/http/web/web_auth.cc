#include "http/web/web_auth.h"

#include <algorithm>

#include "foundation/debug_log.h"
#include "hostlib/host.h"
#include "http/server/address_rules.h"
#include "http/server/params.h"
#include "http/server/server_limits.h"
#include "platform/files.h"
#include "platform/random_bytes.h"
#include "platform/strings.h"
#include "protocols/http/message.h"

namespace vek::http {
namespace {

using foundation::DebugLog;
using foundation::DebugLogf;

constexpr const char* kTag = "ThreadProcessConnection";
// The cache's debug line keeps the tag operators know it by.
constexpr const char* kCacheTag = "TheadProcessConnection";
constexpr size_t kCredentialSize = 251;  // 250 characters kept
constexpr size_t kAccessCodeBytes = 24;

std::mutex g_code_mu;
std::string g_access_code;

// The account's address list admits `address`: an empty list admits all.
bool addressListAdmits(std::string_view list, std::string_view address) {
  bool any = false;
  for (const std::string& item : platform::split(list, ",; ")) {
    std::string_view pattern = platform::trim(item);
    if (pattern.empty()) continue;
    any = true;
    if (addressMatchesPattern(pattern, address)) return true;
  }
  return !any;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool localSystemLogin(const Connection& conn, std::string_view user, std::string_view password) {
  if (!platform::equalsNoCase(user, kLocalSystemUser)) return false;
  std::string code = localSystemAccessCode();
  return !code.empty() && constantTimeEquals(password, code) && isOwnAddress(conn.remote_address);
}

httpwire::Credentials credentialsOf(const Request& request) {
  httpwire::Credentials cred = httpwire::basicCredentials(request.headers());
  if (cred.user.empty() && cred.password.empty()) {
    cred.user = requestParameter(request.view(), "User", kCredentialSize).value_or("");
    cred.password = requestParameter(request.view(), "Password", kCredentialSize).value_or("");
  }
  return cred;
}

std::string hexText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) out += platform::format("%02x", c);
  return out;
}

}  // namespace

std::optional<hostlib::Account> AccountCache::find(std::string_view name) {
  const std::string key = platform::toLower(name);
  const platform::SystemTime now = platform::clock().now();
  {
    std::scoped_lock lk(mu_);
    auto it = entries_.find(key);
    if (it != entries_.end()) {
      auto age = now - it->second.read;
      if (age >= std::chrono::seconds(0) && age <= max_age_) return it->second.account;
      DebugLog(kCacheTag, "Updating cached user info");
    }
  }
  hostlib::AccountStore* store = hostlib::accountStore();
  std::optional<hostlib::Account> found = store ? store->find(name) : std::nullopt;
  std::scoped_lock lk(mu_);
  if (found) {
    entries_[key] = Entry{*found, now};
  } else {
    entries_.erase(key);
  }
  return found;
}

void AccountCache::clear() {
  std::scoped_lock lk(mu_);
  entries_.clear();
}

AccountCache& webAccountCache() {
  static AccountCache cache;
  return cache;
}

AuthResult authenticateWebRequest(const Connection& conn, const Request& request, bool web_auth) {
  AuthResult result;
  if (!web_auth) {
    result.accepted = true;
    return result;
  }
  httpwire::Credentials cred = credentialsOf(request);

  if (localSystemLogin(conn, cred.user, cred.password)) {
    result.accepted = true;
    result.user.name = std::string(kLocalSystemUser);
    result.user.local_system = true;
  } else if (!cred.user.empty()) {
    std::optional<hostlib::Account> account = webAccountCache().find(cred.user);
    if (account && !account->disabled &&
        addressListAdmits(account->addresses, conn.remote_address) &&
        platform::equalsNoCase(account->password, cred.password)) {
      result.accepted = true;
      result.user.name = account->name;
      result.user.account = std::move(account);
    }
  }

  if (result.accepted) {
    loginFailures().recordSuccess(result.user.name, conn.remote_address);
    return result;
  }
  DebugLogf(kTag, "Authorization failed for user '%s' from %s", cred.user.c_str(),
            conn.remote_address.c_str());
  if (!cred.user.empty()) {
    result.delay = loginFailures().recordFailure(cred.user, conn.remote_address);
    DebugLogf(kTag, "Authentication failure, answering in %u seconds",
              static_cast<unsigned>(result.delay.count()));
  }
  return result;
}

bool headCarriesCredentials(const Request& head) {
  httpwire::Credentials cred = credentialsOf(head);
  return !cred.user.empty() || !cred.password.empty();
}

LoginFailures::LoginFailures(size_t max_entries, std::chrono::minutes forget_after)
    : max_entries_(max_entries == 0 ? 1 : max_entries), forget_after_(forget_after) {}

unsigned LoginFailures::Table::bump(const std::string& key, platform::SteadyTime now,
                                    size_t max_entries, std::chrono::minutes forget_after) {
  auto it = entries.find(key);
  if (it == entries.end()) {
    while (entries.size() >= max_entries) erase(order.front());
    it = entries.emplace(key, Entry{}).first;
    it->second.pos = order.insert(order.end(), key);
  } else {
    order.splice(order.end(), order, it->second.pos);
    if (now - it->second.last >= forget_after) it->second.count = 0;
  }
  it->second.last = now;
  return ++it->second.count;
}

void LoginFailures::Table::erase(const std::string& key) {
  auto it = entries.find(key);
  if (it == entries.end()) return;
  order.erase(it->second.pos);
  entries.erase(it);
}

unsigned LoginFailures::Table::count(const std::string& key, platform::SteadyTime now,
                                     std::chrono::minutes forget_after) const {
  auto it = entries.find(key);
  if (it == entries.end() || now - it->second.last >= forget_after) return 0;
  return it->second.count;
}

std::chrono::seconds LoginFailures::recordFailure(std::string_view account,
                                                  std::string_view address) {
  const platform::SteadyTime now = platform::monotonicNow();
  std::scoped_lock lk(mu_);
  unsigned a = accounts_.bump(platform::toLower(account), now, max_entries_, forget_after_);
  unsigned b = addresses_.bump(addressKey(address), now, max_entries_, forget_after_);
  return std::chrono::seconds(std::min(std::max(a, b), kMaxFailureDelaySeconds));
}

void LoginFailures::recordSuccess(std::string_view account, std::string_view address) {
  std::scoped_lock lk(mu_);
  accounts_.erase(platform::toLower(account));
  addresses_.erase(addressKey(address));
}

unsigned LoginFailures::accountFailures(std::string_view account) const {
  std::scoped_lock lk(mu_);
  return accounts_.count(platform::toLower(account), platform::monotonicNow(), forget_after_);
}

unsigned LoginFailures::addressFailures(std::string_view address) const {
  std::scoped_lock lk(mu_);
  return addresses_.count(addressKey(address), platform::monotonicNow(), forget_after_);
}

void LoginFailures::clear() {
  std::scoped_lock lk(mu_);
  accounts_ = Table{};
  addresses_ = Table{};
}

LoginFailures& loginFailures() {
  static LoginFailures failures;
  return failures;
}

std::string authenticationRealm() {
  std::string host = hostlib::MMSCIniGetProfileString("MMSC", "HostName", "", 256);
  std::string realm;
  for (char c : host) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') continue;
    realm += c;
  }
  realm = std::string(platform::trim(realm));
  return realm.empty() ? std::string(kDefaultRealm) : realm;
}

std::string authorizationRequiredResponse(const Connection& conn, std::string_view realm) {
  static constexpr std::string_view kBody =
      "<HTML>\r\n<HEAD>\r\n<TITLE>Authorization failed</TITLE>\r\n</HEAD>\r\n<BODY>\r\n<PRE>\r\n"
      "Invalid username and password, or your web browser does not support authentication.\r\n"
      "</PRE>\r\n</BODY>\r\n</HTML>\r\n";
  std::string out = platform::format("%s 401 Authorization Required\r\n%s", conn.protocol(),
                                     conn.connectionLine());
  out += "WWW-Authenticate: Basic realm=\"";
  out.append(realm);
  out += "\"\r\nContent-Type: text/html\r\n";
  out += platform::format("Content-Length: %zu\r\n\r\n", kBody.size());
  out.append(kBody);
  return out;
}

std::string allowedSender(const hostlib::Account& account, std::string_view requested) {
  std::string first;
  bool any = false;
  for (const std::string& item : platform::split(account.senders, ",")) {
    std::string_view entry = platform::trim(item);
    if (!any) {
      first = std::string(entry);
      any = true;
    }
    if (!entry.empty() && platform::equalsNoCase(entry, requested)) return std::string(requested);
  }
  if (!any || first.empty()) return std::string(requested);
  return first;
}

platform::Status initLocalSystemAccess() {
  auto bytes = platform::secureRandomBytes(kAccessCodeBytes);
  if (!bytes.ok()) return bytes.status();
  std::string code = hexText(*bytes);
  std::string dir = hostlib::GetPrivateDataDirectory();
  platform::Status st = platform::makeDirectories(dir, 0700);
  if (st.ok()) {
    st = platform::writeFileAtomic(dir + std::string(kLocalSystemAccessFile), code + "\n", true,
                                   0600);
  }
  if (!st.ok()) {
    DebugLogf("initLocalSystemAccess", "Unable to write the access code: %s", st.message().c_str());
    return st;
  }
  std::scoped_lock lk(g_code_mu);
  g_access_code = std::move(code);
  return st;
}

std::string localSystemAccessCode() {
  std::scoped_lock lk(g_code_mu);
  return g_access_code;
}

void resetWebAuthForTesting() {
  loginFailures().clear();
  webAccountCache().clear();
}

}  // namespace vek::http
