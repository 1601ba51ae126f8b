#include "links/message_prep.h"

#include "platform/files.h"
#include "platform/strings.h"

namespace vek::links {
namespace {

void appendItem(std::string* out, std::string_view item) {
  if (item.empty()) return;
  if (!out->empty()) out->append("; ");
  out->append(item);
}

void appendKey(std::string* out, std::string_view key, std::string_view value) {
  if (value.empty()) return;
  appendItem(out, std::string(key) + std::string(value));
}

// Whether `address` is one entry of the comma-separated `list` (blanks
// around entries ignored, case ignored).
bool inList(std::string_view address, std::string_view list) {
  for (const auto& item : platform::split(list, ",")) {
    if (platform::equalsNoCase(platform::trim(item), address)) return true;
  }
  return false;
}

}  // namespace

FileFault examineRequestText(std::string_view text, const queue::SMSMessage& m) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos || text[first] == 26) return FileFault::kEmpty;
  if (text.find('\0') != std::string_view::npos) return FileFault::kBinaryJunk;
  // Every writer ends each line with CR LF; a last line without one was cut
  // off while the file was copied or written.
  size_t last = text.find_last_not_of('\x1A');
  if (last != std::string_view::npos && text[last] != '\n' && text[last] != '\r')
    return FileFault::kTruncated;
  if (m.Inbound || m == queue::SMSMessage{}) return FileFault::kNoSection;
  if (m.PhoneNumber.empty()) return FileFault::kNoRecipient;
  // The loader cuts values at their limits: a value that reaches it was
  // longer, and sending it cut would reach a wrong number or a part of the text.
  if (m.PhoneNumber.size() >= queue::kLimitPhoneNumber || m.Data.size() >= queue::kLimitData)
    return FileFault::kValueTooLong;
  return FileFault::kSound;
}

const char* fileFaultText(FileFault f) {
  switch (f) {
    case FileFault::kSound:
      return "sound";
    case FileFault::kEmpty:
      return "empty file";
    case FileFault::kNoSection:
      return "no [SMS] section";
    case FileFault::kBinaryJunk:
      return "binary data in a text file";
    case FileFault::kTruncated:
      return "last line cut off";
    case FileFault::kNoRecipient:
      return "no recipient";
    case FileFault::kValueTooLong:
      return "recipient or data too long";
  }
  return "unknown";
}

std::string chooseSender(std::string_view own, const foundation::LinkCommonSettings& link) {
  if (!own.empty() && (link.SenderAddressOverride || inList(own, link.SenderAddressList)))
    return std::string(own);
  return link.SenderAddress;
}

std::string buildParams(foundation::LinkKind kind, const queue::SMSMessage& m,
                        std::string_view message_id, std::string_view default_validity) {
  std::string out;
  if (kind == foundation::LinkKind::kUcp) {
    appendKey(&out, "BillingInfo=", m.BillingInfo);
    appendKey(&out, "LocalUser=", m.SubmitUser);
    appendKey(&out, "OurMsgId=", message_id);
    return out;
  }
  for (const auto& item : platform::split(m.SMPPOptions, ";"))
    appendItem(&out, platform::trim(item));
  appendKey(&out, "LocalUser=", m.SubmitUser);
  appendKey(&out, "ServiceType=", m.ServiceType);
  appendKey(&out, "Validity=", m.Validity.empty() ? default_validity : m.Validity);
  return out;
}

SubmitRequest buildSubmitRequest(foundation::LinkKind kind, const queue::SMSMessage& m,
                                 std::string_view message_id,
                                 const foundation::LinkCommonSettings& link,
                                 std::string_view default_validity) {
  SubmitRequest r;
  r.recipient =
      foundation::rewritePrefix(platform::trim(m.PhoneNumber), link.OutRecipPrefixConvert);
  r.sender = chooseSender(
      foundation::rewritePrefix(platform::trim(m.Sender), link.OutSenderPrefixConvert), link);
  r.pid = m.pid;
  r.dcs = m.dcs;
  r.udh = m.UDH;
  r.data = m.Data;
  r.binary = m.Binary;
  r.flags = m.MessageFlags;
  if (link.DisableDeliveryReceipt) r.flags &= ~queue::kFlagsFailureReceiptWanted;
  r.request_file = std::string(message_id);
  r.params = buildParams(kind, m, message_id, default_validity);
  return r;
}

std::string messageIdOf(std::string_view relative_path) {
  size_t slash = relative_path.find_last_of('/');
  std::string_view name =
      slash == std::string_view::npos ? relative_path : relative_path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

}  // namespace vek::links
