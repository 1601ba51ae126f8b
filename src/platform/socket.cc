#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace vek::platform {
namespace {

int remainingMs(SteadyTime deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - monotonicNow()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

bool fillAddress(std::string_view address, uint16_t port, sockaddr_storage* ss, socklen_t* len) {
  std::memset(ss, 0, sizeof *ss);
  std::string a(address);
  if (a.empty() || a == "0" || a == "0.0.0.0") {
    auto* in = reinterpret_cast<sockaddr_in*>(ss);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    in->sin_addr.s_addr = htonl(INADDR_ANY);
    *len = sizeof *in;
    return true;
  }
  auto* in = reinterpret_cast<sockaddr_in*>(ss);
  if (inet_pton(AF_INET, a.c_str(), &in->sin_addr) == 1) {
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    *len = sizeof *in;
    return true;
  }
  if (!a.empty() && a.front() == '[' && a.back() == ']') a = a.substr(1, a.size() - 2);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(ss);
  if (inet_pton(AF_INET6, a.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    *len = sizeof *in6;
    return true;
  }
  return false;
}

std::string addressText(const sockaddr* sa) {
  char buf[INET6_ADDRSTRLEN] = "";
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
  } else if (sa->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], buf, sizeof buf);
    } else {
      inet_ntop(AF_INET6, &in6->sin6_addr, buf, sizeof buf);
    }
  }
  return buf;
}

uint16_t portOf(const sockaddr* sa) {
  if (sa->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(sa)->sin_port);
  if (sa->sa_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(sa)->sin6_port);
  return 0;
}

// 1 when `events` are ready on fd, 0 on time-out (a negative timeout never
// ends), -1 on error or hang-up.
int pollOne(int fd, short events, int timeout_ms) {
  const SteadyTime deadline =
      timeout_ms < 0 ? SteadyTime::max() : deadlineAfter(std::chrono::milliseconds(timeout_ms));
  struct pollfd p = {fd, events, 0};
  for (;;) {
    p.revents = 0;
    int r = ::poll(&p, 1, pollTimeoutMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) {
      if (monotonicNow() >= deadline) return 0;
      continue;
    }
    if (p.revents & events) return 1;
    return -1;  // POLLERR / POLLHUP / POLLNVAL without the wanted event
  }
}

}  // namespace

namespace {

Result<UniqueFd> listenOn(const sockaddr_storage& ss, socklen_t len, int backlog, bool dual_stack,
                          const std::string& what) {
  UniqueFd fd(::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return Status::fromErrno("socket", "");
  int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (dual_stack) {
    int zero = 0;  // IPv4 clients too, whatever net.ipv6.bindv6only says
    ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
  }
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&ss), len) != 0)
    return Status::fromErrno("bind", what);
  if (::listen(fd.get(), backlog) != 0) return Status::fromErrno("listen", "");
  return fd;
}

}  // namespace

Result<UniqueFd> listenTcp(std::string_view bind_address, uint16_t port, int backlog) {
  const std::string what = std::string(bind_address) + ":" + std::to_string(port);
  if (bind_address.empty() || bind_address == "0") {
    // Any address: one IPv6 socket that also takes IPv4 clients (they show
    // as IPv4-mapped addresses, which addressText turns back into IPv4).
    // A host without IPv6 gets the IPv4 socket alone.
    sockaddr_storage ss = {};
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    in6->sin6_addr = in6addr_any;
    auto dual = listenOn(ss, sizeof *in6, backlog, true, what);
    int err = dual.ok() ? 0 : dual.status().code();
    if (dual.ok() || (err != EAFNOSUPPORT && err != EADDRNOTAVAIL && err != EPROTONOSUPPORT))
      return dual;
  }
  sockaddr_storage ss;
  socklen_t len;
  if (!fillAddress(bind_address, port, &ss, &len))
    return Status::error("bad listening address " + std::string(bind_address), EINVAL);
  return listenOn(ss, len, backlog, false, what);
}

Result<UniqueFd> acceptConnection(int listen_fd, int timeout_ms, std::string* peer_address,
                                  uint16_t* peer_port) {
  int r = pollOne(listen_fd, POLLIN, timeout_ms);
  if (r == 0) return Status::error("accept: timed out", EAGAIN);
  if (r < 0) return Status::error("accept: listening socket closed", EBADF);
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  int c =
      ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (c < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
      return Status::error("accept: no connection", EAGAIN);
    return Status::fromErrno("accept", "");
  }
  if (peer_address) *peer_address = addressText(reinterpret_cast<sockaddr*>(&ss));
  if (peer_port) *peer_port = portOf(reinterpret_cast<sockaddr*>(&ss));
  return UniqueFd(c);
}

