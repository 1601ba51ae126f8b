// Link settings: what a link sender reads from its link's own section of
// "SMSGW.INI" (named by link_name.h's section rule), one loader per kind,
// and the reload check that tells a running link to reconnect.
//
// Every key has a default, a maximum length for texts (the value is cut
// there) and a mark saying whether a change forces a reconnect (or, for a
// modem, a re-initialisation). Flags follow the yes/no rule and numbers the
// number rule of config_rules.h; a key that is absent takes its default, a
// key that is present but empty reads as an empty text, flag off, number 0,
// except where a key says otherwise below.
//
// Reload check, run by the sender after every full queue pass and after
// every 256th message:
//   1. For a link number above 0 the `Modem%u` value is read again; when it
//      no longer names this link (ignoring case) the debug log gets
//      "Connection settings have changed for <old>, init required for
//      <new>." under the kind's component name, the restart-links request
//      of service_state.h is raised and the answer is "reconnect".
//   2. Otherwise every key is read again. When a reconnect key differs
//      (texts ignoring case) the log says "Connection settings have
//      changed, requiring a reconnection" and the answer is "reconnect";
//      the sender drops the connection and loads its settings afresh.
//      Otherwise the new values are taken over in place.
// Component names: "CheckReloadSmppSet", "CheckReloadUcpSet",
// "CheckReloadCimdSet", "CheckReloadHttpSet", "CheckReloadModemSet".
//
// `ModemHardResetAfterError`: the `SMSGW` value (default Yes) is the
// default; a value in the link's own section overrides it. The same rule at
// load and at reload.
//
// A settings record is a plain value owned by its sender thread. The
// loaders read one parse of the file (the current one, or the one passed
// in), so a record never mixes two versions. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/link_name.h"

namespace vek::hostlib {
class IniFile;
}

