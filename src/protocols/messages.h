// The messages every message-centre engine (SMPP, UCP/EMI, CIMD2) trades
// with the gateway: one outbound message as the link sender hands it over,
// one received message or receipt as the receive callbacks get it, and the
// message flag word they share with the request and inbound files.
//
// Plain records; thread-safe to copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vek::protocols {

// Message flag word shared with the request and inbound files.
namespace flag {
inline constexpr uint32_t kReplyRequested = 0x01;
inline constexpr uint32_t kReceiptRequested = 0x02;
inline constexpr uint32_t kIsReceipt = 0x04;
inline constexpr uint32_t kDelivered = 0x08;
inline constexpr uint32_t kInTransit = 0x10;
inline constexpr uint32_t kFailed = 0x20;
inline constexpr uint32_t kNonDeliveryReceiptRequested = 0x40;
}  // namespace flag

// What the data of a message is: UTF-8 text, or octets as hexadecimal.
enum MessageType : int { kMessageText = 0, kMessageBinary = 1 };

// One received message or receipt, as the receive callbacks get it.
struct InboundMessage {
  std::string link_name;  // the link (client side) or the bound account (server side)
  std::string sender;
  std::string recipient;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;   // user data header, upper-case hex ("" when none)
  std::string data;  // UTF-8 text (kMessageText) or upper-case hex (kMessageBinary)
  uint32_t flags = 0;
  int type = kMessageText;
  std::string smsc_message_id;  // receipts: the id of the message reported on
  std::string extra;            // "ServiceType=...; ReceiptMsgIdOrig=...; SMPPOption_x=..."
};

// One message to send, as the gateway hands it over.
struct OutboundMessage {
  std::string sender;
  std::string recipient;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string udh;   // hex
  std::string data;  // text, or hex when `binary`
  uint32_t flags = 0;
  bool binary = false;
  std::string params;  // "ServiceType=...; Validity=...; LocalUser=...; SMPPOption_x=y"
};

// The gateway's receive callback: 1 takes the message (it is then
// acknowledged), 0 asks the centre to deliver it again later.
using ReceiveCallback = std::function<int(const InboundMessage& message)>;

}  // namespace vek::protocols
