#include "inbound/mail_spool.h"

#include "encoding/hex_text.h"
#include "hostlib/host.h"
#include "inbound/command_variables.h"
#include "inbound/two_way_commands.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"

namespace vek::inbound {
namespace {

// Header values are kept well inside the line length mail allows.
constexpr size_t kMaxHeaderValue = 900;
constexpr size_t kMaxAddresses = 100;

std::string headerValue(std::string_view value) {
  return std::string(cutUtf8(platform::trim(controlsToBlanks(value)), kMaxHeaderValue));
}

void addAddresses(std::vector<std::string>* out, std::string_view list) {
  for (const std::string& a : platform::split(list, ",")) {
    if (out->size() >= kMaxAddresses) return;
    std::string address = headerValue(a);
    if (!address.empty()) out->push_back(std::move(address));
  }
}

// "Name: a,\r\n b,\r\n c\r\n"; nothing for an empty list unless `always`.
void appendAddressHeader(std::string* out, std::string_view name,
                         const std::vector<std::string>& list, bool always) {
  if (list.empty() && !always) return;
  out->append(name).append(": ");
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out->append(" ");
    out->append(list[i]);
    if (i + 1 < list.size()) out->append(",");
    out->append("\r\n");
  }
  if (list.empty()) out->append("\r\n");
}

// The body with every line ending in CR LF.
std::string crlfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out.append("\r\n");
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out.append("\r\n");
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
      out.push_back(' ');  // a NUL or other control byte has no place in a mail body
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = encoding::hexDigitValue(text[i + 1]);
      const int lo = encoding::hexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string mailtoAddressPart(std::string_view command) {
  if (platform::startsWithNoCase(command, "mailto:")) command.remove_prefix(7);
  return percentDecode(command.substr(0, command.find('?')));
}

MailtoCommand parseMailto(std::string_view command) {
  MailtoCommand m;
  addAddresses(&m.to, mailtoAddressPart(command));
  const size_t q = command.find('?');
  if (q == std::string_view::npos) return m;
  for (const std::string& item : platform::split(command.substr(q + 1), "&")) {
    const size_t eq = item.find('=');
    const std::string name = percentDecode(item.substr(0, eq));
    const std::string value =
        eq == std::string::npos ? std::string() : percentDecode(item.substr(eq + 1));
    if (platform::equalsNoCase(name, "to")) {
      addAddresses(&m.to, value);
    } else if (platform::equalsNoCase(name, "cc")) {
      addAddresses(&m.cc, value);
    } else if (platform::equalsNoCase(name, "bcc")) {
      addAddresses(&m.bcc, value);
    } else if (platform::equalsNoCase(name, "subject")) {
      m.subject = headerValue(value);
    } else if (platform::equalsNoCase(name, "body")) {
      m.body = value;
      m.has_body = true;
    }
  }
  return m;
}

bool hasMailRecipient(const MailtoCommand& m) {
  for (const std::string& a : m.to)
    if (a.find('@') != std::string::npos) return true;
  return false;
}

std::string formatMailSpool(const MailtoCommand& m, std::string_view sender,
                            std::string_view domain, std::string_view text) {
  const std::string from = headerValue(sender.substr(0, sender.find('@')));
  std::string out = "From: " + from + "@" + headerValue(domain) + "\r\n";
  appendAddressHeader(&out, "To", m.to, true);
  appendAddressHeader(&out, "Cc", m.cc, false);
  appendAddressHeader(&out, "Bcc", m.bcc, false);
  const std::string subject =
      !m.subject.empty() ? m.subject : headerValue(std::string(sender) + " - SMS Text Message");
  out.append("Subject: ").append(subject).append("\r\n");
  out.append("Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n");
  out.append(crlfLines(m.has_body ? std::string_view(m.body) : text));
  out.append("\r\n");
  return out;
}

std::string mailSpoolDirectory() {
  return hostlib::GetProgramDataDirectory() + "MMSCOUT/";
}

platform::Result<std::string> writeMailSpoolFile(const std::string& text) {
  return queue::CreateQueueFile(mailSpoolDirectory(), "RFC", text);
}

}  // namespace vek::inbound
