#include "http/server/event_loop.h"

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <unordered_map>
#include <variant>
#include <vector>

#include "foundation/debug_log.h"
#include "foundation/thread_registry.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "http/server/closing.h"
#include "http/server/connection.h"
#include "http/server/connection_machine.h"
#include "http/server/listeners.h"
#include "http/server/memory_budget.h"
#include "http/server/request_handling.h"
#include "http/server/responses.h"
#include "http/server/send.h"
#include "http/server/server_limits.h"
#include "http/server/worker_pool.h"
#include "platform/clock.h"
#include "platform/half_close.h"
#include "platform/poller.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "tls/stream.h"
#include "tls/tls.h"

namespace vek::http {
namespace {

using foundation::Debug2Log;
using foundation::Debug2Logf;
using foundation::DebugLog;
using foundation::DebugLogf;
using platform::IoStatus;
using platform::SteadyTime;
using namespace std::chrono_literals;

constexpr char kLoopThread[] = "ThreadServeWebConnections";
constexpr char kPlainTag[] = "ThreadProcessConnection";
constexpr char kTlsTag[] = "ThreadProcessSSLConnection";
constexpr char kAdmitTag[] = "ThreadListenForConnections";
// Refusals being answered at once; beyond this a newcomer over a limit is
// closed without an answer.
constexpr size_t kMaxRefusing = 256;
constexpr auto kRefusalDrain = 2000ms;
// A TLS connection cannot be half-closed under its session: what is already
// there is read, then it closes.
constexpr int kTlsDrainReads = 64;
// Reads from one connection before the others get their turn.
constexpr int kReadsPerTurn = 16;
constexpr size_t kReadChunk = 64u << 10;
// Longest wait of the loop, so that the stop flag and configuration changes
// are seen in time.
constexpr auto kLongestWait = 1000ms;
constexpr std::string_view kRetryAfter = "Retry-After: 10\r\n";
// A worker that has answered a kept-alive request waits a moment
// (ListenerTiming::next_request_wait) for the client's next one and runs it
// too, up to kServedInPlace requests, before it hands the connection back:
// a busy client then costs one thread switch a request instead of three.
constexpr int kServedInPlace = 256;

struct LoopConn {
  enum class State { kHandshake, kReading, kAtWorker, kParked, kFlushing, kDraining };

  uint64_t id = 0;
  tls::Stream stream;
  bool tls = false;
  std::string address;
  uint16_t port = 0;
  std::string key;       // the address's key for the per-address counts
  bool exempt = false;   // from the per-address limits
  bool refusal = false;  // a newcomer being refused: counted nowhere
  State state = State::kReading;
  // The budget outlives the machine that draws on it, even when a worker
  // holds the last reference after the loop has gone.
  std::shared_ptr<MemoryBudget> budget;
  std::unique_ptr<ConnectionMachine> machine;

  // Readiness as the poller last reported it (edge-triggered: set by an
  // event, cleared when the socket says "again").
  bool readable = true;
  bool writable = true;
  bool hangup = false;

  // Answer bytes the socket has not taken yet (plain connections). Written
  // by the worker while the request is with it, by the loop otherwise.
  std::string out;
  size_t out_sent = 0;
  bool failed = false;    // a send failed (set by the worker)
  bool then_read = true;  // after flushing: read the next request (else drain)

  SteadyTime until = SteadyTime::max();  // kParked, kFlushing, kDraining
  std::string held_answer;               // kParked
  bool held_keep_alive = false;

  // Book-keeping of the loop.
  SteadyTime armed = SteadyTime::max();  // the timer entry in force
  bool in_idle = false;
  bool in_incomplete = false;
  // A worker set the socket up for its bounded waiting read (set and read by
  // the worker that holds the connection only).
  bool receive_wait = false;
  // No request has begun on it yet: until then it may be dropped for room
  // like an incomplete request, in the order of its arrival.
  bool fresh = true;
  std::list<LoopConn*>::iterator idle_it;
  std::list<LoopConn*>::iterator incomplete_it;
  SteadyTime idle_since;
  bool counted_incomplete = false;
  bool counted = false;  // against MaxHTTPConnections
  bool polled = false;

  const char* tag() const { return tls ? kTlsTag : kPlainTag; }
};

// Where a worker's answer goes: plain connections send what the socket
// takes now and leave the rest to the loop; TLS ones send it all (bounded).
class LoopSink final : public ResponseSink {
 public:
  explicit LoopSink(LoopConn& c) : c_(c) {}
  bool write(std::string_view data) override {
    if (c_.failed) return false;
    if (c_.tls) {
      if (c_.stream.writeAll(data, kSendTimeoutMs) == IoStatus::kOk) return true;
      c_.failed = true;
      return false;
    }
    if (c_.out_sent < c_.out.size()) {
      c_.out.append(data);
      return true;
    }
    c_.out.clear();
    c_.out_sent = 0;
    size_t sent = 0;
    if (platform::sendNow(c_.stream.fd(), data, &sent) != IoStatus::kOk) {
      c_.failed = true;
      return false;
    }
    if (sent < data.size()) c_.out.assign(data.substr(sent));
    return true;
  }

