#include "protocols/cimd/client.h"

#include <array>

#include "foundation/debug_log.h"
#include "platform/shutdown.h"
#include "platform/snapshot.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/cimd/message.h"
#include "protocols/cimd/packet.h"

namespace vek::cimd {

namespace local = protocols::local;
using protocols::FramedSession;

namespace {

constexpr int kConnectTimeoutMs = 30000;
constexpr std::chrono::milliseconds kLogoutTimeout{5000};
constexpr const char* kTag = "CIMDConnection";

platform::Snapshot<ReceiveMessageCallback>& extendedCallback() {
  static platform::Snapshot<ReceiveMessageCallback> cb;
  return cb;
}
platform::Snapshot<PlainReceiveCallback>& plainCallback() {
  static platform::Snapshot<PlainReceiveCallback> cb;
  return cb;
}

// 1 taken, 0 not taken (or nobody to take it).
int deliver(const InboundMessage& m) {
  if (auto ex = extendedCallback().get(); *ex) return (*ex)(m);
  if (m.flags & protocols::flag::kIsReceipt) return 0;
  if (auto plain = plainCallback().get(); *plain)
    return (*plain)(m.link_name, m.sender, m.pid, m.dcs, m.udh, m.data);
  return 0;
}

Params errorParams(uint32_t code) {
  const char* name = errorName(code);
  return {{param::kErrorCode, std::to_string(code)}, {param::kErrorText, *name ? name : "Error"}};
}

bool usable(const std::string& v) {
  for (char c : v)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

}  // namespace

// One CIMD2 connection, our link to a centre or a centre's to the ReceivePort.
class Session final : public FramedSession {
 public:
  Session() : FramedSession({protocols::Engine::kCimd, kTag, kMaxFrame, kDefaultCommandTimeout}) {}

  bool logged_in = false;
  bool accepted = false;

  void reset() {
    logged_in = accepted = false;
    next_number_ = 1;
  }
  bool up() const { return alive() && (logged_in || accepted); }

  // The next odd packet number without an answer pending; -1 when all are.
  int nextNumber() {
    for (int i = 0; i < 128; ++i) {
      int n = next_number_;
      next_number_ = n >= 255 ? 1 : n + 2;
      if (!numberBusy(static_cast<uint32_t>(n))) return n;
    }
    return -1;
  }

  uint32_t request(int operation, const Params& params, Answer* answer) {
    int n = nextNumber();
    if (n < 0) return local::kFailure;
    return transact(static_cast<uint32_t>(n), static_cast<uint32_t>(operation + op::kResponse),
                    buildPacket(operation, n, params), answer);
  }

  // A submit, remembering its destination for an answer that leaves it out.
  uint32_t submit(const Params& params, const std::string& recipient, Answer* answer,
                  std::shared_ptr<AsyncSubmit> ctx) {
    int n = nextNumber();
    if (n < 0) return local::kFailure;
    destination_[n] = recipient;
    std::string packet = buildPacket(op::kSubmit, n, params);
    auto number = static_cast<uint32_t>(n);
    if (ctx) return sendAsync(number, op::kSubmit + op::kResponse, packet, std::move(ctx));
    return transact(number, op::kSubmit + op::kResponse, packet, answer);
  }

 protected:
  void onFrame(std::string_view inner) override {
    Packet p;
    PacketFault fault = parsePacket(inner, &p);
    if (fault != PacketFault::kNone) {
      if (p.number >= 0 && p.op >= 0 && p.op < op::kResponse)
        sendFrame(fault == PacketFault::kChecksum
                      ? buildPacket(op::kNack, p.number, {})
                      : buildPacket(op::kGeneralError, p.number, errorParams(ec::kSyntax)));
      markBroken(
          platform::format("%s in a packet from the centre (%s), connection closed",
                           fault == PacketFault::kChecksum ? "checksum error" : "syntax error",
                           protocols::printableFrame(inner, 64).c_str()));
      return;
    }
    if (p.op >= op::kResponse) return onResponse(p);
    switch (p.op) {
      case op::kDeliverMessage:
      case op::kDeliverStatusReport:
        return onMessage(p);
      case op::kAlive:
        sendFrame(buildPacket(op::kAlive + op::kResponse, p.number, {}));
        return;
      case op::kLogin:
        // A centre opening its delivery connection logs in first.
        sendFrame(buildPacket(op::kLogin + op::kResponse, p.number,
                              accepted ? Params{} : errorParams(ec::kUnexpectedOperation)));
        return;
      case op::kLogout:
        sendFrame(buildPacket(op::kLogout + op::kResponse, p.number, {}));
        markBroken("logged out by the centre");
        return;
      default:
        foundation::DebugLogf(kTag, "%s: operation %02d not supported", name().c_str(), p.op);
        sendFrame(buildPacket(op::kGeneralError, p.number, errorParams(ec::kUnexpectedOperation)));
        return;
    }
  }

