// SMPP command ids and command_status values, and the texts the gateway
// shows for a result code (link status, message log, retry detail).
//
// A result code of this library is a uint32_t: 0 for success, an SMPP
// command_status returned by the peer (0x58 throttled = 88, 0x14 queue full
// = 20, ...), or one of the library's own codes at 0xFFFF0000 and above for
// failures that never reached an answer (no connection, time-out, ...).
// Callers treat the own codes as "try again later". All pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace vek::smpp {

namespace cmd {
inline constexpr uint32_t kGenericNack = 0x80000000;
inline constexpr uint32_t kBindReceiver = 0x00000001;
inline constexpr uint32_t kBindReceiverResp = 0x80000001;
inline constexpr uint32_t kBindTransmitter = 0x00000002;
inline constexpr uint32_t kBindTransmitterResp = 0x80000002;
inline constexpr uint32_t kQuerySm = 0x00000003;
inline constexpr uint32_t kQuerySmResp = 0x80000003;
inline constexpr uint32_t kSubmitSm = 0x00000004;
inline constexpr uint32_t kSubmitSmResp = 0x80000004;
inline constexpr uint32_t kDeliverSm = 0x00000005;
inline constexpr uint32_t kDeliverSmResp = 0x80000005;
inline constexpr uint32_t kUnbind = 0x00000006;
inline constexpr uint32_t kUnbindResp = 0x80000006;
inline constexpr uint32_t kReplaceSm = 0x00000007;
inline constexpr uint32_t kReplaceSmResp = 0x80000007;
inline constexpr uint32_t kCancelSm = 0x00000008;
inline constexpr uint32_t kCancelSmResp = 0x80000008;
inline constexpr uint32_t kBindTransceiver = 0x00000009;
inline constexpr uint32_t kBindTransceiverResp = 0x80000009;
inline constexpr uint32_t kOutbind = 0x0000000B;
inline constexpr uint32_t kEnquireLink = 0x00000015;
inline constexpr uint32_t kEnquireLinkResp = 0x80000015;
inline constexpr uint32_t kSubmitMulti = 0x00000021;
inline constexpr uint32_t kSubmitMultiResp = 0x80000021;
inline constexpr uint32_t kAlertNotification = 0x00000102;
inline constexpr uint32_t kDataSm = 0x00000103;
inline constexpr uint32_t kDataSmResp = 0x80000103;

inline constexpr uint32_t kResponseBit = 0x80000000;
inline constexpr bool isResponse(uint32_t id) {
  return (id & kResponseBit) != 0;
}
}  // namespace cmd

// The name of a command id ("submit_sm"), or "unknown".
const char* commandName(uint32_t command_id);
// True for the command ids this codec knows.
bool isKnownCommand(uint32_t command_id);

namespace status {
inline constexpr uint32_t kOk = 0x00;
inline constexpr uint32_t kInvMsgLen = 0x01;
inline constexpr uint32_t kInvCmdLen = 0x02;
inline constexpr uint32_t kInvCmdId = 0x03;
inline constexpr uint32_t kInvBndSts = 0x04;
inline constexpr uint32_t kAlyBnd = 0x05;
inline constexpr uint32_t kInvPrtFlg = 0x06;
inline constexpr uint32_t kInvRegDlvFlg = 0x07;
inline constexpr uint32_t kSysErr = 0x08;
inline constexpr uint32_t kInvSrcAdr = 0x0A;
inline constexpr uint32_t kInvDstAdr = 0x0B;
inline constexpr uint32_t kInvMsgId = 0x0C;
inline constexpr uint32_t kBindFail = 0x0D;
inline constexpr uint32_t kInvPaswd = 0x0E;
inline constexpr uint32_t kInvSysId = 0x0F;
inline constexpr uint32_t kCancelFail = 0x11;
inline constexpr uint32_t kReplaceFail = 0x13;
inline constexpr uint32_t kMsgQFul = 0x14;
inline constexpr uint32_t kInvSerTyp = 0x15;
inline constexpr uint32_t kInvNumDests = 0x33;
inline constexpr uint32_t kInvDlName = 0x34;
inline constexpr uint32_t kInvDestFlag = 0x40;
inline constexpr uint32_t kInvSubRep = 0x42;
inline constexpr uint32_t kInvEsmClass = 0x43;
inline constexpr uint32_t kCntSubDl = 0x44;
inline constexpr uint32_t kSubmitFail = 0x45;
inline constexpr uint32_t kInvSrcTon = 0x48;
inline constexpr uint32_t kInvSrcNpi = 0x49;
inline constexpr uint32_t kInvDstTon = 0x50;
inline constexpr uint32_t kInvDstNpi = 0x51;
inline constexpr uint32_t kInvSysTyp = 0x53;
inline constexpr uint32_t kInvRepFlag = 0x54;
inline constexpr uint32_t kInvNumMsgs = 0x55;
inline constexpr uint32_t kThrottled = 0x58;
inline constexpr uint32_t kInvSched = 0x61;
inline constexpr uint32_t kInvExpiry = 0x62;
inline constexpr uint32_t kInvDftMsgId = 0x63;
inline constexpr uint32_t kRxTAppn = 0x64;
inline constexpr uint32_t kRxPAppn = 0x65;
inline constexpr uint32_t kRxRAppn = 0x66;
inline constexpr uint32_t kQueryFail = 0x67;
inline constexpr uint32_t kInvOptParStream = 0xC0;
inline constexpr uint32_t kOptParNotAllwd = 0xC1;
inline constexpr uint32_t kInvParLen = 0xC2;
inline constexpr uint32_t kMissingOptParam = 0xC3;
inline constexpr uint32_t kInvOptParamVal = 0xC4;
inline constexpr uint32_t kDeliveryFailure = 0xFE;
inline constexpr uint32_t kUnknownErr = 0xFF;

// The library's own result codes (never on the wire).
inline constexpr uint32_t kLocalBase = 0xFFFF0000;
inline constexpr uint32_t kNotConnected = 0xFFFF0001;    // no stream or not bound
inline constexpr uint32_t kConnectionLost = 0xFFFF0002;  // closed or broken before the answer
inline constexpr uint32_t kTimeout = 0xFFFF0003;         // no answer within the command time-out
inline constexpr uint32_t kBadResponse = 0xFFFF0004;     // an answer that does not decode
inline constexpr uint32_t kCancelled = 0xFFFF0005;       // the caller cancelled it
inline constexpr uint32_t kConnectFailed = 0xFFFF0006;   // TCP connect failed
inline constexpr uint32_t kInvalidArgument = 0xFFFF0007;
inline constexpr bool isLocal(uint32_t code) {
  return code >= kLocalBase;
}
}  // namespace status

// "ESME_RTHROTTLED" for 0x58; "" for a code without a standard name.
const char* statusName(uint32_t code);
// The text shown for a result code, e.g. "Throttling error (ESME has
// exceeded allowed message limits) [ESME_RTHROTTLED 0x00000058]".
std::string statusText(uint32_t code);

}  // namespace vek::smpp
