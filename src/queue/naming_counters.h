// The two process-wide counters that stand beside the unique message id
// (unique_id.h):
//
//   concatenation reference  8 bits; first value the low octet of the
//                            current time in seconds, then +1 wrapping at
//                            256. The reference in every concatenation
//                            element the gateway writes, and the
//                            transaction id of WAP push messages.
//   random name              32 bits; first value the current time in
//                            seconds, then x * 1345 + 9876543 modulo 2^32
//                            (a full-period sequence: no value comes back
//                            before 2^32 calls). Names of temporary and
//                            work files, "%08X".
//
// Neither survives a restart. Each counter has a lock of its own and is
// started at its first call; every function is thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::queue {

class ConcatReferenceCounter {
 public:
  uint8_t next();

 private:
  std::mutex mu_;
  bool started_ = false;
  uint8_t next_ = 0;
};

class RandomNameCounter {
 public:
  uint32_t next();
  // The value after `x` in the sequence.
  static uint32_t step(uint32_t x) { return x * 1345u + 9876543u; }

 private:
  std::mutex mu_;
  bool started_ = false;
  uint32_t next_ = 0;
};

uint8_t NextConcatReference();
uint32_t NextRandomName();

// Publishes `text` under a new temporary work file name
// "<dir><random %08X>.<ext>" ("." only with an extension) and returns the
// full path. A taken name takes the next random name; the first failure
// creates the missing directories and tries the same name again; after
// 1000 attempts in all the result is the last failure. An empty directory
// is refused (EINVAL).
platform::Result<std::string> CreateTemporaryFile(const std::string& directory,
                                                  std::string_view extension,
                                                  std::string_view text);

}  // namespace vek::queue
