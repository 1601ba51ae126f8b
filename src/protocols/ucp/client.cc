#include "protocols/ucp/client.h"

#include "foundation/debug_log.h"
#include "platform/shutdown.h"
#include "platform/snapshot.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/message_fields.h"
#include "protocols/ucp/frame.h"
#include "protocols/ucp/message.h"

namespace vek::ucp {

namespace local = protocols::local;
using protocols::FramedSession;

namespace {

constexpr int kConnectTimeoutMs = 30000;
constexpr size_t kMaxUser = 16;
constexpr const char* kTag = "UCPConnection";

platform::Snapshot<ReceiveMessageCallback>& receiveCallback() {
  static platform::Snapshot<ReceiveMessageCallback> cb;
  return cb;
}

int deliver(const InboundMessage& m) {
  auto cb = receiveCallback().get();
  if (!*cb) return 0;
  return (*cb)(m);
}

// The SM field of a positive result: the last field of "A/MVP/SM" or "A/SM".
std::string resultSm(const Frame& f) {
  if (f.fields.size() >= 3) return f.fields[2];
  if (f.fields.size() == 2) return f.fields[1];
  return {};
}

}  // namespace

// One UCP connection, either our link to a centre or a centre's connection
// to the ReceivePort.
class Session final : public FramedSession {
 public:
  Session() : FramedSession({protocols::Engine::kUcp, kTag, kMaxFrame, kDefaultCommandTimeout}) {}

  bool logged_in = false;
  bool accepted = false;  // a connection the centre opened to us
  std::string user;

  void reset() {
    logged_in = accepted = false;
    user.clear();
    next_trn_ = 0;
  }
  bool up() const { return alive() && (logged_in || accepted); }

  // The next transaction number without an answer pending; -1 when all 100 are.
  int nextTrn() {
    for (int i = 0; i < 100; ++i) {
      int t = (next_trn_ + i) % 100;
      if (!numberBusy(static_cast<uint32_t>(t))) {
        next_trn_ = (t + 1) % 100;
        return t;
      }
    }
    return -1;
  }

  uint32_t request(int op, const std::vector<std::string>& fields, Answer* answer) {
    int trn = nextTrn();
    if (trn < 0) return local::kFailure;
    return transact(static_cast<uint32_t>(trn), static_cast<uint32_t>(op),
                    buildFrame(trn, false, op, fields), answer);
  }

 protected:
  void onFrame(std::string_view inner) override {
    Frame f;
    FrameFault fault = parseFrame(inner, &f);
    if (fault != FrameFault::kNone) {
      if (!f.result && f.trn >= 0 && f.ot >= 0)
        sendFrame(buildNack(f.trn, f.ot,
                            fault == FrameFault::kChecksum ? static_cast<int>(ec::kChecksum)
                                                           : static_cast<int>(ec::kSyntax)));
      markBroken(platform::format("%s in a frame from the centre (%s), connection closed",
                                  faultText(fault), protocols::printableFrame(inner, 64).c_str()));
      return;
    }
    if (f.result) return onResult(f);
    size_t want = fieldCount(f.ot);
    if (want != 0 && f.fields.size() != want) {
      foundation::DebugLogf(kTag, "%s: operation %02d with %zu fields instead of %zu refused",
                            name().c_str(), f.ot, f.fields.size(), want);
      sendFrame(buildNack(f.trn, f.ot, ec::kSyntax));
      return;
    }
    switch (f.ot) {
      case ot::kDeliver:
      case ot::kNotification:
        return onMessage(f);
      case ot::kAlert:
        sendFrame(buildAck(f.trn, f.ot));
        return;
      case ot::kSession:
        // A centre opening its delivery connection may log in first.
        sendFrame(accepted ? buildAck(f.trn, f.ot) : buildNack(f.trn, f.ot, ec::kNotSupported));
        return;
      default:
        foundation::DebugLogf(kTag, "%s: operation %02d not supported", name().c_str(), f.ot);
        sendFrame(buildNack(f.trn, f.ot, ec::kNotSupported));
        return;
    }
  }

