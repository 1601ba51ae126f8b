#include "links/modem_link.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/link_name.h"
#include "hostlib/host.h"
#include "inbound/process_inbound.h"
#include "links/link_reporting.h"
#include "links/modem_allocator.h"
#include "modem/port.h"
#include "modem/usb_power.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/request_file.h"

namespace vek::links {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kAllocateTimeout = seconds(300);
constexpr int32_t kMaxReconnectWait = 6000;
constexpr auto kRebootAfter = seconds(600);
constexpr double kAfterHardReset = 15;
constexpr double kBeforeRelease = 2, kAfterRelease = 5;
constexpr double kUsbSettle = 15;
constexpr size_t kBusyScan = 20000;
// Scripted keys ("CommandPreInit%u", ...) are read up to the first gap.
constexpr unsigned kMaxScripted = 999;
// Values of keys that are read raw (the settings loader has no field).
constexpr size_t kKeyBuffer = 500;
constexpr char kAbsent[] = "\x01";

std::mutex g_restart_mu;
std::function<int()> g_restart;
// The machine is rebooted at most once per run of the gateway.
bool g_reboot_started = false;

std::string sectionKey(std::string_view section, std::string_view key) {
  return hostlib::SMSIniGetProfileString(section, key, kAbsent, kKeyBuffer);
}
bool present(const std::string& v) {
  return v != kAbsent;
}
bool flagKey(std::string_view section, std::string_view key, bool def) {
  std::string v = sectionKey(section, key);
  return present(v) ? foundation::yesNo(v) : def;
}
int32_t numberKey(std::string_view section, std::string_view key, int32_t def) {
  std::string v = sectionKey(section, key);
  return present(v) ? foundation::number(v) : def;
}
std::vector<std::string> scripted(std::string_view section, const char* pattern) {
  std::vector<std::string> out;
  for (unsigned i = 1; i <= kMaxScripted; ++i) {
    std::string v = sectionKey(section, platform::format(pattern, i));
    if (!present(v)) break;
    out.push_back(std::move(v));
  }
  return out;
}

// The value of "Name=" in a "Name=value; Name=value" parameter string.
std::string param(std::string_view params, std::string_view name) {
  for (const std::string& item : platform::split(params, ";")) {
    std::string_view t = platform::trim(item);
    if (t.size() > name.size() && t[name.size()] == '=' &&
        platform::equalsNoCase(t.substr(0, name.size()), name))
      return std::string(t.substr(name.size() + 1));
  }
  return {};
}

bool contains(std::string_view text, std::string_view what) {
  return text.find(what) != std::string_view::npos;
}

}  // namespace

void setServerRestartAction(std::function<int()> action) {
  std::scoped_lock lk(g_restart_mu);
  g_restart = std::move(action);
}

ModemLink::ModemLink(std::string link_name) : LinkProtocol(std::move(link_name)) {}

ModemLink::~ModemLink() {
  close(false);
}

foundation::LinkKind ModemLink::kind() const {
  return foundation::linkKind(linkName());
}

void ModemLink::loadSettings() {
  settings_ = foundation::loadModemSettings(linkName());
  refreshKnobs();
}

bool ModemLink::reloadNeeded(unsigned link_number) {
  bool reinitialise = foundation::checkReload(link_number, linkName(), &settings_);
  refreshKnobs();
  return reinitialise;
}

void ModemLink::refreshKnobs() {
  knobs_.common = settings_;
  knobs_.validity = settings_.Validity;
  knobs_.keep_alive_s = 0;
  knobs_.window = 0;
  // One modem, one connection that sends and receives.
  knobs_.transmitters = 1;
  knobs_.receivers = 0;
  knobs_.single_connection = true;
  knobs_.max_reconnect_wait_s = kMaxReconnectWait;
  // A submission's answer may take the modem's 120 s and the prompt's 15 s.
  knobs_.command_timeout = seconds(150);
}

double ModemLink::scale() const {
  const char* env = ::getenv("VEKSMS_MODEM_TIME_SCALE");
  if (env == nullptr || *env == '\0') return 1.0;
  double v = std::strtod(env, nullptr);
  return v >= 0.01 && v <= 1.0 ? v : 1.0;
}

