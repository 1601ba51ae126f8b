// Fuzz target: the client side of an SMPP link fed a random byte stream
// from a message centre right after a successful bind. The centre's
// bind_transceiver_resp is written first, then the bytes; the client binds,
// puts three submissions in its window (sequences 2 to 4, so that answers in
// the stream can match them) and yields until nothing more is handled.
// Whatever the bytes, the engine must answer, nack or close - never crash,
// overrun or hang.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/byte_io.h"
#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/pdu.h"

using namespace vek;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    smpp::SMPPSetReceiveMessageCallback(
        [](const smpp::InboundMessage& m) { return m.data.size() % 4 == 1 ? 0 : 1; });
    return true;
  }();
  (void)once;
  auto pair = platform::socketPair();
  if (!pair) return 0;
  auto& [centre, client] = *pair;
  smpp::Pdu bind_resp;
  bind_resp.command_id = smpp::cmd::kBindTransceiverResp;
  bind_resp.sequence = 1;
  bind_resp.system_id = "fuzz";
  platform::ByteWriter w;
  smpp::encodePdu(bind_resp, &w);
  w.bytes(std::string_view(reinterpret_cast<const char*>(data), size));
  if (platform::sendAll(centre.get(), w.str(), 100) != platform::IoStatus::kOk) return 0;

  smpp::Connection conn;
  conn.setCommandTimeout(10ms);
  if (smpp::SMPPConnect(conn, tls::Stream(std::move(client)), "SMPP - fuzz", "", 0) != 0) return 0;
  if (smpp::SMPPBind(conn, 0x34, smpp::kBindTypeTransceiver, "gw", "pw", "") != 0) return 0;
  for (int i = 0; i < 3; ++i)
    smpp::SMPPSubmitMessageAsync(conn, 0x34, "Shop", "+4670123", 0, 0, "", "fuzz", 0, false, "f",
                                 "", std::make_shared<smpp::AsyncSubmit>());
  bool error = false;
  for (int i = 0; i < 10000 && !error; ++i)
    if (smpp::SMPPYield(conn, 0x34, 0ms, &error) == 0) break;
  return 0;
}
