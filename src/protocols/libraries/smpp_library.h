// The SMPP protocol library as the gateway binds it: one table of entry
// points, filled at start-up. The library counts as present only when every
// required entry is there (complete()); the three optional ones may be
// null, and the gateway then falls back (synchronous submits, synchronous
// deliveries, no activity callback).
//
// Entry semantics, result codes and threading are in protocols/smpp/client.h
// (client entries) and protocols/smpp/server.h (server entries). The table
// itself is immutable and may be read from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "protocols/smpp/client.h"
#include "protocols/smpp/server.h"

namespace vek::smpp {

struct SmppLibrary {
  // Client entries, in calling order.
  void (*SMPPSetReceiveMessageCallback)(ReceiveMessageCallback callback);
  uint32_t (*SMPPConnect)(Connection& conn, tls::Stream stream, const std::string& link_name,
                          const std::string& host, uint16_t port);
  uint32_t (*SMPPBind)(Connection& conn, uint8_t version, int bind_type,
                       const std::string& system_id, const std::string& password,
                       const std::string& system_type, const std::string& address_range);
  std::string (*SMPPErrorText)(uint32_t code);
  uint32_t (*SMPPSubmitMessage)(Connection& conn, uint8_t version, const std::string& sender,
                                const std::string& recipient, uint8_t pid, uint8_t dcs,
                                const std::string& udh, const std::string& data, uint32_t flags,
                                bool binary, std::string* message_id,
                                const std::string& request_file, const std::string& params);
  // Optional.
  uint32_t (*SMPPSubmitMessageAsync)(Connection& conn, uint8_t version, const std::string& sender,
                                     const std::string& recipient, uint8_t pid, uint8_t dcs,
                                     const std::string& udh, const std::string& data,
                                     uint32_t flags, bool binary, const std::string& request_file,
                                     const std::string& params, std::shared_ptr<AsyncSubmit> ctx);
  int (*SMPPYield)(Connection& conn, uint8_t version, std::chrono::milliseconds wait,
                   bool* connection_error);
  int (*SMPPCheckLinkStatus)(Connection& conn);
  uint32_t (*SMPPEnquireLink)(Connection& conn, uint8_t version);
  uint32_t (*SMPPUnbind)(Connection& conn, uint8_t version);
  int (*SMPPReceiveFromAsyncQ)(const std::string& link_name, std::chrono::milliseconds wait);
  void (*SMPPSetDebugMode)(int on);

  // Server entries.
  uint32_t (*SMPPServerWaitForLogin)(ServerConnection& conn, std::chrono::milliseconds timeout,
                                     std::string* account, std::string* password, uint32_t* bind_id,
                                     int* bind_type, uint8_t* version);
  uint32_t (*SMPPServerAcceptLogin)(ServerConnection& conn, uint32_t bind_id, int bind_type,
                                    uint8_t version);
  uint32_t (*SMPPServerRejectLogin)(ServerConnection& conn, uint32_t bind_id, int bind_type,
                                    uint8_t version, uint32_t status);
  int (*SMPPServerYield)(ServerConnection& conn, uint8_t version, std::chrono::milliseconds wait,
                         bool* connection_error);
  uint32_t (*SMPPServerSubmitMessage)(ServerConnection& conn, uint8_t version,
                                      const std::string& sender, const std::string& recipient,
                                      uint8_t pid, uint8_t dcs, const std::string& udh,
                                      const std::string& data, uint32_t flags, bool binary,
                                      const std::string& params);
  // Optional.
  uint32_t (*SMPPServerSubmitMessageNew)(ServerConnection& conn, uint8_t version,
                                         const std::string& sender, const std::string& recipient,
                                         uint8_t pid, uint8_t dcs, const std::string& udh,
                                         const std::string& data, uint32_t flags, bool binary,
                                         const std::string& params,
                                         std::shared_ptr<AsyncSubmit> ctx);
  uint32_t (*SMPPServerEnquireLink)(ServerConnection& conn, uint8_t version);
  void (*SMPPServerSetReceiveMessageCallback)(ServerReceiveCallback callback);
  // Optional.
  void (*SMPPServerSetActivityCallback)(ServerActivityCallback callback);

  // Every required entry is there.
  bool complete() const;
};

// The in-tree library, every entry filled.
const SmppLibrary& smppLibrary();

}  // namespace vek::smpp
