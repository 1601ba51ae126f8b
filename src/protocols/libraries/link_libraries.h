// The protocol libraries as the gateway binds them at start-up, and the
// text a link reports when its library is absent.
//
// Each library is one table of entry points. A library is present only when
// its table is complete; otherwise every link of its kind fails with
// "<KIND> Failure -- Support DLL <NAME> did not initialize" (the wording
// operators know). Tables are immutable; any thread may read them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocols/async_submit.h"
#include "protocols/cimd/client.h"
#include "protocols/messages.h"
#include "protocols/ucp/client.h"
#include "tls/stream.h"

namespace vek::protocols {

enum class LinkLibrary { kSmpp, kUcp, kCimd };

// True when the library's table is complete.
bool libraryPresent(LinkLibrary which);
// "SMPP Failure -- Support DLL LINKSMPP.DLL did not initialize" and the
// UCP / CIMD counterparts.
const char* libraryFailureText(LinkLibrary which);

// The UCP/EMI library (protocols/ucp/client.h for the entries' contracts).
// Required: the entries the gateway cannot do without; the asynchronous
// submit, the unbind and the ReceivePort entries are optional (a missing
// asynchronous entry means synchronous submits).
struct UcpLibrary {
  uint32_t (*UCPConnect)(ucp::Connection& conn, tls::Stream stream, const std::string& link_name,
                         const std::string& host, uint16_t port);
  uint32_t (*UCPBind)(ucp::Connection& conn, const std::string& user, const std::string& password);
  uint32_t (*UCPSubmitMessage)(ucp::Connection& conn, const std::string& sender,
                               const std::string& recipient, uint8_t pid, uint8_t dcs,
                               const std::string& udh, const std::string& data, uint32_t flags,
                               bool binary, std::string* message_id,
                               const std::string& request_file, const std::string& params);
  // Optional.
  uint32_t (*UCPSubmitMessageAsync)(ucp::Connection& conn, const std::string& sender,
                                    const std::string& recipient, uint8_t pid, uint8_t dcs,
                                    const std::string& udh, const std::string& data, uint32_t flags,
                                    bool binary, const std::string& request_file,
                                    const std::string& params, std::shared_ptr<AsyncSubmit> ctx);
  std::string (*UCPErrorText)(uint32_t code);
  void (*UCPSetReceiveMessageCallback)(ReceiveCallback callback);
  int (*UCPYield)(ucp::Connection& conn, std::chrono::milliseconds wait, bool* connection_error);
  int (*UCPCheckLinkStatus)(ucp::Connection& conn);
  uint32_t (*UCPEnquireLink)(ucp::Connection& conn);
  void (*UCPSetDebugMode)(int on);
  // Optional.
  uint32_t (*UCPUnbind)(ucp::Connection& conn);
  uint32_t (*UCPAccept)(ucp::Connection& conn, tls::Stream stream, const std::string& link_name);
  int (*UCPServeConnection)(tls::Stream stream, const std::string& link_name,
                            const std::string& peer_address, const std::function<bool()>& stop);
  bool complete() const;
};

// The CIMD2 library (protocols/cimd/client.h); every entry takes the link
// name first. Optional as for UCP.
struct CimdLibrary {
  uint32_t (*CIMDConnect)(const std::string& link_name, cimd::Connection& conn, tls::Stream stream,
                          const std::string& host, uint16_t port);
  uint32_t (*CIMDBind)(const std::string& link_name, cimd::Connection& conn,
                       const std::string& user, const std::string& password);
  uint32_t (*CIMDSubmitMessage)(const std::string& link_name, cimd::Connection& conn,
                                const std::string& sender, const std::string& recipient,
                                uint8_t pid, uint8_t dcs, const std::string& udh,
                                const std::string& data, uint32_t flags, bool binary,
                                std::string* message_id, const std::string& request_file,
                                const std::string& params);
  // Optional.
  uint32_t (*CIMDSubmitMessageAsync)(const std::string& link_name, cimd::Connection& conn,
                                     const std::string& sender, const std::string& recipient,
                                     uint8_t pid, uint8_t dcs, const std::string& udh,
                                     const std::string& data, uint32_t flags, bool binary,
                                     const std::string& request_file, const std::string& params,
                                     std::shared_ptr<AsyncSubmit> ctx);
  std::string (*CIMDErrorText)(uint32_t code);
  void (*CIMDSetReceiveMessageCallback)(cimd::PlainReceiveCallback callback);
  // As the above, with the whole received record (receipts included).
  void (*CIMDSetReceiveMessageCallbackEx)(ReceiveCallback callback);
  int (*CIMDYield)(const std::string& link_name, cimd::Connection& conn,
                   std::chrono::milliseconds wait, bool* connection_error);
  int (*CIMDCheckLinkStatus)(const std::string& link_name, cimd::Connection& conn);
  uint32_t (*CIMDEnquireLink)(const std::string& link_name, cimd::Connection& conn);
  void (*CIMDSetDebugMode)(int on);
  // Optional.
  uint32_t (*CIMDUnbind)(const std::string& link_name, cimd::Connection& conn);
  uint32_t (*CIMDAccept)(const std::string& link_name, cimd::Connection& conn, tls::Stream stream);
  int (*CIMDServeConnection)(const std::string& link_name, tls::Stream stream,
                             const std::string& peer_address, const std::function<bool()>& stop);
  bool complete() const;
};

const UcpLibrary& ucpLibrary();
const CimdLibrary& cimdLibrary();

// Start-up: each present library gets its debug switch (Debug on and
// NoDebugProtocol off). Returns the libraries present as a bit set
// (1 << LinkLibrary).
unsigned bindLinkLibraries(bool debug);

}  // namespace vek::protocols
