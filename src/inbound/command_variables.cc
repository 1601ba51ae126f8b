#include "inbound/command_variables.h"

#include <optional>

#include "inbound/two_way_commands.h"
#include "platform/strings.h"

namespace vek::inbound {
namespace {

// The longest variable name ("RECEIPTMESSAGEID"); a longer run between two
// "@@" is no variable.
constexpr size_t kLongestName = 16;

struct Variable {
  std::string_view name;
  std::string (*value)(const CommandValues&);
};

const Variable kVariables[] = {
    {"SENDER", [](const CommandValues& v) { return v.sender; }},
    {"RECIP", [](const CommandValues& v) { return v.recipient; }},
    {"SMSPREFIX", [](const CommandValues& v) { return v.first_word; }},
    {"FULLSMS", [](const CommandValues& v) { return v.text; }},
    {"TEXT", [](const CommandValues& v) { return v.text; }},
    {"SMS", [](const CommandValues& v) { return v.rest; }},
    {"BINARY", [](const CommandValues& v) { return std::string(v.binary ? "1" : "0"); }},
    {"UDH", [](const CommandValues& v) { return v.udh; }},
    {"PID", [](const CommandValues& v) { return platform::format("%02X", v.pid); }},
    {"DCS", [](const CommandValues& v) { return platform::format("%02X", v.dcs); }},
    {"MESSAGEID", [](const CommandValues& v) { return v.message_id; }},
    {"RECEIPTMESSAGEID", [](const CommandValues& v) { return v.receipt_message_id; }},
    {"SERVICETYPE", [](const CommandValues& v) { return v.service_type; }},
    {"RECEIVEDSMSC", [](const CommandValues& v) { return v.received_smsc; }},
    {"SMSCROUTE", [](const CommandValues& v) { return v.route; }},
    {"SMSCROUTEID", [](const CommandValues& v) { return v.link; }},
    {"MSGDATE", [](const CommandValues& v) { return v.msg_date; }},
    {"MSGTIME", [](const CommandValues& v) { return v.msg_time; }},
    {"SUBJECT", [](const CommandValues& v) { return v.subject; }},
};

const Variable* findVariable(std::string_view name) {
  for (const Variable& v : kVariables)
    if (platform::equalsNoCase(v.name, name)) return &v;
  return nullptr;
}

bool keptInUrl(unsigned char c) {
  return c == 0x24 || (c >= 0x27 && c <= 0x29) || (c >= 0x2D && c <= 0x3A) || c == 0x3D ||
         (c >= 0x40 && c <= 0x5B) || (c >= 0x5D && c <= 0x7E);
}

// Appends `value` to `*out` as far as `limit` allows; false once cut.
bool appendCapped(std::string* out, std::string_view value, ValueEncoding encoding, size_t limit) {
  if (encoding == ValueEncoding::kPlain) {
    const size_t room = limit > out->size() ? limit - out->size() : 0;
    const std::string_view fits = cutUtf8(value, room);
    out->append(fits);
    return fits.size() == value.size();
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : value) {
    const size_t need = keptInUrl(c) ? 1 : 3;
    if (out->size() + need > limit) return false;
    if (need == 1) {
      out->push_back(static_cast<char>(c));
    } else {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 0x0F]);
    }
  }
  return true;
}

}  // namespace

std::string urlEncodeValue(std::string_view value) {
  std::string out;
  appendCapped(&out, value, ValueEncoding::kUrl, SIZE_MAX);
  return out;
}

std::string replaceVariables(std::string_view pattern, const CommandValues& values,
                             ValueEncoding encoding, size_t limit) {
  std::string out;
  out.reserve(std::min(limit, pattern.size() + 64));
  size_t pos = 0;
  while (pos < pattern.size()) {
    const size_t open = pattern.find("@@", pos);
    if (open == std::string_view::npos) {
      appendCapped(&out, pattern.substr(pos), ValueEncoding::kPlain, limit);
      break;
    }
    if (!appendCapped(&out, pattern.substr(pos, open - pos), ValueEncoding::kPlain, limit)) break;
    const size_t name_at = open + 2;
    const size_t close = pattern.substr(name_at, kLongestName + 2).find("@@");
    const Variable* v =
        close == std::string_view::npos ? nullptr : findVariable(pattern.substr(name_at, close));
    if (v == nullptr) {
      // Not a variable: the first "@@" stays, and the search goes on after
      // it (its second '@' may start the next variable).
      if (!appendCapped(&out, "@", ValueEncoding::kPlain, limit)) break;
      pos = open + 1;
      continue;
    }
    if (!appendCapped(&out, v->value(values), encoding, limit)) break;
    pos = name_at + close + 2;
  }
  return out;
}

std::vector<std::string> splitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool in_argument = false;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        current.push_back(c);
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      in_argument = true;
    } else if (c == ' ' || c == '\t') {
      if (in_argument) args.push_back(std::move(current));
      current.clear();
      in_argument = false;
    } else {
      current.push_back(c);
      in_argument = true;
    }
  }
  if (in_argument) args.push_back(std::move(current));
  return args;
}

std::string controlsToBlanks(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

std::vector<std::string> programArguments(std::string_view command, const CommandValues& values) {
  CommandValues plain = values;
  for (std::string* s :
       {&plain.sender, &plain.recipient, &plain.first_word, &plain.text, &plain.rest, &plain.udh,
        &plain.message_id, &plain.receipt_message_id, &plain.service_type, &plain.received_smsc,
        &plain.route, &plain.link, &plain.subject})
    *s = controlsToBlanks(*s);
  std::vector<std::string> args;
  size_t used = 0;
  for (const std::string& templ : splitCommandLine(command)) {
    if (used >= kMaxReplacedCommand) break;
    args.push_back(
        replaceVariables(templ, plain, ValueEncoding::kPlain, kMaxReplacedCommand - used));
    used += args.back().size() + 1;
  }
  return args;
}

std::vector<std::string> commandEnvironment(const CommandValues& values) {
  std::vector<std::string> env;
  for (const Variable& v : kVariables) {
    std::string value = controlsToBlanks(v.value(values));
    env.push_back("VEKSMS_" + std::string(v.name) + "=" + value);
  }
  return env;
}

}  // namespace vek::inbound
