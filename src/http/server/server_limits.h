// ServerLimits: what the web server grants one client address and all
// clients together, read from section SMSGW of "SMSGW.INI". The event loop
// reads them again whenever the file changed.
//
//   MaxHTTPConnections                   400   open connections (a connection
//                                              parked by the failed-login delay
//                                              does not count)
//   MaxHTTPConnectionsPerAddress          50   open connections of one address
//                                              (parked ones included); 0: none
//   MaxHTTPIncompleteRequestsPerAddress   20   requests of one address that have
//                                              begun and not yet arrived whole; 0: none
//   HTTPAddressLimitsExempt               ""   address patterns (as
//                                              AdminIPAddressList) the two limits
//                                              above leave alone; loopback
//                                              clients are limited unless listed
//   HTTPRequestHeadTimeout                20   seconds for the whole request head,
//                                              from its first byte
//   HTTPMinBodyRate                      500   bytes per second a body must keep
//                                              up after the head timeout's length
//                                              of grace; 0: no minimum
//   MaxHTTPRequestSize                 16 MB   one request, head and body
//   MaxHTTPUnauthenticatedBody         65536   the largest body read before the
//                                              sender has shown valid credentials
//   MaxHTTPBodyMemoryMB                  256   request bytes buffered across all
//                                              connections beyond each connection's
//                                              first 16 KB
//   HTTPWorkerThreads                     32   threads that run requests
//
// A value that is empty, not a number or out of range takes the default.
// Plain values; thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/http/message.h"

namespace vek::http {

struct ServerLimits {
  size_t max_connections = 400;
  size_t max_per_address = 50;
  size_t max_incomplete_per_address = 20;
  std::string exempt;
  std::chrono::milliseconds head_timeout{20000};
  uint32_t min_body_rate = 500;
  httpwire::MessageLimits message;
  size_t unauthenticated_body = 64u << 10;
  size_t body_memory = 256u << 20;
  unsigned workers = 32;
};

ServerLimits serverLimitsFromConfiguration();

// True when `address` is in the limits' exempt list.
bool exemptFromAddressLimits(const ServerLimits& limits, std::string_view address);

// The key under which an address is counted: the address itself, for IPv6
// its /64 network (one subscriber usually holds a whole /64).
std::string addressKey(std::string_view address);

}  // namespace vek::http
