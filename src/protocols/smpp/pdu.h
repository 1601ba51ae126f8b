// Pdu: one SMPP 3.4 protocol data unit as a plain record, and its codec.
//
// Wire format (big-endian): command_length, command_id, command_status,
// sequence_number (4 octets each), then the body of the command, then
// optional parameters (TLVs: tag 2, length 2, value). The same record serves
// every command; which fields a command uses:
//
//   bind_receiver/transmitter/transceiver  system_id password system_type
//                                          interface_version address_range
//   bind_*_resp                             system_id [TLVs]
//   outbind                                 system_id password
//   submit_sm, deliver_sm                   service_type source destination
//       esm_class protocol_id priority_flag schedule_delivery_time
//       validity_period registered_delivery replace_if_present data_coding
//       sm_default_msg_id short_message [TLVs]
//   submit_sm_resp, deliver_sm_resp         message_id
//   submit_multi        as submit_sm, but `dests` instead of destination
//   submit_multi_resp   message_id unsuccess
//   data_sm             service_type source destination esm_class
//                       registered_delivery data_coding [TLVs]
//   data_sm_resp        message_id [TLVs]
//   query_sm            message_id source
//   query_sm_resp       message_id final_date message_state error_code
//   cancel_sm           service_type message_id source destination
//   replace_sm          message_id source schedule_delivery_time
//                       validity_period registered_delivery
//                       sm_default_msg_id short_message
//   alert_notification  source esme [TLVs]
//   the rest            header only
//
// Field limits are those of the standard and are behaviour: a decoder meets
// a C-string without its NUL inside its limit, a short_message longer than
// 254 octets, a time field in neither SMPP form, a TLV that overruns the
// PDU, or a message in both short_message and message_payload, and reports
// the command_status that answers it. A success answer to a message with no
// body at all decodes with an empty message_id. The encoder cuts every
// field at its limit and a C-Octet String at its first NUL. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_io.h"
#include "protocols/smpp/status_codes.h"

namespace vek::smpp {

inline constexpr size_t kHeaderLength = 16;
// The largest command_length accepted: a message_payload of 64 KiB plus the
// mandatory fields and some TLVs. A longer one is a framing error.
inline constexpr uint32_t kMaxCommandLength = 0x10000 + 4096;

// Field limits, NUL included (C-Octet String sizes of the standard).
inline constexpr size_t kSystemIdMax = 16;
inline constexpr size_t kPasswordMax = 9;
inline constexpr size_t kSystemTypeMax = 13;
inline constexpr size_t kAddressRangeMax = 41;
inline constexpr size_t kServiceTypeMax = 6;
inline constexpr size_t kAddr21Max = 21;  // source/destination of most PDUs
inline constexpr size_t kAddr65Max = 65;  // data_sm and alert_notification
inline constexpr size_t kMessageIdMax = 65;
inline constexpr size_t kTimeMax = 17;  // schedule, validity, final_date: "" or 16 chars
inline constexpr size_t kDlNameMax = 21;
inline constexpr size_t kShortMessageMax = 254;
inline constexpr size_t kMaxDests = 254;

struct Address {
  uint8_t ton = 0;
  uint8_t npi = 0;
  std::string addr;
};

// One destination of submit_multi: an SME address (flag 1) or a
// distribution list name (flag 2).
struct MultiDest {
  uint8_t dest_flag = 1;
  Address address;
  std::string dl_name;
};

struct UnsuccessSme {
  Address address;
  uint32_t error_status = 0;
};

struct Tlv {
  uint16_t tag = 0;
  std::string value;  // the raw value octets as on the wire
};

struct Pdu {
  uint32_t command_id = 0;
  uint32_t command_status = 0;
  uint32_t sequence = 0;

  std::string system_id, password, system_type;
  uint8_t interface_version = 0;
  Address address_range;

  std::string service_type;
  Address source, destination, esme;
  uint8_t esm_class = 0, protocol_id = 0, priority_flag = 0;
  std::string schedule_delivery_time, validity_period;
  uint8_t registered_delivery = 0, replace_if_present = 0, data_coding = 0, sm_default_msg_id = 0;
  std::string short_message;
  std::vector<MultiDest> dests;

  std::string message_id, final_date;
  uint8_t message_state = 0, error_code = 0;
  std::vector<UnsuccessSme> unsuccess;

  std::vector<Tlv> tlvs;

  const Tlv* findTlv(uint16_t tag) const;
  void addTlv(uint16_t tag, std::string value) { tlvs.push_back({tag, std::move(value)}); }
  // Empties every field but keeps string capacity (for a decoder that reuses one record).
  void clear();
};

// The header of a frame: true when at least 16 octets are there; the length
// still needs checking against kHeaderLength..kMaxCommandLength.
struct Header {
  uint32_t command_length = 0, command_id = 0, command_status = 0, sequence = 0;
};
bool readHeader(std::span<const uint8_t> bytes, Header* header);

// True for the two forms of an SMPP time field: absolute
// "YYMMDDhhmmsstnn" followed by '+' or '-' (calendar ranges, nn at most 48
// quarter hours) or relative "YYMMDDhhmmss000R" (digits as counts).
bool isSmppTime(std::string_view t);

// Decodes one whole PDU (its command_length must equal bytes.size()).
// Returns status::kOk, or the command_status that answers the fault; the
// header fields are filled whenever the header itself was readable.
uint32_t decodePdu(std::span<const uint8_t> bytes, Pdu* pdu);

// Appends the PDU (header included) to `out`. With `with_tlvs` false the
// optional parameters are left out (interface version 3.3).
void encodePdu(const Pdu& pdu, platform::ByteWriter* out, bool with_tlvs = true);

// A response PDU for `request` with the given status and an empty body.
Pdu makeResponse(const Pdu& request, uint32_t command_status);

}  // namespace vek::smpp
