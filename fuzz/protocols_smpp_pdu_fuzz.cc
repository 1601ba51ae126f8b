// Fuzz target: the SMPP PDU decoder. Each input is decoded as it is and once
// more with its command_length patched to the input's size (so that bodies,
// not just the length check, see the bytes). A PDU that decodes must encode
// back to bytes that decode to the same encoding, and must map onto the
// gateway's message record without fault.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_io.h"
#include "protocols/smpp/message.h"
#include "protocols/smpp/pdu.h"
#include "protocols/smpp/tlv.h"

using namespace vek::smpp;

namespace {

void check(std::span<const uint8_t> bytes) {
  static Pdu pdu;
  static const OptionTable declared = OptionTable::parse({{"vendor", "0x1401,string"}});
  if (decodePdu(bytes, &pdu) != status::kOk) return;
  vek::platform::ByteWriter w;
  encodePdu(pdu, &w);
  Pdu again;
  if (decodePdu(std::span<const uint8_t>(w.data()), &again) != status::kOk) std::abort();
  vek::platform::ByteWriter w2;
  encodePdu(again, &w2);
  if (w.data() != w2.data()) std::abort();
  if (pdu.command_id == cmd::kDeliverSm || pdu.command_id == cmd::kDataSm ||
      pdu.command_id == cmd::kSubmitSm || pdu.command_id == cmd::kSubmitMulti) {
    InboundMessage m = inboundFromPdu(pdu, "fuzz", declared);
    if (m.extra.find('\n') != std::string::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(std::span<const uint8_t>(data, size));
  if (size >= kHeaderLength && size <= kMaxCommandLength) {
    std::vector<uint8_t> patched(data, data + size);
    uint32_t len = static_cast<uint32_t>(size);
    patched[0] = static_cast<uint8_t>(len >> 24);
    patched[1] = static_cast<uint8_t>(len >> 16);
    patched[2] = static_cast<uint8_t>(len >> 8);
    patched[3] = static_cast<uint8_t>(len);
    check(patched);
  }
  return 0;
}