modem::ModemOptions ModemLink::modemOptions() const {
  const std::string section = foundation::linkSectionName(linkName());
  const auto& s = settings_;
  modem::ModemOptions o;
  o.link_name = linkName();
  if (std::string v = sectionKey(section, "Username"); present(v)) o.username = v;
  if (std::string v = sectionKey(section, "Password"); present(v)) o.password = v;
  for (unsigned i = 1; i <= kMaxScripted; ++i) {
    std::string wait = sectionKey(section, platform::format("IPModemInitWaitFor%u", i));
    if (!present(wait)) break;
    std::string send = sectionKey(section, platform::format("IPModemInitSend%u", i));
    o.ip_init_script.push_back({wait, present(send) ? send : std::string()});
  }
  o.own_number = s.PhoneNumber;
  o.pin = s.PIN;
  o.smsc = !s.SMSC.empty() ? s.SMSC : smsc_learned_;
  o.exclude_smsc = s.ExcludeSMSC;
  o.text_mode = s.ModemTextMode;
  o.allow_phase2plus = s.AllowPhase2Plus;
  if (present(sectionKey(section, "ModemSendExtraCR"))) o.send_extra_cr = s.ModemSendExtraCR;
  o.send_workaround = s.ModemSendWorkaround;
  o.send_response_simple = s.ModemSendResponseSimple;
  if (present(sectionKey(section, "DelayAfterSend"))) o.delay_after_send_ms = s.DelayAfterSend;
  o.delay_after_error_ms = s.DelayAfterError;
  o.receive_sms = s.ReceiveSMS;
  o.direct_receive = s.DirectReceive;
  o.receive_to = s.ReceiveTo;
  o.poll_memory_sr = flagKey(section, "PollMemorySR", false);
  o.process_read_messages = flagKey(section, "ProcessReadMessages", true);
  o.sms_access = s.SMSAccess;
  o.hard_reset_after_error = s.ModemHardResetAfterError;
  o.alpha_sender_address_bug = flagKey(section, "AlphaSenderAddressBug", false);
  o.validity = s.Validity;
  o.disable_delivery_receipt = s.DisableDeliveryReceipt;
  o.pre_init = scripted(section, "CommandPreInit%u");
  o.post_init = scripted(section, "CommandPostInit%u");
  o.pre_send = scripted(section, "CommandPreSend%u");
  o.post_send = scripted(section, "CommandPostSend%u");

  o.test_zero_mr = flagKey("SMSGW", "TestZeroMR", false);
  o.old_receipt_format = flagKey("SMSGW", "OldModemReceiptFormat", false);
  o.debug_poll = flagKey("SMSGW", "DebugModemPoll", false);
  o.disable_invalid_sr_check = flagKey("SMSGW", "DisableInvalidStatusReportCheck", false);
  const bool ip = modem::parseIpModemName(linkName()).has_value();
  o.max_bytes_per_write = static_cast<size_t>(
      std::max(0, numberKey("SMSGW", ip ? "IPModemMaxBytes" : "ModemMaxBytesPerSend", 0)));
  o.write_pause_ms = std::max(0, numberKey("SMSGW", "ModemSendDelay", 0));
  o.time_scale = scale();
  return o;
}

// ---- the session ----------------------------------------------------------

bool ModemLink::open(LinkRole, std::string* failure) {
  close(false);
  if (failures_ > 0) repeatedFailureRules();
  if (platform::shutdownRequested()) {
    *failure = "Modem Failure -- stopping";
    return false;
  }
  if (!openSession(failure)) {
    endSession();
    failed();
    return false;
  }
  failures_ = 0;
  return true;
}

bool ModemLink::openSession(std::string* failure) {
  const std::string& link = linkName();
  foundation::DebugLogf(link, "Before ModemAllocate - %s", link.c_str());
  allocated_ = ModemAllocator::instance().allocate(link, link, kAllocateTimeout);
  foundation::DebugLogf(link, "After ModemAllocate - %s - %s", link.c_str(),
                        allocated_ ? "OK" : "Busy");
  if (!allocated_) {
    *failure = "Modem Busy or Unavailable";
    return false;
  }
  usbReEnableIfAsked();
  foundation::DebugLogf(link, "Re-initializing modem:  %s ...", link.c_str());

  const bool after_reset = std::exchange(hard_reset_done_, false);
  const double factor = scale();
  if (after_reset &&
      !platform::sleepFor(milliseconds(static_cast<int64_t>(kAfterHardReset * 1000 * factor)))) {
    *failure = "Modem Failure -- stopping";
    return false;
  }
  modem_error_ = false;
  modem_ = std::make_unique<modem::Modem>(modemOptions(),
                                          [this](const modem::InboundSms& m) { return store(m); });
  if (port_factory_) {
    auto port = port_factory_();
    if (port) modem_->attachPort(std::move(port));
  } else {
    (void)modem_->open();
  }
  if (!modem_->isOpen()) {
    *failure =
        "Modem Failure -- Unable to access modem, ensure that it is powered on and passes "
        "diagnostic tests.";
    return false;
  }
  if (after_reset) {
    modem_->powerUp();
    modem_->waitForNetwork();
  }
  if (platform::Status st = modem_->initialise(); !st.ok()) {
    *failure = st.message();
    return false;
  }
  last_poll_ = platform::monotonicNow();
  // Messages stored while the link was down are fetched at once.
  pollIfDue(polling());
  if (modemBroken()) {
    *failure = "Modem Failure -- Error waiting for initialization response from modem";
    return false;
  }
  return true;
}