 private:
  void onResponse(const Packet& p) {
    Answer a;
    if (p.op == op::kNack) {
      foundation::DebugLogf(kTag, "%s: packet %03d refused by the centre (checksum or number)",
                            name().c_str(), p.number);
      a.result = local::kFailure;
    } else if (const std::string* code = p.get(param::kErrorCode)) {
      bool reads = !code->empty() && code->size() <= 4 && platform::isAllDigits(*code) &&
                   platform::parseLeadingInt(*code) > 0;
      a.result = reads ? static_cast<uint32_t>(platform::parseLeadingInt(*code)) : local::kFailure;
    } else if (p.op == op::kGeneralError) {
      a.result = local::kFailure;
    } else {
      const std::string* dest = p.get(param::kDestination);
      const std::string* scts = p.get(param::kScts);
      if (scts) a.message_id = (dest ? *dest : destination_[p.number & 0xFF]) + ":" + *scts;
    }
    bool error_answer = p.op == op::kNack || p.op == op::kGeneralError;
    complete(static_cast<uint32_t>(p.number), error_answer ? kAnyKind : static_cast<uint32_t>(p.op),
             std::move(a));
  }

  void onMessage(const Packet& p) {
    int resp = p.op + op::kResponse;
    if (!up()) {
      sendFrame(buildPacket(resp, p.number, errorParams(ec::kUnexpectedOperation)));
      return;
    }
    InboundMessage m;
    std::string why;
    if (uint32_t code = inboundFromPacket(p, name(), &m, &why); code != 0) {
      foundation::DebugLogf(kTag, "%s: operation %02d refused: %s", name().c_str(), p.op,
                            why.c_str());
      sendFrame(buildPacket(resp, p.number, errorParams(code)));
      return;
    }
    if (deliver(m) == 0) {
      sendFrame(buildPacket(resp, p.number, errorParams(ec::kGeneralSystemError)));
      return;
    }
    sendFrame(buildPacket(resp, p.number, {}));
  }

