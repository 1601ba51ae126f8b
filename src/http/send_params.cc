#include "http/send_params.h"

#include "encoding/hex_text.h"
#include "foundation/config_rules.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "http/param_lookup.h"
#include "http/params.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::http {
namespace {

constexpr unsigned kMaxSmppOptions = 100;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal port number 0..65535, nothing else.
std::optional<uint16_t> portNumber(std::string_view text) {
  text = platform::trim(text);
  if (text.empty() || text.size() > 5 || !platform::isAllDigits(text)) return std::nullopt;
  int64_t v = platform::parseLeadingInt(text);
  if (v > 65535) return std::nullopt;
  return static_cast<uint16_t>(v);
}

class ParamReader {
 public:
  ParamReader(const ParamLookup& params, SendParams* p) : params_(params), p_(p) {}

  std::optional<std::string> get(std::string_view name, size_t keep) const {
    return params_.get(name, keep + 1);
  }
  // A one-line value: refused (named in invalid_parameter) when it holds a
  // control character.
  bool line(std::string_view name, size_t keep, std::string* out) {
    auto v = get(name, keep);
    if (!v) return false;
    check(name, *v);
    *out = std::move(*v);
    return true;
  }
  void check(std::string_view name, std::string_view value) {
    if (p_->invalid_parameter.empty() && platform::hasControlCharacters(value))
      p_->invalid_parameter = std::string(name);
  }
  bool flag(std::string_view name, bool* out) const {
    auto v = get(name, 100);
    if (!v) return false;
    *out = foundation::yesNo(*v);
    return true;
  }
  uint8_t hexByte(std::string_view name) const {
    auto v = get(name, 100);
    return v ? static_cast<uint8_t>(encoding::HexStringToInt(platform::trim(*v)) & 0xFF) : 0;
  }

 private:
  const ParamLookup& params_;
  SendParams* p_;
};

void readSmppOptions(const ParamLookup& params, ParamReader& r, SendParams* p) {
  if (!params.contains("SMPPOption_")) return;
  const std::string_view msg = params.message();
  std::vector<std::string> seen;
  for (unsigned i = 1; i <= kMaxSmppOptions; ++i) {
    auto name = parameterNameAt(msg, "SMPPOption_", i, 256);
    if (!name) break;
    if (name->size() <= std::string_view("SMPPOption_").size()) continue;
    bool dup = false;
    for (const std::string& s : seen) dup = dup || platform::equalsNoCase(s, *name);
    if (dup) continue;
    seen.push_back(*name);
    auto value = r.get(*name, 1024);
    if (!value) continue;
    r.check(*name, *name);
    r.check(*name, *value);
    if (!p->smpp_options.empty()) p->smpp_options += "; ";
    p->smpp_options += *name + "=" + *value;
  }
}

void readExtraArgs(ParamReader& r, SendParams* p) {
  auto names = foundation::extraHttpArgs();
  if (!names) return;
  for (const std::string& name : *names) {
    if (name.empty() || name.find('=') != std::string::npos || platform::hasControlCharacters(name))
      continue;
    std::string value;
    if (r.line(name, 8192, &value)) p->extra_args.emplace_back(name, std::move(value));
  }
}

void readSender(ParamReader& r, SendParams* p) {
  if (!r.line("Sender", 150, &p->sender)) return;
  size_t colon = p->sender.rfind(':');
  if (colon == std::string::npos) return;
  if (auto port = portNumber(std::string_view(p->sender).substr(colon + 1))) {
    p->source_port = port;
    p->sender.resize(colon);
  }
}

}  // namespace

std::vector<int> parseShiftTables(std::string_view list) {
  std::vector<int> out;
  for (const std::string& item : platform::split(list, ",")) {
    std::string_view t = platform::trim(item);
    if (t.empty() || t.size() > 3 || !platform::isAllDigits(t)) continue;
    int v = static_cast<int>(platform::parseLeadingInt(t));
    if (v >= 1 && v <= 255) out.push_back(v);
  }
  return out;
}

WebSettings readWebSettings() {
  auto ini = hostlib::smsIni().current();
  auto value = [&](std::string_view key) -> std::string_view {
    auto v = ini->get("SMSGW", key);
    return v ? *v : std::string_view();
  };
  auto flag = [&](std::string_view key, bool def) {
    auto v = ini->get("SMSGW", key);
    return v ? foundation::yesNo(platform::trim(*v)) : def;
  };
  WebSettings s;
  s.web_auth = flag("WebAuth", false);
  s.web_menu = flag("WebMenu", true);
  s.php_enable = flag("PHPEnable", false);
  s.receipt_requested = flag("ReceiptRequested", false);
  s.shift_tables = parseShiftTables(value("ShiftTables"));
  return s;
}

