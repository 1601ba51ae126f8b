#include "protocols/smpp/server.h"

#include <algorithm>

#include "foundation/debug_log.h"
#include "platform/clock.h"
#include "platform/snapshot.h"
#include "protocols/smpp/session.h"
#include "protocols/smpp/tlv.h"

namespace vek::smpp {

namespace {

platform::Snapshot<ServerReceiveCallback>& receiveCallback() {
  static platform::Snapshot<ServerReceiveCallback> cb;
  return cb;
}

platform::Snapshot<ServerActivityCallback>& activityCallback() {
  static platform::Snapshot<ServerActivityCallback> cb;
  return cb;
}

int bindTypeOf(uint32_t command_id) {
  switch (command_id) {
    case cmd::kBindReceiver:
      return kBindTypeReceiver;
    case cmd::kBindTransmitter:
      return kBindTypeTransmitter;
    case cmd::kBindTransceiver:
      return kBindTypeTransceiver;
    default:
      return 0;
  }
}

uint32_t bindResponseFor(int bind_type) {
  switch (bind_type) {
    case kBindTypeReceiver:
      return cmd::kBindReceiverResp;
    case kBindTypeTransmitter:
      return cmd::kBindTransmitterResp;
    default:
      return cmd::kBindTransceiverResp;
  }
}

}  // namespace

// The server side of a session: answers what a client application sends.
class ServerSession final : public Session {
 public:
  explicit ServerSession(ServerConnection* owner) : Session(Side::kServer), owner_(owner) {}

  struct BindRequest {
    bool waiting = false;
    uint32_t sequence = 0;
    int type = 0;
    uint8_t version = 0;
    std::string system_id, password;
  };
  BindRequest bind;
  std::string account;
  int bind_type = 0;

 protected:
  // Nothing after a bind is handled before the gateway has answered it.
  bool holdInput() const override { return bind.waiting; }

  void onActivity(uint32_t command_id) override {
    auto cb = activityCallback().get();
    if (*cb) (*cb)(*owner_, command_id);
  }

  void onRequest(const Pdu& pdu) override {
    switch (pdu.command_id) {
      case cmd::kBindReceiver:
      case cmd::kBindTransmitter:
      case cmd::kBindTransceiver:
        onBind(pdu);
        return;
      case cmd::kSubmitSm:
      case cmd::kDataSm:
        if (!mayTransmit()) return refuse(pdu, status::kInvBndSts);
        onSubmit(pdu);
        return;
      case cmd::kSubmitMulti:
        if (!mayTransmit()) return refuse(pdu, status::kInvBndSts);
        onSubmitMulti(pdu);
        return;
      case cmd::kQuerySm:
        return refuse(pdu, mayTransmit() ? status::kQueryFail : status::kInvBndSts);
      case cmd::kCancelSm:
        return refuse(pdu, mayTransmit() ? status::kCancelFail : status::kInvBndSts);
      case cmd::kReplaceSm:
        return refuse(pdu, mayTransmit() ? status::kReplaceFail : status::kInvBndSts);
      case cmd::kDeliverSm:
        // Only the message centre side sends deliver_sm.
        return refuse(pdu, status::kInvBndSts);
      default:
        // alert_notification and outbind have no response of their own.
        return refuse(pdu, status::kInvCmdId);
    }
  }

 private:
  bool mayTransmit() const { return state() == State::kBoundTx || state() == State::kBoundTrx; }
  void refuse(const Pdu& pdu, uint32_t st) { send(makeResponse(pdu, st)); }

  void onBind(const Pdu& pdu) {
    if (state() != State::kOpen || bind.waiting) return refuse(pdu, status::kAlyBnd);
    bind.waiting = true;
    bind.sequence = pdu.sequence;
    bind.type = bindTypeOf(pdu.command_id);
    bind.version = pdu.interface_version;
    bind.system_id = pdu.system_id;
    bind.password = pdu.password;
  }

