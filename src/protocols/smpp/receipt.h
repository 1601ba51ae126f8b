// Delivery receipts: the de-facto text of a receipt carried in deliver_sm
// ("id:IIII sub:SSS dlvrd:DDD submit date:YYMMDDhhmm done date:YYMMDDhhmm
// stat:DDDDDDD err:E text:...") and the message_state TLV, turned into the
// gateway's message flags. Message ids stay text exactly as received, so a
// hexadecimal id and a decimal one are both kept as they are. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/messages.h"

namespace vek::smpp {

// Message flag word shared with the request and inbound files.
namespace flag = protocols::flag;

// message_state values.
namespace state {
inline constexpr uint8_t kEnroute = 1;
inline constexpr uint8_t kDelivered = 2;
inline constexpr uint8_t kExpired = 3;
inline constexpr uint8_t kDeleted = 4;
inline constexpr uint8_t kUndeliverable = 5;
inline constexpr uint8_t kAccepted = 6;
inline constexpr uint8_t kUnknown = 7;
inline constexpr uint8_t kRejected = 8;
}  // namespace state

struct ReceiptText {
  std::string id, sub, dlvrd, submit_date, done_date, stat, err, text;
};

// True when the text holds at least "id:" or "stat:" (keys without regard to case).
bool parseReceiptText(std::string_view text, ReceiptText* out);

// Status flags (kDelivered, kInTransit or kFailed; 0 when unknown) for a
// "stat:" word or a message_state value.
uint32_t flagsForStat(std::string_view stat);
uint32_t flagsForState(uint8_t message_state);
// The other direction, for receipts the server hands to its clients.
uint8_t stateForFlags(uint32_t flags);

}  // namespace vek::smpp
