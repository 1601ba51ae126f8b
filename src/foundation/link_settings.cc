#include "foundation/link_settings.h"

#include <algorithm>
#include <optional>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/service_state.h"
#include "hostlib/host.h"
#include "hostlib/ini_file.h"
#include "platform/strings.h"

namespace vek::foundation {
namespace {

using platform::equalsNoCase;

constexpr size_t kSmppVersionBuffer = 20;

std::string cut(std::string_view v, size_t buffer) {
  return std::string(v.substr(0, buffer - 1));
}

// One link section of one parse of the file.
class SectionReader {
 public:
  SectionReader(const hostlib::IniFile& ini, std::string_view link_name)
      : ini_(ini), section_(linkSectionName(link_name)) {}

  std::optional<std::string_view> raw(std::string_view key) const {
    return ini_.get(section_, key);
  }
  // Absent or empty.
  bool unset(std::string_view key) const {
    auto v = raw(key);
    return !v || v->empty();
  }
  std::string text(std::string_view key, size_t buffer, std::string_view def = {}) const {
    auto v = raw(key);
    return cut(v ? *v : def, buffer);
  }
  bool flag(std::string_view key, bool def) const {
    auto v = raw(key);
    return v ? yesNo(*v) : def;
  }
  int32_t num(std::string_view key, int32_t def) const {
    auto v = raw(key);
    return v ? number(*v) : def;
  }
  // A count of seconds or milliseconds: a negative value means 0.
  int32_t duration(std::string_view key, int32_t def) const { return std::max(num(key, def), 0); }
  const hostlib::IniFile& ini() const { return ini_; }