 private:
  void onResult(const Frame& f) {
    Answer a;
    if (!f.fields.empty() && f.fields[0] == "A") {
      a.message_id = resultSm(f);
    } else if (f.fields.size() >= 2 && f.fields[0] == "N" && !f.fields[1].empty() &&
               f.fields[1].size() <= 3 && platform::isAllDigits(f.fields[1]) &&
               platform::parseLeadingInt(f.fields[1]) > 0) {
      a.result = static_cast<uint32_t>(platform::parseLeadingInt(f.fields[1]));
    } else {
      foundation::DebugLogf(kTag, "%s: result of operation %02d does not read", name().c_str(),
                            f.ot);
      a.result = local::kFailure;
    }
    complete(static_cast<uint32_t>(f.trn), static_cast<uint32_t>(f.ot), std::move(a));
  }

  void onMessage(const Frame& f) {
    if (!up()) {
      sendFrame(buildNack(f.trn, f.ot, ec::kNotAllowed));
      return;
    }
    InboundMessage m;
    std::string why;
    if (!inboundFromFields(f.ot, f.fields, name(), &m, &why)) {
      foundation::DebugLogf(kTag, "%s: operation %02d refused: %s", name().c_str(), f.ot,
                            why.c_str());
      sendFrame(buildNack(f.trn, f.ot, ec::kSyntax));
      return;
    }
    if (deliver(m) == 0) {
      sendFrame(buildNack(f.trn, f.ot, ec::kNotAllowed));
      return;
    }
    sendFrame(buildAck(f.trn, f.ot, f.fields[kAdC] + ":" + f.fields[kSCTS]));
  }

