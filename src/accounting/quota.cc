#include "accounting/quota.h"

#include <cstdlib>

#include "platform/strings.h"

namespace vek::accounting {

QuotaDecision checkSubmissionQuota(std::string_view account, uint32_t messages) {
  (void)account;
  (void)messages;
  return QuotaDecision{};
}

void chargeSubmission(std::string_view account, uint32_t messages) {
  (void)account;
  (void)messages;
}

std::optional<int64_t> creditBalance(std::string_view account) {
  (void)account;
  return std::nullopt;
}

std::string formatCredits(int64_t thousandths) {
  const bool negative = thousandths < 0;
  // Magnitude as unsigned so that the most negative value does not overflow.
  uint64_t m =
      negative ? 0 - static_cast<uint64_t>(thousandths) : static_cast<uint64_t>(thousandths);
  std::string out =
      platform::format("%s%llu", negative ? "-" : "", static_cast<unsigned long long>(m / 1000));
  unsigned frac = static_cast<unsigned>(m % 1000);
  if (frac != 0) {
    std::string digits = platform::format("%03u", frac);
    while (digits.back() == '0') digits.pop_back();
    out += "." + digits;
  }
  return out;
}

}  // namespace vek::accounting
