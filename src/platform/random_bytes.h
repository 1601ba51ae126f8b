// Secret random bytes from the kernel's generator, for access codes and
// tokens that must not be guessable. Thread-safe.
#pragma once

#include <cstddef>
#include <string>

#include "platform/status.h"

namespace vek::platform {

// `count` bytes from getrandom(2); blocks only until the generator is
// seeded at boot.
Result<std::string> secureRandomBytes(size_t count);

}  // namespace vek::platform
