#include "submit/error.h"

namespace vek::submit {

platform::Status Error::status() const {
  const bool refused = kind == ErrorKind::kOverQuota || kind == ErrorKind::kAccountingRefused;
  return refused ? platform::Status::refused(text) : platform::Status::invalid(text);
}

}  // namespace vek::submit
