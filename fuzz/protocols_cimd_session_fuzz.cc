// Fuzz target: the client side of a CIMD2 link fed a random byte stream
// from a message centre right after a successful login. The centre's login
// response (packet 001) is written first, then the bytes; the client logs
// in, puts three submissions in its window (packets 003, 005, 007, so that
// responses in the stream can match them) and yields until nothing more is
// handled. Whatever the bytes, the engine must answer, refuse or close -
// never crash, overrun or hang.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "protocols/cimd/client.h"
#include "protocols/cimd/packet.h"

using namespace vek;
using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    cimd::CIMDSetReceiveMessageCallbackEx(
        [](const protocols::InboundMessage& m) { return m.data.size() % 4 == 1 ? 0 : 1; });
    return true;
  }();
  (void)once;
  auto pair = platform::socketPair();
  if (!pair) return 0;
  auto& [centre, client] = *pair;
  std::string stream = cimd::buildPacket(cimd::op::kLogin + cimd::op::kResponse, 1, {});
  stream.append(reinterpret_cast<const char*>(data), size);
  if (platform::sendAll(centre.get(), stream, 100) != platform::IoStatus::kOk) return 0;

  const std::string link = "CIMD - fuzz";
  cimd::Connection conn;
  conn.setCommandTimeout(10ms);
  if (cimd::CIMDConnect(link, conn, tls::Stream(std::move(client)), "", 0) != 0) return 0;
  if (cimd::CIMDBind(link, conn, "gw", "pw") != 0) return 0;
  for (int i = 0; i < 3; ++i)
    cimd::CIMDSubmitMessageAsync(link, conn, "Shop", "+4670123", 0, 0, "", "fuzz", 2, false, "f",
                                 "", std::make_shared<protocols::AsyncSubmit>());
  bool error = false;
  for (int i = 0; i < 10000 && !error; ++i)
    if (cimd::CIMDYield(link, conn, 0ms, &error) == 0) break;
  return 0;
}
