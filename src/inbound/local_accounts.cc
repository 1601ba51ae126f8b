#include "inbound/local_accounts.h"

#include <chrono>
#include <mutex>
#include <unordered_map>

#include "foundation/directories.h"
#include "hostlib/accounts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

constexpr std::chrono::seconds kAccountRecheck{15};
constexpr size_t kMaxCachedNames = 4096;
constexpr size_t kMaxExtension = 8;

struct CachedAccount {
  std::optional<std::string> account;
  platform::SteadyTime checked;
};

class AccountCache {
 public:
  std::optional<std::string> find(std::string_view name) {
    const std::string key = platform::toLower(name);
    const platform::SteadyTime now = platform::monotonicNow();
    {
      std::scoped_lock lk(mu_);
      auto it = names_.find(key);
      if (it != names_.end() && now - it->second.checked < kAccountRecheck)
        return it->second.account;
    }
    // The store has its own lock; it is not held together with ours.
    std::optional<std::string> account;
    if (hostlib::AccountStore* store = hostlib::accountStore()) {
      if (auto a = store->find(name)) account = a->name;
    }
    std::scoped_lock lk(mu_);
    if (names_.size() >= kMaxCachedNames) names_.clear();
    names_[key] = CachedAccount{account, now};
    return account;
  }

  void clear() {
    std::scoped_lock lk(mu_);
    names_.clear();
  }

 private:
  std::mutex mu_;
  std::unordered_map<std::string, CachedAccount> names_;
};

AccountCache& accountCache() {
  static AccountCache cache;
  return cache;
}

bool validExtension(std::string_view ext) {
  if (ext.empty() || ext.size() > kMaxExtension) return false;
  for (char c : ext) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> existingAccount(std::string_view name) {
  if (!hostlib::isValidAccountName(name)) return std::nullopt;
  return accountCache().find(name);
}

bool receivesMessages(const std::string& account) {
  return platform::isRegularFile(foundation::userDirectory(account) + "RECV.FLG");
}

bool inboundDirectoryTarget(std::string_view user, std::string* extension) {
  if (!platform::startsWithNoCase(user, kInboundDirectoryUser)) return false;
  std::string_view rest = user.substr(kInboundDirectoryUser.size());
  std::string ext = "in";
  if (!rest.empty()) {
    if (rest.substr(0, 2) != "::" || !validExtension(rest.substr(2))) return false;
    ext = rest.substr(2);
  }
  if (extension) *extension = std::move(ext);
  return true;
}

void forgetCachedAccounts() {
  accountCache().clear();
}

}  // namespace vek::inbound
