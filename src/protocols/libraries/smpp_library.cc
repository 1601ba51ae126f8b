#include "protocols/libraries/smpp_library.h"

namespace vek::smpp {

bool SmppLibrary::complete() const {
  return SMPPSetReceiveMessageCallback && SMPPConnect && SMPPBind && SMPPErrorText &&
         SMPPSubmitMessage && SMPPYield && SMPPCheckLinkStatus && SMPPEnquireLink && SMPPUnbind &&
         SMPPReceiveFromAsyncQ && SMPPSetDebugMode && SMPPServerWaitForLogin &&
         SMPPServerAcceptLogin && SMPPServerRejectLogin && SMPPServerYield &&
         SMPPServerSubmitMessage && SMPPServerEnquireLink && SMPPServerSetReceiveMessageCallback;
}

const SmppLibrary& smppLibrary() {
  static const SmppLibrary table = {
      &smpp::SMPPSetReceiveMessageCallback,
      &smpp::SMPPConnect,
      &smpp::SMPPBind,
      &smpp::SMPPErrorText,
      &smpp::SMPPSubmitMessage,
      &smpp::SMPPSubmitMessageAsync,
      &smpp::SMPPYield,
      &smpp::SMPPCheckLinkStatus,
      &smpp::SMPPEnquireLink,
      &smpp::SMPPUnbind,
      &smpp::SMPPReceiveFromAsyncQ,
      &smpp::SMPPSetDebugMode,
      &smpp::SMPPServerWaitForLogin,
      &smpp::SMPPServerAcceptLogin,
      &smpp::SMPPServerRejectLogin,
      &smpp::SMPPServerYield,
      &smpp::SMPPServerSubmitMessage,
      &smpp::SMPPServerSubmitMessageNew,
      &smpp::SMPPServerEnquireLink,
      &smpp::SMPPServerSetReceiveMessageCallback,
      &smpp::SMPPServerSetActivityCallback,
  };
  return table;
}

}  // namespace vek::smpp
