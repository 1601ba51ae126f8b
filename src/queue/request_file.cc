#include "queue/request_file.h"

#include <fcntl.h>

#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/file_io.h"
#include "foundation/link_name.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "platform/unique_fd.h"

namespace vek::queue {
namespace {

using platform::startsWithNoCase;

// A request file is far smaller; this only bounds a corrupt one.
constexpr size_t kMaxFileBytes = 64u << 20;

enum class Key {
  kPhoneNumber,
  kSender,
  kData,
  kUDH,
  kPid,
  kDcs,
  kBinary,
  kSubmittedBy,
  kSubmitUser,
  kServiceType,
  kRouteToLocalUser,
  kSMSCRoute,
  kModemName,
  kSMPPOptions,
  kReceivedSMSC,
  kValidity,
  kBillingInfo,
  kAcctInfo,
  kReceiptMessageId,
  kReplyRequested,
  kReceiptRequested,
  kReceiptDelivered,
  kReceiptIntransit,
  kReceiptFailed,
  kNonDelReceiptRequested,
  kRecombineFlag,
  kDuplicateMessageFor2Way,
};

struct KeyName {
  std::string_view name;
  Key key;
};

constexpr KeyName kMessageKeys[] = {
    {"PhoneNumber", Key::kPhoneNumber},
    {"Sender", Key::kSender},
    {"Data", Key::kData},
    {"UDH", Key::kUDH},
    {"pid", Key::kPid},
    {"dcs", Key::kDcs},
    {"Binary", Key::kBinary},
    {"SubmittedBy", Key::kSubmittedBy},
    {"SubmitUser", Key::kSubmitUser},
    {"ServiceType", Key::kServiceType},
    {"RouteToLocalUser", Key::kRouteToLocalUser},
    {"SMSCRoute", Key::kSMSCRoute},
    {"ModemName", Key::kModemName},
    {"SMPPOptions", Key::kSMPPOptions},
    {"ReceivedSMSC", Key::kReceivedSMSC},
    {"Validity", Key::kValidity},
    {"BillingInfo", Key::kBillingInfo},
    {"AcctInfo", Key::kAcctInfo},
    {"ReceiptMessageId", Key::kReceiptMessageId},
    {"ReplyRequested", Key::kReplyRequested},
    {"ReceiptRequested", Key::kReceiptRequested},
    {"ReceiptDelivered", Key::kReceiptDelivered},
    {"ReceiptIntransit", Key::kReceiptIntransit},
    {"ReceiptFailed", Key::kReceiptFailed},
    {"NonDelReceiptRequested", Key::kNonDelReceiptRequested},
    {"RecombineFlag", Key::kRecombineFlag},
    {"DuplicateMessageFor2Way", Key::kDuplicateMessageFor2Way},
};

// The flag keys, each remembered on its own so that the last line of each
// key wins before the word is formed.
struct FlagKeys {
  bool reply = false, receipt = false, delivered = false, intransit = false, failed = false,
       nondel = false;
  uint32_t word() const {
    uint32_t w = 0;
    if (reply) w |= kFlagReplyRequested;
    if (receipt) w |= kFlagReceiptRequested;
    if (delivered) w |= kFlagIsReceipt | kFlagReceiptDelivered;
    if (intransit) w |= kFlagIsReceipt | kFlagReceiptInTransit;
    if (failed) w |= kFlagIsReceipt | kFlagReceiptFailed;
    if (nondel) w |= kFlagNonDelReceiptRequested;
    return w;
  }
};

// Splits "key=value"; false for a line without '='.
bool splitKeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = line.substr(0, eq);
  *value = line.substr(eq + 1);
  return true;
}

const Key* findMessageKey(std::string_view key) {
  for (const KeyName& k : kMessageKeys) {
    if (k.name.size() == key.size() && platform::equalsNoCase(k.name, key)) return &k.key;
  }
  return nullptr;
}

void setCut(std::string& field, std::string_view value, size_t limit) {
  field.assign(value.substr(0, limit));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void unescapeInto(std::string_view value, std::string* out) {
  out->clear();
  out->reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && i + 1 < value.size() && (value[i + 1] == 'r' || value[i + 1] == 'n')) {
      out->push_back(value[i + 1] == 'r' ? '\r' : '\n');
      ++i;
    } else {
      out->push_back(c);
    }
  }
}

// Hex digits as long as they last; the low 8 bits of the number are the
// last two digits, so the running value never needs more than a byte.
uint8_t parseHexByte(std::string_view value) {
  unsigned v = 0;
  for (char c : value) {
    int d = hexDigit(c);
    if (d < 0) break;
    v = ((v << 4) | static_cast<unsigned>(d)) & 0xFFu;
  }
  return static_cast<uint8_t>(v);
}

uint32_t parseCount(std::string_view value) {
  int64_t n = platform::parseLeadingInt(value);
  if (n < 0) return 0;
  if (n > UINT32_MAX) return UINT32_MAX;
  return static_cast<uint32_t>(n);
}