 private:
  LoopConn& c_;
};

struct NewConnection {
  platform::UniqueFd fd;
  std::string address;
  uint16_t port = 0;
  bool tls = false;
};
struct HandshakeDone {
  uint64_t id = 0;
  tls::Stream stream;  // invalid when the handshake failed
};
struct WorkDone {
  uint64_t id = 0;
  bool head_check = false;
  // The worker answered and read on: the machine is no longer dispatched.
  // `started`: a request began there and is not whole; `pending`: the step
  // the machine gave that the worker left to the loop.
  bool resumed = false;
  bool started = false;
  std::optional<ConnectionMachine::Step> pending;
  Verdict verdict = Verdict::kFullBody;
  bool keep_alive = false;
  bool held = false;
  std::chrono::milliseconds delay{0};
  std::string held_answer;
};
// The next request of a kept-alive plain connection, read by the worker
// that answered the last one: waits up to `wait_ms` for its bytes, and
// returns it only when it is whole in what arrived at once. Otherwise the
// connection goes back to the loop with what the worker learned in `done`.
std::optional<Request> nextRequestOnWorker(LoopConn& c, const std::atomic<size_t>& backlog,
                                           int wait_ms, WorkDone* done) {
  ConnectionMachine& m = *c.machine;
  thread_local std::vector<char> scratch(kReadChunk);
  bool waited = false;
  for (int reads = 0; reads < kReadsPerTurn; ++reads) {
    const SteadyTime now = platform::monotonicNow();
    const ConnectionMachine::Step step = m.step(now);
    if (step == ConnectionMachine::Step::kStarted) {
      done->started = true;
      continue;
    }
    if (step == ConnectionMachine::Step::kRequestReady) {
      done->started = false;
      return m.takeRequest();
    }
    if (step != ConnectionMachine::Step::kWantBytes) {
      done->pending = step;
      return std::nullopt;
    }
    if (m.readLimit() == 0) return std::nullopt;
    const size_t room = std::min(m.readLimit(), scratch.size());
    size_t got = 0;
    IoStatus st;
    if (!waited && wait_ms > 0 && m.phase() == ConnectionMachine::Phase::kIdle &&
        m.buffered() == 0 && backlog.load(std::memory_order_relaxed) == 0) {
      // An idle connection is waited for, once, and only while no other
      // connection's request waits for a worker: one read that sleeps until
      // the bytes come (the socket's receive time-out bounds it). The wait
      // is in real time even under a test clock: a guess at the client's
      // pace, not a deadline, and it must not outlast it. The loop's own
      // reads and writes never wait, whatever the socket's mode.
      waited = true;
      if (!c.receive_wait) {
        platform::setReceiveWait(c.stream.fd(), wait_ms);
        c.receive_wait = true;
      }
      st = platform::recvWaiting(c.stream.fd(), scratch.data(), room, &got);
    } else {
      st = platform::recvNow(c.stream.fd(), scratch.data(), room, &got);
    }
    // Nothing (more) now, or the end, which the loop sees and closes on.
    if (st != IoStatus::kOk) return std::nullopt;
    m.received(std::string_view(scratch.data(), got), platform::monotonicNow());
  }
  return std::nullopt;
}

// Runs `req` on a worker thread, then, while the client sends its next
// request at once on a plain kept-alive connection, that one too (bounded).
void serveOnWorker(LoopConn& c, Request req, const std::atomic<size_t>& backlog, int wait_ms,
                   WorkDone* done) {
  for (int served = 1;; ++served) {
    {
      LoopSink sink(c);
      Connection conn(sink, c.tls);
      conn.remote_address = c.address;
      conn.remote_port = c.port;
      serveRequest(conn, req);
      done->keep_alive = conn.keep_alive;
      done->held = conn.answerHeld();
      done->delay = conn.heldDelay();
      done->held_answer = conn.takeHeldAnswer();
    }
    if (!done->keep_alive || done->held || c.failed || c.tls || !c.out.empty() ||
        served >= kServedInPlace || platform::shutdownRequested())
      return;
    c.machine->requestDone(platform::monotonicNow());
    done->resumed = true;
    std::optional<Request> next = nextRequestOnWorker(c, backlog, wait_ms, done);
    if (!next) return;
    done->resumed = false;
    req = std::move(*next);
  }
}

using Message = std::variant<NewConnection, HandshakeDone, WorkDone>;

class EventLoop : public std::enable_shared_from_this<EventLoop> {
 public:
  EventLoop() = default;
  bool valid() const { return poller_.valid(); }
  bool stopped() const { return stopped_.load(); }
  // Queues `m` for the loop; false (m untouched) once the loop has stopped.
  bool post(Message&& m);
  void wake() { poller_.wake(); }
  void run();
  ServerStats stats() const;
  bool awaitTurn(uint64_t after, std::chrono::milliseconds bound);

 private:
  using ConnPtr = std::shared_ptr<LoopConn>;

