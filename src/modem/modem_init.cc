// The initialisation dialogue, the modem test, power-up and network wait,
// the hard reset and the error path.
#include <algorithm>
#include <map>
#include <mutex>

#include "foundation/debug_log.h"
#include "modem/modem.h"
#include "modem/pdu_submit.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

using platform::Status;

// PINs a SIM refused, per link: never offered again (three wrong PINs
// lock the SIM) until the PIN setting changes.
std::mutex g_refused_mu;
std::map<std::string, std::string> g_refused_pins;

bool pinRefusedBefore(const std::string& link, const std::string& pin) {
  std::scoped_lock lk(g_refused_mu);
  auto it = g_refused_pins.find(link);
  return it != g_refused_pins.end() && it->second == pin;
}

void rememberPin(const std::string& link, const std::string& pin, bool refused) {
  std::scoped_lock lk(g_refused_mu);
  if (refused) {
    g_refused_pins[link] = pin;
  } else {
    g_refused_pins.erase(link);
  }
}

// The failure text of a step: it could not be sent, or no OK came back.
Status stepFailure(const Response& r, const char* unable, const char* waiting) {
  const bool not_sent =
      r.status == Response::Status::kWriteFailed || r.status == Response::Status::kClosed;
  return Status::error(std::string("Modem Failure -- ") + (not_sent ? unable : waiting));
}

// The comma-separated values after "<prefix>" on its line, quotes removed.
std::vector<std::string> values(std::string_view text, std::string_view prefix) {
  std::vector<std::string> out;
  std::string_view line = findLineStarting(text, prefix);
  if (line.empty()) return out;
  line.remove_prefix(prefix.size());
  std::string cur;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      out.emplace_back(platform::trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  out.emplace_back(platform::trim(cur));
  return out;
}

// Every quoted value in `text` (in order, without repeats).
std::vector<std::string> quotedValues(std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while ((pos = text.find('"', pos)) != std::string_view::npos) {
    const size_t end = text.find('"', pos + 1);
    if (end == std::string_view::npos) break;
    std::string v(text.substr(pos + 1, end - pos - 1));
    if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(std::move(v));
    pos = end + 1;
  }
  return out;
}

bool offered(const std::vector<std::string>& storages, std::string_view name) {
  for (const auto& s : storages)
    if (platform::equalsNoCase(s, name)) return true;
  return false;
}

}  // namespace

void Modem::sendScripted(const std::vector<std::string>& commands, const char* what) {
  for (const auto& c : commands) {
    Response r = exchange(c, 30);
    if (r.status == Response::Status::kWriteFailed || r.status == Response::Status::kClosed)
      log(std::string("Error sending command: ") + c);
    else if (!r.ok())
      log(std::string("Error waiting for response to command: ") + c);
    (void)what;
  }
}

bool Modem::enterPin() {
  const std::string& pin = options_.pin;
  if (!platform::isAllDigits(pin) || pin.size() > 20) {
    log("PIN is not a number; not sent");
    return false;
  }
  if (pinRefusedBefore(options_.link_name, pin)) {
    log("PIN was refused before; not offered again until the PIN setting changes");
    return false;
  }
  Response r = exchange("AT+CPIN?", 5);
  if (r.contains("READY")) return true;
  Response entered = exchange("AT+CPIN=\"" + pin + "\"", 30);
  r = exchange("AT+CPIN?", 25);
  const bool ready = r.contains("READY");
  // Refused: an error answer, and the SIM still asks for its PIN.
  const bool refused = !ready && entered.error() && r.contains("SIM PIN");
  rememberPin(options_.link_name, pin, refused);
  if (refused) log("SIM refused the PIN");
  return ready;
}