void applyMessageKey(Key key, std::string_view value, SMSMessage* m, FlagKeys* flags) {
  switch (key) {
    case Key::kPhoneNumber:
      return setCut(m->PhoneNumber, value, kLimitPhoneNumber);
    case Key::kSender:
      return setCut(m->Sender, value, kLimitSender);
    case Key::kData:
      // Cut first, as the value is read into its field, then unescaped.
      unescapeInto(value.substr(0, kLimitData), &m->Data);
      return;
    case Key::kUDH:
      return setCut(m->UDH, value, kLimitUDH);
    case Key::kPid:
      m->pid = parseHexByte(value);
      return;
    case Key::kDcs:
      m->dcs = parseHexByte(value);
      return;
    case Key::kBinary:
      m->Binary = foundation::yesNo(value);
      return;
    case Key::kSubmittedBy:
      return setCut(m->SubmittedBy, value, kLimitSubmittedBy);
    case Key::kSubmitUser:
      return setCut(m->SubmitUser, value, kLimitSubmitUser);
    case Key::kServiceType:
      return setCut(m->ServiceType, value, kLimitServiceType);
    case Key::kRouteToLocalUser:
      return setCut(m->RouteToLocalUser, value, kLimitRouteToLocalUser);
    case Key::kSMSCRoute: {
      std::string_view route = value.substr(0, kLimitSMSCRoute);
      // "localuser:NAME" delivers to a local account; no link route is set.
      constexpr std::string_view kLocalUser = "localuser:";
      if (startsWithNoCase(route, kLocalUser)) {
        m->RouteToLocalUser.assign(route.substr(kLocalUser.size()));
        m->SMSCRoute.clear();
      } else {
        m->SMSCRoute.assign(route);
      }
      return;
    }
    case Key::kModemName:
      return setCut(m->ModemName, value, kLimitModemName);
    case Key::kSMPPOptions:
      return setCut(m->SMPPOptions, value, kLimitSMPPOptions);
    case Key::kReceivedSMSC:
      return setCut(m->ReceivedSMSC, value, kLimitReceivedSMSC);
    case Key::kValidity:
      return setCut(m->Validity, value, kLimitValidity);
    case Key::kBillingInfo:
      return setCut(m->BillingInfo, value, kLimitBillingInfo);
    case Key::kAcctInfo:
      return setCut(m->AcctInfo, value, kLimitAcctInfo);
    case Key::kReceiptMessageId:
      return setCut(m->ReceiptMessageId, value, kLimitReceiptMessageId);
    case Key::kReplyRequested:
      flags->reply = foundation::yesNo(value);
      return;
    case Key::kReceiptRequested:
      flags->receipt = foundation::yesNo(value);
      return;
    case Key::kReceiptDelivered:
      flags->delivered = foundation::yesNo(value);
      return;
    case Key::kReceiptIntransit:
      flags->intransit = foundation::yesNo(value);
      return;
    case Key::kReceiptFailed:
      flags->failed = foundation::yesNo(value);
      return;
    case Key::kNonDelReceiptRequested:
      flags->nondel = foundation::yesNo(value);
      return;
    case Key::kRecombineFlag:
      m->RecombineFlag = foundation::yesNo(value);
      return;
    case Key::kDuplicateMessageFor2Way:
      m->DuplicateMessageFor2Way = foundation::yesNo(value);
      return;
  }
}

void applyErrorKey(std::string_view key, std::string_view value, SMSMessage* m) {
  if (platform::equalsNoCase(key, "RetryCount")) {
    m->RetryCount = parseCount(value);
  } else if (platform::equalsNoCase(key, "LastRetryTime")) {
    m->LastRetryTime = parseRequestTime(value);
  } else if (platform::equalsNoCase(key, "FirstAttemptTime")) {
    m->FirstAttemptTime = parseRequestTime(value);
  }
}

// Calls `visit(line)` for each line: runs of bytes of 32 and above with
// their leading blanks removed; empty lines are skipped. Stops when
// `visit` returns false.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    while (p < end && (static_cast<unsigned char>(*p) < 32 || *p == ' ')) ++p;
    const char* start = p;
    while (p < end && static_cast<unsigned char>(*p) >= 32) ++p;
    if (p > start && !visit(std::string_view(start, static_cast<size_t>(p - start)))) return;
  }
}

bool startsEmpty(std::string_view text) {
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == 26;
  }
  return false;
}

void markLoadError(SMSMessage* msg) {
  msg->clear();
  msg->PhoneNumber = "ERROR";
  msg->SMSCRoute = "ErrorLoadMessage";
}

}  // namespace

RequestTime requestTimeFromLocal(const platform::CalendarTime& c) {
  return RequestTime{c.year, c.month, c.day, c.hour, c.minute, c.second};
}

RequestTime requestTimeNow() {
  return requestTimeFromLocal(platform::localNow());
}

