// Sending one message: the AT+CMGS dialogue in PDU and text mode.
#include "foundation/debug_log.h"
#include "modem/message_reference.h"
#include "modem/modem.h"
#include "modem/pdu_submit.h"
#include "platform/strings.h"
#include "queue/request_file.h"

namespace vek::modem {
namespace {

constexpr size_t kMaxErrorText = 498;
constexpr int kMaxReportRestarts = 5;
constexpr int kMaxWavecomRetries = 10;

SendResult failure(std::string text, bool modem_error) {
  SendResult r;
  r.outcome = SendResult::Outcome::kFailed;
  r.error = std::move(text);
  r.modem_error = modem_error;
  return r;
}

SendResult permanent(std::string text) {
  SendResult r;
  r.outcome = SendResult::Outcome::kPermanent;
  r.error = std::move(text);
  return r;
}

// "ERROR - Modem Response (n):  <answer>", at most 498 characters.
std::string modemResponseError(int step, const std::string& answer) {
  std::string prefix = platform::format("ERROR - Modem Response (%d):  ", step);
  return prefix + printable(answer, kMaxErrorText - prefix.size());
}

bool noAnswer(const Response& r) {
  return r.status == Response::Status::kTimeout || r.status == Response::Status::kClosed ||
         r.status == Response::Status::kStopped;
}

// Text at the text-mode prompt: Ctrl-Z would end it early and ESC cancel
// it, so both become blanks.
std::string promptSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\x1A' || c == '\x1B') c = ' ';
  return out;
}

}  // namespace

bool Modem::acknowledgementPending() const {
  if (!facts_.phase2plus || !channel_) return false;
  for (const auto& u : channel_->reader().setAside())
    if (u.kind == Unsolicited::Kind::kCmt || u.kind == Unsolicited::Kind::kCds) return true;
  return false;
}

SendResult Modem::send(const OutboundSms& m) {
  if (!isOpen()) return failure("ERROR - Error communication with modem (1)", true);
  sendScripted(options_.pre_send, "CommandPreSend");
  SendResult r = facts_.text_mode ? sendText(m) : sendPdu(m);
  if (r.sent()) r = finishSend(m, std::move(r));
  sendScripted(options_.post_send, "CommandPostSend");
  const int delay = r.sent() ? options_.delay_after_send_ms.value_or(facts_.nokia ? 7500 : 0)
                             : options_.delay_after_error_ms;
  if (delay > 0 && channel_) channel_->pause(delay / 1000.0);
  if (channel_ && !channel_->reader().setAside().empty()) handleReports();
  return r;
}

SendResult Modem::finishSend(const OutboundSms& m, SendResult r) {
  r.message_reference = cmgsReference(r.answer);
  if (r.message_reference > 0)
    r.message_id = modemMessageKey(static_cast<unsigned>(r.message_reference), m.recipient);
  const bool receipt =
      (m.flags & queue::kFlagReceiptRequested) != 0 && !options_.disable_delivery_receipt;
  if (receipt && !inbound::RecordModemMessageId(options_.link_name, r.answer, m.queue_file_name,
                                                m.account, m.sender, m.recipient))
    log("No message reference recorded for the receipt of " + m.queue_file_name);
  return r;
}

