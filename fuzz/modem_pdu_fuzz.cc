// Fuzz target: received PDUs and the SMS-SUBMIT builder. The input is
// decoded as PDU octets (turned into hexadecimal, with the decoder's
// options taken from the first byte) and as PDU text as it stands. What
// decodes must hold only bounded, well-formed values. The same bytes also
// drive the SMS-SUBMIT builder, whose length fields must describe the PDU
// it built.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "encoding/hex_text.h"
#include "modem/pdu_decode.h"
#include "modem/pdu_submit.h"

using namespace vek::modem;

namespace {

void checkDecoded(const ReceivedPdu& p) {
  if (p.udh.size() % 2 != 0 || p.udh.size() > 2 * 140) std::abort();
  if (p.data.size() > 160 * 4) std::abort();  // 160 characters of at most 4 UTF-8 bytes
  if (p.binary && p.data.size() % 2 != 0) std::abort();
  if (p.sender.size() > 40 || p.recipient.size() > 40 || p.smsc.size() > 30) std::abort();
}

void decodeBoth(const std::string& hex, uint8_t flags) {
  DecodeOptions o;
  o.has_smsc = (flags & 1) == 0;
  o.alpha_sender_address_bug = (flags & 2) != 0;
  o.check_status_report_smsc = (flags & 4) == 0;
  auto p = decodeReceivedPdu(hex, o);
  if (p.ok()) checkDecoded(*p);
  (void)tpduOctets(hex);
}

void build(const uint8_t* data, size_t size) {
  if (size < 4) return;
  SubmitInput in;
  in.dcs = data[0];
  in.binary = (data[1] & 1) != 0;
  in.status_report = (data[1] & 2) != 0;
  in.reply_path = (data[1] & 4) != 0;
  if (data[1] & 8) in.validity = data[2];
  in.exclude_smsc = (data[1] & 16) != 0;
  in.smsc = (data[1] & 32) ? "+46700000099" : "";
  in.recipient = "+4670123";
  std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const size_t udh = data[3] % 16;
  if (udh > 0 && udh < rest.size()) {
    // A header whose length octet is right; its elements are whatever came.
    char len[3];
    std::snprintf(len, sizeof len, "%02X", static_cast<unsigned>(udh - 1));
    in.udh = len +
             vek::encoding::octetsToHex(reinterpret_cast<const uint8_t*>(rest.data()) + 1, udh - 1);
    rest.erase(0, udh);
  }
  in.data = in.binary ? vek::encoding::octetsToHex(reinterpret_cast<const uint8_t*>(rest.data()),
                                                   rest.size())
                      : rest;
  auto pdu = buildSubmitPdu(in);
  if (!pdu.ok()) return;
  const size_t smsc_hex = in.exclude_smsc ? 0 : (in.smsc.empty() ? 2 : 16);
  if (pdu->hex.size() != smsc_hex + 2 * pdu->tpdu_octets) std::abort();
  if (pdu->tpdu_octets > 176) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string as_hex = vek::encoding::octetsToHex(data + 1, size - 1);
  decodeBoth(as_hex, data[0]);
  decodeBoth(std::string(reinterpret_cast<const char*>(data), size), data[0]);
  build(data, size);
  return 0;
}
