#include "inbound/two_way.h"

#include "encoding/charsets.h"
#include "encoding/code_page.h"
#include "encoding/utf8.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "inbound/extra_params.h"
#include "inbound/mail_spool.h"
#include "inbound/two_way_commands.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/sanitize.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "protocols/http/url.h"
#include "submit/sms_reply.h"

namespace vek::inbound {
namespace {

constexpr std::string_view kChooseTag = "GetProgramToExecute";
constexpr std::string_view kTag = "Execute2WayCommand";
constexpr size_t kMaxReply = 8192;
constexpr size_t kMaxProgramOutput = 10240;
// A web answer far beyond any reply is refused rather than held.
constexpr size_t kMaxWebAnswer = 2u << 20;
constexpr std::string_view kBlankReply = "Command response is blank, no reply will be sent";

std::string smsgw(std::string_view key, std::string_view def = {}) {
  return std::string(platform::trim(hostlib::SMSIniGetProfileString("SMSGW", key, def)));
}

// The code page of `ReceiveSMSCharset`, or 0 for none (UTF-8 or unknown).
unsigned receiveCharsetCodePage(std::string* name) {
  *name = smsgw("ReceiveSMSCharset");
  if (name->empty() || platform::equalsNoCase(*name, "utf-8") ||
      platform::equalsNoCase(*name, "utf8"))
    return 0;
  const unsigned cp = encoding::CharsetToCodePage(*name);
  return cp == 65001 ? 0 : cp;
}

// First word and texts in `ReceiveSMSCharset`, for web and program commands.
void convertForCommand(CommandValues* v) {
  std::string name;
  const unsigned cp = receiveCharsetCodePage(&name);
  if (cp == 0) return;
  foundation::DebugLogf(kTag, "Converting character set for received SMS message to %s",
                        name.c_str());
  for (std::string* s : {&v->first_word, &v->text, &v->rest})
    (void)encoding::UTF8ToLocalString(s, cp);
}

std::string cutReply(std::string_view text) {
  return std::string(cutUtf8(trimTrailingControls(text), kMaxReply));
}

}  // namespace

const char* twoWayResultName(TwoWayResult r) {
  switch (r) {
    case TwoWayResult::kDone:
      return "done";
    case TwoWayResult::kNoCommand:
      return "no command";
    case TwoWayResult::kErrorStatus:
      return "error status";
    case TwoWayResult::kFailed:
      return "failed";
    case TwoWayResult::kUnreachable:
      return "unreachable";
  }
  return "?";
}

std::string_view trimTrailingControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

std::string wellFormedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = encoding::decodeUtf8Char(text, &pos);
    if (cp != 0) encoding::appendUtf8(&out, cp);
  }
  return out;
}

