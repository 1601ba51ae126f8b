#include "links/smpp_link.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "links/link_socket.h"
#include "links/smpp_receiver.h"
#include "protocols/libraries/link_libraries.h"
#include "protocols/libraries/smpp_library.h"

namespace vek::links {
namespace {

static_assert(kResultNotConnected == smpp::status::kNotConnected);
static_assert(kResultConnectionLost == smpp::status::kConnectionLost);
static_assert(kResultTimeout == smpp::status::kTimeout);
static_assert(kResultCancelled == smpp::status::kCancelled);

// Each window entry holds its request file open: a window far beyond what
// any message centre grants would only exhaust descriptors.
constexpr int32_t kMaxWindow = 1000;

int bindTypeFor(LinkRole role) {
  switch (role) {
    case LinkRole::kReceiveOnly:
      return smpp::kBindTypeReceiver;
    case LinkRole::kTransceiver:
      return smpp::kBindTypeTransceiver;
    default:
      return smpp::kBindTypeTransmitter;
  }
}

}  // namespace

SmppLink::SmppLink(std::string link_name, const smpp::SmppLibrary* library)
    : LinkProtocol(std::move(link_name)), lib_(library ? *library : smpp::smppLibrary()) {}

SmppLink::~SmppLink() {
  close(false);
}

void SmppLink::loadSettings() {
  settings_ = foundation::loadSmppSettings(linkName());
  refreshKnobs();
}

bool SmppLink::reloadNeeded(unsigned link_number) {
  const foundation::SmppLinkSettings before = settings_;
  bool reconnect = foundation::checkReload(link_number, linkName(), &settings_);
  if (!reconnect && !(before == settings_))
    foundation::DebugLog("CheckReloadSmppSet",
                         "Connection settings changed, no reconnection needed");
  refreshKnobs();
  return reconnect;
}

void SmppLink::refreshKnobs() {
  const auto& s = settings_;
  knobs_.common = s;
  knobs_.validity = s.Validity;
  knobs_.keep_alive_s = std::max(0, s.KeepAlive);
  knobs_.window = std::clamp(s.WindowSize, 0, kMaxWindow);
  knobs_.command_timeout = std::chrono::seconds(s.CommandTimeout > 0 ? s.CommandTimeout : 120);
  knobs_.throttle_delay = std::chrono::seconds(std::max(0, s.SMPPThrottleErrorDelay));
  knobs_.throttle_for_qfull = s.ThrottleForQFull;
  knobs_.restart_after_throttle = s.RestartQAfterThrottleError;
  knobs_.wdp_merge = s.WDPAdaptation && !s.UseTLV;
  knobs_.transmitters = s.TransmitterCount;
  knobs_.receivers = s.ReceiverCount;
  knobs_.single_connection = s.ReceiveSingleConnection;
  version_ = s.InterfaceVersion;
  if (conn_) conn_->setCommandTimeout(knobs_.command_timeout);
}

bool SmppLink::open(LinkRole role, std::string* failure) {
  close(false);
  if (!lib_.complete()) {
    *failure = protocols::libraryFailureText(protocols::LinkLibrary::kSmpp);
    return false;
  }
  auto address = foundation::linkAddress(linkName());
  auto ports =
      foundation::parseLinkPorts(receiver_port_ ? settings_.ReceiverPort : settings_.SenderPort);
  SocketTarget target;
  target.label = "SMPP";
  target.host = address.host;
  target.port = ports.remote != 0 ? ports.remote : address.port;
  target.bind_ip = settings_.BindIP;
  target.local_port = ports.local;
  target.use_tls = settings_.UseSSL;
  if (receiver_port_) target.port_role = "receiver";
  tls::Stream stream;
  if (!openLinkSocket(target, &stream, failure)) return false;

  conn_ = std::make_unique<smpp::Connection>();
  conn_->setCommandTimeout(knobs_.command_timeout);
  conn_->setAsyncReceive(smppReceiveWorkersRunning(linkName()));
  if (lib_.SMPPConnect(*conn_, std::move(stream), linkName(), target.host, target.port) !=
      smpp::status::kOk) {
    *failure = "SMPP Failure -- Unable to connect to SMPP server at " + target.host + ":" +
               std::to_string(target.port);
    close(false);
    return false;
  }
  uint32_t st = lib_.SMPPBind(*conn_, version_, bindTypeFor(role), settings_.UserName,
                              settings_.Password, settings_.SystemType, settings_.AddressRange);
  if (st != smpp::status::kOk) {
    *failure = "SMPP Failure -- Unable to login to SMPP server with specified parameters:  " +
               lib_.SMPPErrorText(st);
    close(false);
    return false;
  }
  auto s = foundation::settings();
  lib_.SMPPSetDebugMode(s->Debug && !s->NoDebugProtocol ? 1 : 0);
  bool no_delay =
      foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", "SMPPNoDelay", "", 10));
  tuneLinkSocket(conn_->stream().fd(), no_delay);
  return true;
}

void SmppLink::close(bool orderly) {
  if (!conn_) return;
  if (orderly && lib_.SMPPCheckLinkStatus && lib_.SMPPCheckLinkStatus(*conn_))
    (void)lib_.SMPPUnbind(*conn_, version_);
  // Destroying the connection closes the stream (and its TLS session) and
  // completes every unanswered asynchronous submission as lost.
  conn_.reset();
}

bool SmppLink::linkUp() {
  return conn_ && lib_.SMPPCheckLinkStatus(*conn_) != 0;
}

int SmppLink::yield(std::chrono::milliseconds wait, bool* connection_error) {
  if (!conn_) {
    *connection_error = true;
    return 0;
  }
  return lib_.SMPPYield(*conn_, version_, wait, connection_error);
}

uint32_t SmppLink::enquire() {
  return conn_ ? lib_.SMPPEnquireLink(*conn_, version_) : kResultNotConnected;
}

bool SmppLink::asyncAvailable() const {
  return knobs_.window > 0 && lib_.SMPPSubmitMessageAsync != nullptr && !knobs_.wdp_merge;
}

uint32_t SmppLink::submit(const SubmitRequest& m, std::string* message_id) {
  if (!conn_) return kResultNotConnected;
  return lib_.SMPPSubmitMessage(*conn_, version_, m.sender, m.recipient, m.pid, m.dcs, m.udh,
                                m.data, m.flags, m.binary, message_id, m.request_file, m.params);
}

uint32_t SmppLink::submitAsync(const SubmitRequest& m, std::shared_ptr<smpp::AsyncSubmit> ctx) {
  if (!conn_) return kResultNotConnected;
  return lib_.SMPPSubmitMessageAsync(*conn_, version_, m.sender, m.recipient, m.pid, m.dcs, m.udh,
                                     m.data, m.flags, m.binary, m.request_file, m.params,
                                     std::move(ctx));
}

size_t SmppLink::outstanding() const {
  return conn_ ? conn_->outstanding() : 0;
}

std::string SmppLink::errorText(uint32_t code) const {
  return lib_.SMPPErrorText ? lib_.SMPPErrorText(code) : smpp::SMPPErrorText(code);
}

}  // namespace vek::links
