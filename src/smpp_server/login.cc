#include "smpp_server/login.h"

#include "http/server/address_rules.h"
#include "platform/strings.h"
#include "protocols/smpp/status_codes.h"

namespace vek::smpp_server {

LoginCheck checkLogin(const std::optional<hostlib::Account>& account, std::string_view password,
                      std::string_view peer_address) {
  if (!account) return LoginCheck::kUnknownAccount;
  if (account->disabled) return LoginCheck::kDisabled;
  if (!account->smpp_login) return LoginCheck::kNoSmppAccess;
  // An account without a password is not an open door.
  if (password.empty() || account->password.empty() ||
      !platform::equalsNoCase(account->password, password))
    return LoginCheck::kBadPassword;
  if (!addressListAdmits(account->addresses, peer_address)) return LoginCheck::kAddressRestricted;
  return LoginCheck::kAccepted;
}

uint32_t refusalStatus(LoginCheck check) {
  switch (check) {
    case LoginCheck::kUnknownAccount:
    case LoginCheck::kBadPassword:
      return smpp::status::kInvPaswd;
    default:
      return smpp::status::kBindFail;
  }
}

bool addressListAdmits(std::string_view list, std::string_view address) {
  bool any = false;
  for (const std::string& item : platform::split(list, ",; ")) {
    std::string_view pattern = platform::trim(item);
    if (pattern.empty()) continue;
    any = true;
    if (http::addressMatchesPattern(pattern, address)) return true;
  }
  return !any;
}

const char* revalidationFailure(const std::optional<hostlib::Account>& account,
                                std::string_view password, std::string_view peer_address) {
  switch (checkLogin(account, password, peer_address)) {
    case LoginCheck::kAccepted:
      return nullptr;
    case LoginCheck::kUnknownAccount:
      return "Connection terminated - user account deleted";
    case LoginCheck::kDisabled:
    case LoginCheck::kNoSmppAccess:
      return "Connection terminated - SMPP access is not enabled for account";
    case LoginCheck::kBadPassword:
      return "Connection terminated - account password is no longer valid";
    case LoginCheck::kAddressRestricted:
      return "Connection terminated - IP address restrictions have changed";
  }
  return nullptr;
}

std::chrono::seconds RejectionBackoff::next() {
  unsigned prev = count_.load(std::memory_order_relaxed);
  unsigned n;
  do {
    n = prev >= kMaxConsecutiveRejections ? kMaxConsecutiveRejections : prev + 1;
  } while (!count_.compare_exchange_weak(prev, n, std::memory_order_relaxed));
  return kRejectionBaseDelay + std::chrono::seconds(n);
}

}  // namespace vek::smpp_server