void ModemLink::close(bool orderly) {
  const bool had_session = modem_ != nullptr;
  const bool broken = modem_error_;
  endSession();
  if (had_session && (!orderly || broken)) failed();
}

void ModemLink::endSession() {
  if (modem_) {
    if (modem_error_ && modem_->isOpen()) {
      hard_reset_done_ = modem_->recoverAfterError();
    } else if (modem_error_) {
      foundation::DebugLog(linkName(), "modem test failed");
    }
    modem_->close(hard_reset_done_);
    modem_.reset();
  }
  modem_error_ = false;
  if (allocated_) {
    const std::string& link = linkName();
    const double factor = scale();
    platform::sleepFor(milliseconds(static_cast<int64_t>(kBeforeRelease * 1000 * factor)));
    foundation::DebugLogf(link, "Before ModemRelease - %s", link.c_str());
    ModemAllocator::instance().release(link, link);
    allocated_ = false;
    foundation::DebugLogf(link, "After ModemRelease - %s", link.c_str());
    platform::sleepFor(milliseconds(static_cast<int64_t>(kAfterRelease * 1000 * factor)));
  }
}

void ModemLink::failed() {
  if (failures_++ == 0) failing_since_ = platform::monotonicNow();
}

bool ModemLink::linkUp() {
  return modem_ && !modem_error_ && modem_->isOpen();
}

bool ModemLink::modemBroken() {
  if (!modem_ || !modem_->isOpen()) modem_error_ = true;
  return modem_error_;
}

int ModemLink::yield(milliseconds wait, bool* connection_error) {
  if (modemBroken()) {
    *connection_error = true;
    return 0;
  }
  modem_->listen(std::max<double>(0, wait.count() / 1000.0) / modem_->options().time_scale);
  pollIfDue(false);
  if (modemBroken()) *connection_error = true;
  return 0;
}

uint32_t ModemLink::enquire() {
  return linkUp() ? 0 : kResultNotConnected;
}

bool ModemLink::polling() const {
  return settings_.ReceiveSMS && !settings_.DirectReceive;
}

void ModemLink::pollIfDue(bool force) {
  if (!modem_) return;
  // +CMTI / +CDSI announce a stored item, in direct mode too.
  if (modem_->takeNewMessageFlag()) force = true;
  const auto now = platform::monotonicNow();
  if (!force && (!polling() || now - last_poll_ < seconds(std::max(1, settings_.ReceivePoll))))
    return;
  last_poll_ = now;
  (void)modem_->pollStorage();
}

bool ModemLink::afterPass(size_t files_seen) {
  if (modemBroken()) return false;
  pollIfDue(false);
  if (modemBroken()) return false;
  if (!modem_->idleTest()) {
    modem_error_ = true;
    return false;
  }
  const double listen =
      files_seen > kBusyScan ? std::min<double>(5, 2 + static_cast<double>(files_seen / 10000)) : 2;
  modem_->listen(listen);
  pollIfDue(false);
  if (modemBroken()) return false;

  if (ModemAllocator::instance().requested(linkName())) {
    const auto quiet = platform::monotonicNow() - last_received_;
    if (quiet > seconds(settings_.MMSModeSwitchTimeout)) {
      foundation::DebugLog(linkName(), "Releasing modem for other activities");
      return false;
    }
    foundation::DebugLog(linkName(),
                         "Waiting for SMS receive activity to slow down before releasing modem "
                         "for other activities");
  }
  return true;
}

platform::Status ModemLink::store(const modem::InboundSms& m) {
  inbound::InboundSMS in;
  in.link_name = m.link_name;
  in.sender = m.sender;
  in.recipient = m.recipient;
  in.udh = m.udh;
  in.data = m.data;
  in.pid = m.pid;
  in.dcs = m.dcs;
  in.flags = m.flags;
  in.binary = m.binary;
  in.receipt_message_id = m.receipt_message_id;
  in.resolve_receipt_id = m.resolve_receipt_id;
  if (!m.route_to_local_user.empty()) in.extra = "RouteToLocalUser=" + m.route_to_local_user;
  if (!m.received_smsc.empty()) {
    if (!in.extra.empty()) in.extra += ";";
    in.extra += "ReceivedSMSC=" + m.received_smsc;
  }
  auto stored = inbound::ProcessInboundSMS(in);
  if (!stored.ok()) return stored.status();
  last_received_ = platform::monotonicNow();
  return platform::Status::success();
}

