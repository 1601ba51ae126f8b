// ReceivePortListener: the port to which a UCP/EMI or CIMD2 message centre
// connects back to deliver messages and notifications (`ReceivePort`).
//
// start() binds `BindIP` and the port, listens with a backlog of 100 and
// logs "<KIND> Receive started on port <n>"; failures come back as
// "<KIND> Receive Failure -- General Socket Error" / "-- Socket Bind
// Error" / "-- Socket listen Error". A listener thread then waits for
// connections (in short slices, so that stop() is prompt); each accepted
// connection gets a thread of its own that hands the stream to the
// engine's serve entry (UCPServeConnection / CIMDServeConnection) under the
// link's name until the centre closes it, it breaks, the gateway shuts
// down or the listener stops. A thread that cannot be started is logged
// ("Error starting thread") and its connection closed.
//
// Owned by the link (its sender thread); start() and stop() are called
// from that thread. stop() (also run by the destructor) ends the listener
// and its connections and waits for them, at most 15 seconds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tls/stream.h"

namespace vek::links {

class ReceivePortListener {
 public:
  // The engine's serve entry; returns the number of frames handled.
  using ServeFn = std::function<int(tls::Stream stream, const std::string& link_name,
                                    const std::string& peer, const std::function<bool()>& stop)>;

  // `label` is "UCP" or "CIMD".
  ReceivePortListener(std::string label, std::string link_name, ServeFn serve);
  ~ReceivePortListener();
  ReceivePortListener(const ReceivePortListener&) = delete;
  ReceivePortListener& operator=(const ReceivePortListener&) = delete;

  // False with `*failure` set when the port could not be opened or the
  // listener thread not started. Port 0 takes any free port (tests).
  bool start(const std::string& bind_ip, uint16_t port, std::string* failure);
  void stop();
  bool running() const;
  // The port listened on (0 when not running).
  uint16_t port() const { return port_; }
  // Connections being served now.
  int connections() const;

 private:
  struct State;
  const std::string label_;
  const std::string link_;
  const ServeFn serve_;
  std::shared_ptr<State> state_;
  uint16_t port_ = 0;
};

}  // namespace vek::links