Status Modem::initialise() {
  if (!isOpen())
    return Status::error("Modem Failure -- Unable to send initialization command to modem");
  facts_.text_mode = false;
  facts_.phase2plus = false;
  facts_.receive_set_up = false;

  // 1. PIN.
  if (!options_.pin.empty() && !enterPin())
    return Status::error("Modem Failure -- SIM PIN not accepted");

  // 2. Commands before the dialogue.
  sendScripted(options_.pre_init, "CommandPreInit");

  // 3. Echo off and verbose results, twice; the maker.
  for (int i = 0; i < 2; ++i) {
    Response r = exchange("ATE0V1", 30);
    if (!r.ok()) {
      return i == 0 ? stepFailure(r, "Unable to send initialization command to modem",
                                  "Error waiting for initialization response from modem")
                    : Status::error("Modem Failure -- Error initializing modem");
    }
  }
  Response ati = exchange("ATI0", 30);
  if (!ati.ok())
    return stepFailure(ati, "Unable to send initial command to modem",
                       "Error waiting for initial response from modem");
  facts_.wavecom = platform::findNoCase(ati.text, "WAVECOM") != std::string::npos;
  facts_.nokia = ati.contains("Nokia");
  channel_->setExtraCr(options_.send_extra_cr.value_or(facts_.nokia));

  // 4. Radio on, network.
  powerUp();
  waitForNetwork();

  // 5. SMS service.
  if (!selectSmsService()) {
    if (!isOpen())
      return Status::error("Modem Failure -- Unable to send SMS initialization command to modem");
    log("SMS service selection failed; initialisation continues");
  }

  // 6. Message format.
  if (auto s = selectMessageFormat(); !s.ok()) return s;
  channel_->setTextMode(facts_.text_mode);

  // 7. Modem test with the registration and storage checks.
  if (!test(true)) return Status::error("Modem Failure -- Error initializing modem");

  // 8. Receiving.
  if (options_.receive_sms) setUpReceiving();

  // 9. Packet or circuit switched SMS.
  if (platform::equalsNoCase(options_.sms_access, "GPRS")) {
    exchange("AT+CGATT=1", 30);
    exchange("AT+CGSMS=2", 10);
  } else if (platform::equalsNoCase(options_.sms_access, "GSM")) {
    exchange("AT+CGSMS=3", 10);
  }

  // 10. Numeric errors and the informational queries.
  exchange("AT+CMEE=1", 10);
  for (const char* q : {"AT+CNMI?", "AT+CNMI=?", "AT+COPS?", "AT+CSQ"}) exchange(q, 10);
  Response cnum = exchange("AT+CNUM", 10);
  const auto cnum_values = values(cnum.text, "+CNUM:");
  if (cnum_values.size() >= 2 && !cnum_values[1].empty()) {
    std::string number = cnum_values[1].substr(0, 50);
    if (number[0] >= '0' && number[0] <= '9') number.insert(number.begin(), '+');
    facts_.own_number = number.substr(0, 50);
  }

  // 11. Commands after the dialogue.
  sendScripted(options_.post_init, "CommandPostInit");
  if (!isOpen()) return Status::error("Modem Failure -- Error initializing modem");
  log("Modem initialization complete:  " + options_.link_name);
  return Status::success();
}

bool Modem::selectSmsService() {
  for (int attempt = 0; attempt <= 8; ++attempt) {
    if (attempt > 0) {
      powerUp();
      if (!channel_->pause(5)) return false;
    }
    if (!isOpen()) return false;
    if (options_.allow_phase2plus && exchange("AT+CSMS=1", 10).ok()) {
      facts_.phase2plus = true;
      return true;
    }
    if (exchange("AT+CSMS=0", 10).ok() || exchange("AT+CSMS=128", 10).ok()) return true;
    Response q = exchange("AT+CSMS?", 10);
    const auto v = values(q.text, "+CSMS:");
    if (!v.empty()) {
      if (options_.allow_phase2plus && v[0] == "1" && v.size() > 1) facts_.phase2plus = true;
      return true;
    }
  }
  return false;
}

