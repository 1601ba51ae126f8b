#include "protocols/libraries/link_libraries.h"

#include "protocols/libraries/smpp_library.h"

namespace vek::protocols {

bool UcpLibrary::complete() const {
  return UCPConnect && UCPBind && UCPSubmitMessage && UCPErrorText &&
         UCPSetReceiveMessageCallback && UCPYield && UCPCheckLinkStatus && UCPEnquireLink &&
         UCPSetDebugMode;
}

bool CimdLibrary::complete() const {
  return CIMDConnect && CIMDBind && CIMDSubmitMessage && CIMDErrorText &&
         CIMDSetReceiveMessageCallback && CIMDSetReceiveMessageCallbackEx && CIMDYield &&
         CIMDCheckLinkStatus && CIMDEnquireLink && CIMDSetDebugMode;
}

const UcpLibrary& ucpLibrary() {
  static const UcpLibrary table = {
      &ucp::UCPConnect,         &ucp::UCPBind,
      &ucp::UCPSubmitMessage,   &ucp::UCPSubmitMessageAsync,
      &ucp::UCPErrorText,       &ucp::UCPSetReceiveMessageCallback,
      &ucp::UCPYield,           &ucp::UCPCheckLinkStatus,
      &ucp::UCPEnquireLink,     &ucp::UCPSetDebugMode,
      &ucp::UCPUnbind,          &ucp::UCPAccept,
      &ucp::UCPServeConnection,
  };
  return table;
}

const CimdLibrary& cimdLibrary() {
  static const CimdLibrary table = {
      &cimd::CIMDConnect,
      &cimd::CIMDBind,
      &cimd::CIMDSubmitMessage,
      &cimd::CIMDSubmitMessageAsync,
      &cimd::CIMDErrorText,
      &cimd::CIMDSetReceiveMessageCallback,
      &cimd::CIMDSetReceiveMessageCallbackEx,
      &cimd::CIMDYield,
      &cimd::CIMDCheckLinkStatus,
      &cimd::CIMDEnquireLink,
      &cimd::CIMDSetDebugMode,
      &cimd::CIMDUnbind,
      &cimd::CIMDAccept,
      &cimd::CIMDServeConnection,
  };
  return table;
}

bool libraryPresent(LinkLibrary which) {
  switch (which) {
    case LinkLibrary::kSmpp:
      return smpp::smppLibrary().complete();
    case LinkLibrary::kUcp:
      return ucpLibrary().complete();
    case LinkLibrary::kCimd:
      return cimdLibrary().complete();
  }
  return false;
}

const char* libraryFailureText(LinkLibrary which) {
  switch (which) {
    case LinkLibrary::kSmpp:
      return "SMPP Failure -- Support DLL LINKSMPP.DLL did not initialize";
    case LinkLibrary::kUcp:
      return "UCP Failure -- Support DLL LINKUCP.DLL did not initialize";
    case LinkLibrary::kCimd:
      return "CIMD Failure -- Support DLL LINKCIMD.DLL did not initialize";
  }
  return "";
}

unsigned bindLinkLibraries(bool debug) {
  unsigned present = 0;
  if (libraryPresent(LinkLibrary::kSmpp)) {
    smpp::smppLibrary().SMPPSetDebugMode(debug ? 1 : 0);
    present |= 1u << static_cast<unsigned>(LinkLibrary::kSmpp);
  }
  if (libraryPresent(LinkLibrary::kUcp)) {
    ucpLibrary().UCPSetDebugMode(debug ? 1 : 0);
    present |= 1u << static_cast<unsigned>(LinkLibrary::kUcp);
  }
  if (libraryPresent(LinkLibrary::kCimd)) {
    cimdLibrary().CIMDSetDebugMode(debug ? 1 : 0);
    present |= 1u << static_cast<unsigned>(LinkLibrary::kCimd);
  }
  return present;
}

}  // namespace vek::protocols
