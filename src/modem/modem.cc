// The modem's port: opening an IP modem (login, script, first checks) or a
// serial device (speed search, hammer), plus the pieces every part of the
// driver shares.
#include "modem/modem.h"

#include "foundation/debug_log.h"
#include "platform/shutdown.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

constexpr char kHammerTag[] = "HammerNonResponsiveModem";
const std::vector<unsigned> kSpeeds = {115200, 57600, 38400, 19200, 9600, 2400};
const std::vector<unsigned> kHammerSpeeds = {460800, 230400, 115200, 115200,
                                             57600,  38400,  19200,  9600};

AtChannel::Options channelOptions(const ModemOptions& o) {
  AtChannel::Options c;
  c.text_mode = o.text_mode;
  c.extra_cr = o.send_extra_cr.value_or(false);
  c.max_bytes_per_write = o.max_bytes_per_write;
  c.write_pause_ms = o.write_pause_ms;
  c.time_scale = o.time_scale;
  c.stop = o.stop;
  c.log_tag = o.link_name.empty() ? "Modem" : o.link_name;
  return c;
}

}  // namespace

Modem::Modem(ModemOptions options, InboundHandler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {
  if (!handler_) handler_ = [](const InboundSms& m) { return handInboundSms(m); };
}

Modem::~Modem() = default;

bool Modem::isOpen() const {
  return channel_ && channel_->alive();
}

bool Modem::stopRequested() const {
  return options_.stop ? options_.stop->load(std::memory_order_relaxed)
                       : platform::shutdownRequested();
}

void Modem::log(std::string_view text) const {
  foundation::DebugLog(options_.link_name.empty() ? "Modem" : options_.link_name, text);
}

Response Modem::exchange(std::string_view command, double seconds) {
  if (!channel_) {
    Response r;
    r.status = Response::Status::kClosed;
    return r;
  }
  Response r = channel_->command(std::string(command) + "\r", seconds);
  if (!handling_reports_ && !channel_->reader().setAside().empty()) handleReports();
  return r;
}

platform::Status Modem::open() {
  channel_.reset();
  facts_ = ModemFacts{};
  hammer_tried_ = false;
  if (auto ip = parseIpModemName(options_.link_name)) return openIpModem();
  return openSerial();
}

void Modem::attachPort(std::unique_ptr<Port> port) {
  facts_ = ModemFacts{};
  channel_ = std::make_unique<AtChannel>(std::move(port), channelOptions(options_));
}

void Modem::close(bool after_hard_reset) {
  if (!channel_) return;
  if (facts_.receive_set_up && !after_hard_reset && channel_->alive()) exchange("AT+CNMI=2,0", 5);
  channel_.reset();
}

// ---- IP modems ----

platform::Status Modem::openIpModem() {
  const auto ip = parseIpModemName(options_.link_name);
  const std::string where = ip->host + ":" + std::to_string(ip->port);
  if (ip->port == 0 || ip->host.empty())
    return platform::Status::error("Cannot parse port number for IP Modem - " +
                                   options_.link_name.substr(10));
  const int connect_ms = std::max<int>(1000, static_cast<int>(30000 * options_.time_scale));
  auto tcp = TcpPort::connect(ip->host, ip->port, connect_ms);
  if (!tcp.ok()) {
    const std::string text = platform::format("Cannot connect to IP Modem at %s:%u",
                                              ip->host.c_str(), static_cast<unsigned>(ip->port));
    log(text + " (" + tcp.status().message() + ")");
    return platform::Status::error(text);
  }
  channel_ = std::make_unique<AtChannel>(std::move(*tcp), channelOptions(options_));
  auto fail = [&](const std::string& text) {
    log(text);
    channel_.reset();
    return platform::Status::error(text);
  };

  if (!options_.username.empty()) {
    if (!channel_->waitForText({"Username", "User name", "User", "Login"}, 10))
      return fail("IP Modem connection failed, waiting for login/username prompt");
    channel_->send(options_.username + "\r");
  }
  if (!options_.password.empty()) {
    if (!channel_->waitForText({"Password", "pass"}, 10))
      return fail("IP Modem connection failed, waiting for password prompt");
    channel_->send(options_.password + "\r");
  }
  for (const auto& step : options_.ip_init_script) {
    if (!channel_->waitForText({step.wait_for}, 30))
      return fail("IP Modem connection failed, waiting for prompt:  " + step.wait_for);
    if (!step.send.empty()) channel_->send(step.send + "\r");
    channel_->pause(1);
  }

  channel_->pause(3);
  channel_->discardInput();
  channel_->send("\r");
  channel_->pause(1);
  channel_->send("\r");
  if (!channel_->command("ATE1\r", 30).ok()) {
    log("IP Modem connection failed, waiting for prompt:  OK");
    channel_->command("AT+CFUN=1\r", 30);
  }
  if (!channel_->command("AT\r", 30).ok())
    return fail("IP Modem connection failed, waiting for prompt:  OK");
  log("IP Modem connected at " + where);
  return platform::Status::success();
}

// ---- serial devices ----

platform::Status Modem::reopenSerial() {
  channel_.reset();
  platform::Status first_error =
      platform::Status::error("Unable to open device " + options_.link_name + ", no such device");
  bool have_error = false;
  const auto candidates = device_path_.empty()
                              ? serialDeviceCandidates(options_.link_name, options_.by_id_dir)
                              : std::vector<std::string>{device_path_};
  for (const auto& path : candidates) {
    auto port = SerialPort::open(path);
    if (port.ok()) {
      device_path_ = path;
      channel_ = std::make_unique<AtChannel>(std::move(*port), channelOptions(options_));
      return platform::Status::success();
    }
    if (!have_error || port.status().code() != ENOENT) {
      if (!have_error || first_error.code() == ENOENT) first_error = port.status();
      have_error = true;
    }
  }
  return first_error;
}

platform::Status Modem::openSerial() {
  device_path_.clear();
  if (auto s = reopenSerial(); !s.ok()) {
    log(s.message());
    return s;
  }
  if (searchSpeeds(kSpeeds)) return platform::Status::success();
  log("Could not negotate modem speed");
  if (options_.hammer && !hammer_tried_) {
    hammer_tried_ = true;
    if (hammer() || (channel_ && searchSpeeds(kSpeeds))) return platform::Status::success();
  }
  channel_.reset();
  return platform::Status::error("Could not negotate modem speed");
}

bool Modem::searchSpeeds(const std::vector<unsigned>& speeds) {
  for (unsigned baud : speeds) {
    if (stopRequested() || !channel_) return false;
    if (!isSupportedSpeed(baud)) continue;
    if (speedTest(baud)) return true;
    if (!channel_->alive()) return false;
  }
  return false;
}

bool Modem::speedTest(unsigned baud) {
  auto& serial = static_cast<SerialPort&>(channel_->port());
  if (auto s = serial.setSpeed(baud); !s.ok()) {
    log("Unable to set speed: " + s.message());
    return false;
  }
  channel_->reader().reset();
  channel_->send("\r");
  channel_->send("\r");
  channel_->listen(1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Response r = channel_->command("ATE0V1\r", 5);
    if (r.ok()) {
      facts_.speed = baud;
      log(platform::format("Initialised modem at %u bps", baud));
      return true;
    }
    if (attempt == 0) {
      channel_->send("+++ATH0\r");
      channel_->send("\x1B");
      channel_->send("\r");
      channel_->listen(1);
    }
  }
  return false;
}

bool Modem::hammer() {
  foundation::DebugLog(kHammerTag, "Trying to recover " + options_.link_name);
  if (auto s = reopenSerial(); !s.ok()) {
    std::string text =
        platform::format("Unable to access modem at %s -- Error %X -- ", options_.link_name.c_str(),
                         static_cast<unsigned>(s.code()));
    if (s.code() == EBUSY || s.code() == EACCES)
      text += "Another application is already using this device.";
    foundation::DebugLog(kHammerTag, text);
    return false;
  }
  if (searchSpeeds(kHammerSpeeds)) return true;
  hardReset();
  channel_->pause(15);
  return searchSpeeds(kHammerSpeeds);
}

}  // namespace vek::modem
