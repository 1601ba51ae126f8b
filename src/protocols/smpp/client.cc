#include "protocols/smpp/client.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/snapshot.h"
#include "platform/socket.h"
#include "protocols/smpp/session.h"
#include "protocols/smpp/tlv.h"

namespace vek::smpp {

namespace {

constexpr int kConnectTimeoutMs = 30000;
constexpr milliseconds kUnbindTimeout{5000};
// Received messages waiting for SMPPReceiveFromAsyncQ, per link. Beyond this
// the centre is told to retry later (ESME_RMSGQFUL) rather than queue without end.
constexpr size_t kMaxAsyncQueue = 10000;

platform::Snapshot<ReceiveMessageCallback>& receiveCallback() {
  static platform::Snapshot<ReceiveMessageCallback> cb;
  return cb;
}

// Answers to messages handed to the asynchronous receive queue. A worker
// stores the message first and then leaves its answer here; the thread that
// drives the connection sends it (only that thread writes to the stream).
// One box per connection attempt: answers for a connection that has gone
// are dropped, and the centre delivers those messages again.
struct ReplyBox {
  std::mutex mu;
  std::vector<Pdu> ready;
  std::atomic<size_t> waiting{0};  // queued, not answered yet
};

struct AsyncItem {
  InboundMessage message;
  Pdu response;
  std::weak_ptr<ReplyBox> box;
};

struct AsyncQueue {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<AsyncItem> items;
};

std::shared_ptr<AsyncQueue> asyncQueue(const std::string& link) {
  static std::mutex mu;
  static std::unordered_map<std::string, std::shared_ptr<AsyncQueue>> queues;
  std::scoped_lock lk(mu);
  auto& q = queues[link];
  if (!q) q = std::make_shared<AsyncQueue>();
  return q;
}

int deliver(const InboundMessage& m) {
  auto cb = receiveCallback().get();
  if (!*cb) return 0;
  return (*cb)(m);
}

}  // namespace

// The client side of a session: answers what a message centre sends.
class ClientSession final : public Session {
 public:
  ClientSession() : Session(Side::kClient) {}
  bool async_receive = false;
  std::shared_ptr<ReplyBox> replies = std::make_shared<ReplyBox>();

  // Sends the answers the workers left; the number sent.
  int flushReplies() {
    std::vector<Pdu> ready;
    {
      std::scoped_lock lk(replies->mu);
      ready.swap(replies->ready);
    }
    for (const Pdu& p : ready) {
      if (!alive()) break;
      send(p);
    }
    return static_cast<int>(ready.size());
  }
  bool repliesDue() const { return replies->waiting.load() > 0; }

 protected:
  void onRequest(const Pdu& pdu) override {
    switch (pdu.command_id) {
      case cmd::kDeliverSm:
      case cmd::kDataSm:
        onMessage(pdu);
        return;
      case cmd::kAlertNotification:
        foundation::DebugLogf("SMPPConnection", "%s: alert_notification for %s", name().c_str(),
                              pdu.source.addr.c_str());
        return;
      case cmd::kOutbind:
        foundation::DebugLogf("SMPPConnection", "%s: outbind ignored on a bound connection",
                              name().c_str());
        return;
      default:
        send(makeResponse(pdu, status::kInvCmdId));
        return;
    }
  }

