// TCP and UDP sockets over poll (never select: no descriptor limit). Every
// wait is bounded by a time-out in milliseconds; sends use MSG_NOSIGNAL.
// Connection sockets are non-blocking; the helpers below wait with poll.
//
// A socket is owned by one thread. Another thread may wake it with
// wakeSocket() (shutdown(2)), which makes pending waits return; only the
// owner closes it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

// Listening TCP socket on `bind_address` and `port` (0: any free port).
// "" (or "0"): every address of both families (dual stack; IPv4 alone on a
// host without IPv6); "0.0.0.0": every IPv4 address; a literal: that one.
Result<UniqueFd> listenTcp(std::string_view bind_address, uint16_t port, int backlog = 100);
// Waits up to `timeout_ms` for a connection. Result status EAGAIN on time-out.
Result<UniqueFd> acceptConnection(int listen_fd, int timeout_ms,
                                  std::string* peer_address = nullptr,
                                  uint16_t* peer_port = nullptr);
// Connects to host (name or literal) and port within `timeout_ms`.
Result<UniqueFd> connectTcp(std::string_view host, uint16_t port, int timeout_ms,
                            std::string_view bind_address = "");
Result<UniqueFd> bindUdp(std::string_view bind_address, uint16_t port);

// 1 ready, 0 time-out, -1 error or hang-up without data.
int waitReadable(int fd, int timeout_ms);
int waitWritable(int fd, int timeout_ms);

enum class IoStatus { kOk, kTimeout, kClosed, kError };
// Reads what is there (at least 1 byte) within `timeout_ms`.
IoStatus recvSome(int fd, void* buf, size_t len, int timeout_ms, size_t* got);
// Reads exactly `len` bytes within `timeout_ms` in total.
IoStatus recvExact(int fd, void* buf, size_t len, int timeout_ms);
// Sends everything within `timeout_ms` in total.
IoStatus sendAll(int fd, std::string_view data, int timeout_ms);

void setNonBlocking(int fd, bool on);
void setNoDelay(int fd);
void setKeepAlive(int fd);
// Makes blocked reads and writes on `fd` return (another thread's socket).
void wakeSocket(int fd);
// True when the peer has closed or reset, or sent bytes nobody asked for.
bool peerGoneOrChatty(int fd);

std::string peerAddress(int fd);
uint16_t peerPort(int fd);
std::string localAddress(int fd);
uint16_t localPort(int fd);

// Addresses of this host's interfaces (getifaddrs), IPv4 and IPv6 as text.
std::vector<std::string> interfaceAddresses();
// True for 127.0.0.0/8 and ::1.
bool isLoopbackAddress(std::string_view address);
// True when `s` is an IPv4 dotted or IPv6 literal address.
bool isIpLiteral(std::string_view s);

// The outbound connection of a link: like connectTcp, but the local side is
// bound first when `local_address` or `local_port` is set (SO_REUSEADDR, so
// a quick reconnect may reuse a port in TIME_WAIT), and a bind that fails
// is reported instead of ignored. `*stage` tells where it failed. Each
// address of the name may take `timeout_ms`.
enum class ConnectStage { kDone, kResolve, kSocket, kBind, kConnect };
Result<UniqueFd> connectTcpFrom(std::string_view host, uint16_t port, int timeout_ms,
                                std::string_view local_address, uint16_t local_port,
                                ConnectStage* stage);
// Socket buffer sizes (SO_RCVBUF / SO_SNDBUF); 0 leaves one as it is.
void setSocketBuffers(int fd, int receive_bytes, int send_bytes);

}  // namespace vek::platform
