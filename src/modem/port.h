// Modem ports: the byte pipe to one modem, either a serial device (termios,
// raw 8N1) or an "IP modem" (a serial-to-TCP adapter reached over TCP).
//
// A serial device is held with flock(LOCK_EX | LOCK_NB) for as long as it
// is open, so two link threads (or two gateways) never drive one modem; a
// held device reports "already open by another application". Reads wait
// with poll and are bounded by their time-out; writes are bounded by 2
// seconds. A hang-up (EOF, EIO, POLLHUP without data, a reset connection)
// reads as IoStatus::kClosed.
//
// Device names: a link name "COMn:" (or "COMn") is the n-th serial port,
// found as /dev/ttyUSB<n-1>, /dev/ttyACM<n-1>, then /dev/ttyS<n-1>; a name
// that opens as it stands is used as a path; otherwise "/dev/" is put in
// front; a "friendly name" is looked up in /dev/serial/by-id (an entry
// named exactly so, else the first entry, in name order, whose name holds
// the friendly name with blanks read as underscores, without regard to
// case).
//
// A port is owned by one thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::modem {

class Port {
 public:
  enum class Kind { kSerial, kTcp };
  virtual ~Port() = default;
  virtual Kind kind() const = 0;
  // The device path or "host:port" (for logs).
  virtual const std::string& name() const = 0;
  // Writes everything within `timeout_ms`.
  virtual platform::IoStatus write(std::string_view data, int timeout_ms) = 0;
  // Waits up to `timeout_ms` for at least one byte and reads what is there.
  virtual platform::IoStatus read(char* buf, size_t len, int timeout_ms, size_t* got) = 0;
  // Drops bytes received and not yet read.
  virtual void discardInput() = 0;
};

class TcpPort final : public Port {
 public:
  static platform::Result<std::unique_ptr<TcpPort>> connect(const std::string& host, uint16_t port,
                                                            int timeout_ms);
  Kind kind() const override { return Kind::kTcp; }
  const std::string& name() const override { return name_; }
  platform::IoStatus write(std::string_view data, int timeout_ms) override;
  platform::IoStatus read(char* buf, size_t len, int timeout_ms, size_t* got) override;
  void discardInput() override;

 private:
  TcpPort(platform::UniqueFd fd, std::string name) : fd_(std::move(fd)), name_(std::move(name)) {}
  platform::UniqueFd fd_;
  std::string name_;
};

class SerialPort final : public Port {
 public:
  // Opens `path` (raw, 8N1, no modem-control hang-up, speed left as is).
  // Errors carry the texts "Unable to open device %s, this device is
  // already open by another application" and "Unable to open device %s,
  // error %X".
  static platform::Result<std::unique_ptr<SerialPort>> open(const std::string& path);
  Kind kind() const override { return Kind::kSerial; }
  const std::string& name() const override { return path_; }
  platform::IoStatus write(std::string_view data, int timeout_ms) override;
  platform::IoStatus read(char* buf, size_t len, int timeout_ms, size_t* got) override;
  void discardInput() override;

  // Sets both directions to `baud` and drops pending bytes. Fails for a
  // speed the system has no constant for.
  platform::Status setSpeed(unsigned baud);
  unsigned speed() const { return baud_; }

 private:
  SerialPort(platform::UniqueFd fd, std::string path)
      : fd_(std::move(fd)), path_(std::move(path)) {}
  platform::UniqueFd fd_;
  std::string path_;
  unsigned baud_ = 0;
};

// "IPModem - host:port" split into host and port; nullopt when the name is
// not an IP modem name. A port that does not parse gives port 0.
struct IpModemAddress {
  std::string host;
  uint16_t port = 0;
};
std::optional<IpModemAddress> parseIpModemName(std::string_view link_name);

// The device paths a serial link name may mean, in the order to try.
// `by_id_dir` is the by-id directory (tests pass their own).
std::vector<std::string> serialDeviceCandidates(
    std::string_view link_name, const std::string& by_id_dir = "/dev/serial/by-id/");

// The speeds the system can set, in bit/s.
bool isSupportedSpeed(unsigned baud);

}  // namespace vek::modem