 private:
  const hostlib::IniFile& ini_;
  std::string section_;
};

std::optional<std::string_view> gateway(const hostlib::IniFile& ini, std::string_view key) {
  auto v = ini.get("SMSGW", key);
  if (v && v->empty()) return std::nullopt;
  return v;
}

void loadCommon(const SectionReader& r, LinkCommonSettings* s, bool with_sender) {
  if (with_sender) {
    std::string_view whole = r.raw("SenderAddress").value_or("");
    s->SenderAddressList = cut(whole, kSenderAddressListBuffer);
    s->SenderAddress = cut(platform::trim(whole.substr(0, whole.find(','))), kSenderAddressBuffer);
    s->SenderAddressOverride = r.flag("SenderAddressOverride", true);
  }
  s->RouteName = r.text("RouteName", kRouteNameBuffer);
  s->DisableDeliveryReceipt = r.flag("DisableDeliveryReceipt", false);
  s->OutRecipPrefixConvert = r.text("OutRecipPrefixConvert", kPrefixConvertBuffer);
  s->OutSenderPrefixConvert = r.text("OutSenderPrefixConvert", kPrefixConvertBuffer);
}

// `TransmitterCount` / `ReceiverCount`: 1 unless the value starts with a
// digit after leading blanks.
int32_t connectionCount(const SectionReader& r, std::string_view key) {
  std::string_view v = platform::trim(r.raw(key).value_or(""));
  if (v.empty() || v.front() < '0' || v.front() > '9') return 1;
  return std::min(number(v), kMaxLinkConnections);
}

void loadCounts(const SectionReader& r, int32_t* transmitters, int32_t* receivers) {
  *transmitters = connectionCount(r, "TransmitterCount");
  *receivers = connectionCount(r, "ReceiverCount");
  if (*transmitters == 0 && *receivers == 0) *transmitters = *receivers = 1;
}

// Digits only, a leading '+' kept.
std::string normaliseSmsc(std::string_view v) {
  v = platform::trim(v);
  std::string out;
  if (!v.empty() && v.front() == '+') out += '+';
  for (char c : v)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

const char* componentFor(std::string_view link_name) {
  switch (linkKind(link_name)) {
    case LinkKind::kSmpp:
      return "CheckReloadSmppSet";
    case LinkKind::kUcp:
      return "CheckReloadUcpSet";
    case LinkKind::kCimd:
      return "CheckReloadCimdSet";
    case LinkKind::kHttp:
      return "CheckReloadHttpSet";
    default:
      return "CheckReloadModemSet";
  }
}

template <typename S, typename Load>
bool reloadWith(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                S* settings, Load load) {
  const char* component = componentFor(link_name);
  if (number > 0) {
    std::string now = linkNameOf(ini, number);
    if (!equalsNoCase(now, link_name)) {
      DebugLogf(component, "Connection settings have changed for %.*s, init required for %s.",
                static_cast<int>(link_name.size()), link_name.data(), now.c_str());
      requestLinkRestart();
      return true;
    }
  }
  S fresh = load(ini, link_name);
  std::string_view key = reconnectKey(*settings, fresh);
  if (!key.empty()) {
    DebugLog(component, "Connection settings have changed, requiring a reconnection");
    Debug2Logf(component, "Changed key: %.*s", static_cast<int>(key.size()), key.data());
    return true;
  }
  *settings = std::move(fresh);
  return false;
}

bool tlsAvailable() {
  return startupFacts().tls_available;
}

uint16_t portNumber(std::string_view v) {
  v = platform::trim(v);
  if (v.empty() || !platform::isAllDigits(v)) return 0;
  int64_t n = platform::parseLeadingInt(v);
  return (n >= 1 && n <= 65535) ? static_cast<uint16_t>(n) : 0;
}

}  // namespace

SmppLinkSettings loadSmppSettings(const hostlib::IniFile& ini, std::string_view link_name) {
  SectionReader r(ini, link_name);
  SmppLinkSettings s;
  loadCommon(r, &s, true);
  s.SMPPVersion = r.text("SMPPVersion", kSmppVersionBuffer);
  s.InterfaceVersion = equalsNoCase(s.SMPPVersion, "v3.3") ? 0x33 : 0x34;
  s.UserName = r.text("UserName", kCredentialBuffer);
  s.Password = r.text("Password", kCredentialBuffer);
  s.AddressRange = r.text("AddressRange", kCredentialBuffer);
  s.SystemType = r.text("SystemType", kCredentialBuffer);
  s.BindIP = r.text("BindIP", kBindIPBuffer);
  s.Receive = r.flag("Receive", false);
  s.ReceiveSingleConnection = r.flag("ReceiveSingleConnection", false);
  s.KeepAlive = r.unset("KeepAlive") ? 58 : r.duration("KeepAlive", 58);
  s.SenderPort = r.text("SenderPort", kPortBuffer);
  s.ReceiverPort = r.text("ReceiverPort", kPortBuffer);
  s.WDPAdaptation = r.flag("WDPAdaptation", false);
  s.UseTLV = r.flag("UseTLV", false);
  s.UseSSL = r.flag("UseSSL", false);
  s.Validity = r.text("Validity", kValidityBuffer);
  s.WindowSize = r.duration("WindowSize", 0);
  s.CommandTimeout = r.duration("CommandTimeout", 120);
  if (s.CommandTimeout == 0) s.CommandTimeout = 120;
  if (r.unset("SMPPThrottleErrorDelay")) {
    auto global = gateway(ini, "SMPPThrottleErrorDelay");
    s.SMPPThrottleErrorDelay = global ? std::max(number(*global), 0) : 5;
  } else {
    s.SMPPThrottleErrorDelay = r.duration("SMPPThrottleErrorDelay", 5);
  }
  s.ThrottleForQFull = r.flag("ThrottleForQFull", false);
  s.RestartQAfterThrottleError = r.flag("RestartQAfterThrottleError", false);
  loadCounts(r, &s.TransmitterCount, &s.ReceiverCount);
  return s;
}

UcpLinkSettings loadUcpSettings(const hostlib::IniFile& ini, std::string_view link_name) {
  SectionReader r(ini, link_name);
  UcpLinkSettings s;
  loadCommon(r, &s, true);
  s.UserName = r.text("UserName", kCredentialBuffer);
  s.Password = r.text("Password", kCredentialBuffer);
  s.Receive = r.flag("Receive", false);
  s.BindIP = r.text("BindIP", kBindIPBuffer);
  s.LocalPort = r.duration("LocalPort", 0);
  s.KeepAlive = r.duration("KeepAlive", 0);
  s.ReceivePort = r.duration("ReceivePort", 0);
  return s;
}

HttpLinkSettings loadHttpSettings(const hostlib::IniFile& ini, std::string_view link_name,
                                  bool tls_available) {
  SectionReader r(ini, link_name);
  HttpLinkSettings s;
  loadCommon(r, &s, true);
  s.UserName = r.text("UserName", kCredentialBuffer);
  s.Password = r.text("Password", kCredentialBuffer);
  // An empty template could only send an empty request: the default stands.
  if (!r.unset("TemplateText")) s.TemplateText = r.text("TemplateText", kHttpTemplateBuffer);
  if (!r.unset("TemplateBinary")) s.TemplateBinary = r.text("TemplateBinary", kHttpTemplateBuffer);
  s.CDMATemplateWap = r.text("CDMATemplateWap", kHttpTemplateBuffer);
  s.HTTPProxy = r.text("HTTPProxy", kHttpProxyBuffer);
  s.BindIP = r.text("BindIP", kBindIPBuffer);
  s.HTTPUseAuth = r.flag("HTTPUseAuth", false);
  s.RemovePlus = r.flag("RemovePlus", false);
  s.SendLongMessage = r.flag("SendLongMessage", false);
  s.LongTextAsText = r.flag("LongTextAsText", false);
  s.UnicodeAsText = r.flag("UnicodeAsText", false);
  s.TrackHTTPReceipts = r.flag("TrackHTTPReceipts", false);
  s.UseKeepAlive = r.flag("UseKeepAlive", false);
  s.UseSSL = tls_available && r.flag("UseSSL", false);
  s.CDMASizeLimit = r.duration("CDMASizeLimit", 112);
  if (s.CDMASizeLimit == 0) s.CDMASizeLimit = 112;
  s.MessageIDResponsePrefix = r.text("MessageIDResponsePrefix", kHttpPrefixBuffer, "MessageID=");
  return s;
}

ModemLinkSettings loadModemSettings(const hostlib::IniFile& ini, std::string_view link_name) {
  SectionReader r(ini, link_name);
  ModemLinkSettings s;
  loadCommon(r, &s, false);
  std::string phone = r.text("PhoneNumber", kModemPhoneNumberBuffer);
  s.PhoneNumber = phone.substr(0, phone.find(','));
  s.PIN = r.text("PIN", kModemPinBuffer);
  s.SMSC = normaliseSmsc(r.text("SMSC", kModemSmscBuffer));
  s.ExcludeSMSC = r.flag("ExcludeSMSC", false);
  s.ModemTextMode = r.flag("ModemTextMode", false);
  s.AllowPhase2Plus = r.flag("AllowPhase2Plus", false);
  s.ModemSendExtraCR = r.flag("ModemSendExtraCR", false);
  s.ReceiveMMS = r.flag("ReceiveMMS", false);
  if (r.unset("ReceiveSMS")) {
    auto global = gateway(ini, "ReceiveSMS");
    s.ReceiveSMS = global && yesNo(*global);
  } else {
    s.ReceiveSMS = r.flag("ReceiveSMS", false);
  }
  if (r.unset("ModemSendWorkaround")) {
    s.ModemSendWorkaround = platform::findNoCase(link_name, "Multitech") != std::string::npos &&
                            platform::findNoCase(link_name, "CDMA") != std::string::npos;
  } else {
    s.ModemSendWorkaround = r.flag("ModemSendWorkaround", false);
  }
  s.ModemSendResponseSimple = r.flag("ModemSendResponseSimple", true);
  s.DelayAfterSend = r.duration("DelayAfterSend", 0);
  s.DelayAfterError = r.duration("DelayAfterError", 0);
  s.ReceiveTo = r.text("ReceiveTo", kModemReceiveToBuffer);
  if (equalsNoCase(s.ReceiveTo, "Direct")) {
    s.DirectReceive = true;
    s.ReceiveTo.clear();
  }
  s.Validity = r.text("Validity", kValidityBuffer);
  s.SMSAccess = r.text("SMSAccess", kModemSmsAccessBuffer);
  if (r.unset("ModemHardResetAfterError")) {
    auto global = gateway(ini, "ModemHardResetAfterError");
    s.ModemHardResetAfterError = global ? yesNo(*global) : true;
  } else {
    s.ModemHardResetAfterError = r.flag("ModemHardResetAfterError", true);
  }
  if (r.unset("ReceivePoll")) {
    s.ReceivePoll = s.DirectReceive ? 3 : 2;
  } else {
    s.ReceivePoll = std::max(r.num("ReceivePoll", 2), 1);
  }
  s.RebootOnModemError = r.flag("RebootOnModemError", false);
  s.ResetUSBDevices =
      r.unset("ResetUSBDevices") ? s.RebootOnModemError : r.flag("ResetUSBDevices", false);
  auto mms = gateway(ini, "MMSModeSwitchTimeout");
  s.MMSModeSwitchTimeout = mms ? std::max(number(*mms), 0) : 15;
  return s;
}

SmppLinkSettings loadSmppSettings(std::string_view link_name) {
  return loadSmppSettings(*hostlib::smsIni().current(), link_name);
}
UcpLinkSettings loadUcpSettings(std::string_view link_name) {
  return loadUcpSettings(*hostlib::smsIni().current(), link_name);
}
HttpLinkSettings loadHttpSettings(std::string_view link_name) {
  return loadHttpSettings(*hostlib::smsIni().current(), link_name, tlsAvailable());
}
ModemLinkSettings loadModemSettings(std::string_view link_name) {
  return loadModemSettings(*hostlib::smsIni().current(), link_name);
}

// The reconnect marks, kind by kind: texts compare ignoring case.
#define VEK_RECONNECT_TEXT(field) \
  if (!equalsNoCase(before.field, after.field)) return #field
#define VEK_RECONNECT_VALUE(field) \
  if (before.field != after.field) return #field

std::string_view reconnectKey(const SmppLinkSettings& before, const SmppLinkSettings& after) {
  VEK_RECONNECT_TEXT(SMPPVersion);
  VEK_RECONNECT_TEXT(UserName);
  VEK_RECONNECT_TEXT(Password);
  VEK_RECONNECT_TEXT(AddressRange);
  VEK_RECONNECT_TEXT(SystemType);
  VEK_RECONNECT_TEXT(BindIP);
  VEK_RECONNECT_VALUE(Receive);
  VEK_RECONNECT_VALUE(ReceiveSingleConnection);
  VEK_RECONNECT_TEXT(SenderPort);
  VEK_RECONNECT_TEXT(ReceiverPort);
  VEK_RECONNECT_VALUE(WDPAdaptation);
  VEK_RECONNECT_VALUE(UseSSL);
  // Synchronous and windowed sending are set up differently; a new window
  // size alone is taken over in place.
  if ((before.WindowSize == 0) != (after.WindowSize == 0)) return "WindowSize";
  VEK_RECONNECT_VALUE(TransmitterCount);
  VEK_RECONNECT_VALUE(ReceiverCount);
  return {};
}

std::string_view reconnectKey(const UcpLinkSettings& before, const UcpLinkSettings& after) {
  VEK_RECONNECT_TEXT(UserName);
  VEK_RECONNECT_TEXT(Password);
  VEK_RECONNECT_VALUE(Receive);
  VEK_RECONNECT_TEXT(BindIP);
  VEK_RECONNECT_VALUE(LocalPort);
  VEK_RECONNECT_VALUE(ReceivePort);
  return {};
}

std::string_view reconnectKey(const HttpLinkSettings& before, const HttpLinkSettings& after) {
  VEK_RECONNECT_TEXT(UserName);
  VEK_RECONNECT_TEXT(Password);
  VEK_RECONNECT_TEXT(HTTPProxy);
  VEK_RECONNECT_TEXT(BindIP);
  VEK_RECONNECT_VALUE(HTTPUseAuth);
  VEK_RECONNECT_VALUE(UseKeepAlive);
  return {};
}

std::string_view reconnectKey(const ModemLinkSettings& before, const ModemLinkSettings& after) {
  VEK_RECONNECT_TEXT(SMSC);
  VEK_RECONNECT_VALUE(ModemTextMode);
  VEK_RECONNECT_VALUE(AllowPhase2Plus);
  VEK_RECONNECT_VALUE(ModemSendExtraCR);
  VEK_RECONNECT_VALUE(ReceiveMMS);
  VEK_RECONNECT_VALUE(ReceiveSMS);
  VEK_RECONNECT_VALUE(DelayAfterSend);
  VEK_RECONNECT_TEXT(ReceiveTo);
  VEK_RECONNECT_VALUE(DirectReceive);
  VEK_RECONNECT_TEXT(SMSAccess);
  return {};
}

#undef VEK_RECONNECT_TEXT
#undef VEK_RECONNECT_VALUE

bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 SmppLinkSettings* settings) {
  return reloadWith(
      ini, number, link_name, settings,
      [](const hostlib::IniFile& f, std::string_view n) { return loadSmppSettings(f, n); });
}

bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 UcpLinkSettings* settings) {
  return reloadWith(
      ini, number, link_name, settings,
      [](const hostlib::IniFile& f, std::string_view n) { return loadUcpSettings(f, n); });
}

bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 HttpLinkSettings* settings, bool tls_available) {
  return reloadWith(ini, number, link_name, settings,
                    [tls_available](const hostlib::IniFile& f, std::string_view n) {
                      return loadHttpSettings(f, n, tls_available);
                    });
}

bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 ModemLinkSettings* settings) {
  return reloadWith(
      ini, number, link_name, settings,
      [](const hostlib::IniFile& f, std::string_view n) { return loadModemSettings(f, n); });
}

bool checkReload(unsigned number, std::string_view link_name, SmppLinkSettings* settings) {
  return checkReload(*hostlib::smsIni().current(), number, link_name, settings);
}
bool checkReload(unsigned number, std::string_view link_name, UcpLinkSettings* settings) {
  return checkReload(*hostlib::smsIni().current(), number, link_name, settings);
}
bool checkReload(unsigned number, std::string_view link_name, HttpLinkSettings* settings) {
  return checkReload(*hostlib::smsIni().current(), number, link_name, settings, tlsAvailable());
}
bool checkReload(unsigned number, std::string_view link_name, ModemLinkSettings* settings) {
  return checkReload(*hostlib::smsIni().current(), number, link_name, settings);
}

int32_t linkThreadCount(const hostlib::IniFile& ini, std::string_view link_name) {
  SectionReader r(ini, link_name);
  int32_t transmitters = 1, receivers = 1;
  loadCounts(r, &transmitters, &receivers);
  return std::max({transmitters, receivers, int32_t{1}});
}