  int next_number_ = 1;
  std::array<std::string, 256> destination_;  // of the submit with that packet number
};

struct Connection::Impl {
  Session session;
};

Connection::Connection() : impl_(std::make_unique<Impl>()) {}
Connection::~Connection() = default;

void Connection::setCommandTimeout(std::chrono::milliseconds timeout) {
  impl_->session.setCommandTimeout(timeout);
}
const std::string& Connection::linkName() const {
  return impl_->session.name();
}
bool Connection::loggedIn() const {
  return impl_->session.up();
}
size_t Connection::outstanding() const {
  return impl_->session.outstanding();
}
const std::string& Connection::lastError() const {
  return impl_->session.lastError();
}
tls::Stream& Connection::stream() {
  return impl_->session.stream();
}

uint32_t CIMDConnect(const std::string& link_name, Connection& conn, tls::Stream stream,
                     const std::string& host, uint16_t port) {
  if (!stream.valid()) {
    auto fd = platform::connectTcp(host, port, kConnectTimeoutMs);
    if (!fd) {
      foundation::DebugLogf("CIMDConnect", "%s: %s", link_name.c_str(),
                            fd.status().message().c_str());
      return local::kConnectionError;
    }
    stream = tls::Stream(std::move(*fd));
  }
  Session& s = conn.impl().session;
  s.attach(std::move(stream), link_name);
  s.reset();
  return 0;
}

uint32_t CIMDBind(const std::string& link_name, Connection& conn, const std::string& user,
                  const std::string& password) {
  Session& s = conn.impl().session;
  if (!s.alive()) return local::kConnectionError;
  if (user.empty() || !usable(user) || !usable(password)) {
    foundation::DebugLogf("CIMDBind", "%s: user name or password unusable for CIMD2",
                          link_name.c_str());
    return ec::kInvalidLogin;
  }
  FramedSession::Answer a;
  uint32_t st =
      s.request(op::kLogin, {{param::kUserIdentity, user}, {param::kPassword, password}}, &a);
  if (st != 0) {
    foundation::DebugLogf("CIMDBind", "%s: %s", link_name.c_str(), CIMDErrorText(st).c_str());
    return st;
  }
  s.logged_in = true;
  return 0;
}

std::string CIMDErrorText(uint32_t code) {
  switch (code) {
    case 0:
      return "OK";
    case local::kConnectionError:
      return "Connection error";
    case local::kTimeout:
      return "No answer from the message centre";
    case local::kFailure:
      return "Local failure (no free packet number or an answer that does not read)";
    default:
      break;
  }
  const char* name = errorName(code);
  return platform::format("%s (CIMD error %u)", *name ? name : "Unknown error", code);
}

namespace {

uint32_t prepareSubmit(Session& s, const protocols::OutboundMessage& m,
                       const std::string& request_file, Params* params) {
  if (!s.up()) return local::kConnectionError;
  std::string why;
  uint32_t st = buildSubmitParams(m, params, &why);
  if (st != 0)
    foundation::DebugLogf("CIMDSubmitMessage", "%s: %s refused: %s", s.name().c_str(),
                          request_file.c_str(), why.c_str());
  return st;
}

}  // namespace

uint32_t CIMDSubmitMessage(const std::string& /*link_name*/, Connection& conn,
                           const std::string& sender, const std::string& recipient, uint8_t pid,
                           uint8_t dcs, const std::string& udh, const std::string& data,
                           uint32_t flags, bool binary, std::string* message_id,
                           const std::string& request_file, const std::string& params) {
  if (message_id) message_id->clear();
  Session& s = conn.impl().session;
  Params p;
  uint32_t st = prepareSubmit(s, {sender, recipient, pid, dcs, udh, data, flags, binary, params},
                              request_file, &p);
  if (st != 0) return st;
  FramedSession::Answer a;
  st = s.submit(p, recipient, &a, nullptr);
  if (st != 0) return st;
  if (a.message_id.empty())
    foundation::DebugLogf("CIMDSubmitMessage", "%s: %s accepted without a time stamp",
                          s.name().c_str(), request_file.c_str());
  if (message_id) *message_id = std::move(a.message_id);
  return 0;
}

uint32_t CIMDSubmitMessageAsync(const std::string& /*link_name*/, Connection& conn,
                                const std::string& sender, const std::string& recipient,
                                uint8_t pid, uint8_t dcs, const std::string& udh,
                                const std::string& data, uint32_t flags, bool binary,
                                const std::string& request_file, const std::string& params,
                                std::shared_ptr<AsyncSubmit> ctx) {
  Session& s = conn.impl().session;
  Params p;
  uint32_t st = prepareSubmit(s, {sender, recipient, pid, dcs, udh, data, flags, binary, params},
                              request_file, &p);
  if (st != 0) return st;
  if (!ctx) return local::kFailure;
  return s.submit(p, recipient, nullptr, std::move(ctx));
}

int CIMDYield(const std::string& /*link_name*/, Connection& conn, std::chrono::milliseconds wait,
              bool* connection_error) {
  return conn.impl().session.yield(wait, connection_error);
}

int CIMDCheckLinkStatus(const std::string& /*link_name*/, Connection& conn) {
  return conn.impl().session.up() ? 1 : 0;
}

uint32_t CIMDEnquireLink(const std::string& /*link_name*/, Connection& conn) {
  Session& s = conn.impl().session;
  if (!s.up()) return local::kConnectionError;
  FramedSession::Answer a;
  return s.request(op::kAlive, {}, &a);
}

uint32_t CIMDUnbind(const std::string& /*link_name*/, Connection& conn) {
  Session& s = conn.impl().session;
  uint32_t st = local::kConnectionError;
  if (s.alive() && s.logged_in) {
    auto saved = s.commandTimeout();
    s.setCommandTimeout(std::min(saved, kLogoutTimeout));
    FramedSession::Answer a;
    st = s.request(op::kLogout, {}, &a);
    s.setCommandTimeout(saved);
  }
  s.close();
  s.reset();
  return st;
}

void CIMDSetReceiveMessageCallback(PlainReceiveCallback callback) {
  plainCallback().publish(std::move(callback));
}

void CIMDSetReceiveMessageCallbackEx(ReceiveMessageCallback callback) {
  extendedCallback().publish(std::move(callback));
}

void CIMDSetDebugMode(int on) {
  protocols::setProtocolDebug(protocols::Engine::kCimd, on != 0);
}

uint32_t CIMDAccept(const std::string& link_name, Connection& conn, tls::Stream stream) {
  if (!stream.valid()) return local::kConnectionError;
  Session& s = conn.impl().session;
  s.attach(std::move(stream), link_name);
  s.reset();
  s.accepted = true;
  return 0;
}

int CIMDServeConnection(const std::string& link_name, tls::Stream stream,
                        const std::string& peer_address, const std::function<bool()>& stop) {
  Connection conn;
  if (CIMDAccept(link_name, conn, std::move(stream)) != 0) return 0;
  foundation::DebugLogf("CIMDReceive", "Processing CIMD connection from %s...",
                        peer_address.c_str());
  int handled = 0;
  bool error = false;
  while (!error && CIMDCheckLinkStatus(link_name, conn) && !platform::shutdownRequested() &&
         !(stop && stop()))
    handled += CIMDYield(link_name, conn, std::chrono::seconds(1), &error);
  foundation::DebugLogf("CIMDReceive", "Releasing Connection");
  return handled;
}

}  // namespace vek::cimd
