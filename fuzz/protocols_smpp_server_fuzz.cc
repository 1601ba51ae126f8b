// Fuzz target: a server connection fed a random byte stream, as a hostile
// client would send it. The bytes arrive through a local socket pair; the
// connection waits for a bind (accepting any account but "reject"), then
// yields until nothing more is handled. Whatever the bytes, the engine must
// answer, nack or close - never crash, overrun or hang.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "protocols/smpp/server.h"

using namespace vek;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    smpp::SMPPServerSetReceiveMessageCallback(
        [](smpp::ServerConnection&, const smpp::InboundMessage& m, std::string* id) -> uint32_t {
          if (m.data.size() % 3 == 1) return smpp::status::kThrottled;
          *id = "F" + std::to_string(m.data.size());
          return 0;
        });
    return true;
  }();
  (void)once;
  auto pair = platform::socketPair();
  if (!pair) return 0;
  auto& [client, server] = *pair;
  if (platform::sendAll(client.get(), std::string_view(reinterpret_cast<const char*>(data), size),
                        100) != platform::IoStatus::kOk)
    return 0;
  smpp::ServerConnection conn(tls::Stream(std::move(server)), "fuzz");
  conn.setCommandTimeout(10ms);
  std::string account, password;
  uint32_t bind_id = 0;
  int bind_type = 0;
  uint8_t version = 0;
  for (int round = 0; round < 4; ++round) {
    if (smpp::SMPPServerWaitForLogin(conn, 0ms, &account, &password, &bind_id, &bind_type,
                                     &version) != 0)
      break;
    if (account == "reject") {
      smpp::SMPPServerRejectLogin(conn, bind_id, bind_type, version, smpp::status::kInvPaswd);
      continue;
    }
    smpp::SMPPServerAcceptLogin(conn, bind_id, bind_type, version);
    break;
  }
  bool error = false;
  for (int i = 0; i < 10000 && !error; ++i)
    if (smpp::SMPPServerYield(conn, version, 0ms, &error) == 0) break;
  return 0;
}
