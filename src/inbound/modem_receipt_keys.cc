#include "inbound/modem_receipt_keys.h"

#include "platform/strings.h"

namespace vek::inbound {
namespace {

std::string_view lastDigits(std::string_view recipient) {
  if (!recipient.empty() && recipient[0] == '+') recipient.remove_prefix(1);
  return recipient.size() > 8 ? recipient.substr(recipient.size() - 8) : recipient;
}

}  // namespace

int cmgsReference(std::string_view answer) {
  const size_t at = answer.find("+CMGS:");
  if (at == std::string_view::npos) return -1;
  std::string_view rest = answer.substr(at + 6);
  while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
  size_t n = 0;
  while (n < rest.size() && n < 4 && rest[n] >= '0' && rest[n] <= '9') ++n;
  if (n == 0 || n > 3) return -1;
  const int64_t v = platform::parseLeadingInt(rest.substr(0, n));
  return v >= 1 && v <= 255 ? static_cast<int>(v) : -1;
}

std::string modemMessageKey(unsigned reference, std::string_view recipient) {
  return platform::format("%02X-", reference & 0xFF) + std::string(lastDigits(recipient));
}

bool RecordModemMessageId(std::string_view link_name, std::string_view answer,
                          std::string_view queue_file_name, std::string_view account,
                          std::string_view sender, std::string_view recipient) {
  const int reference = cmgsReference(answer);
  if (reference < 0) return false;
  const std::string_view local_id = queue_file_name.substr(0, queue_file_name.find('.'));
  return hostlib::SMSCMessageIdAdd(link_name,
                                   modemMessageKey(static_cast<unsigned>(reference), recipient),
                                   local_id, account, sender, recipient);
}

std::optional<hostlib::MessageIdRecord> FindModemMessageId(std::string_view link_name,
                                                           std::string_view centre_id,
                                                           unsigned reference,
                                                           std::string_view recipient) {
  if (!centre_id.empty()) {
    const std::string key = std::string(centre_id) + "-" + std::string(lastDigits(recipient));
    if (auto found = hostlib::SMSCMessageIdGet(link_name, key)) return found;
  }
  return hostlib::SMSCMessageIdGet(link_name, modemMessageKey(reference, recipient));
}

}  // namespace vek::inbound
