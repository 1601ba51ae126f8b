#include "links/text_link.h"

#include <algorithm>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "links/link_reporting.h"
#include "links/link_socket.h"
#include "protocols/framed_session.h"
#include "protocols/libraries/link_libraries.h"

namespace vek::links {
namespace {

constexpr auto kListenerRetry = std::chrono::seconds(15);

int32_t linkNumber(const std::string& link, std::string_view key, int32_t def) {
  std::string v = hostlib::SMSIniGetProfileString(foundation::linkSectionName(link), key, "", 20);
  return v.empty() ? def : foundation::number(v);
}

}  // namespace

uint32_t toLinkResult(uint32_t code) {
  return code == protocols::local::kConnectionError ? kResultConnectionLost : code;
}

uint32_t toEngineResult(uint32_t code) {
  return code == kResultConnectionLost || code == kResultNotConnected
             ? protocols::local::kConnectionError
             : code;
}

std::string ucpLinkErrorText(uint32_t code) {
  return ucp::UCPErrorText(toEngineResult(code));
}

std::string cimdLinkErrorText(uint32_t code) {
  return cimd::CIMDErrorText(toEngineResult(code));
}

namespace {

// The engine's context for one asynchronous submission: it hands the
// answer on to the sender's own context with the result translated.
class RelayedSubmit final : public protocols::AsyncSubmit {
 public:
  explicit RelayedSubmit(std::shared_ptr<protocols::AsyncSubmit> target)
      : target_(std::move(target)) {}

 private:
  void onAnswered() override {
    if (auto t = std::move(target_)) t->complete(toLinkResult(result()), messageId());
  }
  std::shared_ptr<protocols::AsyncSubmit> target_;
};

}  // namespace

TextLink::TextLink(std::string link_name, const char* label, protocols::LinkLibrary library,
                   int32_t max_window)
    : LinkProtocol(std::move(link_name)),
      label_(label),
      library_(library),
      max_window_(max_window) {}

TextLink::~TextLink() {
  // The subclass dropped its connection already; only the listener is left.
  listener_.reset();
}

void TextLink::loadSettings() {
  settings_ = foundation::loadUcpSettings(linkName());
  window_setting_ = linkNumber(linkName(), "WindowSize", 0);
  refreshKnobs();
}

bool TextLink::reloadNeeded(unsigned link_number) {
  bool reconnect = foundation::checkReload(link_number, linkName(), &settings_);
  // Like SMPP links: a window change reconnects only between 0 and non-zero.
  const int32_t window = linkNumber(linkName(), "WindowSize", 0);
  if ((window > 0) != (window_setting_ > 0)) reconnect = true;
  window_setting_ = window;
  refreshKnobs();
  return reconnect;
}

void TextLink::refreshKnobs() {
  const auto& s = settings_;
  knobs_.common = s;
  knobs_.keep_alive_s = std::max(0, s.KeepAlive);
  knobs_.window = std::clamp(window_setting_, 0, max_window_);
  const int32_t timeout = linkNumber(linkName(), "CommandTimeout", 120);
  knobs_.command_timeout = std::chrono::seconds(timeout > 0 ? timeout : 120);
  knobs_.validity =
      hostlib::SMSIniGetProfileString(foundation::linkSectionName(linkName()), "Validity", "", 50);
  // One connection that sends and receives: the sender starts no SMPP
  // receiver connection for these kinds.
  knobs_.transmitters = 1;
  knobs_.receivers = 0;
  knobs_.single_connection = false;
  if (hasConnection()) engineSetTimeout(knobs_.command_timeout);
}

void TextLink::ensureListener() {
  const int32_t port = settings_.ReceivePort;
  if (port <= 0 || port > 65535) {
    listener_.reset();
    return;
  }
  if (listener_ && listener_->running() && listener_port_ == port &&
      listener_ip_ == settings_.BindIP)
    return;
  if (platform::monotonicNow() < next_listener_try_ && listener_ && listener_port_ == port &&
      listener_ip_ == settings_.BindIP)
    return;
  listener_.reset();
  listener_ = std::make_unique<ReceivePortListener>(label_, linkName(), serveEntry());
  listener_port_ = port;
  listener_ip_ = settings_.BindIP;
  std::string failure;
  if (!listener_->start(settings_.BindIP, static_cast<uint16_t>(port), &failure)) {
    writeSystemLog(linkName(), failure);
    next_listener_try_ = platform::monotonicNow() + kListenerRetry;
  }
}

bool TextLink::open(LinkRole, std::string* failure) {
  close(false);
  if (!libraryComplete()) {
    *failure = protocols::libraryFailureText(library_);
    return false;
  }
  ensureListener();
  auto address = foundation::linkAddress(linkName());
  SocketTarget target;
  target.label = label_;
  target.host = address.host;
  target.port = address.port;
  target.bind_ip = settings_.BindIP;
  target.local_port = static_cast<uint16_t>(std::clamp(settings_.LocalPort, 0, 65535));
  tls::Stream stream;
  if (!openLinkSocket(target, &stream, failure)) return false;

  resetConnection(true);
  engineSetTimeout(knobs_.command_timeout);
  const std::string server = std::string(label_) + " server";
  if (engineConnect(std::move(stream), target.host, target.port) != 0) {
    *failure = std::string(label_) + " Failure -- Unable to connect to " + server + " at " +
               target.host + ":" + std::to_string(target.port);
    close(false);
    return false;
  }
  uint32_t st = engineBind(settings_.UserName, settings_.Password);
  if (st != 0) {
    *failure = std::string(label_) + " Failure -- Unable to login to " + server +
               " with specified parameters:  " + engineErrorText(st);
    close(false);
    return false;
  }
  auto s = foundation::settings();
  engineDebug(s->Debug && !s->NoDebugProtocol);
  bool no_delay =
      foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", "SMPPNoDelay", "", 10));
  tuneLinkSocket(engineStream(), no_delay);
  return true;
}

void TextLink::close(bool orderly) {
  if (!hasConnection()) return;
  if (orderly && engineUp()) engineUnbind();
  // Dropping the connection closes the stream and completes every
  // unanswered asynchronous submission as lost.
  resetConnection(false);
}

bool TextLink::linkUp() {
  return hasConnection() && engineUp();
}

int TextLink::yield(std::chrono::milliseconds wait, bool* connection_error) {
  if (settings_.ReceivePort > 0 && (!listener_ || !listener_->running()) &&
      platform::monotonicNow() >= next_listener_try_)
    ensureListener();
  if (!hasConnection()) {
    *connection_error = true;
    return 0;
  }
  return engineYield(wait, connection_error);
}

uint32_t TextLink::enquire() {
  return hasConnection() ? toLinkResult(engineEnquire()) : kResultNotConnected;
}

bool TextLink::asyncAvailable() const {
  return knobs_.window > 0 && engineHasAsync();
}

uint32_t TextLink::submit(const SubmitRequest& m, std::string* message_id) {
  if (!hasConnection()) return kResultNotConnected;
  return toLinkResult(engineSubmit(m, message_id));
}

uint32_t TextLink::submitAsync(const SubmitRequest& m, std::shared_ptr<smpp::AsyncSubmit> ctx) {
  if (!hasConnection()) return kResultNotConnected;
  return toLinkResult(engineSubmitAsync(m, std::make_shared<RelayedSubmit>(std::move(ctx))));
}

size_t TextLink::outstanding() const {
  return hasConnection() ? engineOutstanding() : 0;
}

std::string TextLink::errorText(uint32_t code) const {
  if (code == kResultNotConnected) return "Not connected";
  return engineErrorText(toEngineResult(code));
}

}  // namespace vek::links
