#include "http/web/send_params.h"

#include <algorithm>

#include "encoding/dcs.h"
#include "encoding/hex_text.h"
#include "foundation/config_rules.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "http/server/form_data.h"
#include "http/server/param_lookup.h"
#include "http/server/params.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "protocols/http/message.h"
#include "submit/limits.h"

namespace vek::http {
namespace {

constexpr unsigned kMaxSmppOptions = 100;
constexpr size_t kMaxSmppOptionValue = 1023;
constexpr size_t kMaxContinueURL = 1023;

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
  ParamReader(const ParamLookup& params, SendRequest* p) : params_(params), p_(p) {}

  // At most `keep` characters, cut where a UTF-8 sequence starts.
  std::optional<std::string> get(std::string_view name, size_t keep) const {
    auto v = raw(name, keep + submit::kCutSlack);
    if (v) v->resize(submit::cutText(*v, keep).size());
    return v;
  }
  // At most `keep` bytes, cut anywhere.
  std::optional<std::string> raw(std::string_view name, size_t keep) const {
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
  std::optional<uint8_t> hexByte(std::string_view name) const {
    auto v = get(name, 100);
    if (!v) return std::nullopt;
    return static_cast<uint8_t>(encoding::HexStringToInt(platform::trim(*v)) & 0xFF);
  }

 private:
  const ParamLookup& params_;
  SendRequest* p_;
};

void readSmppOptions(const ParamLookup& params, ParamReader& r, SendRequest* p) {
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
    auto value = r.get(*name, kMaxSmppOptionValue);
    if (!value) continue;
    r.check(*name, *name);
    r.check(*name, *value);
    std::string& options = p->message.smpp_options;
    if (!options.empty()) options += "; ";
    options += *name + "=" + *value;
  }
}

void readExtraArgs(ParamReader& r, SendRequest* p) {
  auto names = foundation::extraHttpArgs();
  if (!names) return;
  for (const std::string& name : *names) {
    if (name.empty() || name.find('=') != std::string::npos || platform::hasControlCharacters(name))
      continue;
    std::string value;
    if (r.line(name, submit::kMaxExtraValue, &value))
      p->message.extra_keys.emplace_back(name, std::move(value));
  }
}

void readSender(ParamReader& r, SendRequest* p) {
  std::string& sender = p->message.sender;
  if (!r.line("Sender", submit::kMaxSender, &sender)) return;
  size_t colon = sender.rfind(':');
  if (colon == std::string::npos) return;
  if (auto port = portNumber(std::string_view(sender).substr(colon + 1))) {
    p->message.content.source_port = port;
    sender.resize(colon);
  }
}

// A form posted in another character set may say so only in its
// Content-Type ("...; charset=iso-8859-1").
std::string postedCharset(std::string_view msg) {
  if (!platform::startsWithNoCase(msg, "POST ")) return {};
  const std::string type = httpwire::headerValue(httpwire::headerArea(msg), "Content-Type:");
  return std::string(platform::trim(headerParameter(type, "charset")));
}

}  // namespace

WebSettings readWebSettings() {
  auto ini = hostlib::smsIni().current();
  auto flag = [&](std::string_view key, bool def) {
    auto v = ini->get("SMSGW", key);
    return v ? foundation::yesNo(platform::trim(*v)) : def;
  };
  WebSettings s;
  s.web_auth = flag("WebAuth", false);
  s.web_menu = flag("WebMenu", true);
  s.php_enable = flag("PHPEnable", false);
  s.receipt_requested = flag("ReceiptRequested", false);
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

SendRequest readSendRequest(std::string_view msg, const WebSettings& settings) {
  return readSendRequest(ParamLookup(msg), settings);
}

SendRequest readSendRequest(const ParamLookup& params, const WebSettings& settings) {
  SendRequest p;
  submit::Message& m = p.message;
  submit::Content& c = m.content;
  ParamReader r(params, &p);

  c.pid = r.hexByte("pid").value_or(0);
  c.dcs = r.hexByte("dcs");
  if (auto v = r.get("charset", 100)) {
    p.charset = std::string(platform::trim(*v));
  } else {
    p.charset = postedCharset(params.message());
  }
  bool has_data = false;
  if (auto text = r.raw("Text", submit::kMaxText + submit::kCutSlack)) {
    p.has_text = true;
    c.text = std::move(*text);
  } else if (auto data = r.raw("Data", submit::kMaxText + submit::kCutSlack)) {
    has_data = true;
    c.text = std::move(*data);
  }
  if (auto udh = r.get("UDH", submit::kMaxHeaderDigits)) c.udh = std::string(platform::trim(*udh));
  readSender(r, &p);
  r.line("Validity", submit::kMaxValidity, &m.validity);
  r.line("ServiceType", submit::kMaxServiceType, &m.service_type);
  r.line("BillingInfo", submit::kMaxBillingInfo, &m.billing_info);
  r.line("AcctInfo", submit::kMaxAcctInfo, &m.acct_info);
  r.line("SMSCRoute", submit::kMaxRoute, &m.route);
  r.flag("ReplyRequested", &m.reply_requested);
  m.receipt_requested = settings.receipt_requested;
  if (!r.flag("Receipt", &m.receipt_requested)) r.flag("ReceiptRequested", &m.receipt_requested);
  r.flag("ReceiptDelivered", &m.receipt_delivered);
  r.flag("ReceiptFailed", &m.receipt_failed);
  r.flag("ReceiptIntransit", &m.receipt_intransit);
  r.line("ReceiptMessageId", submit::kMaxReceiptMessageId, &p.receipt_lookup_id);
  if (!r.flag("InboundMessage", &p.inbound)) r.flag("InboundMsg", &p.inbound);
  r.line("LocalUser", submit::kMaxLocalUser, &m.route_to_local_user);
  if (auto v = r.get("SourcePort", 100)) {
    if (auto port = portNumber(*v)) c.source_port = port;
  }
  if (auto v = r.get("DestPort", 100)) {
    if (auto port = portNumber(*v)) c.destination_port = port;
  }
  if (auto v = r.get("DelayUntil", 100)) m.delay_until = parseDelayUntil(*v, &p.delay_invalid);
  p.continue_url = checkedContinueURL(r.get("ContinueURL", kMaxContinueURL).value_or(""));
  readSmppOptions(params, r, &p);
  readExtraArgs(r, &p);
  c.binary = has_data || !c.udh.empty() || c.hasPorts();
  // Text in another character set is cut as bytes; converted later.
  const bool utf8 = p.charset.empty() || platform::equalsNoCase(p.charset, "utf-8");
  const bool ucs2 = c.dcs && encoding::DCSIsUCS2(*c.dcs);
  c.text.resize(!p.has_text || utf8 ? submit::cutContent(c.text, c.binary, ucs2).size()
                                    : std::min(c.text.size(), submit::kMaxText));
  return p;
}

}  // namespace vek::http