  // Runs the callback for one message; fills *id on success.
  uint32_t accept(const InboundMessage& m, std::string* id) {
    if (m.recipient.empty()) return status::kInvDstAdr;
    auto cb = receiveCallback().get();
    if (!*cb) return status::kSysErr;
    uint32_t st = (*cb)(*owner_, m, id);
    if (st == status::kOk && id->size() >= kMessageIdMax) id->resize(kMessageIdMax - 1);
    return st;
  }

  void onSubmit(const Pdu& pdu) {
    InboundMessage m = inboundFromPdu(pdu, account, *currentOptionTable());
    Pdu resp = makeResponse(pdu, status::kOk);
    std::string id;
    resp.command_status = accept(m, &id);
    if (resp.command_status == status::kOk) resp.message_id = std::move(id);
    send(resp);
  }

  void onSubmitMulti(const Pdu& pdu) {
    InboundMessage m = inboundFromPdu(pdu, account, *currentOptionTable());
    Pdu resp = makeResponse(pdu, status::kOk);
    bool any = false;
    for (const auto& d : pdu.dests) {
      uint32_t st = status::kCntSubDl;
      std::string id;
      if (d.dest_flag == 1) {
        m.recipient = addressText(d.address);
        st = accept(m, &id);
      }
      if (st == status::kOk) {
        if (!any) resp.message_id = std::move(id);
        any = true;
      } else {
        resp.unsuccess.push_back({d.address, st});
      }
    }
    if (!any) {
      resp.command_status = status::kSubmitFail;
      resp.unsuccess.clear();
    }
    send(resp);
  }