  void refreshLimits();
  void handle(Message& m, SteadyTime now);
  void admit(NewConnection& nc, SteadyTime now);
  bool makeRoom(SteadyTime now);
  void refuseNewcomer(NewConnection& nc, std::string_view text, SteadyTime now);
  void startHandshake(const ConnPtr& c, platform::UniqueFd fd);
  void handshakeDone(HandshakeDone& hd, SteadyTime now);
  void workDone(WorkDone& wd, SteadyTime now);
  void startReading(const ConnPtr& c, SteadyTime now);

  void advance(const ConnPtr& c, SteadyTime now);
  void pump(const ConnPtr& c, SteadyTime now,
            std::optional<ConnectionMachine::Step> first = std::nullopt);
  void requestStarted(const ConnPtr& c, SteadyTime now);
  void submitHead(const ConnPtr& c);
  void submitRequest(const ConnPtr& c);
  void refuseRequest(const ConnPtr& c, std::string_view response, SteadyTime now);
  void afterAnswer(const ConnPtr& c, bool keep_alive, SteadyTime now);
  bool sendFromLoop(const ConnPtr& c, std::string_view data);
  void flush(const ConnPtr& c, SteadyTime now);
  void startDrain(const ConnPtr& c, SteadyTime now);
  void drain(const ConnPtr& c, SteadyTime now);
  void expire(const ConnPtr& c, SteadyTime now);
  void close(const ConnPtr& c);

  void sync(LoopConn& c, SteadyTime now);
  SteadyTime deadlineOf(const LoopConn& c) const;
  void runTimers(SteadyTime now);
  SteadyTime nextWake(SteadyTime now) const;
  void publishStats();
  void shutDown();

  platform::Poller poller_;
  std::mutex inbox_mu_;
  std::vector<Message> inbox_;
  std::atomic<bool> stopped_{false};

  std::unordered_map<uint64_t, ConnPtr> conns_;
  uint64_t next_id_ = 1;
  struct AddressUse {
    size_t connections = 0;
    size_t incomplete = 0;
  };
  std::unordered_map<std::string, AddressUse> addresses_;
  std::list<LoopConn*> idle_;  // by the time they became idle, oldest first
  // Fresh connections by arrival, and incomplete requests by the time they
  // began (a fresh one keeps its place when its request begins); oldest
  // first.
  std::list<LoopConn*> incomplete_;
  using TimerEntry = std::pair<SteadyTime, uint64_t>;
  std::priority_queue<TimerEntry, std::vector<TimerEntry>, std::greater<>> timers_;
  std::vector<ConnPtr> again_;  // readable connections that yielded their turn
  size_t counted_ = 0;
  size_t parked_ = 0;
  size_t refusing_ = 0;
  size_t incomplete_count_ = 0;
  size_t at_workers_ = 0;

  bool limits_read_ = false;
  std::shared_ptr<const hostlib::IniFile> ini_seen_;
  ServerLimits limits_;
  MachineLimits machine_limits_;
  ListenerTiming timing_;
  std::shared_ptr<MemoryBudget> budget_ = std::make_shared<MemoryBudget>();
  WorkerPool workers_;
  std::vector<char> scratch_ = std::vector<char>(kReadChunk);

