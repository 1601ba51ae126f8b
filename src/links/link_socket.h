// The network part of opening a link connection, shared by the kinds that
// talk to a message centre over TCP (SMPP, UCP/EMI, CIMD2): create the
// socket, bind it locally when `BindIP` or a local port is set, connect,
// and negotiate TLS when asked. Each failure has its own text, with the
// kind's label in front ("SMPP Failure -- Unable to connect to SMPP server
// at 10.0.0.1:2775"), which the sender writes to the message log, the
// debug log and the link status file.
//
// Plain function; the caller owns the stream it gets.
#pragma once

#include <cstdint>
#include <string>

#include "tls/stream.h"

namespace vek::links {

struct SocketTarget {
  std::string label;  // "SMPP", "UCP", "CIMD"
  std::string host;
  uint16_t port = 0;
  std::string bind_ip;               // `BindIP`, "" for any
  uint16_t local_port = 0;           // 0: any
  const char* port_role = "sender";  // "sender port" / "receiver port" in the texts
  bool use_tls = false;
};

// Connects `*stream`; false with `*failure` set on any failure.
bool openLinkSocket(const SocketTarget& target, tls::Stream* stream, std::string* failure);

// Socket options after a successful login: a 32768-byte receive buffer, then
// TCP no-delay (`SMPPNoDelay`) or else a 16384-byte send buffer.
void tuneLinkSocket(int fd, bool no_delay);

}  // namespace vek::links
