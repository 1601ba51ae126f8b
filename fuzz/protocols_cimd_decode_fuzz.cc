// Fuzz target: the CIMD2 decoders on arbitrary bytes - the packet parser,
// the reading of a 20/23 into the gateway's record, and the user-data
// character conversion of the same bytes. Whatever the bytes: no crash, no
// overrun, no unbounded output.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/cimd/message.h"
#include "protocols/cimd/packet.h"
#include "protocols/cimd/text.h"

using namespace vek;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  cimd::Packet p;
  if (cimd::parsePacket(bytes, &p) == cimd::PacketFault::kNone) {
    for (int op : {cimd::op::kDeliverMessage, cimd::op::kDeliverStatusReport}) {
      p.op = op;
      protocols::InboundMessage m;
      std::string why;
      cimd::inboundFromPacket(p, "fuzz", &m, &why);
    }
  }
  std::string text = cimd::userDataToText(bytes);
  // A character read back is at most four UTF-8 bytes per input byte.
  if (text.size() > 8 * size + 16) __builtin_trap();
  return 0;
}
