// Half-closing a TCP connection: the graceful close of a server connection
// first ends its own sending side (the peer reads end-of-stream after the
// last response) and then drains what the peer still sends, so that unread
// input does not turn the close into a reset that destroys the response.
#pragma once

namespace vek::platform {

// shutdown(fd, SHUT_WR). Harmless on a socket that is already shut down.
void shutdownSending(int fd);

}  // namespace vek::platform
