// Received PDUs (3GPP TS 23.040): SMS-DELIVER and SMS-STATUS-REPORT from a
// +CMT / +CDS report or a storage listing, as hexadecimal text.
//
// Every length field is checked against the octets that are really there
// before anything is read: the service centre and originator addresses,
// the user data length (septets or octets by the DCS) and the header
// length inside the user data. A PDU whose lengths do not add up, that is
// not hexadecimal, or longer than any PDU can be, is refused with a Status
// naming the field; nothing is read past the end.
//
// A status report whose service centre address is implausible (longer than
// 11 octets, or a type octet without its top bit) and whose first octet
// reads like a status report's is decoded again without the address part
// (modems that leave it out of +CDS), unless that check is turned off.
//
// Text: 7-bit user data becomes UTF-8 through the national shift tables
// the header announces (the default alphabet otherwise); 8-bit and UCS-2
// user data stay hexadecimal (`binary`), as every receive path hands them
// to inbound processing. Each field is written to the debug log under
// "ModemReceiveMessages".
//
// Pure apart from the debug log; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vek::modem {

// The longest PDU text accepted: a service centre address of 12 octets and
// a TPDU of at most 164 octets, in hexadecimal, with room to spare.
inline constexpr size_t kMaxPduHex = 2 * 200;

struct PduTimestamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;  // year 0-99
  int zone_quarters = 0;  // signed quarter hours east of UTC
};

struct ReceivedPdu {
  enum class Type { kDeliver, kStatusReport };
  Type type = Type::kDeliver;
  uint8_t first_octet = 0;
  std::string smsc;  // "+..." for an international number; "" when absent
  // SMS-DELIVER
  std::string sender;
  uint8_t sender_type = 0;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  PduTimestamp service_centre_time;
  std::string udh;   // hexadecimal, length octet first; "" without a header
  std::string data;  // UTF-8 text, or hexadecimal when `binary`
  bool binary = false;
  // SMS-STATUS-REPORT
  uint8_t message_reference = 0;
  std::string recipient;
  PduTimestamp discharge_time;
  uint8_t status = 0;
};

struct DecodeOptions {
  bool has_smsc = true;                   // the PDU starts with the service centre address
  bool alpha_sender_address_bug = false;  // `AlphaSenderAddressBug`
  bool check_status_report_smsc = true;   // off with `DisableInvalidStatusReportCheck`
};

platform::Result<ReceivedPdu> decodeReceivedPdu(std::string_view hex,
                                                const DecodeOptions& options = {});

// Octets of the TPDU (after the service centre address) in `hex`, or -1
// when the text is not a PDU; for checking the length a listing announces.
int tpduOctets(std::string_view hex);

}  // namespace vek::modem