// ---- sending --------------------------------------------------------------

uint32_t ModemLink::submit(const SubmitRequest& m, std::string* message_id) {
  if (modemBroken()) return kResultNotConnected;
  if (std::exchange(cmms_due_, false)) modem_->exchange("AT+CMMS=2", 5);

  modem::OutboundSms o;
  o.recipient = m.recipient;
  o.pid = m.pid;
  o.dcs = m.dcs;
  o.data = m.data;
  o.udh = m.udh;
  o.binary = m.binary;
  o.flags = m.flags;
  o.validity = param(m.params, "Validity");
  o.queue_file_name = m.request_file;
  o.account = param(m.params, "LocalUser");
  o.sender = m.sender;

  modem::SendResult r = modem_->send(o);
  if (!r.sent() && !r.modem_error && contains(r.error, "CMS ERROR") && contains(r.error, "330") &&
      modem_->options().smsc.empty()) {
    // The modem knows no service centre: its own setting may still hold one.
    std::string smsc = modem_->querySmscNumber();
    if (!smsc.empty()) {
      foundation::DebugLog(linkName(), "Using SMSC " + smsc + " from the modem");
      smsc_learned_ = smsc;
      modem_->setSmsc(smsc);
      r = modem_->send(o);
    }
  }
  if (r.sent()) {
    last_code_ = 0;
    last_error_.clear();
    *message_id = r.message_id;
    return 0;
  }
  last_error_ = r.error.empty() ? std::string("ERROR") : r.error;
  if (r.modem_error || !modem_->isOpen()) {
    modem_error_ = true;
    last_code_ = kResultConnectionLost;
  } else if (r.outcome == modem::SendResult::Outcome::kPermanent) {
    last_code_ = kModemUnsendable;
  } else if (r.cms_error >= 0) {
    last_code_ = static_cast<uint32_t>(r.cms_error);
  } else {
    last_code_ = kModemFailed;
  }
  return last_code_;
}

std::string ModemLink::errorText(uint32_t code) const {
  if (code == last_code_ && !last_error_.empty()) return last_error_;
  if (code == kResultConnectionLost || code == kResultNotConnected)
    return "ERROR - Error communication with modem";
  return platform::format("ERROR - Modem error %u", code);
}

// ---- repeated failures ----------------------------------------------------

std::string ModemLink::usbDeviceId() const {
  if (modem::parseIpModemName(linkName())) return {};
  for (const std::string& path : modem::serialDeviceCandidates(linkName())) {
    auto id = modem::usbDeviceId(path);
    if (id.ok()) return *id;
  }
  return {};
}

void ModemLink::usbReEnableIfAsked() {
  const std::string section = foundation::linkSectionName(linkName());
  if (!flagKey(section, "USBReEnable", false)) return;
  (void)hostlib::SMSIniWriteProfileString(section, "USBReEnable", "");
  const std::string id = usbDeviceId();
  if (id.empty()) {
    foundation::DebugLog(linkName(), "No USB device found to re-enable for " + linkName());
    return;
  }
  if (auto st = modem::reEnableUsbModem(linkName(), id, kUsbSettle * scale()); !st.ok())
    foundation::DebugLog(linkName(), "USB re-enable failed: " + st.message());
}

void ModemLink::repeatedFailureRules() {
  const std::string& link = linkName();
  const bool long_failing = platform::monotonicNow() - failing_since_ >= kRebootAfter;
  if (settings_.RebootOnModemError && long_failing) {
    std::function<int()> restart;
    {
      std::scoped_lock lk(g_restart_mu);
      if (g_reboot_started) return;
      g_reboot_started = true;
      restart = g_restart;
    }
    const std::string section = foundation::linkSectionName(link);
    if (settings_.ResetUSBDevices) {
      const std::string id = usbDeviceId();
      if (!id.empty() && modem::usbModemEnable(id, false).ok())
        (void)hostlib::SMSIniWriteProfileString(section, "USBReEnable", "Yes");
    }
    alertError("Server reboot initiated to recover modem " + link);
    platform::requestShutdown();
    if (!restart || restart() == 0) foundation::DebugLog(link, "The server could not be restarted");
    return;
  }
  if (settings_.ResetUSBDevices) {
    const std::string id = usbDeviceId();
    if (id.empty()) {
      foundation::DebugLog(link, "No USB device found to reset for " + link);
      return;
    }
    if (auto st = modem::reEnableUsbModem(link, id, kUsbSettle * scale()); !st.ok())
      foundation::DebugLog(link, "USB reset failed: " + st.message());
  }
}

}  // namespace vek::links