Status Modem::selectMessageFormat() {
  if (!options_.text_mode) {
    Response r = exchange("AT+CMGF=0", 10);
    if (r.ok()) {
      facts_.text_mode = false;
      return Status::success();
    }
    if (r.status == Response::Status::kWriteFailed || r.status == Response::Status::kClosed)
      return Status::error(
          "Modem Failure -- Unable to send SMS PDU mode initialization command to modem");
    log("Modem Failure -- Error waiting for SMS PDU mode initialization response from modem");
  }
  Response t = exchange("AT+CMGF=1", 10);
  if (t.ok()) {
    facts_.text_mode = true;
    return Status::success();
  }
  if (t.status == Response::Status::kWriteFailed || t.status == Response::Status::kClosed)
    return Status::error(
        "Modem Failure -- Unable to send SMS text mode initialization command to modem");
  // Some modems refuse AT+CMGF=1 and still take text at the prompt.
  Response probe = channel_->command("AT+CMGS=\"123456789\"\r", 5);
  if (probe.status == Response::Status::kWriteFailed || probe.status == Response::Status::kClosed)
    return Status::error("Modem Failure -- Unable to send SMS message command to modem");
  const bool works = !probe.answered() || (!probe.contains("OK") && !probe.contains("ERROR"));
  channel_->send("\x1B\r");
  channel_->command("AT\r", 5);
  if (!works)
    return Status::error(
        "Modem Failure -- Modem does not properly support command for sending SMS (AT+CMGS - "
        "text mode)");
  facts_.text_mode = true;
  return Status::success();
}

void Modem::setUpReceiving() {
  Response cpms = exchange("AT+CPMS?", 10);
  log("Message storage: " + printable(cpms.text, 400));
  if (options_.direct_receive) {
    for (const char* c : {"AT+CNMI=2,2,2,1,0", "AT+CNMI=2,2", "AT+CNMI=2"})
      if (exchange(c, 5).ok()) break;
  } else {
    exchange("AT+CNMI=2,0", 5);
  }
  // New-message indications (<mt> 1 or 2) and status reports (<ds> 1, else 2).
  auto cnmi = values(exchange("AT+CNMI?", 10).text, "+CNMI:");
  auto set = [&](size_t index, const char* value) {
    while (cnmi.size() <= index) cnmi.push_back("0");
    cnmi[index] = value;
    std::string cmd = "AT+CNMI=";
    for (size_t i = 0; i < cnmi.size(); ++i) cmd += (i ? "," : "") + cnmi[i];
    return exchange(cmd, 5).ok();
  };
  if (cnmi.size() > 1 && cnmi[1] != "1" && cnmi[1] != "2") set(1, "1");
  cnmi = values(exchange("AT+CNMI?", 10).text, "+CNMI:");
  if (cnmi.size() > 3 && cnmi[3] != "1" && !set(3, "1")) set(3, "2");

  Response types = exchange("AT+CPMS=?", 10);
  const std::string_view line = findLineStarting(types.text, "+CPMS:");
  facts_.storages = quotedValues(line.substr(0, line.find(')')));
  if (facts_.storages.empty()) facts_.storages = quotedValues(line);
  facts_.poll_status_reports = options_.poll_memory_sr && offered(facts_.storages, "SR");
  selectStorage();
  facts_.receive_set_up = true;
}

void Modem::selectStorage() {
  std::string s = options_.receive_to;
  if (s.empty()) s = offered(facts_.storages, "SM") ? "SM" : "ME";
  if (platform::equalsNoCase(s, "ME") && !offered(facts_.storages, "ME") &&
      offered(facts_.storages, "SM"))
    s = "SM";
  facts_.receive_storage = s;
  const std::string q = "\"" + s + "\"";
  if (exchange("AT+CPMS=" + q + "," + q + "," + q, 10).ok()) return;
  if (exchange("AT+CPMS=" + q + "," + q, 10).ok()) return;
  exchange("AT+CPMS=" + q, 10);
}

bool Modem::powerUp() {
  Response r = exchange("AT+CFUN?", 10);
  const auto v = values(r.text, "+CFUN:");
  if (v.empty() || v[0] == "1") return r.ok();
  if (exchange("AT+CFUN=1", 30).ok()) {
    log("Powering Up Modem");
    return true;
  }
  return false;
}

