#include "protocols/smpp/tlv.h"

#include <mutex>

#include "hostlib/host.h"
#include "platform/byte_io.h"
#include "platform/strings.h"

namespace vek::smpp {

namespace {

TlvDef integer(const char* name, uint16_t t, uint16_t size) {
  return TlvDef{name, t, TlvType::kInteger, size, size, true};
}
TlvDef cstring(const char* name, uint16_t t, uint16_t max) {
  return TlvDef{name, t, TlvType::kCString, 1, max, true};
}
TlvDef octets(const char* name, uint16_t t, uint16_t min, uint16_t max) {
  return TlvDef{name, t, TlvType::kOctets, min, max, true};
}

const std::vector<TlvDef>& standardTable() {
  static const std::vector<TlvDef> table = {
      integer("dest_addr_subunit", 0x0005, 1),
      integer("dest_network_type", 0x0006, 1),
      integer("dest_bearer_type", 0x0007, 1),
      integer("dest_telematics_id", 0x0008, 2),
      integer("source_addr_subunit", 0x000D, 1),
      integer("source_network_type", 0x000E, 1),
      integer("source_bearer_type", 0x000F, 1),
      integer("source_telematics_id", 0x0010, 1),
      integer("qos_time_to_live", 0x0017, 4),
      integer("payload_type", 0x0019, 1),
      cstring("additional_status_info_text", 0x001D, 256),
      cstring("receipted_message_id", 0x001E, 65),
      integer("ms_msg_wait_facilities", 0x0030, 1),
      integer("privacy_indicator", 0x0201, 1),
      octets("source_subaddress", 0x0202, 2, 23),
      octets("dest_subaddress", 0x0203, 2, 23),
      integer("user_message_reference", 0x0204, 2),
      integer("user_response_code", 0x0205, 1),
      integer("source_port", 0x020A, 2),
      integer("destination_port", 0x020B, 2),
      integer("sar_msg_ref_num", 0x020C, 2),
      integer("language_indicator", 0x020D, 1),
      integer("sar_total_segments", 0x020E, 1),
      integer("sar_segment_seqnum", 0x020F, 1),
      integer("sc_interface_version", 0x0210, 1),
      integer("callback_num_pres_ind", 0x0302, 1),
      octets("callback_num_atag", 0x0303, 0, 65),
      integer("number_of_messages", 0x0304, 1),
      octets("callback_num", 0x0381, 4, 19),
      integer("dpf_result", 0x0420, 1),
      integer("set_dpf", 0x0421, 1),
      integer("ms_availability_status", 0x0422, 1),
      octets("network_error_code", 0x0423, 3, 3),
      octets("message_payload", 0x0424, 0, 0xFFFF),
      integer("delivery_failure_reason", 0x0425, 1),
      integer("more_messages_to_send", 0x0426, 1),
      integer("message_state", 0x0427, 1),
      // An octet string of one octet on the wire; written as a number.
      integer("ussd_service_op", 0x0501, 1),
      integer("display_time", 0x1201, 1),
      integer("sms_signal", 0x1203, 2),
      integer("ms_validity", 0x1204, 1),
      TlvDef{"alert_on_message_delivery", 0x130C, TlvType::kEmpty, 0, 0, true},
      integer("its_reply_type", 0x1380, 1),
      octets("its_session_info", 0x1383, 2, 2),
  };
  return table;
}

// Decimal, or hexadecimal after "0x"; nullopt for anything else.
std::optional<uint64_t> parseNumber(std::string_view s) {
  s = platform::trim(s);
  if (s.empty()) return std::nullopt;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  return v;
}

std::optional<TlvDef> parseDeclaration(const std::string& name, std::string_view value) {
  auto parts = platform::split(value, ",", true);
  if (parts.size() < 2 || parts.size() > 3 || name.empty()) return std::nullopt;
  auto t = parseNumber(parts[0]);
  if (!t || *t == 0 || *t > 0xFFFF) return std::nullopt;
  TlvDef def;
  def.name = name;
  def.tag = static_cast<uint16_t>(*t);
  std::string type = platform::toLower(platform::trim(parts[1]));
  if (type == "integer" || type == "int") {
    def.type = TlvType::kInteger;
    def.min_len = def.max_len = 0;
    if (parts.size() == 3) {
      auto size = parseNumber(parts[2]);
      if (!size || (*size != 1 && *size != 2 && *size != 4)) return std::nullopt;
      def.min_len = def.max_len = static_cast<uint16_t>(*size);
    }
  } else if (type == "string") {
    def.type = TlvType::kCString;
    def.min_len = 1;
    def.max_len = 0xFFFF;
  } else if (type == "hex") {
    def.type = TlvType::kOctets;
    def.min_len = 0;
    def.max_len = 0xFFFF;
  } else {
    return std::nullopt;
  }
  return def;
}

}  // namespace

const TlvDef* standardTlv(uint16_t t) {
  for (const auto& d : standardTable())
    if (d.tag == t) return &d;
  return nullptr;
}

const TlvDef* standardTlv(std::string_view name) {
  for (const auto& d : standardTable())
    if (platform::equalsNoCase(d.name, name)) return &d;
  return nullptr;
}

OptionTable OptionTable::parse(const std::vector<std::pair<std::string, std::string>>& entries) {
  OptionTable table;
  for (const auto& [name, value] : entries) {
    if (standardTlv(name) != nullptr) continue;  // standard names need no declaration
    if (auto def = parseDeclaration(std::string(platform::trim(name)), value))
      table.defs_.push_back(*def);
  }
  return table;
}

const TlvDef* OptionTable::find(std::string_view name) const {
  for (const auto& d : defs_)
    if (platform::equalsNoCase(d.name, name)) return &d;
  return nullptr;
}

const TlvDef* OptionTable::find(uint16_t t) const {
  for (const auto& d : defs_)
    if (d.tag == t) return &d;
  return nullptr;
}

std::shared_ptr<const OptionTable> currentOptionTable() {
  static std::mutex mu;
  static std::shared_ptr<const hostlib::IniFile> source;
  static std::shared_ptr<const OptionTable> table = std::make_shared<OptionTable>();
  auto ini = hostlib::smsIni().current();
  std::scoped_lock lk(mu);
  if (ini != source) {
    source = ini;
    table = std::make_shared<OptionTable>(
        ini ? OptionTable::parse(ini->sectionEntries("SMPPOptions")) : OptionTable());
  }
  return table;
}

const TlvDef* lookupTlv(const OptionTable& declared, std::string_view name) {
  if (const TlvDef* d = standardTlv(name)) return d;
  return declared.find(name);
}

const TlvDef* lookupTlv(const OptionTable& declared, uint16_t t) {
  if (const TlvDef* d = standardTlv(t)) return d;
  return declared.find(t);
}

std::optional<std::string> tlvValueFromText(const TlvDef& def, std::string_view text) {
  switch (def.type) {
    case TlvType::kEmpty:
      return std::string();
    case TlvType::kInteger: {
      auto v = parseNumber(text);
      if (!v) return std::nullopt;
      size_t size = def.max_len;
      if (size == 0) size = *v <= 0xFF ? 1 : *v <= 0xFFFF ? 2 : 4;
      if (size < 4 && *v >= (uint64_t{1} << (8 * size))) return std::nullopt;
      std::string out(size, '\0');
      for (size_t i = 0; i < size; ++i)
        out[size - 1 - i] = static_cast<char>((*v >> (8 * i)) & 0xFF);
      return out;
    }
    case TlvType::kCString: {
      if (text.find('\0') != std::string_view::npos || text.size() + 1 > def.max_len)
        return std::nullopt;
      std::string out(text);
      out.push_back('\0');
      return out;
    }
    case TlvType::kOctets: {
      std::string out;
      if (!platform::fromHex(platform::trim(text), &out)) return std::nullopt;
      if (!tlvLengthValid(def, out.size())) return std::nullopt;
      return out;
    }
  }
  return std::nullopt;
}

std::string tlvValueToText(const TlvDef& def, std::string_view value) {
  switch (def.type) {
    case TlvType::kEmpty:
      return std::string();
    case TlvType::kInteger:
      if (value.size() <= 4) return std::to_string(tlvInteger(value));
      return platform::toHex(value);
    case TlvType::kCString:
      return std::string(value.substr(0, value.find('\0')));
    case TlvType::kOctets:
      return platform::toHex(value);
  }
  return std::string();
}

bool tlvLengthValid(const TlvDef& def, size_t length) {
  if (def.type == TlvType::kInteger && def.max_len == 0) return length >= 1 && length <= 4;
  return length >= def.min_len && length <= def.max_len;
}

uint32_t tlvInteger(std::string_view value) {
  uint32_t v = 0;
  for (size_t i = 0; i < value.size() && i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(value[i]);
  return v;
}

}  // namespace vek::smpp
