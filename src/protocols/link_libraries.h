// The protocol libraries as the gateway binds them at start-up, and the
// text a link reports when its library is absent.
//
// Each library is one table of entry points. A library is present only when
// its table is complete; otherwise every link of its kind fails with
// "<KIND> Failure -- Support DLL <NAME> did not initialize" (the wording
// operators know from the original gateway). The UCP and CIMD2 engines fill
// their tables when they exist; until then their tables are empty and those
// link kinds report their failure text. Tables are immutable; any thread may
// read them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "protocols/smpp/message.h"
#include "tls/stream.h"

namespace vek::protocols {

enum class LinkLibrary { kSmpp, kUcp, kCimd };

// True when the library's table is complete.
bool libraryPresent(LinkLibrary which);
// "SMPP Failure -- Support DLL LINKSMPP.DLL did not initialize" and the
// UCP / CIMD counterparts.
const char* libraryFailureText(LinkLibrary which);

// A message received on a link, as every engine hands it to the gateway.
using InboundMessage = smpp::InboundMessage;
// Returns 1 when the gateway took the message (it is then acknowledged).
using ReceiveCallback = std::function<int(const InboundMessage&)>;

// UCP/EMI and CIMD2 follow the SMPP pattern: the gateway connects the
// socket, the engine logs in with a user name and password, a submit returns
// 0 or an error code, and yield services the connection for a while.
class UcpConnection;
struct UcpLibrary {
  uint32_t (*UCPConnect)(UcpConnection& conn, tls::Stream stream, const std::string& link_name,
                         const std::string& host, uint16_t port);
  uint32_t (*UCPBind)(UcpConnection& conn, const std::string& user, const std::string& password);
  uint32_t (*UCPSubmitMessage)(UcpConnection& conn, const smpp::OutboundMessage& message,
                               std::string* message_id);
  std::string (*UCPErrorText)(uint32_t code);
  void (*UCPSetReceiveMessageCallback)(ReceiveCallback callback);
  int (*UCPYield)(UcpConnection& conn, std::chrono::milliseconds wait, bool* connection_error);
  int (*UCPCheckLinkStatus)(UcpConnection& conn);
  uint32_t (*UCPEnquireLink)(UcpConnection& conn);
  void (*UCPSetDebugMode)(int on);
  bool complete() const;
};

class CimdConnection;
struct CimdLibrary {
  uint32_t (*CIMDConnect)(const std::string& link_name, CimdConnection& conn, tls::Stream stream,
                          const std::string& host, uint16_t port);
  uint32_t (*CIMDBind)(const std::string& link_name, CimdConnection& conn, const std::string& user,
                       const std::string& password);
  uint32_t (*CIMDSubmitMessage)(const std::string& link_name, CimdConnection& conn,
                                const smpp::OutboundMessage& message, std::string* message_id);
  std::string (*CIMDErrorText)(uint32_t code);
  void (*CIMDSetReceiveMessageCallback)(ReceiveCallback callback);
  // As the above, with the receiving link's name in the message.
  void (*CIMDSetReceiveMessageCallbackEx)(ReceiveCallback callback);
  int (*CIMDYield)(const std::string& link_name, CimdConnection& conn,
                   std::chrono::milliseconds wait, bool* connection_error);
  int (*CIMDCheckLinkStatus)(const std::string& link_name, CimdConnection& conn);
  uint32_t (*CIMDEnquireLink)(const std::string& link_name, CimdConnection& conn);
  void (*CIMDSetDebugMode)(int on);
  bool complete() const;
};

const UcpLibrary& ucpLibrary();
const CimdLibrary& cimdLibrary();

// Start-up: each present library gets its debug switch (Debug on and
// NoDebugProtocol off). Returns the libraries present as a bit set
// (1 << LinkLibrary).
unsigned bindLinkLibraries(bool debug);

}  // namespace vek::protocols
