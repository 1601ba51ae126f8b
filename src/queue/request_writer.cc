#include "queue/request_writer.h"

#include "foundation/file_io.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::queue {
namespace {

bool endsWithLineEnd(std::string_view text) {
  return text.empty() || static_cast<unsigned char>(text.back()) < 32;
}

// The part of `text` to keep and the text to append after it.
void planErrorDetail(std::string_view text, const ErrorDetail& d, size_t* keep,
                     std::string* append) {
  *keep = errorDetailOffset(text);
  append->clear();
  // A last line without its line end would swallow the block's header.
  if (!endsWithLineEnd(text.substr(0, *keep))) append->append("\r\n");
  append->append(formatErrorDetail(d));
}

}  // namespace

RequestWriter::RequestWriter(std::string_view header) {
  text_.reserve(512);
  section(header);
}

RequestWriter& RequestWriter::section(std::string_view header) {
  text_.append(platform::singleLine(header));
  text_.append("\r\n");
  return *this;
}

void RequestWriter::line(std::string_view key, std::string_view value) {
  text_.append(key);
  text_.push_back('=');
  text_.append(value);
  text_.append("\r\n");
}

RequestWriter& RequestWriter::text(std::string_view key, std::string_view value) {
  line(key, platform::singleLine(value));
  return *this;
}

RequestWriter& RequestWriter::textIfSet(std::string_view key, std::string_view value) {
  if (!value.empty()) text(key, value);
  return *this;
}

RequestWriter& RequestWriter::data(std::string_view value) {
  line("Data", escapeData(value));
  return *this;
}

RequestWriter& RequestWriter::yes(std::string_view key, bool on) {
  if (on) line(key, "Yes");
  return *this;
}

RequestWriter& RequestWriter::hex2(std::string_view key, uint8_t value) {
  line(key, platform::format("%02X", value));
  return *this;
}

RequestWriter& RequestWriter::hex(std::string_view key, uint8_t value) {
  line(key, platform::format("%X", value));
  return *this;
}

RequestWriter& RequestWriter::number(std::string_view key, uint64_t value) {
  line(key, std::to_string(value));
  return *this;
}

RequestWriter& RequestWriter::time(std::string_view key, const RequestTime& t) {
  line(key, formatRequestTime(t));
  return *this;
}

platform::Status RequestWriter::publish(const std::string& path, bool sync) const {
  return platform::publishFile(path, text_, sync);
}

platform::Status RequestWriter::publish(const std::string& path) const {
  return publish(path, foundation::settings()->SyncQueueWrites);
}

RequestWriter& appendMessageKeys(RequestWriter& w, const SMSMessage& m) {
  const uint32_t f = m.MessageFlags;
  w.textIfSet("SubmitUser", m.SubmitUser);
  w.textIfSet("SubmittedBy", m.SubmittedBy);
  w.textIfSet("PhoneNumber", m.PhoneNumber);
  w.textIfSet("Sender", m.Sender);
  w.yes("ReplyRequested", f & kFlagReplyRequested);
  w.yes("ReceiptRequested", f & kFlagReceiptRequested);
  w.yes("NonDelReceiptRequested", f & kFlagNonDelReceiptRequested);
  w.yes("ReceiptDelivered", f & kFlagReceiptDelivered);
  w.yes("ReceiptFailed", f & kFlagReceiptFailed);
  w.yes("ReceiptIntransit", f & kFlagReceiptInTransit);
  w.textIfSet("ReceiptMessageID", m.ReceiptMessageId);
  w.textIfSet("RouteToLocalUser", m.RouteToLocalUser);
  w.textIfSet("Validity", m.Validity);
  w.textIfSet("ServiceType", m.ServiceType);
  w.textIfSet("BillingInfo", m.BillingInfo);
  w.textIfSet("AcctInfo", m.AcctInfo);
  if (!m.ModemName.empty()) {
    w.text("ModemName", m.ModemName);
  } else {
    w.textIfSet("SMSCRoute", m.SMSCRoute);
  }
  w.textIfSet("SMPPOptions", m.SMPPOptions);
  w.textIfSet("ReceivedSMSC", m.ReceivedSMSC);
  w.textIfSet("UDH", m.UDH);
  if (!m.Data.empty()) w.data(m.Data);
  if (m.pid != 0 || m.dcs != 0) {
    w.hex2("pid", m.pid);
    w.hex2("dcs", m.dcs);
  }
  w.yes("Binary", m.Binary);
  w.yes("RecombineFlag", m.RecombineFlag);
  w.yes("DuplicateMessageFor2Way", m.DuplicateMessageFor2Way);
  return w;
}

std::string formatSMSMessage(const SMSMessage& m) {
  RequestWriter w(m.Inbound ? "[SMS-IN]" : "[SMS]");
  appendMessageKeys(w, m);
  return w.str();
}

std::string formatErrorDetail(const ErrorDetail& d) {
  RequestWriter w("[ErrorDetail]");
  w.number("RetryCount", d.RetryCount);
  w.time("LastRetryTime", d.LastRetryTime);
  if (d.HasFirstAttemptTime) w.time("FirstAttemptTime", d.FirstAttemptTime);
  if (!d.ErrorText.empty() || !d.LinkName.empty())
    w.text("LastErrorInfo", d.ErrorText + " -- " + d.LinkName);
  return w.str();
}

size_t errorDetailOffset(std::string_view text) {
  // Lines as the loader sees them: runs of bytes of 32 and above.
  size_t search_from = 0;
  bool seen_header = false;
  for (int pass = 0; pass < 2; ++pass) {
    size_t i = search_from;
    while (i < text.size()) {
      size_t line_start = i;
      while (i < text.size() && text[i] == ' ') ++i;
      size_t content = i;
      while (i < text.size() && static_cast<unsigned char>(text[i]) >= 32) ++i;
      std::string_view line = text.substr(content, i - content);
      if (pass == 0) {
        if (platform::startsWithNoCase(line, "[SMS]") ||
            platform::startsWithNoCase(line, "[SMS-IN]")) {
          seen_header = true;
          search_from = i;
          break;
        }
      } else if (platform::startsWithNoCase(line, "[ErrorDetail]")) {
        return line_start;
      }
      while (i < text.size() && static_cast<unsigned char>(text[i]) < 32) ++i;
    }
    if (pass == 0 && !seen_header) search_from = 0;
  }
  return text.size();
}

std::string withErrorDetail(std::string_view text, const ErrorDetail& d) {
  size_t keep;
  std::string append;
  planErrorDetail(text, d, &keep, &append);
  std::string out(text.substr(0, keep));
  out += append;
  return out;
}

platform::Status rewriteErrorDetail(int fd, const ErrorDetail& d) {
  std::string text;
  if (!foundation::readWholeFile(fd, &text))
    return platform::Status::fromErrno("read", "request file");
  size_t keep;
  std::string append;
  planErrorDetail(text, d, &keep, &append);
  return foundation::replaceFileTail(fd, keep, append);
}

}  // namespace vek::queue