SendResult Modem::sendPdu(const OutboundSms& m) {
  SubmitInput in;
  in.recipient = m.recipient;
  in.smsc = options_.smsc;
  in.exclude_smsc = options_.exclude_smsc;
  in.message_reference = nextMessageReference(options_.test_zero_mr);
  in.pid = m.pid;
  in.dcs = m.dcs;
  in.data = m.data;
  in.udh = m.udh;
  in.binary = m.binary;
  in.reply_path = (m.flags & queue::kFlagReplyRequested) != 0;
  in.status_report =
      (m.flags & queue::kFlagReceiptRequested) != 0 && !options_.disable_delivery_receipt;
  in.validity = relativeValidity(m.validity.empty() ? options_.validity : m.validity);
  auto pdu = buildSubmitPdu(in);
  if (!pdu.ok()) return permanent("ERROR - " + pdu.status().message());

  const std::string command = platform::format("AT+CMGS=%u\r", pdu->tpdu_octets);
  int restarts = 0;
  int wavecom_retries = 0;
  for (;;) {
    channel_->drain();
    foundation::DebugLogf(channel_->tag().c_str(), "OUT: %s", printable(command, 100).c_str());
    if (!channel_->send(command))
      return failure("ERROR - Error communication with modem (1)", true);
    ResponseReader::Expect expect;
    expect.prompt = true;
    Response prompt = channel_->receive(options_.send_workaround ? 2 : 15, expect);

    // A report the modem wants acknowledged arrived meanwhile: leave the
    // prompt, store and acknowledge it, then start the message over.
    if (acknowledgementPending() && restarts < kMaxReportRestarts) {
      ++restarts;
      channel_->send("\x1B\r");
      channel_->receive(1);
      handleReports();
      if (!isOpen()) return failure("ERROR - Error communication with modem (1)", true);
      continue;
    }
    if (!prompt.prompt() && !options_.send_workaround) {
      channel_->send("\x1B\r");
      if (noAnswer(prompt) && prompt.text.empty())
        return failure("ERROR - Error waiting for response from modem (1)", true);
      SendResult f = failure(modemResponseError(1, prompt.text), noAnswer(prompt));
      f.cms_error = cmsErrorCode(prompt.text);
      return f;
    }

    if (!channel_->send(pdu->hex + "\x1A")) {
      return failure("ERROR - Error communication with modem (2)", true);
    }
    if (channel_->extraCr()) {
      channel_->pause(0.1);
      channel_->send("\r");
    }
    Response answer = channel_->receive(120);
    foundation::DebugLogf(channel_->tag().c_str(), "IN: %s", printable(answer.text, 498).c_str());
    const bool sent = answer.contains("+CMGS:") || (options_.send_response_simple && answer.ok());
    if (sent) {
      SendResult ok;
      ok.outcome = SendResult::Outcome::kSent;
      ok.answer = answer.text;
      return ok;
    }
    channel_->send("\x1B\r");
    if (noAnswer(answer) && answer.text.empty())
      return failure("ERROR - Error waiting for response from modem (2)", true);
    const int code = cmsErrorCode(answer.text);
    const bool busy =
        code == 512 || code == 513 || answer.contains("ERROR 512") || answer.contains("ERROR 513");
    if (facts_.wavecom && busy && wavecom_retries < kMaxWavecomRetries) {
      ++wavecom_retries;
      log(platform::format("Retry CMS ERROR %d for Wavecom modems", code > 0 ? code : 512));
      if (!channel_->pause(3)) return failure(modemResponseError(2, answer.text), false);
      continue;
    }
    SendResult f = failure(modemResponseError(2, answer.text), noAnswer(answer));
    f.cms_error = code;
    f.answer = answer.text;
    return f;
  }
}

SendResult Modem::sendText(const OutboundSms& m) {
  if (m.binary) return failure("ERROR - binary messages not supported for this modem", false);
  if (!isPhoneNumber(m.recipient)) return permanent("ERROR - Invalid recipient address");
  const std::string command = "AT+CMGS=\"" + m.recipient + "\"\r";
  int restarts = 0;
  for (;;) {
    channel_->drain();
    foundation::DebugLogf(channel_->tag().c_str(), "OUT: %s", printable(command, 100).c_str());
    if (!channel_->send(command))
      return failure("ERROR - Error communication with modem (1)", true);
    ResponseReader::Expect expect;
    expect.prompt = true;
    Response prompt = channel_->receive(options_.send_workaround ? 2 : 15, expect);
    if (acknowledgementPending() && restarts < kMaxReportRestarts) {
      ++restarts;
      channel_->send("\x1B\r");
      channel_->receive(1);
      handleReports();
      continue;
    }
    if (!prompt.prompt() && !options_.send_workaround) {
      channel_->send("\x1B\r");
      if (noAnswer(prompt) && prompt.text.empty())
        return failure("ERROR - Error waiting for response from modem (1)", true);
      return failure(modemResponseError(1, prompt.text), noAnswer(prompt));
    }
    if (!channel_->send(promptSafe(m.data) + "\x1A"))
      return failure("ERROR - Error communication with modem (2)", true);
    if (channel_->extraCr()) {
      channel_->pause(0.1);
      channel_->send("\r");
    }
    Response answer = channel_->receive(120);
    if (answer.contains("+CMGS:") || (options_.send_response_simple && answer.ok())) {
      SendResult ok;
      ok.outcome = SendResult::Outcome::kSent;
      ok.answer = answer.text;
      return ok;
    }
    channel_->send("\x1B\r");
    if (noAnswer(answer) && answer.text.empty())
      return failure("ERROR - Error waiting for response from modem (2)", true);
    SendResult f = failure(modemResponseError(2, answer.text), noAnswer(answer));
    f.cms_error = cmsErrorCode(answer.text);
    f.answer = answer.text;
    return f;
  }
}

}  // namespace vek::modem
