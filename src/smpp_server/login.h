// The login decision of the SMPP server and the back-off that slows down
// password guessing.
//
// A bind is accepted when the account exists and is not disabled, may use
// SMPP, its password equals the one given (without regard to case; an empty
// password never matches, whatever is stored), and the peer's address passes
// the account's address list when it has one (dotted-quad patterns with "*",
// separated by ",", ";" or blanks). The connection count is checked
// separately (account_state.h), after these.
//
// While connected, the same checks run again every validation interval with
// the password given at bind; a failing one ends the connection with the
// text of revalidationFailure().
//
// Back-off: rejections are counted gateway-wide until the next accepted
// login; the n-th consecutive rejection (n at most 100) is answered after
// n + 5 seconds, so the third wrong password in a row waits 8 seconds.
//
// Pure functions apart from the back-off counter, which is thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hostlib/accounts.h"

namespace vek::smpp_server {

enum class LoginCheck {
  kAccepted,
  kUnknownAccount,
  kDisabled,
  kNoSmppAccess,
  kBadPassword,
  kAddressRestricted,
};

LoginCheck checkLogin(const std::optional<hostlib::Account>& account, std::string_view password,
                      std::string_view peer_address);

// The bind_resp status that refuses a login: ESME_RINVPASWD for an unknown
// account or a wrong password (the client learns nothing about which
// accounts exist), ESME_RBINDFAIL otherwise.
uint32_t refusalStatus(LoginCheck check);

// The account's address list admits `address` (an empty list admits all).
bool addressListAdmits(std::string_view list, std::string_view address);

// Null while the account still allows the connection; otherwise the text
// it is ended with ("Connection terminated - ...").
const char* revalidationFailure(const std::optional<hostlib::Account>& account,
                                std::string_view password, std::string_view peer_address);

inline constexpr unsigned kMaxConsecutiveRejections = 100;
inline constexpr std::chrono::seconds kRejectionBaseDelay{5};

class RejectionBackoff {
 public:
  // Counts one more rejection and returns how long to hold its answer.
  std::chrono::seconds next();
  void reset() { count_.store(0, std::memory_order_relaxed); }
  unsigned count() const { return count_.load(std::memory_order_relaxed); }

 private:
  std::atomic<unsigned> count_{0};
};

}  // namespace vek::smpp_server