LinkAddress linkAddress(std::string_view link_name) {
  LinkAddress a;
  LinkKind kind = linkKind(link_name);
  if (kind == LinkKind::kModem || kind == LinkKind::kSdk) return a;
  std::string_view rest = link_name.substr(link_name.find(" - ") + 3);
  size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos) {
    a.host = std::string(platform::trim(rest));
    return a;
  }
  a.host = std::string(platform::trim(rest.substr(0, colon)));
  a.port = portNumber(rest.substr(colon + 1));
  return a;
}

LinkPorts parseLinkPorts(std::string_view value) {
  LinkPorts p;
  size_t colon = value.find(':');
  p.local = portNumber(value.substr(0, colon));
  if (colon != std::string_view::npos) p.remote = portNumber(value.substr(colon + 1));
  return p;
}

std::vector<PrefixRule> parsePrefixRules(std::string_view list) {
  std::vector<PrefixRule> rules;
  list = list.substr(0, kPrefixListLimit);
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    std::string_view item =
        list.substr(pos, comma == std::string_view::npos ? list.npos : comma - pos);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    size_t colon = item.find(':');
    if (colon != std::string_view::npos)
      rules.push_back({std::string(item.substr(0, colon)), std::string(item.substr(colon + 1))});
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return rules;
}

std::string rewritePrefix(std::string_view number, const std::vector<PrefixRule>& rules) {
  if (number.empty()) return std::string();
  for (const PrefixRule& rule : rules) {
    if (platform::startsWithNoCase(number, rule.from))
      return rule.to + std::string(number.substr(rule.from.size()));
  }
  return std::string(number);
}

std::string rewritePrefix(std::string_view number, std::string_view list) {
  if (number.empty() || list.empty()) return std::string(number);
  return rewritePrefix(number, parsePrefixRules(list));
}

}  // namespace vek::foundation