namespace vek::foundation {

// Buffer sizes of the texts (a value keeps at most size - 1 characters).
constexpr size_t kSenderAddressListBuffer = 500;
constexpr size_t kSenderAddressBuffer = 150;
constexpr size_t kCredentialBuffer = 150;  // UserName, Password, AddressRange, SystemType
constexpr size_t kBindIPBuffer = 50;
constexpr size_t kValidityBuffer = 50;
constexpr size_t kPrefixConvertBuffer = 500;
constexpr size_t kPortBuffer = 50;  // SenderPort, ReceiverPort
constexpr size_t kHttpProxyBuffer = 500;
constexpr size_t kHttpTemplateBuffer = 4096;
constexpr size_t kHttpPrefixBuffer = 100;  // MessageIDResponsePrefix
constexpr size_t kModemPhoneNumberBuffer = 250;
constexpr size_t kModemPinBuffer = 20;
constexpr size_t kModemSmscBuffer = 50;
constexpr size_t kModemReceiveToBuffer = 20;
constexpr size_t kModemSmsAccessBuffer = 20;
// Connections of one link in each direction: a larger count is cut here so
// that a typing slip cannot start thousands of threads.
constexpr int32_t kMaxLinkConnections = 100;

constexpr std::string_view kDefaultHttpTemplateText =
    "/?PhoneNumber=@@PhoneNumber@@&Sender=@@Sender@@&Text=@@Text@@";
constexpr std::string_view kDefaultHttpTemplateBinary =
    "/?PhoneNumber=@@PhoneNumber@@&Sender=@@Sender@@&Binary=1&Data=@@Data@@&UDH=@@UDH@@&pid=@@"
    "pid@@&dcs=@@dcs@@";

// Keys every kind has; none forces a reconnect.
struct LinkCommonSettings {
  std::string SenderAddressList;  // `SenderAddress` whole: a comma-separated list
  std::string SenderAddress;      // its first entry (text before the first comma)
  bool SenderAddressOverride = true;
  std::string RouteName;
  bool DisableDeliveryReceipt = false;
  std::string OutRecipPrefixConvert;
  std::string OutSenderPrefixConvert;
  bool operator==(const LinkCommonSettings&) const = default;
};

struct SmppLinkSettings : LinkCommonSettings {
  std::string SMPPVersion;                                   // reconnect
  uint8_t InterfaceVersion = 0x34;                           // 0x33 for "v3.3"
  std::string UserName, Password, AddressRange, SystemType;  // reconnect
  std::string BindIP;                                        // reconnect
  bool Receive = false;                                      // reconnect
  bool ReceiveSingleConnection = false;                      // reconnect
  int32_t KeepAlive = 58;                                    // seconds; absent or empty 58, 0 off
  std::string SenderPort;                                    // reconnect: "local[:remote]"
  std::string ReceiverPort;                                  // reconnect
  bool WDPAdaptation = false;                                // reconnect
  bool UseTLV = false;
  bool UseSSL = false;  // reconnect
  std::string Validity;
  int32_t WindowSize = 0;              // reconnect only between 0 and non-zero
  int32_t CommandTimeout = 120;        // 0 means 120
  int32_t SMPPThrottleErrorDelay = 5;  // the `SMSGW` value is the default
  bool ThrottleForQFull = false;
  bool RestartQAfterThrottleError = false;
  int32_t TransmitterCount = 1, ReceiverCount = 1;  // reconnect
  bool operator==(const SmppLinkSettings&) const = default;
};

// UCP/EMI and CIMD2 links share one key set.
struct UcpLinkSettings : LinkCommonSettings {
  std::string UserName, Password;  // reconnect
  bool Receive = false;            // reconnect
  std::string BindIP;              // reconnect
  int32_t LocalPort = 0;           // reconnect
  int32_t KeepAlive = 0;           // seconds; 0 or absent off
  int32_t ReceivePort = 0;         // reconnect
  bool operator==(const UcpLinkSettings&) const = default;
};
using CimdLinkSettings = UcpLinkSettings;

struct HttpLinkSettings : LinkCommonSettings {
  std::string UserName, Password;  // reconnect
  std::string TemplateText{kDefaultHttpTemplateText};
  std::string TemplateBinary{kDefaultHttpTemplateBinary};
  std::string CDMATemplateWap;
  std::string HTTPProxy;     // reconnect
  std::string BindIP;        // reconnect
  bool HTTPUseAuth = false;  // reconnect
  bool RemovePlus = false, SendLongMessage = false, LongTextAsText = false;
  bool UnicodeAsText = false, TrackHTTPReceipts = false;
  bool UseKeepAlive = false;    // reconnect
  bool UseSSL = false;          // read only when TLS is available
  int32_t CDMASizeLimit = 112;  // 0 means 112
  std::string MessageIDResponsePrefix = "MessageID=";
  bool operator==(const HttpLinkSettings&) const = default;
};

// Modems ("Modem - " sections; IP modems too). Reconnect here means
// re-initialising the modem.
struct ModemLinkSettings : LinkCommonSettings {
  std::string PhoneNumber;  // up to the first comma
  std::string PIN;
  std::string SMSC;  // reconnect; digits only, a leading '+' kept
  bool ExcludeSMSC = false;
  bool ModemTextMode = false, AllowPhase2Plus = false, ModemSendExtraCR = false;  // reconnect
  bool ReceiveMMS = false, ReceiveSMS = false;  // reconnect; ReceiveSMS empty: `SMSGW`'s
  bool ModemSendWorkaround = false;
  bool ModemSendResponseSimple = true;
  int32_t DelayAfterSend = 0;  // reconnect
  int32_t DelayAfterError = 0;
  std::string ReceiveTo;       // reconnect; "Direct" is taken out as DirectReceive
  bool DirectReceive = false;  // reconnect
  std::string Validity;
  std::string SMSAccess;  // reconnect
  bool ModemHardResetAfterError = true;
  int32_t ReceivePoll = 2;  // seconds: 3 in direct-receive mode, else 2; 0 means 1
  bool RebootOnModemError = false;
  bool ResetUSBDevices = false;       // default: RebootOnModemError
  int32_t MMSModeSwitchTimeout = 15;  // section `SMSGW`
  bool operator==(const ModemLinkSettings&) const = default;
};

// The loaders. `link_name` is the `Modem%u` value; the section comes from
// linkSectionName(). Without `ini` they read the current "SMSGW.INI".
SmppLinkSettings loadSmppSettings(const hostlib::IniFile& ini, std::string_view link_name);
UcpLinkSettings loadUcpSettings(const hostlib::IniFile& ini, std::string_view link_name);
HttpLinkSettings loadHttpSettings(const hostlib::IniFile& ini, std::string_view link_name,
                                  bool tls_available);
ModemLinkSettings loadModemSettings(const hostlib::IniFile& ini, std::string_view link_name);
SmppLinkSettings loadSmppSettings(std::string_view link_name);
UcpLinkSettings loadUcpSettings(std::string_view link_name);    // CIMD links too
HttpLinkSettings loadHttpSettings(std::string_view link_name);  // TLS as start-up found it
ModemLinkSettings loadModemSettings(std::string_view link_name);

// The reload check above: true when the sender must reconnect (or
// re-initialise the modem). Otherwise `*settings` now holds the new values.
bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 SmppLinkSettings* settings);
bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 UcpLinkSettings* settings);
bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 HttpLinkSettings* settings, bool tls_available);
bool checkReload(const hostlib::IniFile& ini, unsigned number, std::string_view link_name,
                 ModemLinkSettings* settings);