  int next_trn_ = 0;
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

uint32_t UCPConnect(Connection& conn, tls::Stream stream, const std::string& link_name,
                    const std::string& host, uint16_t port) {
  if (!stream.valid()) {
    auto fd = platform::connectTcp(host, port, kConnectTimeoutMs);
    if (!fd) {
      foundation::DebugLogf("UCPConnect", "%s: %s", link_name.c_str(),
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

uint32_t UCPBind(Connection& conn, const std::string& user, const std::string& password) {
  Session& s = conn.impl().session;
  if (!s.alive()) return local::kConnectionError;
  // The user name is a field of its own: nothing that would end it early.
  bool printable = !user.empty() && user.size() <= kMaxUser;
  for (char c : user) printable = printable && c > 0x20 && c < 0x7F && c != '/';
  if (!printable) {
    foundation::DebugLogf("UCPBind", "%s: user name unusable for UCP", s.name().c_str());
    return ec::kSyntax;
  }
  FramedSession::Answer a;
  uint32_t st = s.request(ot::kSession, loginFields(user, password), &a);
  if (st != 0) {
    foundation::DebugLogf("UCPBind", "%s: %s", s.name().c_str(), UCPErrorText(st).c_str());
    return st;
  }
  s.logged_in = true;
  s.user = user;
  return 0;
}

std::string UCPErrorText(uint32_t code) {
  switch (code) {
    case 0:
      return "OK";
    case local::kConnectionError:
      return "Connection error";
    case local::kTimeout:
      return "No answer from the message centre";
    case local::kFailure:
      return "Local failure (no free transaction number or an answer that does not read)";
    default:
      break;
  }
  const char* name = errorName(code);
  return platform::format("%s (UCP error %02u)", *name ? name : "Unknown error", code);
}

namespace {

// Builds the 51 frame fields; logs a refusal.
uint32_t prepareSubmit(Session& s, const protocols::OutboundMessage& m,
                       const std::string& request_file, std::vector<std::string>* fields) {
  if (!s.up()) return local::kConnectionError;
  std::string why;
  uint32_t st = buildSubmitFields(m, fields, &why);
  if (st != 0)
    foundation::DebugLogf("UCPSubmitMessage", "%s: %s refused: %s", s.name().c_str(),
                          request_file.c_str(), why.c_str());
  else if (protocols::protocolDebug(protocols::Engine::kUcp))
    foundation::DebugLogf("UCPSubmitMessage", "%s: %s (OurMsgId=%s)", s.name().c_str(),
                          request_file.c_str(),
                          protocols::paramValue(m.params, "OurMsgId").c_str());
  return st;
}

}  // namespace

uint32_t UCPSubmitMessage(Connection& conn, const std::string& sender, const std::string& recipient,
                          uint8_t pid, uint8_t dcs, const std::string& udh, const std::string& data,
                          uint32_t flags, bool binary, std::string* message_id,
                          const std::string& request_file, const std::string& params) {
  if (message_id) message_id->clear();
  Session& s = conn.impl().session;
  std::vector<std::string> fields;
  uint32_t st = prepareSubmit(s, {sender, recipient, pid, dcs, udh, data, flags, binary, params},
                              request_file, &fields);
  if (st != 0) return st;
  FramedSession::Answer a;
  st = s.request(ot::kSubmit, fields, &a);
  if (st != 0) return st;
  if (a.message_id.empty())
    foundation::DebugLogf("UCPSubmitMessage", "%s: %s accepted without a message id",
                          s.name().c_str(), request_file.c_str());
  if (message_id) *message_id = std::move(a.message_id);
  return 0;
}

uint32_t UCPSubmitMessageAsync(Connection& conn, const std::string& sender,
                               const std::string& recipient, uint8_t pid, uint8_t dcs,
                               const std::string& udh, const std::string& data, uint32_t flags,
                               bool binary, const std::string& request_file,
                               const std::string& params, std::shared_ptr<AsyncSubmit> ctx) {
  Session& s = conn.impl().session;
  std::vector<std::string> fields;
  uint32_t st = prepareSubmit(s, {sender, recipient, pid, dcs, udh, data, flags, binary, params},
                              request_file, &fields);
  if (st != 0) return st;
  int trn = s.nextTrn();
  if (trn < 0) return local::kFailure;
  return s.sendAsync(static_cast<uint32_t>(trn), ot::kSubmit,
                     buildFrame(trn, false, ot::kSubmit, fields), std::move(ctx));
}

int UCPYield(Connection& conn, std::chrono::milliseconds wait, bool* connection_error) {
  return conn.impl().session.yield(wait, connection_error);
}

int UCPCheckLinkStatus(Connection& conn) {
  return conn.impl().session.up() ? 1 : 0;
}

uint32_t UCPEnquireLink(Connection& conn) {
  Session& s = conn.impl().session;
  if (!s.up()) return local::kConnectionError;
  FramedSession::Answer a;
  return s.request(ot::kAlert, alertFields(s.user), &a);
}

uint32_t UCPUnbind(Connection& conn) {
  Session& s = conn.impl().session;
  s.close();
  s.reset();
  return 0;
}

void UCPSetReceiveMessageCallback(ReceiveMessageCallback callback) {
  receiveCallback().publish(std::move(callback));
}

void UCPSetDebugMode(int on) {
  protocols::setProtocolDebug(protocols::Engine::kUcp, on != 0);
}

uint32_t UCPAccept(Connection& conn, tls::Stream stream, const std::string& link_name) {
  if (!stream.valid()) return local::kConnectionError;
  Session& s = conn.impl().session;
  s.attach(std::move(stream), link_name);
  s.reset();
  s.accepted = true;
  return 0;
}

int UCPServeConnection(tls::Stream stream, const std::string& link_name,
                       const std::string& peer_address, const std::function<bool()>& stop) {
  Connection conn;
  if (UCPAccept(conn, std::move(stream), link_name) != 0) return 0;
  foundation::DebugLogf("UCPReceive", "Processing UCP connection from %s...", peer_address.c_str());
  int handled = 0;
  bool error = false;
  while (!error && UCPCheckLinkStatus(conn) && !platform::shutdownRequested() && !(stop && stop()))
    handled += UCPYield(conn, std::chrono::seconds(1), &error);
  foundation::DebugLogf("UCPReceive", "Releasing Connection");
  return handled;
}

}  // namespace vek::ucp
