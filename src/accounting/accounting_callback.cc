#include "accounting/accounting_callback.h"

namespace vek::accounting {

PreAuthorisation preAuthoriseSubmission(const SubmissionInfo& submission) {
  (void)submission;
  return PreAuthorisation{};
}

void reportQueuedMessage(const QueuedMessageReport& report) {
  (void)report;
}

}  // namespace vek::accounting
