#include "links/receive_port.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "platform/shutdown.h"
#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::links {
namespace {

using std::chrono::milliseconds;

// How long one accept waits; short, so that a stop is noticed at once.
constexpr int kAcceptSliceMs = 250;
constexpr auto kStopBound = std::chrono::seconds(15);

}  // namespace

// Shared by the owner, the listener thread and the connection threads, so
// that a thread outliving a timed-out stop() still finds it.
struct ReceivePortListener::State {
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable cv;
  int threads = 0;      // listener and connection threads running
  int connections = 0;  // of which serving a connection

  void enter(bool connection) {
    std::scoped_lock lk(mu);
    ++threads;
    if (connection) ++connections;
  }
  void leave(bool connection) {
    {
      std::scoped_lock lk(mu);
      --threads;
      if (connection) --connections;
    }
    cv.notify_all();
  }
};

ReceivePortListener::ReceivePortListener(std::string label, std::string link_name, ServeFn serve)
    : label_(std::move(label)), link_(std::move(link_name)), serve_(std::move(serve)) {}

ReceivePortListener::~ReceivePortListener() {
  stop();
}

bool ReceivePortListener::running() const {
  return state_ != nullptr;
}

int ReceivePortListener::connections() const {
  if (!state_) return 0;
  std::scoped_lock lk(state_->mu);
  return state_->connections;
}

bool ReceivePortListener::start(const std::string& bind_ip, uint16_t port, std::string* failure) {
  stop();
  auto listening = platform::listenTcp(bind_ip, port, 100);
  if (!listening.ok()) {
    const std::string& why = listening.status().message();
    const char* what = why.rfind("bind", 0) == 0     ? "Socket Bind Error"
                       : why.rfind("listen", 0) == 0 ? "Socket listen Error"
                                                     : "General Socket Error";
    *failure = label_ + " Receive Failure -- " + what;
    foundation::DebugLogf(link_, "%s (%s)", failure->c_str(), why.c_str());
    return false;
  }
  auto fd = std::make_shared<platform::UniqueFd>(std::move(*listening));
  const uint16_t bound = platform::localPort(fd->get());
  auto state = std::make_shared<State>();
  state->enter(false);
  const std::string label = label_, link = link_;
  const ServeFn serve = serve_;
  auto body = [state, fd, label, link, serve] {
    while (!state->stop.load() && !platform::shutdownRequested()) {
      std::string peer;
      auto accepted = platform::acceptConnection(fd->get(), kAcceptSliceMs, &peer);
      if (!accepted.ok()) {
        if (accepted.status().code() != EAGAIN) {
          foundation::DebugLogf(link, "%s Receive: %s", label.c_str(),
                                accepted.status().message().c_str());
          if (!platform::sleepFor(milliseconds(kAcceptSliceMs))) break;
        }
        continue;
      }
      auto conn = std::make_shared<platform::UniqueFd>(std::move(*accepted));
      state->enter(true);
      bool started = foundation::startWorkerThread(label + " Receive connection", [=] {
        platform::setNonBlocking(conn->get(), true);
        auto stop = [state] { return state->stop.load(); };
        try {
          serve(tls::Stream(std::move(*conn)), link, peer, stop);
        } catch (const std::exception& e) {
          foundation::DebugLogf(link, "%s Receive connection from %s: %s", label.c_str(),
                                peer.c_str(), e.what());
        }
        state->leave(true);
      });
      if (!started) {
        state->leave(true);
        foundation::DebugLog(link, "Error starting thread");
      }
    }
    fd->reset();
    state->leave(false);
  };
  if (!foundation::startWorkerThread(label_ + " Receive", body)) {
    state->leave(false);
    *failure = label_ + " Receive Failure -- Error starting thread";
    foundation::DebugLog(link_, *failure);
    return false;
  }
  state_ = std::move(state);
  port_ = bound;
  foundation::DebugLogf(link_, "%s Receive started on port %u", label_.c_str(),
                        static_cast<unsigned>(bound));
  return true;
}

void ReceivePortListener::stop() {
  if (!state_) return;
  state_->stop.store(true);
  {
    std::unique_lock lk(state_->mu);
    if (!state_->cv.wait_for(lk, kStopBound, [&] { return state_->threads == 0; }))
      foundation::DebugLogf(link_, "%s Receive did not stop in time", label_.c_str());
  }
  state_.reset();
  port_ = 0;
}

}  // namespace vek::links