 private:
  void onMessage(const Pdu& pdu) {
    Pdu resp = makeResponse(pdu, status::kOk);
    // A transmitter bind receives nothing; only receivers and transceivers do.
    if (state() == State::kOpen || state() == State::kBoundTx) {
      resp.command_status = status::kInvBndSts;
      send(resp);
      return;
    }
    InboundMessage m = inboundFromPdu(pdu, name(), *currentOptionTable());
    if (async_receive) {
      // Answered once a worker has stored it (flushReplies), never before:
      // a message acknowledged and then lost would be gone for good.
      auto q = asyncQueue(name());
      bool queued = false;
      {
        std::scoped_lock lk(q->mu);
        if (q->items.size() < kMaxAsyncQueue) {
          replies->waiting.fetch_add(1);
          q->items.push_back(AsyncItem{std::move(m), resp, replies});
          queued = true;
        }
      }
      if (queued) {
        q->cv.notify_one();
        return;
      }
      resp.command_status = status::kMsgQFul;
    } else if (deliver(m) == 0) {
      resp.command_status = status::kRxTAppn;
    }
    send(resp);
  }
};

struct Connection::Impl {
  ClientSession session;
  Pdu request, response;
};

Connection::Connection() : impl_(std::make_unique<Impl>()) {}
Connection::~Connection() = default;

void Connection::setCommandTimeout(std::chrono::milliseconds timeout) {
  impl_->session.setCommandTimeout(timeout);
}
void Connection::setAsyncReceive(bool on) {
  impl_->session.async_receive = on;
}
const std::string& Connection::linkName() const {
  return impl_->session.name();
}
bool Connection::bound() const {
  return impl_->session.bound();
}
uint8_t Connection::version() const {
  return impl_->session.version();
}
size_t Connection::outstanding() const {
  return impl_->session.outstanding();
}
tls::Stream& Connection::stream() {
  return impl_->session.stream();
}

uint32_t SMPPConnect(Connection& conn, tls::Stream stream, const std::string& link_name,
                     const std::string& host, uint16_t port) {
  if (!stream.valid()) {
    auto fd = platform::connectTcp(host, port, kConnectTimeoutMs);
    if (!fd) {
      foundation::DebugLogf("SMPPConnect", "%s: %s", link_name.c_str(),
                            fd.status().message().c_str());
      return status::kConnectFailed;
    }
    stream = tls::Stream(std::move(*fd));
  }
  conn.impl().session.attach(std::move(stream), link_name);
  conn.impl().session.replies = std::make_shared<ReplyBox>();
  if (protocolDebug())
    foundation::DebugLogf("SMPPConnect", "%s: connected to %s:%u", link_name.c_str(), host.c_str(),
                          port);
  return status::kOk;
}

uint32_t SMPPBind(Connection& conn, uint8_t version, int bind_type, const std::string& system_id,
                  const std::string& password, const std::string& system_type,
                  const std::string& address_range) {
  Session& s = conn.impl().session;
  if (!s.alive()) return status::kNotConnected;
  if (s.state() != Session::State::kOpen) return status::kAlyBnd;
  // Too long or holding a NUL: either would change what the centre reads.
  auto bad = [](const std::string& v, size_t max) {
    return v.size() >= max || v.find('\0') != std::string::npos;
  };
  if (bad(system_id, kSystemIdMax)) return status::kInvSysId;
  if (bad(password, kPasswordMax)) return status::kInvPaswd;
  if (bad(system_type, kSystemTypeMax)) return status::kInvSysTyp;
  if (bad(address_range, kAddressRangeMax)) return status::kInvalidArgument;
  Pdu& req = conn.impl().request;
  req.clear();
  switch (bind_type) {
    case kBindTypeReceiver:
      req.command_id = cmd::kBindReceiver;
      break;
    case kBindTypeTransmitter:
      req.command_id = cmd::kBindTransmitter;
      break;
    case kBindTypeTransceiver:
      req.command_id = cmd::kBindTransceiver;
      break;
    default:
      return status::kInvalidArgument;
  }
  uint8_t v = version == 0x33 ? 0x33 : 0x34;
  s.setVersion(v);
  req.system_id = system_id;
  req.password = password;
  req.system_type = system_type;
  req.interface_version = v;
  req.address_range.addr = address_range;
  Pdu& resp = conn.impl().response;
  uint32_t st = s.transact(req, &resp);
  if (st != status::kOk) {
    foundation::DebugLogf("SMPPBind", "%s: %s", s.name().c_str(), statusText(st).c_str());
    return st;
  }
  // A centre that says it speaks an older version gets no TLVs from us.
  if (const Tlv* t = resp.findTlv(tag::kScInterfaceVersion);
      t && t->value.size() == 1 && static_cast<uint8_t>(t->value[0]) < 0x34)
    s.setVersion(0x33);
  s.setState(Session::boundStateFor(req.command_id));
  if (protocolDebug())
    foundation::DebugLogf("SMPPBind", "%s: bound as %s to %s", s.name().c_str(),
                          commandName(req.command_id), resp.system_id.c_str());
  return status::kOk;
}

std::string SMPPErrorText(uint32_t code) {
  return statusText(code);
}

namespace {

uint32_t prepareSubmit(Connection& conn, uint8_t version, const OutboundMessage& m,
                       const std::string& request_file) {
  Session& s = conn.impl().session;
  if (!s.bound()) return status::kNotConnected;
  if (s.state() == Session::State::kBoundRx) return status::kInvBndSts;
  std::string skipped;
  uint32_t st = buildMessagePdu(cmd::kSubmitSm, m, s.messageVersion(version), *currentOptionTable(),
                                &conn.impl().request, &skipped);
  if (!skipped.empty())
    foundation::DebugLogf("SMPPSubmitMessage",
                          "%s: %s: options not sent (unknown name or bad value): %s",
                          s.name().c_str(), request_file.c_str(), skipped.c_str());
  if (st != status::kOk)
    foundation::DebugLogf("SMPPSubmitMessage", "%s: %s refused: %s", s.name().c_str(),
                          request_file.c_str(), statusText(st).c_str());
  return st;
}

}  // namespace

uint32_t SMPPSubmitMessage(Connection& conn, uint8_t version, const std::string& sender,
                           const std::string& recipient, uint8_t pid, uint8_t dcs,
                           const std::string& udh, const std::string& data, uint32_t flags,
                           bool binary, std::string* message_id, const std::string& request_file,
                           const std::string& params) {
  if (message_id) message_id->clear();
  uint32_t st = prepareSubmit(
      conn, version, {sender, recipient, pid, dcs, udh, data, flags, binary, params}, request_file);
  if (st != status::kOk) return st;
  Pdu& resp = conn.impl().response;
  st = conn.impl().session.transact(conn.impl().request, &resp);
  if (st == status::kOk && message_id) *message_id = resp.message_id;
  return st;
}

uint32_t SMPPSubmitMessageAsync(Connection& conn, uint8_t version, const std::string& sender,
                                const std::string& recipient, uint8_t pid, uint8_t dcs,
                                const std::string& udh, const std::string& data, uint32_t flags,
                                bool binary, const std::string& request_file,
                                const std::string& params, std::shared_ptr<AsyncSubmit> ctx) {
  uint32_t st = prepareSubmit(
      conn, version, {sender, recipient, pid, dcs, udh, data, flags, binary, params}, request_file);
  if (st != status::kOk) return st;
  return conn.impl().session.sendAsync(conn.impl().request, std::move(ctx));
}

int SMPPYield(Connection& conn, uint8_t /*version*/, std::chrono::milliseconds wait,
              bool* connection_error) {
  ClientSession& s = conn.impl().session;
  int handled = s.flushReplies();
  if (!s.repliesDue())
    return handled + s.yield(handled > 0 ? milliseconds(0) : wait, connection_error);
  // Workers owe answers: wait in short slices so that each goes out soon
  // after its message is stored (at most as many slices as fit in `wait`).
  constexpr milliseconds kSlice{5};
  const int64_t slices = std::max<int64_t>(1, wait / kSlice);
  for (int64_t i = 0; i < slices; ++i) {
    bool lost = false;
    handled += s.yield(std::min(wait, kSlice), &lost);
    handled += s.flushReplies();
    if (lost) {
      if (connection_error) *connection_error = true;
      return 0;
    }
    if (handled > 0) break;
    if (!s.repliesDue()) {
      const milliseconds rest = wait - kSlice * (i + 1);
      if (rest.count() > 0) handled += s.yield(rest, connection_error);
      break;
    }
  }
  return handled;
}

int SMPPCheckLinkStatus(Connection& conn) {
  return conn.impl().session.bound() ? 1 : 0;
}

uint32_t SMPPEnquireLink(Connection& conn, uint8_t /*version*/) {
  return conn.impl().session.enquireLink(conn.impl().request, &conn.impl().response);
}

uint32_t SMPPUnbind(Connection& conn, uint8_t /*version*/) {
  Session& s = conn.impl().session;
  if (!s.alive()) return status::kNotConnected;
  Pdu& req = conn.impl().request;
  req.clear();
  req.command_id = cmd::kUnbind;
  milliseconds saved = s.commandTimeout();
  s.setCommandTimeout(std::min(saved, kUnbindTimeout));
  uint32_t st = s.transact(req, &conn.impl().response);
  s.setCommandTimeout(saved);
  s.close();
  return st;
}

int SMPPReceiveFromAsyncQ(const std::string& link_name, std::chrono::milliseconds wait) {
  auto q = asyncQueue(link_name);
  std::deque<AsyncItem> batch;
  {
    std::unique_lock lk(q->mu);
    if (q->items.empty() && wait.count() > 0)
      platform::waitFor(lk, q->cv, wait, [&] { return !q->items.empty(); });
    batch.swap(q->items);
  }
  int n = 0;
  for (auto& item : batch) {
    item.response.command_status = deliver(item.message) != 0 ? status::kOk : status::kRxTAppn;
    if (auto box = item.box.lock()) {
      std::scoped_lock lk(box->mu);
      box->ready.push_back(std::move(item.response));
      box->waiting.fetch_sub(1);
    }
    ++n;
  }
  return n;
}

void SMPPSetReceiveMessageCallback(ReceiveMessageCallback callback) {
  receiveCallback().publish(std::move(callback));
}

void SMPPSetDebugMode(int on) {
  setProtocolDebug(on != 0);
}

}  // namespace vek::smpp
