// A connected pair of local stream sockets (AF_UNIX), non-blocking and
// close-on-exec: an in-process stand-in for a TCP connection where tests and
// fuzz targets drive a protocol engine without the network. Both ends work
// with recvSome / sendAll / waitReadable and with tls::Stream.
#pragma once

#include <utility>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::platform {

Result<std::pair<UniqueFd, UniqueFd>> socketPair();

}  // namespace vek::platform
