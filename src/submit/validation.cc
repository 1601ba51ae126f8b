#include "submit/validation.h"

#include <vector>

#include "encoding/hex_text.h"
#include "foundation/link_name.h"
#include "platform/sanitize.h"
#include "platform/strings.h"
#include "submit/content.h"

namespace vek::submit {
namespace {

// The first one-line value of `m` with a control character: its key.
std::optional<std::string> controlCharacterKey(const Message& m) {
  const std::pair<const char*, const std::string*> values[] = {
      {"Sender", &m.sender},
      {"Validity", &m.validity},
      {"ServiceType", &m.service_type},
      {"BillingInfo", &m.billing_info},
      {"AcctInfo", &m.acct_info},
      {"SMSCRoute", &m.route},
      {"RouteToLocalUser", &m.route_to_local_user},
      {"ReceiptMessageID", &m.receipt_message_id},
      {"SMPPOptions", &m.smpp_options},
  };
  for (const auto& [key, value] : values)
    if (platform::hasControlCharacters(*value)) return std::string(key);
  for (const std::string& route : m.recipient_routes)
    if (platform::hasControlCharacters(route)) return std::string("SMSCRoute");
  for (const auto& [name, value] : m.extra_keys)
    if (platform::hasControlCharacters(name) || platform::hasControlCharacters(value)) return name;
  return std::nullopt;
}

// What is wrong with a hexadecimal header, for short and long messages
// alike: its length octet must count the octets after it, and its
// elements must end exactly there (splitting needs to read them).
std::optional<std::string> headerProblem(std::string_view udh) {
  if (udh.empty()) return std::nullopt;
  const std::vector<uint8_t> o = encoding::hexToOctets(udh);
  if (size_t{1} + o[0] != o.size()) return std::string("length octet does not match the header");
  for (size_t i = 1; i < o.size(); i += 2 + o[i + 1]) {
    if (i + 1 >= o.size() || i + 2 + o[i + 1] > o.size())
      return std::string("an element runs past the header");
  }
  return std::nullopt;
}

}  // namespace

bool isKnownRoute(std::string_view route) {
  for (const foundation::ConfiguredLink& link : foundation::configuredLinks()) {
    if (platform::equalsNoCase(link.name, route) ||
        platform::equalsNoCase(foundation::linkRouteName(link.name), route))
      return true;
  }
  return false;
}

std::optional<Error> validateMessage(const Message& m) {
  if (auto key = controlCharacterKey(m))
    return Error{ErrorKind::kInvalidField, "Invalid character in " + platform::singleLine(*key)};
  if (m.recipients.empty())
    return Error{ErrorKind::kNoRecipient, "Invalid format for telephone number."};
  if (!m.route.empty() && !isKnownRoute(m.route))
    return Error{ErrorKind::kUnknownRoute, "Unknown smscRoute=" + m.route};
  const Content& c = m.content;
  if (!c.udh.empty() && !isHexOctets(c.udh))
    return Error{ErrorKind::kInvalidHeader,
                 "Invalid format for UDH (hexadecimal digit characters only)."};
  if (auto problem = headerProblem(c.udh))
    return Error{ErrorKind::kInvalidHeader, "Invalid format for UDH (" + *problem + ")."};
  const bool has_header = !c.udh.empty() || c.hasPorts();
  if (c.binary && !has_header && !isHexOctets(c.text)) {
    const bool digits_only = isHexOctets(c.text + "0");
    return Error{ErrorKind::kInvalidData,
                 digits_only ? "Invalid format for Text/Data parameter when binary flag is set "
                               "(odd number of hexadecimal digits)."
                             : "Invalid format for Text/Data parameter when binary flag is set "
                               "(hexadecimal digit characters only)."};
  }
  return std::nullopt;
}

}  // namespace vek::submit