bool Modem::waitForNetwork() {
  powerUp();
  bool registered = false;
  for (int i = 0; i < 18 && isOpen(); ++i) {
    const auto v = values(exchange("AT+COPS?", 10).text, "+COPS:");
    if (v.size() > 1 && platform::isAllDigits(v[0])) {
      registered = true;
      break;
    }
    if (!channel_->pause(5)) return false;
  }
  if (!registered) {
    log("Modem not ready");
    return false;
  }
  for (int i = 0; i < 10 && isOpen(); ++i) {
    Response r = exchange("AT+CPMS?", 10);
    if (r.answered() && !r.contains("+CMS ERROR")) {
      log("Modem Ready");
      return true;
    }
    if (!channel_->pause(2)) return false;
  }
  log("Modem not ready");
  return false;
}

bool Modem::test(bool storage_checks) {
  if (!channel_) return false;
  Response r = exchange("ATE0V1", 10);
  if (!r.ok() && channel_->alive()) {
    // A modem stuck at a prompt or in data mode: escape and try again.
    channel_->send("\x1B\r");
    channel_->send("AT\r");
    for (int i = 0; i < 10 && channel_->alive(); ++i) {
      Response any = channel_->receive(1);
      if (any.answered()) break;
    }
    r = exchange("ATE0V1", 10);
    if (!r.ok() && channel_->pause(5) && channel_->pause(5)) r = exchange("ATE0V1", 10);
  }
  if (!r.ok()) {
    log("Modem Test Failed");
    return false;
  }
  const auto creg = values(exchange("AT+CREG?", 10).text, "+CREG:");
  if (creg.size() > 1 && creg[1] == "0") log("Modem is not registered: +CREG: " + creg[0] + ",0");
  if (storage_checks) {
    Response types = exchange("AT+CPMS=?", 10);
    const std::string_view line = findLineStarting(types.text, "+CPMS:");
    if (!line.empty()) facts_.storages = quotedValues(line.substr(0, line.find(')')));
    exchange("AT+CPMS?", 10);
  }
  powerUp();
  return channel_->alive();
}

bool Modem::idleTest() {
  if (!channel_) return false;
  if (exchange("ATE0V1", 5).ok()) return true;
  log("Modem Test Failed");
  return test();
}

bool Modem::hardReset() {
  if (!channel_) return false;
  auto attempt = [&](int technique, const char* command) {
    log(platform::format("Hard reset technique #%d", technique));
    if (exchange(command, 30).ok()) {
      log("Hard reset ok");
      return true;
    }
    return false;
  };
  Response range = exchange("AT+CFUN=?", 10);
  const size_t at = range.text.find("+CFUN:");
  const bool resettable = at != std::string::npos && range.text.find("),", at) != std::string::npos;
  if (resettable && attempt(1, "AT+CFUN=1,1")) return true;
  if (!resettable && exchange("AT*E2RESET=?", 10).ok() && attempt(2, "AT*E2RESET")) return true;
  if (attempt(3, "AT!RESET")) return true;
  if (attempt(4, "AT+CFUN=1,1")) return true;
  log("Fall back to soft reset");
  if (exchange("AT+CFUN=1", 30).ok()) log("Soft reset ok");
  return false;
}

bool Modem::recoverAfterError() {
  if (!channel_) return false;
  for (int i = 0; i < 5 && channel_->alive(); ++i) {
    Response r = channel_->receive(1);
    if (!r.text.empty())
      log("Modem still sent: " + printable(r.text, 498));
    else
      break;
  }
  if (!test()) log("modem test failed");
  if (!options_.hard_reset_after_error || !channel_->alive()) return false;
  return hardReset();
}

std::string Modem::querySmscNumber() {
  const auto v = values(exchange("AT+CSCA?", 10).text, "+CSCA:");
  if (v.empty() || v[0].size() < 6 || v[0][0] != '+') return {};
  return isPhoneNumber(v[0]) ? v[0] : std::string();
}

}  // namespace vek::modem