Result<UniqueFd> connectTcp(std::string_view host, uint16_t port, int timeout_ms,
                            std::string_view bind_address) {
  auto deadline = deadlineAfter(std::chrono::milliseconds(timeout_ms));
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  std::string h(host);
  if (!h.empty() && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  std::string service = std::to_string(port);
  int gai = ::getaddrinfo(h.c_str(), service.c_str(), &hints, &res);
  if (gai != 0) return Status::error("resolve " + h + ": " + gai_strerror(gai), EHOSTUNREACH);
  Status last = Status::error("connect " + h + ": no address", EHOSTUNREACH);
  for (auto* ai = res; ai; ai = ai->ai_next) {
    UniqueFd fd(::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
      last = Status::fromErrno("socket", "");
      continue;
    }
    if (!bind_address.empty()) {
      sockaddr_storage ss;
      socklen_t len;
      if (fillAddress(bind_address, 0, &ss, &len) && ss.ss_family == ai->ai_family)
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&ss), len);
    }
    int rc = ::connect(fd.get(), ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno != EINPROGRESS) {
      last = Status::fromErrno("connect", h);
      continue;
    }
    if (rc != 0) {
      int w = pollOne(fd.get(), POLLOUT, remainingMs(deadline));
      int err = 0;
      socklen_t el = sizeof err;
      if (w <= 0 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &el) != 0 || err != 0) {
        last = w == 0 ? Status::error("connect " + h + ": timed out", ETIMEDOUT)
                      : Status::fromErrno(err ? err : ECONNREFUSED, "connect", h);
        continue;
      }
    }
    ::freeaddrinfo(res);
    return fd;
  }
  ::freeaddrinfo(res);
  return last;
}

Result<UniqueFd> bindUdp(std::string_view bind_address, uint16_t port) {
  sockaddr_storage ss;
  socklen_t len;
  if (!fillAddress(bind_address, port, &ss, &len)) return Status::error("bad UDP address", EINVAL);
  UniqueFd fd(::socket(ss.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return Status::fromErrno("socket", "");
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) != 0)
    return Status::fromErrno("bind", "udp " + std::to_string(port));
  return fd;
}

int waitReadable(int fd, int timeout_ms) {
  return pollOne(fd, POLLIN, timeout_ms);
}
int waitWritable(int fd, int timeout_ms) {
  return pollOne(fd, POLLOUT, timeout_ms);
}

IoStatus recvSome(int fd, void* buf, size_t len, int timeout_ms, size_t* got) {
  *got = 0;
  auto deadline = deadlineAfter(std::chrono::milliseconds(timeout_ms));
  for (;;) {
    ssize_t n = ::recv(fd, buf, len, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return IoStatus::kOk;
    }
    if (n == 0) return IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
    int w = pollOne(fd, POLLIN, remainingMs(deadline));
    if (w == 0) return IoStatus::kTimeout;
    if (w < 0) {
      // Hang-up may still leave data: let recv tell.
      n = ::recv(fd, buf, len, MSG_DONTWAIT);
      if (n > 0) {
        *got = static_cast<size_t>(n);
        return IoStatus::kOk;
      }
      return IoStatus::kClosed;
    }
  }
}

IoStatus recvExact(int fd, void* buf, size_t len, int timeout_ms) {
  auto deadline = deadlineAfter(std::chrono::milliseconds(timeout_ms));
  auto* p = static_cast<char*>(buf);
  while (len > 0) {
    size_t got = 0;
    IoStatus s = recvSome(fd, p, len, remainingMs(deadline), &got);
    if (s != IoStatus::kOk) return s;
    p += got;
    len -= got;
  }
  return IoStatus::kOk;
}

IoStatus sendAll(int fd, std::string_view data, int timeout_ms) {
  auto deadline = deadlineAfter(std::chrono::milliseconds(timeout_ms));
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return (errno == EPIPE || errno == ECONNRESET) ? IoStatus::kClosed : IoStatus::kError;
    int w = pollOne(fd, POLLOUT, remainingMs(deadline));
    if (w == 0) return IoStatus::kTimeout;
    if (w < 0) return IoStatus::kClosed;
  }
  return IoStatus::kOk;
}

void setNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return;
  ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

void setNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void setKeepAlive(int fd) {
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
}

void wakeSocket(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool peerGoneOrChatty(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  int r = ::poll(&p, 1, 0);
  if (r == 0) return false;
  // Readable on an idle connection: either EOF/reset, or bytes nobody asked
  // for. Both mean the connection cannot be reused safely.
  return true;
}

std::string peerAddress(int fd) {
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return std::string();
  return addressText(reinterpret_cast<sockaddr*>(&ss));
}

uint16_t peerPort(int fd) {
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  return portOf(reinterpret_cast<sockaddr*>(&ss));
}

std::string localAddress(int fd) {
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return std::string();
  return addressText(reinterpret_cast<sockaddr*>(&ss));
}

uint16_t localPort(int fd) {
  sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  return portOf(reinterpret_cast<sockaddr*>(&ss));
}

std::vector<std::string> interfaceAddresses() {
  std::vector<std::string> out;
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (auto* i = list; i; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) continue;
    if (i->ifa_addr->sa_family != AF_INET && i->ifa_addr->sa_family != AF_INET6) continue;
    std::string a = addressText(i->ifa_addr);
    if (!a.empty()) out.push_back(a);
  }
  ::freeifaddrs(list);
  return out;
}

bool isLoopbackAddress(std::string_view address) {
  return address.substr(0, 4) == "127." || address == "::1";
}

bool isIpLiteral(std::string_view s) {
  std::string a(s);
  in6_addr buf;
  return inet_pton(AF_INET, a.c_str(), &buf) == 1 || inet_pton(AF_INET6, a.c_str(), &buf) == 1;
}

Result<UniqueFd> connectTcpFrom(std::string_view host, uint16_t port, int timeout_ms,
                                std::string_view local_address, uint16_t local_port,
                                ConnectStage* stage) {
  *stage = ConnectStage::kResolve;
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  std::string h(host);
  if (!h.empty() && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  std::string service = std::to_string(port);
  int gai = ::getaddrinfo(h.c_str(), service.c_str(), &hints, &res);
  if (gai != 0) return Status::error("resolve " + h + ": " + gai_strerror(gai), EHOSTUNREACH);
  const bool bind_local = !local_address.empty() || local_port != 0;
  Status last = Status::error("connect " + h + ": no address", EHOSTUNREACH);
  for (auto* ai = res; ai; ai = ai->ai_next) {
    UniqueFd fd(::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
      *stage = ConnectStage::kSocket;
      last = Status::fromErrno("socket", "");
      continue;
    }
    if (bind_local) {
      sockaddr_storage ss;
      socklen_t len;
      if (!fillAddress(local_address, local_port, &ss, &len)) {
        *stage = ConnectStage::kBind;
        last = Status::error("bind: bad local address " + std::string(local_address), EINVAL);
        break;
      }
      if (ss.ss_family != ai->ai_family) continue;
      int one = 1;
      ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        *stage = ConnectStage::kBind;
        last = Status::fromErrno("bind",
                                 std::string(local_address) + ":" + std::to_string(local_port));
        continue;
      }
    }
    *stage = ConnectStage::kConnect;
    int rc = ::connect(fd.get(), ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno != EINPROGRESS) {
      last = Status::fromErrno("connect", h);
      continue;
    }
    if (rc != 0) {
      // Each address gets the whole time-out (a name rarely has more than two).
      int w = pollOne(fd.get(), POLLOUT, timeout_ms);
      int err = 0;
      socklen_t el = sizeof err;
      if (w <= 0 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &el) != 0 || err != 0) {
        last = w == 0 ? Status::error("connect " + h + ": timed out", ETIMEDOUT)
                      : Status::fromErrno(err ? err : ECONNREFUSED, "connect", h);
        continue;
      }
    }
    ::freeaddrinfo(res);
    *stage = ConnectStage::kDone;
    return fd;
  }
  ::freeaddrinfo(res);
  return last;
}

void setSocketBuffers(int fd, int receive_bytes, int send_bytes) {
  if (receive_bytes > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_bytes, sizeof receive_bytes);
  if (send_bytes > 0) ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_bytes, sizeof send_bytes);
}

}  // namespace vek::platform
