// Quotas and credits of gateway accounts, as the submission paths use
// them: asked before a submission is queued ("is there room for n
// messages?") and charged afterwards for the messages actually queued.
//
// PLACEHOLDER: the quota files, credit balances and queue limits come with
// the accounting issue. Until then every check allows everything, nothing
// is charged or recorded, and no account has a credit balance. Callers are
// already wired at their final call points, so filling these in changes no
// caller.
//
// Thread-safe (no state yet).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vek::accounting {

struct QuotaDecision {
  bool allowed = true;
  std::string error;  // why not, for the debug log (the caller words the answer)
};

// Whether `account` may submit `messages` more messages now (daily and
// monthly quota, credit balance). Checks only: nothing is counted.
QuotaDecision checkSubmissionQuota(std::string_view account, uint32_t messages);

// Counts `messages` queued messages against the account's quota and
// spends their credits.
void chargeSubmission(std::string_view account, uint32_t messages);

// The account's credit balance in thousandths of a credit, or nullopt when
// the account has no credit limit.
std::optional<int64_t> creditBalance(std::string_view account);

// A balance as text: whole credits and up to three decimals, no trailing
// zeros ("1.5", "-2", "0.125").
std::string formatCredits(int64_t thousandths);

}  // namespace vek::accounting
