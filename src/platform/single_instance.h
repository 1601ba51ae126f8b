// SingleInstance: one gateway per data directory. The file
// "VEK_SMSGW_ShMem" (512 bytes, mode 0600) in the private data directory is
// held with flock for the life of the process and mapped shared; a held lock
// means another instance is active. Byte 0 is the external stop request:
// `veksms --stop` writes 1 there and the supervisor ends on it.
//
// The lock dies with the process, so a kill -9 never leaves a stale guard.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

class SingleInstance {
 public:
  static constexpr size_t kSize = 512;
  static constexpr const char* kFileName = "VEK_SMSGW_ShMem";

  // Status code EWOULDBLOCK: another instance holds the directory.
  static Result<std::unique_ptr<SingleInstance>> acquire(const std::string& private_dir);
  // Sets the stop byte of the instance on `private_dir` (running or not).
  static Status requestStop(const std::string& private_dir);

  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  bool stopRequested() const;
  void setStopByte(uint8_t v);
  // The 511 bytes after the stop byte.
  volatile uint8_t* bytes() { return mem_; }

 private:
  SingleInstance(UniqueFd fd, volatile uint8_t* mem) : fd_(std::move(fd)), mem_(mem) {}
  UniqueFd fd_;
  volatile uint8_t* mem_;
};

}  // namespace vek::platform
