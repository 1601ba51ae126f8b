// UCP/EMI operations as the gateway uses them: a message to submit (51), a
// message or notification received (52, 53), the session login (60) and the
// alert used as keep-alive (31), with their field rules.
//
// Outbound (51):
// - AdC: the recipient's digits; an international "+" becomes "00", the
//   international prefix the centre reads without a type of number field.
// - OAdC: digits (with OTOA 1139, international, when the sender had a
//   "+"), or an alphanumeric sender of up to 11 GSM characters packed as
//   septets behind their length in semi-octets (OTOA 5039).
// - Text of the GSM default alphabet goes as MT 3 (AMsg, ISO 8859-1 octets
//   in hex) when every character has a Latin-1 form, else as MT 4 with the
//   septets packed from the first bit (NB = 7 per septet); UCS-2 and 8-bit
//   data as MT 4 (TMsg, NB = 8 per octet). The DCS rides in XSer type 02
//   whenever it is not 0, the user data header in XSer type 01.
// - NRq 1 with NT 3 (delivered and not delivered) when a receipt is asked
//   for, NT 2 for a non-delivery receipt only.
// - VP (DDMMYYhhmm) from "Validity=", RPID from the PID, XSer type 0C
//   (billing identifier) from "BillingInfo=".
//
// Inbound (52, 53): the reverse; MT 3 text reads as ISO 8859-1 unless its
// octets hold an escape or other control codes, in which case they are GSM
// codes (what some centres send). A 53 becomes a receipt: Dst 0 delivered,
// 1 buffered (in transit), 2 not delivered; its id is OAdC ":" SCTS, the
// recipient and time stamp of the original submission, which is also how a
// centre names a submission in its acknowledgement ("A//AdC:SCTS"). The
// result carries "ReceiptMsgIdOrig=<id>" in its extra parameters.
//
// Pure functions apart from the clock (validity); thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/messages.h"

namespace vek::ucp {

// Positions of the fields of the 5x operations.
enum Field5x : size_t {
  kAdC,
  kOAdC,
  kAC,
  kNRq,
  kNAdC,
  kNT,
  kNPID,
  kLRq,
  kLRAd,
  kLPID,
  kDD,
  kDDT,
  kVP,
  kRPID,
  kSCTS,
  kDst,
  kRsn,
  kDSCTS,
  kMT,
  kNB,
  kMsg,
  kMMS,
  kPR,
  kDCs,
  kMCLs,
  kRPI,
  kCPg,
  kRPLy,
  kOTOA,
  kHPLMN,
  kXSer,
  kRES4,
  kRES5
};

// Error codes the engine itself uses when it refuses a message before
// sending it (the centre's own codes have the same meaning).
namespace ec {
inline constexpr uint32_t kChecksum = 1;
inline constexpr uint32_t kSyntax = 2;
inline constexpr uint32_t kNotSupported = 3;
inline constexpr uint32_t kNotAllowed = 4;
inline constexpr uint32_t kAdCInvalid = 6;
inline constexpr uint32_t kAuthentication = 7;
inline constexpr uint32_t kTooLong = 24;
}  // namespace ec

// The text of a UCP error code ("" when unknown).
const char* errorName(uint32_t code);

// Alphanumeric OAdC: "10412614190438AB4D" for "ALPHA@NUM". Empty when the
// text has more than 11 GSM characters.
std::string packAlphanumeric(std::string_view utf8);
bool unpackAlphanumeric(std::string_view oadc, std::string* utf8);

// XSer: items of type, length and data, all hex.
struct XSerItem {
  uint8_t type = 0;
  std::string data;  // octets
};
std::string buildXSer(const std::vector<XSerItem>& items);
bool parseXSer(std::string_view xser, std::vector<XSerItem>* items);

// "Validity=" as VP (DDMMYYhhmm, local time); "" when absent or unreadable.
std::string validityToVp(std::string_view text);

// The 51 fields for a message. Returns 0, or the error code that refuses it.
uint32_t buildSubmitFields(const protocols::OutboundMessage& m, std::vector<std::string>* fields,
                           std::string* why);

// A received 52 or 53 (fields already counted) as the gateway's record.
// False with *why when a field does not read.
bool inboundFromFields(int ot, const std::vector<std::string>& fields, std::string_view link_name,
                       protocols::InboundMessage* out, std::string* why);

// The 60 login (STYP 1) and the 31 alert.
std::vector<std::string> loginFields(std::string_view user, std::string_view password);
std::vector<std::string> alertFields(std::string_view user);

}  // namespace vek::ucp
