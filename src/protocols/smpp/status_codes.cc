#include "protocols/smpp/status_codes.h"

#include "platform/strings.h"

namespace vek::smpp {

namespace {

struct CommandEntry {
  uint32_t id;
  const char* name;
};

constexpr CommandEntry kCommands[] = {
    {cmd::kGenericNack, "generic_nack"},
    {cmd::kBindReceiver, "bind_receiver"},
    {cmd::kBindReceiverResp, "bind_receiver_resp"},
    {cmd::kBindTransmitter, "bind_transmitter"},
    {cmd::kBindTransmitterResp, "bind_transmitter_resp"},
    {cmd::kQuerySm, "query_sm"},
    {cmd::kQuerySmResp, "query_sm_resp"},
    {cmd::kSubmitSm, "submit_sm"},
    {cmd::kSubmitSmResp, "submit_sm_resp"},
    {cmd::kDeliverSm, "deliver_sm"},
    {cmd::kDeliverSmResp, "deliver_sm_resp"},
    {cmd::kUnbind, "unbind"},
    {cmd::kUnbindResp, "unbind_resp"},
    {cmd::kReplaceSm, "replace_sm"},
    {cmd::kReplaceSmResp, "replace_sm_resp"},
    {cmd::kCancelSm, "cancel_sm"},
    {cmd::kCancelSmResp, "cancel_sm_resp"},
    {cmd::kBindTransceiver, "bind_transceiver"},
    {cmd::kBindTransceiverResp, "bind_transceiver_resp"},
    {cmd::kOutbind, "outbind"},
    {cmd::kEnquireLink, "enquire_link"},
    {cmd::kEnquireLinkResp, "enquire_link_resp"},
    {cmd::kSubmitMulti, "submit_multi"},
    {cmd::kSubmitMultiResp, "submit_multi_resp"},
    {cmd::kAlertNotification, "alert_notification"},
    {cmd::kDataSm, "data_sm"},
    {cmd::kDataSmResp, "data_sm_resp"},
};

struct StatusEntry {
  uint32_t code;
  const char* name;
  const char* text;
};

constexpr StatusEntry kStatuses[] = {
    {status::kOk, "ESME_ROK", "No error"},
    {status::kInvMsgLen, "ESME_RINVMSGLEN", "Message length is invalid"},
    {status::kInvCmdLen, "ESME_RINVCMDLEN", "Command length is invalid"},
    {status::kInvCmdId, "ESME_RINVCMDID", "Invalid command ID"},
    {status::kInvBndSts, "ESME_RINVBNDSTS", "Incorrect bind status for given command"},
    {status::kAlyBnd, "ESME_RALYBND", "ESME already in bound state"},
    {status::kInvPrtFlg, "ESME_RINVPRTFLG", "Invalid priority flag"},
    {status::kInvRegDlvFlg, "ESME_RINVREGDLVFLG", "Invalid registered delivery flag"},
    {status::kSysErr, "ESME_RSYSERR", "System error"},
    {status::kInvSrcAdr, "ESME_RINVSRCADR", "Invalid source address"},
    {status::kInvDstAdr, "ESME_RINVDSTADR", "Invalid destination address"},
    {status::kInvMsgId, "ESME_RINVMSGID", "Message ID is invalid"},
    {status::kBindFail, "ESME_RBINDFAIL", "Bind failed"},
    {status::kInvPaswd, "ESME_RINVPASWD", "Invalid password"},
    {status::kInvSysId, "ESME_RINVSYSID", "Invalid system ID"},
    {status::kCancelFail, "ESME_RCANCELFAIL", "Cancel SM failed"},
    {status::kReplaceFail, "ESME_RREPLACEFAIL", "Replace SM failed"},
    {status::kMsgQFul, "ESME_RMSGQFUL", "Message queue full"},
    {status::kInvSerTyp, "ESME_RINVSERTYP", "Invalid service type"},
    {status::kInvNumDests, "ESME_RINVNUMDESTS", "Invalid number of destinations"},
    {status::kInvDlName, "ESME_RINVDLNAME", "Invalid distribution list name"},
    {status::kInvDestFlag, "ESME_RINVDESTFLAG", "Destination flag is invalid"},
    {status::kInvSubRep, "ESME_RINVSUBREP", "Invalid submit with replace request"},
    {status::kInvEsmClass, "ESME_RINVESMCLASS", "Invalid esm_class field data"},
    {status::kCntSubDl, "ESME_RCNTSUBDL", "Cannot submit to distribution list"},
    {status::kSubmitFail, "ESME_RSUBMITFAIL", "submit_sm or submit_multi failed"},
    {status::kInvSrcTon, "ESME_RINVSRCTON", "Invalid source address TON"},
    {status::kInvSrcNpi, "ESME_RINVSRCNPI", "Invalid source address NPI"},
    {status::kInvDstTon, "ESME_RINVDSTTON", "Invalid destination address TON"},
    {status::kInvDstNpi, "ESME_RINVDSTNPI", "Invalid destination address NPI"},
    {status::kInvSysTyp, "ESME_RINVSYSTYP", "Invalid system_type field"},
    {status::kInvRepFlag, "ESME_RINVREPFLAG", "Invalid replace_if_present flag"},
    {status::kInvNumMsgs, "ESME_RINVNUMMSGS", "Invalid number of messages"},
    {status::kThrottled, "ESME_RTHROTTLED",
     "Throttling error (ESME has exceeded allowed message limits)"},
    {status::kInvSched, "ESME_RINVSCHED", "Invalid scheduled delivery time"},
    {status::kInvExpiry, "ESME_RINVEXPIRY", "Invalid message validity period (expiry time)"},
    {status::kInvDftMsgId, "ESME_RINVDFTMSGID", "Predefined message invalid or not found"},
    {status::kRxTAppn, "ESME_RX_T_APPN", "ESME receiver temporary application error"},
    {status::kRxPAppn, "ESME_RX_P_APPN", "ESME receiver permanent application error"},
    {status::kRxRAppn, "ESME_RX_R_APPN", "ESME receiver reject message error"},
    {status::kQueryFail, "ESME_RQUERYFAIL", "query_sm request failed"},
    {status::kInvOptParStream, "ESME_RINVOPTPARSTREAM",
     "Error in the optional part of the PDU body"},
    {status::kOptParNotAllwd, "ESME_ROPTPARNOTALLWD", "Optional parameter not allowed"},
    {status::kInvParLen, "ESME_RINVPARLEN", "Invalid parameter length"},
    {status::kMissingOptParam, "ESME_RMISSINGOPTPARAM", "Expected optional parameter missing"},
    {status::kInvOptParamVal, "ESME_RINVOPTPARAMVAL", "Invalid optional parameter value"},
    {status::kDeliveryFailure, "ESME_RDELIVERYFAILURE", "Delivery failure"},
    {status::kUnknownErr, "ESME_RUNKNOWNERR", "Unknown error"},
};

struct LocalEntry {
  uint32_t code;
  const char* text;
};

constexpr LocalEntry kLocal[] = {
    {status::kNotConnected, "Not connected to the SMPP server"},
    {status::kConnectionLost, "SMPP connection lost before the answer arrived"},
    {status::kTimeout, "No answer from the SMPP peer within the command time-out"},
    {status::kBadResponse, "Malformed answer from the SMPP peer"},
    {status::kCancelled, "Cancelled before the answer arrived"},
    {status::kConnectFailed, "Unable to connect to the SMPP server"},
    {status::kInvalidArgument, "Invalid message parameters"},
};

}  // namespace

const char* commandName(uint32_t command_id) {
  for (const auto& c : kCommands)
    if (c.id == command_id) return c.name;
  return "unknown";
}

bool isKnownCommand(uint32_t command_id) {
  for (const auto& c : kCommands)
    if (c.id == command_id) return true;
  return false;
}

const char* statusName(uint32_t code) {
  for (const auto& s : kStatuses)
    if (s.code == code) return s.name;
  return "";
}

std::string statusText(uint32_t code) {
  for (const auto& l : kLocal)
    if (l.code == code) return l.text;
  for (const auto& s : kStatuses)
    if (s.code == code) return platform::format("%s [%s 0x%08X]", s.text, s.name, code);
  if (code >= 0x400 && code <= 0x4FF)
    return platform::format("SMSC vendor-specific error [0x%08X]", code);
  return platform::format("SMPP error [0x%08X]", code);
}

}  // namespace vek::smpp