  mutable std::mutex stats_mu_;
  std::condition_variable stats_cv_;
  ServerStats stats_;
};

bool EventLoop::post(Message&& m) {
  std::scoped_lock lk(inbox_mu_);
  if (stopped_) return false;
  // A non-empty inbox has woken the loop already; it takes the whole inbox
  // at once.
  const bool first = inbox_.empty();
  inbox_.push_back(std::move(m));
  if (first) poller_.wake();
  return true;
}

ServerStats EventLoop::stats() const {
  std::scoped_lock lk(stats_mu_);
  return stats_;
}

bool EventLoop::awaitTurn(uint64_t after, std::chrono::milliseconds bound) {
  std::unique_lock lk(stats_mu_);
  return platform::waitFor(lk, stats_cv_, bound,
                           [&] { return stats_.iterations > after || stopped(); }) &&
         !stopped();
}

void EventLoop::refreshLimits() {
  auto ini = hostlib::smsIni().current();
  if (limits_read_ && ini == ini_seen_) return;
  limits_read_ = true;
  ini_seen_ = ini;
  limits_ = serverLimitsFromConfiguration();
  timing_ = listenerTiming();
  machine_limits_.message = limits_.message;
  machine_limits_.head_timeout = limits_.head_timeout;
  machine_limits_.min_body_rate = limits_.min_body_rate;
  machine_limits_.unauthenticated_body = limits_.unauthenticated_body;
  budget_->setLimit(limits_.body_memory);
  workers_.setMaxThreads(limits_.workers);
  workers_.setIdleTimeout(timing_.pool_idle);
}

void EventLoop::run() {
  refreshLimits();
  std::vector<platform::PollEvent> events;
  std::vector<Message> batch;
  while (!platform::shutdownRequested()) {
    SteadyTime now = platform::monotonicNow();
    poller_.wait(again_.empty() ? nextWake(now) : now, &events);
    now = platform::monotonicNow();
    refreshLimits();
    for (const platform::PollEvent& ev : events) {
      auto it = conns_.find(ev.token);
      if (it == conns_.end()) continue;
      ConnPtr c = it->second;
      c->readable |= ev.readable;
      c->writable |= ev.writable;
      c->hangup |= ev.hangup;
      advance(c, now);
    }
    std::vector<ConnPtr> again = std::move(again_);
    again_.clear();
    for (const ConnPtr& c : again)
      if (conns_.count(c->id)) advance(c, now);
    {
      std::scoped_lock lk(inbox_mu_);
      batch.swap(inbox_);
    }
    for (Message& m : batch) handle(m, now);
    batch.clear();
    runTimers(now);
    publishStats();
  }
  shutDown();
}

SteadyTime EventLoop::nextWake(SteadyTime now) const {
  SteadyTime wake = now + kLongestWait;
  if (!timers_.empty() && timers_.top().first < wake) wake = timers_.top().first;
  return wake;
}

void EventLoop::handle(Message& m, SteadyTime now) {
  if (auto* nc = std::get_if<NewConnection>(&m)) {
    admit(*nc, now);
  } else if (auto* hd = std::get_if<HandshakeDone>(&m)) {
    handshakeDone(*hd, now);
  } else if (auto* wd = std::get_if<WorkDone>(&m)) {
    workDone(*wd, now);
  }
}

// Admission

void EventLoop::admit(NewConnection& nc, SteadyTime now) {
  std::string key = addressKey(nc.address);
  bool exempt = exemptFromAddressLimits(limits_, nc.address);
  if (!exempt && limits_.max_per_address != 0) {
    auto it = addresses_.find(key);
    if (it != addresses_.end() && it->second.connections >= limits_.max_per_address) {
      DebugLogf(kAdmitTag, "Connection limit for %s reached, refusing", nc.address.c_str());
      refuseNewcomer(nc, "Too many connections from your address, please try again later.", now);
      return;
    }
  }
  if (counted_ >= limits_.max_connections && !makeRoom(now)) {
    DebugLogf(kAdmitTag, "Connection limit reached, refusing %s", nc.address.c_str());
    refuseNewcomer(nc, "Too many connections, please try again later.", now);
    return;
  }
  auto c = std::make_shared<LoopConn>();
  c->id = next_id_++;
  c->tls = nc.tls;
  c->address = std::move(nc.address);
  c->port = nc.port;
  c->key = std::move(key);
  c->exempt = exempt;
  c->budget = budget_;
  c->machine = std::make_unique<ConnectionMachine>(machine_limits_, budget_.get(), now);
  c->counted = true;
  ++counted_;
  ++addresses_[c->key].connections;
  conns_.emplace(c->id, c);
  DebugLogf(c->tag(), "Processing connection from %s:%u...", c->address.c_str(), c->port);
  if (c->tls) {
    startHandshake(c, std::move(nc.fd));
    return;
  }
  c->stream = tls::Stream(std::move(nc.fd));
  startReading(c, now);
}

// The server is full: the connection idle longest goes when it has been
// idle reclaim_after (a kept-alive client between two requests is not
// pushed out by a burst), else the oldest connection without a whole
// request (one that has sent nothing yet, or an incomplete request),
// whatever its age: clients that trickle bytes or stay silent and
// reconnect at once would otherwise keep every slot young and every
// newcomer out. The newcomer is the youngest, so it is the last to go.
bool EventLoop::makeRoom(SteadyTime now) {
  if (!idle_.empty()) {
    LoopConn* c = idle_.front();
    if (now - c->idle_since >= timing_.reclaim_after) {
      Debug2Logf(kAdmitTag, "Closing the longest idle connection (%s) to make room",
                 c->address.c_str());
      close(conns_.at(c->id));
      return true;
    }
  }
  if (!incomplete_.empty()) {
    LoopConn* c = incomplete_.front();
    DebugLogf(kAdmitTag, "Dropping the oldest incomplete request (%s, %zu bytes) to make room",
              c->address.c_str(), c->machine->buffered());  // 0 bytes: it had sent nothing
    close(conns_.at(c->id));
    return true;
  }
  return false;
}

void EventLoop::refuseNewcomer(NewConnection& nc, std::string_view text, SteadyTime now) {
  // TLS newcomers are closed: answering would cost a handshake.
  if (nc.tls || refusing_ >= kMaxRefusing) return;  // nc.fd closes
  auto c = std::make_shared<LoopConn>();
  c->id = next_id_++;
  c->refusal = true;
  c->address = std::move(nc.address);
  c->stream = tls::Stream(std::move(nc.fd));
  if (!poller_.add(c->stream.fd(), c->id).ok()) return;
  c->polled = true;
  ++refusing_;
  conns_.emplace(c->id, c);
  c->out = closingStatusResponse("503 Service Unavailable", text, kRetryAfter);
  c->then_read = false;
  c->state = LoopConn::State::kFlushing;
  c->until = now + kRefusalDrain;
  flush(c, now);
}

void EventLoop::startHandshake(const ConnPtr& c, platform::UniqueFd fd) {
  c->state = LoopConn::State::kHandshake;
  auto box = std::make_shared<platform::UniqueFd>(std::move(fd));
  std::weak_ptr<EventLoop> self = weak_from_this();
  const uint64_t id = c->id;
  const int wait_ms = static_cast<int>(timing_.handshake.count());
  bool started = foundation::startWorkerThread(kTlsTag, [box, self, id, wait_ms] {
    std::string error;
    HandshakeDone done;
    done.id = id;
    if (tls::TlsSession* session = tls::sslAcceptSession(box->get(), wait_ms, &error)) {
      done.stream = tls::Stream(std::move(*box), tls::SessionPtr(session));
    } else {
      DebugLog(kTlsTag, error);
    }
    if (auto loop = self.lock()) (void)loop->post(std::move(done));
  });
  if (!started) {
    DebugLog(kAdmitTag, "Error starting thread");
    close(c);
  }
}

void EventLoop::handshakeDone(HandshakeDone& hd, SteadyTime now) {
  auto it = conns_.find(hd.id);
  if (it == conns_.end()) return;
  ConnPtr c = it->second;
  if (!hd.stream.valid()) {
    close(c);
    return;
  }
  c->stream = std::move(hd.stream);
  startReading(c, now);
}

void EventLoop::startReading(const ConnPtr& c, SteadyTime now) {
  if (!poller_.add(c->stream.fd(), c->id).ok()) {
    DebugLog(c->tag(), "Unable to watch the connection");
    close(c);
    return;
  }
  c->polled = true;
  c->state = LoopConn::State::kReading;
  pump(c, now);
}

// Reading

void EventLoop::advance(const ConnPtr& c, SteadyTime now) {
  switch (c->state) {
    case LoopConn::State::kReading:
      pump(c, now);
      break;
    case LoopConn::State::kFlushing:
      flush(c, now);
      break;
    case LoopConn::State::kDraining:
      drain(c, now);
      break;
    case LoopConn::State::kParked:
      // A client that gave up waiting frees its connection now.
      if (c->hangup) close(c);
      break;
    case LoopConn::State::kHandshake:
    case LoopConn::State::kAtWorker:
      break;  // the readiness is remembered for later
  }
}

void EventLoop::pump(const ConnPtr& c, SteadyTime now,
                     std::optional<ConnectionMachine::Step> first) {
  ConnectionMachine& m = *c->machine;
  int reads = 0;
  for (;;) {
    switch (first ? *std::exchange(first, std::nullopt) : m.step(now)) {
      case ConnectionMachine::Step::kStarted:
        requestStarted(c, now);
        if (c->state != LoopConn::State::kReading) return;
        continue;
      case ConnectionMachine::Step::kCheckHead:
        submitHead(c);
        return;
      case ConnectionMachine::Step::kSendContinue:
        if (!sendFromLoop(c, ConnectionMachine::kContinueResponse)) return;
        continue;
      case ConnectionMachine::Step::kRequestReady:
        submitRequest(c);
        return;
      case ConnectionMachine::Step::kRefused: {
        const auto& r = m.refusal();
        DebugLogf(c->tag(), "Request refused (%s): %s", r.status, r.reason);
        refuseRequest(c, closingStatusResponse(r.status, r.text, r.retry_later ? kRetryAfter : ""),
                      now);
        return;
      }
      case ConnectionMachine::Step::kWaiting:
        sync(*c, now);
        return;
      case ConnectionMachine::Step::kWantBytes:
        break;
    }
    if (!c->readable || m.readLimit() == 0) break;
    if (++reads > kReadsPerTurn) {
      again_.push_back(c);
      break;
    }
    size_t got = 0;
    size_t room = std::min(m.readLimit(), scratch_.size());
    IoStatus st = c->tls ? c->stream.readSome(scratch_.data(), room, 0, &got)
                         : platform::recvNow(c->stream.fd(), scratch_.data(), room, &got);
    if (st == IoStatus::kTimeout) {
      c->readable = false;
      break;
    }
    if (st != IoStatus::kOk) {
      if (m.buffered() > 0) {
        DebugLogf("ProcessRead", "Received %zu bytes - incomplete HTTP request", m.buffered());
      } else {
        Debug2Log("ProcessRead", "End of socket");
      }
      close(c);
      return;
    }
    m.received(std::string_view(scratch_.data(), got), now);
  }
  // Answer bytes of an earlier step (100 Continue) still going out.
  if (c->out_sent < c->out.size() && c->writable) flush(c, now);
  if (conns_.count(c->id)) sync(*c, now);
}

void EventLoop::requestStarted(const ConnPtr& c, SteadyTime now) {
  if (c->exempt || limits_.max_incomplete_per_address == 0) return;
  auto it = addresses_.find(c->key);
  if (it == addresses_.end() || it->second.incomplete < limits_.max_incomplete_per_address) return;
  DebugLogf(c->tag(), "Too many incomplete requests from %s, refusing one", c->address.c_str());
  refuseRequest(c,
                closingStatusResponse("503 Service Unavailable",
                                      "Too many requests in progress from your address, please "
                                      "try again later.",
                                      kRetryAfter),
                now);
}

void EventLoop::submitHead(const ConnPtr& c) {
  Request head;
  head.message = std::string(c->machine->head());
  head.body_offset = head.message.size();
  c->state = LoopConn::State::kAtWorker;
  ++at_workers_;
  sync(*c, platform::monotonicNow());
  std::weak_ptr<EventLoop> self = weak_from_this();
  bool queued = workers_.submit([self, c, head = std::move(head)](bool cancelled) {
    WorkDone done;
    done.id = c->id;
    done.head_check = true;
    done.verdict = Verdict::kAnswered;
    if (!cancelled) {
      LoopSink sink(*c);
      Connection conn(sink, c->tls);
      conn.remote_address = c->address;
      conn.remote_port = c->port;
      done.verdict = checkRequestHead(conn, head);
      done.keep_alive = conn.keep_alive;
      done.held = conn.answerHeld();
      done.delay = conn.heldDelay();
      done.held_answer = conn.takeHeldAnswer();
    }
    if (auto loop = self.lock()) (void)loop->post(std::move(done));
  });
  if (!queued) {
    --at_workers_;
    close(c);
  }
}

void EventLoop::submitRequest(const ConnPtr& c) {
  Request req = c->machine->takeRequest();
  // While the worker has it the loop does not watch the socket: its
  // answers and the client's next requests would each wake the loop for
  // nothing. Handed back, it is watched again and any readiness reported.
  if (!c->tls && c->polled) {
    poller_.remove(c->stream.fd());
    c->polled = false;
  }
  c->state = LoopConn::State::kAtWorker;
  ++at_workers_;
  sync(*c, platform::monotonicNow());
  std::weak_ptr<EventLoop> self = weak_from_this();
  const int wait_ms = static_cast<int>(timing_.next_request_wait.count());
  bool queued = workers_.submit([self, c, backlog = workers_.backlog(), wait_ms,
                                 req = std::move(req)](bool cancelled) mutable {
    WorkDone done;
    done.id = c->id;
    if (!cancelled) serveOnWorker(*c, std::move(req), *backlog, wait_ms, &done);
    if (auto loop = self.lock()) (void)loop->post(std::move(done));
  });
  if (!queued) {
    --at_workers_;
    close(c);
  }
}

void EventLoop::workDone(WorkDone& wd, SteadyTime now) {
  auto it = conns_.find(wd.id);
  if (it == conns_.end()) return;
  ConnPtr c = it->second;
  if (c->state != LoopConn::State::kAtWorker) return;
  --at_workers_;
  if (c->failed) {
    close(c);
    return;
  }
  if (!c->polled) {
    if (!poller_.add(c->stream.fd(), c->id).ok()) {
      DebugLog(c->tag(), "Unable to watch the connection");
      close(c);
      return;
    }
    c->polled = true;
    c->readable = c->writable = true;  // edge-triggered: ask the socket
  }
  if (wd.resumed) {
    // Answered and read on by the worker (which took bytes from the socket
    // since it was last watched): reading continues here.
    c->state = LoopConn::State::kReading;
    if (platform::shutdownRequested()) {
      close(c);
      return;
    }
    if (wd.started) {
      requestStarted(c, now);
      if (c->state != LoopConn::State::kReading) return;
    }
    pump(c, now, wd.pending);
    return;
  }
  if (wd.head_check) {
    c->machine->headVerdict(wd.verdict, now);
    if (wd.verdict != Verdict::kAnswered) {
      c->state = LoopConn::State::kReading;
      pump(c, now);
      return;
    }
  } else {
    c->machine->requestDone(now);
  }
  if (wd.held) {
    // The failed-login delay: no thread waits, and the connection no longer
    // counts against MaxHTTPConnections.
    c->state = LoopConn::State::kParked;
    c->until = now + wd.delay;
    c->held_answer = std::move(wd.held_answer);
    c->held_keep_alive = wd.keep_alive;
    sync(*c, now);
    if (c->hangup) close(c);
    return;
  }
  afterAnswer(c, wd.keep_alive, now);
}

// Answering and closing

void EventLoop::refuseRequest(const ConnPtr& c, std::string_view response, SteadyTime now) {
  if (!sendFromLoop(c, response)) return;
  afterAnswer(c, false, now);
}

// The answer has been written (or queued): flush what is left, then read
// the next request or end the connection.
void EventLoop::afterAnswer(const ConnPtr& c, bool keep_alive, SteadyTime now) {
  c->then_read = keep_alive && !platform::shutdownRequested();
  c->state = LoopConn::State::kFlushing;
  c->until = now + std::chrono::milliseconds(kSendTimeoutMs);
  flush(c, now);
}

// Writes from the loop itself (100 Continue, refusals, held answers).
// False when the connection failed and has been closed.
bool EventLoop::sendFromLoop(const ConnPtr& c, std::string_view data) {
  if (c->tls) {
    // Small answers: the socket's buffer takes them, or the client is not
    // reading and loses its connection.
    if (c->stream.writeAll(data, 0) == IoStatus::kOk) return true;
    close(c);
    return false;
  }
  c->out.append(data);
  return true;
}

void EventLoop::flush(const ConnPtr& c, SteadyTime now) {
  if (!c->tls) {
    while (c->out_sent < c->out.size()) {
      if (!c->writable) {
        sync(*c, now);
        return;
      }
      size_t sent = 0;
      std::string_view rest = std::string_view(c->out).substr(c->out_sent);
      if (platform::sendNow(c->stream.fd(), rest, &sent) != IoStatus::kOk) {
        close(c);
        return;
      }
      c->out_sent += sent;
      if (sent < rest.size()) c->writable = false;
    }
    std::string().swap(c->out);
    c->out_sent = 0;
  }
  if (c->state != LoopConn::State::kFlushing) return;
  if (!c->then_read) {
    startDrain(c, now);
    return;
  }
  c->state = LoopConn::State::kReading;
  pump(c, now);
}

void EventLoop::startDrain(const ConnPtr& c, SteadyTime now) {
  if (c->tls) {
    char buf[500];
    size_t got = 0;
    for (int i = 0;
         i < kTlsDrainReads && c->stream.readSome(buf, sizeof buf, 0, &got) == IoStatus::kOk; ++i) {
    }
    close(c);
    return;
  }
  platform::shutdownSending(c->stream.fd());
  c->state = LoopConn::State::kDraining;
  c->until = now + (c->refusal ? kRefusalDrain : kGracefulCloseBound);
  drain(c, now);
}

void EventLoop::drain(const ConnPtr& c, SteadyTime now) {
  for (int i = 0; c->readable && i < kReadsPerTurn; ++i) {
    size_t got = 0;
    IoStatus st = platform::recvNow(c->stream.fd(), scratch_.data(), scratch_.size(), &got);
    if (st == IoStatus::kTimeout) {
      c->readable = false;
      break;
    }
    if (st != IoStatus::kOk) {
      Debug2Log("WaitForSocketClose", "WinSock reported recv complete");
      close(c);
      return;
    }
  }
  if (c->readable) again_.push_back(c);
  sync(*c, now);
}

void EventLoop::expire(const ConnPtr& c, SteadyTime now) {
  switch (c->state) {
    case LoopConn::State::kReading: {
      ConnectionMachine& m = *c->machine;
      if (m.phase() == ConnectionMachine::Phase::kIdle) {
        Debug2Logf(c->tag(), "Closing idle connection from %s", c->address.c_str());
      } else {
        DebugLogf("ProcessRead", "Received %zu bytes - incomplete HTTP request", m.buffered());
        DebugLog("ProcessRead", platform::singleLine(m.bufferedBytes().substr(0, 1000)));
        DebugLogf(c->tag(), "Request from %s too slow (%s), connection closed", c->address.c_str(),
                  m.phase() == ConnectionMachine::Phase::kBody ? "body" : "head");
      }
      close(c);
      return;
    }
    case LoopConn::State::kParked: {
      c->state = LoopConn::State::kFlushing;  // counted again while it answers
      sync(*c, now);
      std::string answer = std::move(c->held_answer);
      if (!sendFromLoop(c, answer)) return;
      afterAnswer(c, c->held_keep_alive, now);
      return;
    }
    case LoopConn::State::kFlushing:
      DebugLogf("SendData", "Error on send data (time-out) to %s", c->address.c_str());
      close(c);
      return;
    case LoopConn::State::kDraining:
      Debug2Log("WaitForSocketClose", "Gave up waiting for the peer to close");
      close(c);
      return;
    case LoopConn::State::kHandshake:
    case LoopConn::State::kAtWorker:
      return;
  }
}

void EventLoop::close(const ConnPtr& c) {
  auto it = conns_.find(c->id);
  if (it == conns_.end()) return;
  if (c->in_idle) idle_.erase(c->idle_it);
  if (c->in_incomplete) incomplete_.erase(c->incomplete_it);
  c->in_idle = c->in_incomplete = false;
  if (c->refusal) {
    --refusing_;
  } else {
    auto a = addresses_.find(c->key);
    if (a != addresses_.end()) {
      --a->second.connections;
      if (c->counted_incomplete) --a->second.incomplete;
      if (a->second.connections == 0) addresses_.erase(a);
    }
    if (c->counted_incomplete) --incomplete_count_;
    if (c->counted) --counted_;
    if (c->state == LoopConn::State::kParked) --parked_;
  }
  if (c->state == LoopConn::State::kAtWorker) --at_workers_;
  c->counted_incomplete = c->counted = false;
  if (c->polled) poller_.remove(c->stream.fd());
  // A connection with a worker or in its handshake is closed by its holder.
  if (c->state != LoopConn::State::kAtWorker && c->state != LoopConn::State::kHandshake)
    c->stream.close();
  if (!c->refusal) DebugLog(c->tag(), "Request processing complete");
  conns_.erase(it);
}

// Book-keeping

// Brings the lists, the counts and the timer of `c` in line with its state.
void EventLoop::sync(LoopConn& c, SteadyTime now) {
  if (c.refusal) {
    SteadyTime d = deadlineOf(c);
    if (d < c.armed) {
      c.armed = d;
      timers_.emplace(d, c.id);
    }
    return;
  }
  const bool reading = c.state == LoopConn::State::kReading;
  const auto phase = c.machine->phase();
  if (!reading || phase != ConnectionMachine::Phase::kIdle) c.fresh = false;
  const bool idle = (reading && phase == ConnectionMachine::Phase::kIdle && !c.fresh) ||
                    c.state == LoopConn::State::kDraining;
  const bool droppable = reading && (c.fresh || c.machine->incomplete());
  const bool incomplete =
      (reading && c.machine->incomplete()) ||
      (c.state == LoopConn::State::kAtWorker && phase == ConnectionMachine::Phase::kCheck);
  const bool counted = c.state != LoopConn::State::kParked;

  if (idle != c.in_idle) {
    if (idle) {
      c.idle_since = now;
      c.idle_it = idle_.insert(idle_.end(), &c);
    } else {
      idle_.erase(c.idle_it);
    }
    c.in_idle = idle;
  }
  if (droppable != c.in_incomplete) {
    if (droppable) {
      c.incomplete_it = incomplete_.insert(incomplete_.end(), &c);
    } else {
      incomplete_.erase(c.incomplete_it);
    }
    c.in_incomplete = droppable;
  }
  if (incomplete != c.counted_incomplete) {
    auto& use = addresses_[c.key];
    if (incomplete) {
      ++use.incomplete;
      ++incomplete_count_;
    } else {
      --use.incomplete;
      --incomplete_count_;
    }
    c.counted_incomplete = incomplete;
  }
  if (counted != c.counted) {
    if (counted) {
      ++counted_;
      --parked_;
    } else {
      --counted_;
      ++parked_;
    }
    c.counted = counted;
  }
  SteadyTime d = deadlineOf(c);
  if (d < c.armed) {
    c.armed = d;
    timers_.emplace(d, c.id);
  }
}

SteadyTime EventLoop::deadlineOf(const LoopConn& c) const {
  switch (c.state) {
    case LoopConn::State::kReading:
      return c.machine->deadline();
    case LoopConn::State::kParked:
    case LoopConn::State::kFlushing:
    case LoopConn::State::kDraining:
      return c.until;
    case LoopConn::State::kHandshake:
    case LoopConn::State::kAtWorker:
      return SteadyTime::max();
  }
  return SteadyTime::max();
}

// Timer entries are never removed: an entry whose connection is gone, or
// whose time is no longer the connection's armed time, is skipped; a
// deadline that moved later (a body that kept its rate) is armed again.
void EventLoop::runTimers(SteadyTime now) {
  while (!timers_.empty() && timers_.top().first <= now) {
    auto [when, id] = timers_.top();
    timers_.pop();
    auto it = conns_.find(id);
    if (it == conns_.end() || it->second->armed != when) continue;
    ConnPtr c = it->second;
    c->armed = SteadyTime::max();
    SteadyTime d = deadlineOf(*c);
    if (d > now) {
      if (d != SteadyTime::max()) {
        c->armed = d;
        timers_.emplace(d, id);
      }
      continue;
    }
    expire(c, now);
  }
}

void EventLoop::publishStats() {
  std::scoped_lock lk(stats_mu_);
  stats_.running = true;
  stats_.connections = conns_.size() - refusing_;
  stats_.counted = counted_;
  stats_.parked = parked_;
  stats_.incomplete = incomplete_count_;
  stats_.at_workers = at_workers_;
  stats_.worker_threads = workers_.threads();
  stats_.budget_used = budget_->used();
  ++stats_.iterations;
  stats_cv_.notify_all();
}

void EventLoop::shutDown() {
  {
    std::scoped_lock lk(inbox_mu_);
    stopped_ = true;
    inbox_.clear();  // newcomers close; workers' connections are theirs to close
  }
  std::vector<ConnPtr> all;
  all.reserve(conns_.size());
  for (auto& [id, c] : conns_) all.push_back(c);
  for (const ConnPtr& c : all) close(c);
  workers_.stop();
  {
    std::scoped_lock lk(stats_mu_);
    stats_ = ServerStats{};
  }
  stats_cv_.notify_all();
}

std::mutex g_loop_mu;
std::shared_ptr<EventLoop> g_loop;

std::shared_ptr<EventLoop> runningLoop(bool start) {
  std::scoped_lock lk(g_loop_mu);
  if (g_loop && !g_loop->stopped()) return g_loop;
  if (!start || platform::shutdownRequested()) return nullptr;
  auto loop = std::make_shared<EventLoop>();
  if (!loop->valid()) {
    DebugLog(kAdmitTag, "Unable to create the event loop");
    return nullptr;
  }
  if (!foundation::startWorkerThread(kLoopThread, [loop] { loop->run(); })) {
    DebugLog(kAdmitTag, "Error starting thread");
    return nullptr;
  }
  g_loop = loop;
  return loop;
}

}  // namespace

void adoptConnection(platform::UniqueFd fd, std::string address, uint16_t port, bool tls) {
  std::shared_ptr<EventLoop> loop = runningLoop(true);
  if (!loop) return;  // fd closes
  Message m = NewConnection{std::move(fd), std::move(address), port, tls};
  (void)loop->post(std::move(m));
}

void wakeEventLoop() {
  if (auto loop = runningLoop(false)) loop->wake();
}

ServerStats serverStats() {
  auto loop = runningLoop(false);
  return loop ? loop->stats() : ServerStats{};
}

bool awaitLoopTurn(uint64_t after, std::chrono::milliseconds bound) {
  auto loop = runningLoop(false);
  return loop && loop->awaitTurn(after, bound);
}

}  // namespace vek::http
