#include "modem/port.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/strings.h"

namespace vek::modem {
namespace {

using platform::IoStatus;
using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

speed_t speedConstant(unsigned baud) {
  switch (baud) {
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    default:
      return B0;
  }
}

}  // namespace

bool isSupportedSpeed(unsigned baud) {
  return speedConstant(baud) != B0;
}

// ---- TCP ----

platform::Result<std::unique_ptr<TcpPort>> TcpPort::connect(const std::string& host, uint16_t port,
                                                            int timeout_ms) {
  auto fd = platform::connectTcp(host, port, timeout_ms);
  if (!fd.ok()) return fd.status();
  platform::setNoDelay(fd->get());
  return std::unique_ptr<TcpPort>(new TcpPort(std::move(*fd), host + ":" + std::to_string(port)));
}

IoStatus TcpPort::write(std::string_view data, int timeout_ms) {
  return platform::sendAll(fd_.get(), data, timeout_ms);
}

IoStatus TcpPort::read(char* buf, size_t len, int timeout_ms, size_t* got) {
  return platform::recvSome(fd_.get(), buf, len, timeout_ms, got);
}

void TcpPort::discardInput() {
  char buf[4096];
  size_t got = 0;
  // Bounded: what is already there, at most 1 MB.
  for (int i = 0; i < 256; ++i) {
    if (platform::recvSome(fd_.get(), buf, sizeof buf, 0, &got) != IoStatus::kOk) return;
  }
}

// ---- serial ----

platform::Result<std::unique_ptr<SerialPort>> SerialPort::open(const std::string& path) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int err = errno;
    if (err == EACCES || err == EBUSY)
      return platform::Status::error(
          "Unable to open device " + path + ", this device is already open by another application",
          err);
    return platform::Status::error(platform::format("Unable to open device %s, error %X",
                                                    path.c_str(), static_cast<unsigned>(err)),
                                   err);
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
    return platform::Status::error(
        "Unable to open device " + path + ", this device is already open by another application",
        EBUSY);
  termios t{};
  if (::tcgetattr(fd.get(), &t) != 0)
    return platform::Status::error("Unable to open device " + path + ", not a serial device",
                                   errno);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd.get(), TCSANOW, &t) != 0)
    return platform::Status::fromErrno("tcsetattr", path);
  return std::unique_ptr<SerialPort>(new SerialPort(std::move(fd), path));
}

platform::Status SerialPort::setSpeed(unsigned baud) {
  const speed_t s = speedConstant(baud);
  if (s == B0) return platform::Status::error("unsupported speed " + std::to_string(baud));
  termios t{};
  if (::tcgetattr(fd_.get(), &t) != 0) return platform::Status::fromErrno("tcgetattr", path_);
  ::cfsetispeed(&t, s);
  ::cfsetospeed(&t, s);
  if (::tcsetattr(fd_.get(), TCSANOW, &t) != 0)
    return platform::Status::fromErrno("tcsetattr", path_);
  ::tcflush(fd_.get(), TCIOFLUSH);
  baud_ = baud;
  return platform::Status::success();
}

IoStatus SerialPort::write(std::string_view data, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!data.empty()) {
    ssize_t n = ::write(fd_.get(), data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return errno == EIO ? IoStatus::kClosed : IoStatus::kError;
    pollfd p{fd_.get(), POLLOUT, 0};
    int w = ::poll(&p, 1, remainingMs(deadline));
    if (w == 0) return IoStatus::kTimeout;
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return IoStatus::kClosed;
  }
  return IoStatus::kOk;
}

IoStatus SerialPort::read(char* buf, size_t len, int timeout_ms, size_t* got) {
  *got = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  bool hung_up = false;
  for (;;) {
    ssize_t n = ::read(fd_.get(), buf, len);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return errno == EIO ? IoStatus::kClosed : IoStatus::kError;
    // Raw mode with VMIN 0 reads 0 when nothing is there; after a hang-up
    // was reported that means the device is gone.
    if (hung_up) return IoStatus::kClosed;
    const int left = remainingMs(deadline);
    pollfd p{fd_.get(), POLLIN, 0};
    int w = ::poll(&p, 1, left);
    if (w == 0) return IoStatus::kTimeout;
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return IoStatus::kError;
    if (p.revents & POLLNVAL) return IoStatus::kClosed;
    hung_up = (p.revents & (POLLHUP | POLLERR)) != 0;
  }
}

void SerialPort::discardInput() {
  ::tcflush(fd_.get(), TCIFLUSH);
}

// ---- names ----

std::optional<IpModemAddress> parseIpModemName(std::string_view link_name) {
  constexpr std::string_view kPrefix = "IPModem - ";
  if (!platform::startsWithNoCase(link_name, kPrefix)) return std::nullopt;
  std::string_view rest = platform::trim(link_name.substr(kPrefix.size()));
  IpModemAddress a;
  const size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos) {
    a.host = std::string(rest);
    return a;
  }
  a.host = std::string(platform::trim(rest.substr(0, colon)));
  if (a.host.size() > 2 && a.host.front() == '[' && a.host.back() == ']')
    a.host = a.host.substr(1, a.host.size() - 2);
  std::string_view digits = platform::trim(rest.substr(colon + 1));
  if (platform::isAllDigits(digits) && digits.size() <= 5) {
    const int64_t v = platform::parseLeadingInt(digits);
    if (v > 0 && v <= 65535) a.port = static_cast<uint16_t>(v);
  }
  return a;
}

std::vector<std::string> serialDeviceCandidates(std::string_view link_name,
                                                const std::string& by_id_dir) {
  std::vector<std::string> out;
  std::string_view name = platform::trim(link_name);
  if (name.empty()) return out;
  // "COMn:" or "COMn".
  if (platform::startsWithNoCase(name, "COM")) {
    std::string_view digits = name.substr(3);
    if (!digits.empty() && digits.back() == ':') digits.remove_suffix(1);
    if (platform::isAllDigits(digits) && digits.size() <= 3) {
      const int64_t n = platform::parseLeadingInt(digits);
      if (n >= 1) {
        for (const char* dev : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"})
          out.push_back(dev + std::to_string(n - 1));
        return out;
      }
    }
  }
  if (name.find('/') != std::string_view::npos) out.emplace_back(name);
  if (name.front() != '/' && name.find("..") == std::string_view::npos)
    out.push_back("/dev/" + std::string(name));

  // A friendly name among the by-id links.
  std::vector<std::string> entries;
  if (DIR* d = ::opendir(by_id_dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") entries.push_back(std::move(n));
    }
    ::closedir(d);
  }
  std::sort(entries.begin(), entries.end());
  std::string wanted(name);
  std::replace(wanted.begin(), wanted.end(), ' ', '_');
  for (const auto& e : entries)
    if (platform::equalsNoCase(e, name) || platform::equalsNoCase(e, wanted))
      out.push_back(by_id_dir + e);
  for (const auto& e : entries)
    if (!platform::equalsNoCase(e, wanted) && platform::findNoCase(e, wanted) != std::string::npos)
      out.push_back(by_id_dir + e);
  return out;
}

}  // namespace vek::modem