  ServerConnection* owner_;
};

struct ServerConnection::Impl {
  explicit Impl(ServerConnection* owner) : session(owner) {}
  ServerSession session;
  std::string peer;
  std::string system_id = "VekSMS";
  void* user_context = nullptr;
  Pdu request, response;
};

ServerConnection::ServerConnection(tls::Stream stream, std::string peer_address)
    : impl_(std::make_unique<Impl>(this)) {
  impl_->peer = std::move(peer_address);
  impl_->session.attach(std::move(stream), "SMPP client " + impl_->peer);
}
ServerConnection::~ServerConnection() = default;

const std::string& ServerConnection::peerAddress() const {
  return impl_->peer;
}
const std::string& ServerConnection::account() const {
  return impl_->session.account;
}
int ServerConnection::bindType() const {
  return impl_->session.bind_type;
}
uint8_t ServerConnection::version() const {
  return impl_->session.version();
}
bool ServerConnection::bound() const {
  return impl_->session.bound();
}
size_t ServerConnection::outstanding() const {
  return impl_->session.outstanding();
}
void ServerConnection::setSystemId(std::string system_id) {
  impl_->system_id = std::move(system_id);
}
void ServerConnection::setCommandTimeout(std::chrono::milliseconds timeout) {
  impl_->session.setCommandTimeout(timeout);
}
void ServerConnection::setUserContext(void* context) {
  impl_->user_context = context;
}
void* ServerConnection::userContext() const {
  return impl_->user_context;
}
tls::Stream& ServerConnection::stream() {
  return impl_->session.stream();
}

uint32_t SMPPServerWaitForLogin(ServerConnection& conn, std::chrono::milliseconds timeout,
                                std::string* account, std::string* password, uint32_t* bind_id,
                                int* bind_type, uint8_t* version) {
  ServerSession& s = conn.impl().session;
  auto deadline = platform::deadlineAfter(timeout);
  // Services at least once, so that a zero time-out still takes what is there.
  while (!s.bind.waiting) {
    if (!s.alive()) return status::kConnectionLost;
    auto left = std::chrono::duration_cast<milliseconds>(deadline - platform::monotonicNow());
    if (s.service(std::max(left, milliseconds(0))) < 0) return status::kConnectionLost;
    if (!s.bind.waiting && platform::monotonicNow() >= deadline) return status::kTimeout;
  }
  *account = s.bind.system_id;
  *password = s.bind.password;
  *bind_id = s.bind.sequence;
  *bind_type = s.bind.type;
  *version = s.bind.version;
  return status::kOk;
}

namespace {

uint32_t answerBind(ServerConnection& conn, uint32_t bind_id, int bind_type, uint8_t version,
                    uint32_t st) {
  ServerSession& s = conn.impl().session;
  if (!s.alive()) return status::kNotConnected;
  if (!s.bind.waiting || s.bind.sequence != bind_id) return status::kInvalidArgument;
  s.bind.waiting = false;
  // Peers of 3.4 and later get TLVs; older ones never do.
  s.setVersion(version >= 0x34 ? 0x34 : 0x33);
  Pdu& resp = conn.impl().response;
  resp.clear();
  resp.command_id = bindResponseFor(bind_type);
  resp.command_status = st;
  resp.sequence = bind_id;
  resp.system_id = conn.impl().system_id;
  if (st == status::kOk) resp.addTlv(tag::kScInterfaceVersion, std::string(1, '\x34'));
  if (!s.send(resp)) return status::kConnectionLost;
  if (st == status::kOk) {
    s.account = s.bind.system_id;
    s.bind_type = bind_type;
    s.setState(Session::boundStateFor(resp.command_id));
  }
  s.bind.password.clear();
  return status::kOk;
}

}  // namespace

uint32_t SMPPServerAcceptLogin(ServerConnection& conn, uint32_t bind_id, int bind_type,
                               uint8_t version) {
  return answerBind(conn, bind_id, bind_type, version, status::kOk);
}

uint32_t SMPPServerRejectLogin(ServerConnection& conn, uint32_t bind_id, int bind_type,
                               uint8_t version, uint32_t st) {
  return answerBind(conn, bind_id, bind_type, version, st == status::kOk ? status::kBindFail : st);
}

int SMPPServerYield(ServerConnection& conn, uint8_t /*version*/, std::chrono::milliseconds wait,
                    bool* connection_error) {
  return conn.impl().session.yield(wait, connection_error);
}

namespace {

uint32_t prepareDeliver(ServerConnection& conn, uint8_t version, const OutboundMessage& m) {
  Session& s = conn.impl().session;
  if (!s.bound()) return status::kNotConnected;
  if (s.state() == Session::State::kBoundTx) return status::kInvBndSts;
  std::string skipped;
  uint32_t st = buildMessagePdu(cmd::kDeliverSm, m, s.messageVersion(version),
                                *currentOptionTable(), &conn.impl().request, &skipped);
  if (!skipped.empty())
    foundation::DebugLogf("SMPPServerSubmitMessage",
                          "%s: options not sent (unknown name or bad value): %s", s.name().c_str(),
                          skipped.c_str());
  return st;
}

}  // namespace

uint32_t SMPPServerSubmitMessage(ServerConnection& conn, uint8_t version, const std::string& sender,
                                 const std::string& recipient, uint8_t pid, uint8_t dcs,
                                 const std::string& udh, const std::string& data, uint32_t flags,
                                 bool binary, const std::string& params) {
  uint32_t st = prepareDeliver(conn, version,
                               {sender, recipient, pid, dcs, udh, data, flags, binary, params});
  if (st != status::kOk) return st;
  return conn.impl().session.transact(conn.impl().request, &conn.impl().response);
}

uint32_t SMPPServerSubmitMessageNew(ServerConnection& conn, uint8_t version,
                                    const std::string& sender, const std::string& recipient,
                                    uint8_t pid, uint8_t dcs, const std::string& udh,
                                    const std::string& data, uint32_t flags, bool binary,
                                    const std::string& params, std::shared_ptr<AsyncSubmit> ctx) {
  uint32_t st = prepareDeliver(conn, version,
                               {sender, recipient, pid, dcs, udh, data, flags, binary, params});
  if (st != status::kOk) return st;
  return conn.impl().session.sendAsync(conn.impl().request, std::move(ctx));
}

uint32_t SMPPServerEnquireLink(ServerConnection& conn, uint8_t /*version*/) {
  return conn.impl().session.enquireLink(conn.impl().request, &conn.impl().response);
}

void SMPPServerSetReceiveMessageCallback(ServerReceiveCallback callback) {
  receiveCallback().publish(std::move(callback));
}

void SMPPServerSetActivityCallback(ServerActivityCallback callback) {
  activityCallback().publish(std::move(callback));
}

}  // namespace vek::smpp