platform::SystemTime toSystemTime(const RequestTime& t) {
  platform::CalendarTime c;
  c.year = t.year;
  c.month = t.month;
  c.day = t.day;
  c.hour = t.hour;
  c.minute = t.minute;
  c.second = t.second;
  return platform::fromLocal(c);
}

std::string formatRequestTime(const RequestTime& t) {
  return platform::format("%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                          t.second);
}

RequestTime parseRequestTime(std::string_view v) {
  if (v.size() != 14 || !platform::isAllDigits(v)) return kRequestTimeFallback;
  auto num = [&](size_t at, size_t len) {
    int n = 0;
    for (size_t i = at; i < at + len; ++i) n = n * 10 + (v[i] - '0');
    return n;
  };
  return RequestTime{num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2)};
}

void SMSMessage::clear() {
  Inbound = false;
  for (std::string* s :
       {&PhoneNumber, &Sender, &Data, &UDH, &SubmittedBy, &SubmitUser, &ServiceType,
        &RouteToLocalUser, &SMSCRoute, &ModemName, &ModemRoute, &SMPPOptions, &ReceivedSMSC,
        &Validity, &BillingInfo, &AcctInfo, &ReceiptMessageId}) {
    s->clear();
  }
  pid = 0;
  dcs = 0;
  Binary = false;
  MessageFlags = 0;
  RecombineFlag = false;
  DuplicateMessageFor2Way = false;
  HasErrorDetail = false;
  RetryCount = 0;
  LastRetryTime = RequestTime{};
  FirstAttemptTime = RequestTime{};
}

std::string escapeData(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 32) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescapeData(std::string_view value) {
  std::string out;
  unescapeInto(value, &out);
  return out;
}

void parseSMSMessage(std::string_view text, SMSMessage* msg, ModemRouteResolver resolve) {
  msg->clear();
  if (startsEmpty(text)) return;

  enum class State { kSeekMessage, kMessage, kSeekErrorDetail, kErrorDetail };
  State state = State::kSeekMessage;
  FlagKeys flags;
  forEachLine(text, [&](std::string_view line) {
    switch (state) {
      case State::kSeekMessage:
        if (startsWithNoCase(line, "[SMS]")) {
          state = State::kMessage;
        } else if (startsWithNoCase(line, "[SMS-IN]")) {
          msg->Inbound = true;
          state = State::kMessage;
        }
        return true;
      case State::kMessage:
        if (line[0] != '[') {
          std::string_view key, value;
          if (!splitKeyLine(line, &key, &value)) return true;
          if (const Key* k = findMessageKey(key)) applyMessageKey(*k, value, msg, &flags);
          return true;
        }
        state = State::kSeekErrorDetail;
        [[fallthrough]];
      case State::kSeekErrorDetail:
        if (startsWithNoCase(line, "[ErrorDetail]")) {
          msg->HasErrorDetail = true;
          state = State::kErrorDetail;
        }
        return true;
      case State::kErrorDetail:
        if (line[0] == '[') return false;
        std::string_view key, value;
        if (splitKeyLine(line, &key, &value)) applyErrorKey(key, value, msg);
        return true;
    }
    return true;
  });
  msg->MessageFlags = flags.word();
  if (!msg->ModemName.empty()) {
    std::string route =
        resolve ? resolve(msg->ModemName) : foundation::linkRouteName(msg->ModemName);
    setCut(msg->ModemRoute, route, kLimitModemRoute);
  }
}

bool LoadSMSMessage(int fd, SMSMessage* msg, ModemRouteResolver resolve) {
  if (!platform::statFd(fd)) {
    int err = errno;
    markLoadError(msg);
    foundation::DebugLogf("LoadSMSMessage", "Error %u from GetFileSize",
                          static_cast<unsigned>(err));
    return false;
  }
  // One buffer per thread, reused: the loader runs once per queued message.
  thread_local std::string text;
  if (!foundation::readWholeFile(fd, &text, kMaxFileBytes)) {
    int err = errno;
    markLoadError(msg);
    foundation::DebugLogf("LoadSMSMessage", "Error %u from ReadFile", static_cast<unsigned>(err));
    return false;
  }
  parseSMSMessage(text, msg, resolve);
  if (text.capacity() > (1u << 20)) std::string().swap(text);
  return true;
}

bool LoadSMSMessageFile(const std::string& path, SMSMessage* msg, ModemRouteResolver resolve) {
  foundation::CreateFileOptions once;
  once.access = O_RDONLY;
  once.disposition = foundation::Disposition::kOpenExisting;
  auto fd = foundation::CreateFileWithRetry(path, once);
  if (!fd) {
    markLoadError(msg);
    foundation::DebugLogf("LoadSMSMessage", "Error %u from ReadFile",
                          static_cast<unsigned>(fd.status().code()));
    return false;
  }
  return LoadSMSMessage(fd->get(), msg, resolve);
}

}  // namespace vek::queue
