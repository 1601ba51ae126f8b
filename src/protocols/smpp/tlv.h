// Optional parameters (TLVs): the standard table of SMPP 3.4 and the
// gateway's own additions from section `SMPPOptions` of SMSGW.INI.
//
// Options travel through the gateway as text items "SMPPOption_<name>=<value>".
// A standard name maps to its tag by the table below; any other name must be
// declared in `SMPPOptions` as `name=tag,type[,size]` (tag decimal or 0x
// hexadecimal; type integer, string or hex; size 1, 2 or 4 for integers).
// Value text by type: integers decimal (or 0x hexadecimal), strings as they
// are (sent with a terminating NUL), octet strings as hexadecimal.
//
// The standard table is constant; the declared options are read through the
// host library and re-parsed when SMSGW.INI changes. Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vek::smpp {

namespace tag {
inline constexpr uint16_t kDestAddrSubunit = 0x0005;
inline constexpr uint16_t kSourcePort = 0x020A;
inline constexpr uint16_t kDestinationPort = 0x020B;
inline constexpr uint16_t kReceiptedMessageId = 0x001E;
inline constexpr uint16_t kScInterfaceVersion = 0x0210;
inline constexpr uint16_t kMessagePayload = 0x0424;
inline constexpr uint16_t kMessageState = 0x0427;
inline constexpr uint16_t kNetworkErrorCode = 0x0423;
inline constexpr uint16_t kSarMsgRefNum = 0x020C;
inline constexpr uint16_t kSarTotalSegments = 0x020E;
inline constexpr uint16_t kSarSegmentSeqnum = 0x020F;
}  // namespace tag

enum class TlvType { kInteger, kCString, kOctets, kEmpty };

struct TlvDef {
  std::string name;
  uint16_t tag = 0;
  TlvType type = TlvType::kOctets;
  // Value length bounds in octets (C-strings: NUL included). For integers
  // min == max is the size; 0 for a declared integer means "smallest that fits".
  uint16_t min_len = 0;
  uint16_t max_len = 0xFFFF;
  bool standard = false;
};

// The standard definition of a tag or a name (case-insensitive), or null.
const TlvDef* standardTlv(uint16_t tag);
const TlvDef* standardTlv(std::string_view name);

// The declared options of section `SMPPOptions`.
class OptionTable {
 public:
  // Parses "name=tag,type[,size]" entries; entries in another form (for
  // example a standard name listed with "Yes" just to be kept) are skipped.
  static OptionTable parse(const std::vector<std::pair<std::string, std::string>>& entries);
  const TlvDef* find(std::string_view name) const;
  const TlvDef* find(uint16_t tag) const;
  size_t size() const { return defs_.size(); }

 private:
  std::vector<TlvDef> defs_;
};

// The table from the current SMSGW.INI (an empty table when none is loaded).
std::shared_ptr<const OptionTable> currentOptionTable();

// A standard or declared definition for a name / tag (standard first).
const TlvDef* lookupTlv(const OptionTable& declared, std::string_view name);
const TlvDef* lookupTlv(const OptionTable& declared, uint16_t tag);

// Value text -> wire octets; nullopt when the text does not fit the type.
std::optional<std::string> tlvValueFromText(const TlvDef& def, std::string_view text);
// Wire octets -> value text (integers decimal, strings without NUL, octets hex).
std::string tlvValueToText(const TlvDef& def, std::string_view value);
// True when a received value's length suits the definition.
bool tlvLengthValid(const TlvDef& def, size_t length);

// Big-endian unsigned value of up to 4 octets (0 for an empty value).
uint32_t tlvInteger(std::string_view value);

}  // namespace vek::smpp
