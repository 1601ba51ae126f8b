// CIMD2 operations as the gateway uses them: the parameters of a submit
// (03) for a message, and a received deliver message (20) or deliver
// status report (23) as the gateway's record.
//
// Outbound (03):
// - 021 the recipient ("+" and up to 20 digits, or digits); 023 a numeric
//   sender, or 027 an alphanumeric one of up to 11 GSM characters in the
//   CIMD character conversion.
// - Text of the GSM default alphabet goes as 033 (converted, see text.h);
//   UCS-2 and 8-bit data as 034 (hex) with the DCS in 030; the header in
//   032 (hex); 030 also for a 7-bit DCS other than 0 (a flash class).
// - 056 status report request: 62 (delivered, failed, expired, cancelled,
//   deleted) for a receipt, 54 (the failures only) for a non-delivery receipt.
// - 050 relative validity (the GSM relative code) or 051 absolute
//   (yymmddhhmmss) from "Validity="; 052 the PID; 055 the reply path.
//
// Inbound: 20 becomes a message (033 text, 034 data by its DCS); 23 a
// receipt whose id is 021 ":" 060 (destination and time stamp of the
// submission, which is also how the submit response names it) with flags
// from 061: 4 delivered, 1 and 5 in transit, 2, 3 and 6-9 failed; its extra
// parameters carry "ReceiptMsgIdOrig=<id>".
//
// Pure functions apart from the clock (validity); thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/cimd/packet.h"
#include "protocols/messages.h"

namespace vek::cimd {

// Error codes (parameter 900) the engine itself uses when it refuses a
// message before sending it (the centre's own codes have the same meaning).
namespace ec {
inline constexpr uint32_t kUnexpectedOperation = 1;
inline constexpr uint32_t kSyntax = 2;
inline constexpr uint32_t kGeneralSystemError = 6;
inline constexpr uint32_t kInvalidLogin = 100;
inline constexpr uint32_t kDestination = 300;
inline constexpr uint32_t kUserData = 302;
inline constexpr uint32_t kUserDataCombination = 303;
inline constexpr uint32_t kOriginator = 306;
inline constexpr uint32_t kAlphaOriginator = 321;
}  // namespace ec

// The text of a CIMD2 error code ("" when unknown).
const char* errorName(uint32_t code);

// The GSM relative validity code (0-255) for a number of minutes: the
// shortest period at least that long, at most 63 weeks.
int relativeValidityCode(int64_t minutes);

// The submit parameters for a message. Returns 0, or the error code that
// refuses it.
uint32_t buildSubmitParams(const protocols::OutboundMessage& m, Params* params, std::string* why);

// A received 20 or 23 as the gateway's record. Returns 0, or the error code
// to answer with (*why says why).
uint32_t inboundFromPacket(const Packet& p, std::string_view link_name,
                           protocols::InboundMessage* out, std::string* why);

}  // namespace vek::cimd