std::optional<platform::CalendarTime> parseDelayUntil(std::string_view value, bool* invalid) {
  *invalid = false;
  std::string digits;
  for (char c : value) {
    if (isDigit(c)) digits += c;
    if (digits.size() == 12) break;
  }
  if (digits.size() < 12) {
    *invalid = !platform::trim(value).empty();
    return std::nullopt;
  }
  auto field = [&](size_t at, size_t len) {
    return static_cast<int>(platform::parseLeadingInt(std::string_view(digits).substr(at, len)));
  };
  platform::CalendarTime t;
  t.year = field(0, 4);
  t.month = field(4, 2);
  t.day = field(6, 2);
  t.hour = field(8, 2);
  t.minute = field(10, 2);
  if (t.year == 0) return std::nullopt;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59) {
    *invalid = true;
    return std::nullopt;
  }
  return t;
}

std::string checkedContinueURL(std::string_view value) {
  value = platform::trim(value);
  if (value.empty() || platform::hasControlCharacters(value))
    return std::string(kDefaultContinueURL);
  if (platform::startsWithNoCase(value, "http://") || platform::startsWithNoCase(value, "https://"))
    return std::string(value);
  // Any other scheme ("javascript:" included, apart from the default
  // itself) could run in the page of whoever follows the link.
  if (value.find("://") != std::string_view::npos ||
      platform::findNoCase(value, "javascript:") != std::string_view::npos)
    return std::string(kDefaultContinueURL);
  // Without a scheme: a web address; "http://" in front keeps it one.
  return "http://" + std::string(value);
}

SendParams readSendParams(std::string_view msg, const WebSettings& settings) {
  return readSendParams(ParamLookup(msg), settings);
}

SendParams readSendParams(const ParamLookup& params, const WebSettings& settings) {
  SendParams p;
  ParamReader r(params, &p);

  if (auto text = r.get("Text", 8192)) {
    p.has_text = true;
    p.text = std::move(*text);
  } else if (auto data = r.get("Data", 8192)) {
    p.has_data = true;
    p.text = std::move(*data);
  }
  if (auto udh = r.get("UDH", 500)) p.udh = std::string(platform::trim(*udh));
  p.pid = r.hexByte("pid");
  p.dcs = r.hexByte("dcs");
  readSender(r, &p);
  r.line("Validity", 50, &p.validity);
  r.line("ServiceType", 100, &p.service_type);
  r.line("BillingInfo", 100, &p.billing_info);
  r.line("AcctInfo", 100, &p.acct_info);
  r.line("SMSCRoute", 100, &p.smsc_route);
  r.flag("ReplyRequested", &p.reply_requested);
  p.receipt_requested = settings.receipt_requested;
  if (!r.flag("Receipt", &p.receipt_requested)) r.flag("ReceiptRequested", &p.receipt_requested);
  r.flag("ReceiptDelivered", &p.receipt_delivered);
  r.flag("ReceiptFailed", &p.receipt_failed);
  r.flag("ReceiptIntransit", &p.receipt_intransit);
  r.line("ReceiptMessageId", 100, &p.receipt_message_id);
  if (!r.flag("InboundMessage", &p.inbound)) r.flag("InboundMsg", &p.inbound);
  r.line("LocalUser", 100, &p.local_user);
  if (auto v = r.get("SourcePort", 100)) {
    if (auto port = portNumber(*v)) p.source_port = port;
  }
  if (auto v = r.get("DestPort", 100)) {
    if (auto port = portNumber(*v)) p.destination_port = port;
  }
  if (auto v = r.get("DelayUntil", 100)) {
    if (auto t = parseDelayUntil(*v, &p.delay_invalid)) {
      p.delayed = true;
      p.delay_until = *t;
      p.delay_text =
          platform::format("%04d%02d%02d%02d%02d", t->year, t->month, t->day, t->hour, t->minute);
    }
  }
  if (auto v = r.get("charset", 100)) p.charset = std::string(platform::trim(*v));
  p.continue_url = checkedContinueURL(r.get("ContinueURL", 1024).value_or(""));
  readSmppOptions(params, r, &p);
  readExtraArgs(r, &p);
  return p;
}

}  // namespace vek::http
