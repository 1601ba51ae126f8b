// Fuzz target: the UCP/EMI decoders on arbitrary bytes - the frame parser,
// the reading of a 52/53 into the gateway's record (alphanumeric OAdC, XSer,
// the message types), and the same bytes as a lone OAdC and XSer. Whatever
// the bytes: no crash, no overrun, no unbounded output.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/ucp/frame.h"
#include "protocols/ucp/message.h"

using namespace vek;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ucp::Frame f;
  if (ucp::parseFrame(bytes, &f) == ucp::FrameFault::kNone && !f.result) {
    // Decode whatever fields there are as both operations, padded to 33.
    std::vector<std::string> fields = f.fields;
    fields.resize(ucp::kFields5x);
    for (int op : {ucp::ot::kDeliver, ucp::ot::kNotification}) {
      protocols::InboundMessage m;
      std::string why;
      ucp::inboundFromFields(op, fields, "fuzz", &m, &why);
    }
  }
  std::string text;
  ucp::unpackAlphanumeric(bytes, &text);
  std::vector<ucp::XSerItem> items;
  ucp::parseXSer(bytes, &items);
  ucp::validityToVp(bytes);
  return 0;
}