bool checkReload(unsigned number, std::string_view link_name, SmppLinkSettings* settings);
bool checkReload(unsigned number, std::string_view link_name, UcpLinkSettings* settings);
bool checkReload(unsigned number, std::string_view link_name, HttpLinkSettings* settings);
bool checkReload(unsigned number, std::string_view link_name, ModemLinkSettings* settings);

// The key whose change forces a reconnect, comparing `before` with
// `after`; "" when none did. (What checkReload decides on; tests and the
// debug log use the name.)
std::string_view reconnectKey(const SmppLinkSettings& before, const SmppLinkSettings& after);
std::string_view reconnectKey(const UcpLinkSettings& before, const UcpLinkSettings& after);
std::string_view reconnectKey(const HttpLinkSettings& before, const HttpLinkSettings& after);
std::string_view reconnectKey(const ModemLinkSettings& before, const ModemLinkSettings& after);

// The number of sender threads a link runs: the larger of its
// `TransmitterCount` and `ReceiverCount` (each 1 when empty or not starting
// with a digit; both 1 when both are 0), at most kMaxLinkConnections.
int32_t linkThreadCount(const hostlib::IniFile& ini, std::string_view link_name);

// Host and port of a network link's name: the text after the kind prefix,
// split at its last colon ("SMPP - smsc.example:2775"). `port` is 0 when
// there is none or it is not a number from 1 to 65535.
struct LinkAddress {
  std::string host;
  uint16_t port = 0;
};
LinkAddress linkAddress(std::string_view link_name);

// `SenderPort` / `ReceiverPort`: a local port, optionally a colon and a
// remote port that replaces the one in the link name. 0 = not given.
struct LinkPorts {
  uint16_t local = 0;
  uint16_t remote = 0;
};
LinkPorts parseLinkPorts(std::string_view value);

// Prefix rewriting of `OutRecipPrefixConvert` / `OutSenderPrefixConvert`:
// a comma-separated list of "from:to" pairs (blanks after a comma skipped;
// items without a colon ignored). The first pair whose from-prefix begins
// the number (ignoring case) replaces that beginning with its to-prefix (an
// empty to-prefix just removes it). An empty number or list changes
// nothing; only the first 1000 characters of a list count.
constexpr size_t kPrefixListLimit = 1000;
struct PrefixRule {
  std::string from, to;
};
std::vector<PrefixRule> parsePrefixRules(std::string_view list);
std::string rewritePrefix(std::string_view number, const std::vector<PrefixRule>& rules);
std::string rewritePrefix(std::string_view number, std::string_view list);

}  // namespace vek::foundation