bool plainTextType(std::string_view content_type, std::string* charset) {
  charset->clear();
  const size_t semi = content_type.find(';');
  if (!platform::equalsNoCase(platform::trim(content_type.substr(0, semi)), "text/plain"))
    return false;
  if (semi == std::string_view::npos) return true;
  for (const std::string& p : platform::split(content_type.substr(semi + 1), ";")) {
    std::string_view param = platform::trim(p);
    const size_t eq = param.find('=');
    if (eq == std::string_view::npos) continue;
    if (!platform::equalsNoCase(platform::trim(param.substr(0, eq)), "charset")) continue;
    std::string_view value = platform::trim(param.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    *charset = std::string(value);
  }
  return true;
}

CommandValues commandValues(const queue::SMSMessage& msg, std::string_view file_name,
                            platform::SystemTime file_time, std::string_view receipt_message_id) {
  CommandValues v;
  v.sender = msg.Sender;
  v.recipient = msg.PhoneNumber;
  v.first_word = firstWord(msg.Data);
  v.text = msg.Data;
  v.rest = afterFirstWord(msg.Data);
  v.binary = msg.Binary;
  v.udh = msg.UDH;
  v.pid = msg.pid;
  v.dcs = msg.dcs;
  v.message_id = std::string(file_name);
  if (!receipt_message_id.empty()) {
    v.receipt_message_id = std::string(receipt_message_id);
    if (!platform::endsWithNoCase(v.receipt_message_id, ".req")) v.receipt_message_id += ".req";
  }
  v.service_type = msg.ServiceType;
  v.received_smsc = msg.ReceivedSMSC;
  v.route = msg.ModemRoute;
  v.link = msg.ModemName;
  const platform::CalendarTime t = platform::toLocal(file_time);
  v.msg_date = platform::format("%04d%02d%02d", t.year, t.month, t.day);
  v.msg_time = platform::format("%02d%02d%02d", t.hour, t.minute, t.second);
  return v;
}

std::string replyOptions(std::string_view options, std::string_view copy) {
  std::vector<std::string> out;
  auto value = [&](std::string_view name) {
    return extraValue(options, std::string(kOptionPrefix) + std::string(name));
  };
  if (auto v = value("source_subaddress"))
    out.push_back("SMPPOption_dest_subaddress=" + std::string(*v));
  if (auto v = value("dest_subaddress"))
    out.push_back("SMPPOption_source_subaddress=" + std::string(*v));
  for (const std::string& item : platform::split(copy, ",;")) {
    std::string_view name = platform::trim(item);
    if (platform::startsWithNoCase(name, kOptionPrefix)) name.remove_prefix(kOptionPrefix.size());
    if (name.empty()) continue;
    if (auto v = value(name))
      out.push_back(std::string(kOptionPrefix) + std::string(name) + "=" + std::string(*v));
  }
  std::string joined;
  for (const std::string& item : out) {
    if (joined.size() + item.size() + 2 > kMaxOptionList) break;
    if (!joined.empty()) joined += "; ";
    joined += item;
  }
  return joined;
}

std::string webCommandUrl(std::string_view command, const CommandValues& values,
                          std::string_view smpp_options) {
  std::string url = replaceVariables(command, values, ValueEncoding::kUrl);
  for (const ExtraItem& item : extraItems(smpp_options)) {
    if (!platform::startsWithNoCase(item.name, kOptionPrefix)) continue;
    const std::string_view bare = item.name.substr(kOptionPrefix.size());
    if (hostlib::SMSIniGetProfileString("SMPPOptions", bare).empty()) continue;
    std::string add(1, '&');
    add.append(urlEncodeValue(item.name)).append(1, '=').append(urlEncodeValue(item.value));
    if (url.size() + add.size() > kMaxReplacedCommand) break;
    url += add;
  }
  return url;
}

TwoWayResult TwoWayRunner::run(const queue::SMSMessage& msg, std::string_view file_name,
                               platform::SystemTime file_time,
                               std::string_view receipt_message_id) {
  const CommandValues values = commandValues(msg, file_name, file_time, receipt_message_id);
  const auto commands = commandList();
  const TwoWayCommand* chosen =
      chooseCommand(*commands, values.first_word, msg.PhoneNumber, msg.Binary);
  if (chosen == nullptr) {
    foundation::DebugLogf(kChooseTag, "No command for %s from %s",
                          platform::singleLine(values.first_word).c_str(),
                          platform::singleLine(msg.Sender).c_str());
    return TwoWayResult::kNoCommand;
  }
  foundation::DebugLog(kChooseTag, platform::singleLine(chosen->command));
  CommandRun r = execute(msg, chosen->command, chosen->reply, values);
  if (r.result != TwoWayResult::kDone) {
    foundation::DebugLogf(kTag, "%s: %s", twoWayResultName(r.result),
                          platform::singleLine(r.detail).c_str());
  }
  return r.result;
}

CommandRun TwoWayRunner::execute(const queue::SMSMessage& msg, const std::string& command,
                                 bool reply, const CommandValues& values) {
  CommandRun r;
  switch (commandKind(command)) {
    case CommandKind::kWeb:
      r = executeWeb(msg, command, reply, values);
      break;
    case CommandKind::kMailto:
      r = executeMailto(msg, command, values);
      break;
    case CommandKind::kProgram:
      r = executeProgram(msg, command, reply, values);
      break;
  }
  if (r.reply.empty()) return r;
  const std::string route = foundation::yesNo(smsgw("2WayReplySameServer")) ? msg.ModemRoute : "";
  const std::string options = replyOptions(msg.SMPPOptions, smsgw("2WayReplyCopySMPPOptions"));
  if (submit::BuildSMSReply(msg.Sender, msg.PhoneNumber, r.reply, route, options) < 0) {
    r.result = TwoWayResult::kFailed;
    r.detail = "the reply could not be queued";
  }
  return r;
}

CommandRun TwoWayRunner::executeWeb(const queue::SMSMessage& msg, const std::string& command,
                                    bool reply, const CommandValues& values) {
  CommandRun r;
  r.reply_wanted = reply;
  CommandValues v = values;
  convertForCommand(&v);
  const std::string url = webCommandUrl(command, v, msg.SMPPOptions);
  foundation::DebugLog(kChooseTag, platform::singleLine(url));
  if (auto parsed = httpwire::parseUrl(url); !parsed.ok()) {
    // A template that makes no URL is no server to wait for.
    r.result = TwoWayResult::kFailed;
    r.detail = "invalid URL: " + parsed.status().message();
    return r;
  }
  httpwire::RetrieveOptions o;
  o.proxy = smsgw("2WayProxy");
  o.accept_error_status = true;
  o.timeout = options_.web_timeout;
  o.max_response = kMaxWebAnswer;
  const bool keep_alive = foundation::settings()->TwoWayKeepAlive;
  httpwire::RetrieveResult answer = httpwire::RetrieveURL(url, o, keep_alive ? &slot_ : nullptr);
  if (answer.status == 0) {
    r.result = TwoWayResult::kUnreachable;
    r.detail = answer.error;
    return r;
  }
  if (answer.status / 100 != 2) {
    foundation::DebugLogf(kTag, "HTTP response indicates error (%d)", answer.status);
    r.result = TwoWayResult::kErrorStatus;
    r.detail = platform::format("HTTP status %d", answer.status);
    return r;
  }
  if (!reply) return r;
  std::string charset;
  if (!plainTextType(answer.content_type, &charset)) {
    r.reply = "Command not completed.  Request returned invalid content type:  " +
              platform::singleLine(answer.content_type);
    return r;
  }
  std::string body = cutReply(answer.body());
  if (body.empty()) {
    foundation::DebugLog(kTag, kBlankReply);
    return r;
  }
  std::string receive_charset;
  const unsigned receive_cp = receiveCharsetCodePage(&receive_charset);
  if (!charset.empty() && !platform::equalsNoCase(charset, "utf-8")) {
    std::string name = charset;
    (void)encoding::CharsetToUTF8(&name, &body);
  } else if (charset.empty() && receive_cp != 0) {
    foundation::DebugLogf(kTag, "Converting character set for 2-way command response to %s",
                          receive_charset.c_str());
    (void)encoding::CodePageToUTF8(&body, receive_cp);
  }
  r.reply = wellFormedUtf8(cutUtf8(body, kMaxReply));
  return r;
}

CommandRun TwoWayRunner::executeMailto(const queue::SMSMessage& msg, const std::string& command,
                                       const CommandValues& values) {
  CommandRun r;
  std::string replaced;
  std::string text = values.text;
  if (platform::equalsNoCase(command, "mailto:@@SMSPREFIX@@")) {
    replaced = "mailto:" + urlEncodeValue(values.first_word);
    text = values.rest;
  } else {
    replaced = replaceVariables(command, values, ValueEncoding::kUrl);
  }
  foundation::DebugLog(kChooseTag, platform::singleLine(replaced));
  const MailtoCommand mail = parseMailto(replaced);
  if (!hasMailRecipient(mail)) {
    r.reply = "Invalid e-mail recipient: " + platform::singleLine(mailtoAddressPart(replaced)) +
              ".  Please specify a valid e-mail address to start the text of your message.";
    return r;
  }
  const std::string domain = hostlib::MMSCIniGetProfileString("MMSC", "SMSDomainName", "unknown");
  auto path = writeMailSpoolFile(formatMailSpool(mail, msg.Sender, domain, text));
  if (!path.ok()) {
    r.result = TwoWayResult::kFailed;
    r.detail = "mail spool file not written: " + path.status().message();
    return r;
  }
  foundation::DebugLogf(kTag, "Mail for %s written as %s", platform::singleLine(msg.Sender).c_str(),
                        path->c_str());
  return r;
}

CommandRun TwoWayRunner::executeProgram(const queue::SMSMessage& msg, const std::string& command,
                                        bool reply, const CommandValues& values) {
  CommandRun r;
  r.reply_wanted = reply;
  CommandValues v = values;
  convertForCommand(&v);
  platform::ProcessOptions o;
  o.argv = programArguments(command, v);
  o.extra_env = commandEnvironment(v);
  o.max_output = reply ? kMaxProgramOutput : 0;
  o.merge_stderr = true;
  o.time_limit = options_.program_time_limit;
  o.cancel = &platform::shutdownFlag();
  std::string shown;
  for (const std::string& a : o.argv) shown += (shown.empty() ? "" : " ") + a;
  foundation::DebugLog(kChooseTag, platform::singleLine(shown));

  const platform::ProcessResult p =
      o.argv.empty() || o.argv[0].empty() ? platform::ProcessResult{} : platform::runProcess(o);
  if (!p.started) {
    r.result = TwoWayResult::kFailed;
    r.detail = "cannot start: " + (o.argv.empty() ? std::string("no program") : p.error.message());
    // The sender hears of it once, not at every retry.
    if (reply && msg.RetryCount == 0)
      r.reply = "Command not completed.  System error executing associated command.";
    return r;
  }
  if (p.timed_out || p.cancelled) {
    r.result = TwoWayResult::kFailed;
    r.detail = p.timed_out ? "time limit reached: the program and its process group were killed"
                           : "stopped for shutdown";
    return r;
  }
  if (!reply) return r;
  std::string output(trimTrailingControls(p.output));
  foundation::DebugLogf(kTag, "Command output: %s", platform::singleLine(output).c_str());
  const int32_t cp = foundation::settings()->DefaultCodePage;
  if (cp != 0 && cp != 65001) (void)encoding::CodePageToUTF8(&output, static_cast<unsigned>(cp));
  output = wellFormedUtf8(cutUtf8(output, kMaxReply));
  if (std::string_view(trimTrailingControls(output)).empty()) {
    foundation::DebugLog(kTag, kBlankReply);
    return r;
  }
  r.reply = std::move(output);
  return r;
}

void TwoWayRunner::closeIfBad() {
  if (!slot_.empty() && !slot_.connection.reusable()) slot_.close();
}

}  // namespace vek::inbound
