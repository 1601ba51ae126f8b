#include "protocols/cimd/packet.h"

#include "platform/strings.h"

namespace vek::cimd {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kTab = '\t';

bool digitsAt(std::string_view s, size_t at, size_t n) {
  if (s.size() < at + n) return false;
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int numberAt(std::string_view s, size_t at, size_t n) {
  return static_cast<int>(platform::parseLeadingInt(s.substr(at, n)));
}

bool hexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

const std::string* Packet::get(int code) const {
  for (const auto& [c, v] : params)
    if (c == code) return &v;
  return nullptr;
}

size_t Packet::count(int code) const {
  size_t n = 0;
  for (const auto& p : params) n += p.first == code;
  return n;
}

std::string checksum(std::string_view bytes) {
  unsigned sum = 0;
  for (char c : bytes) sum += static_cast<unsigned char>(c);
  return platform::format("%02X", sum & 0xFF);
}

PacketFault parsePacket(std::string_view inner, Packet* p) {
  *p = Packet();
  // "ZZ:NNN" and its TAB.
  if (!digitsAt(inner, 0, 2) || inner.size() < 7 || inner[2] != ':' || !digitsAt(inner, 3, 3) ||
      inner[6] != kTab)
    return PacketFault::kSyntax;
  p->op = numberAt(inner, 0, 2);
  p->number = numberAt(inner, 3, 3);
  if (p->number > 255) return PacketFault::kSyntax;
  size_t last_tab = inner.rfind(kTab);
  std::string_view tail = inner.substr(last_tab + 1);
  if (!tail.empty()) {
    if (tail.size() != 2 || !hexDigit(tail[0]) || !hexDigit(tail[1])) return PacketFault::kSyntax;
    p->has_checksum = true;
    std::string summed(1, kStx);
    summed.append(inner.substr(0, last_tab + 1));
    if (!platform::equalsNoCase(checksum(summed), tail)) return PacketFault::kChecksum;
  }
  std::string_view body = inner.substr(7, last_tab + 1 - 7);
  while (!body.empty()) {
    size_t tab = body.find(kTab);
    std::string_view item = body.substr(0, tab);
    body.remove_prefix(tab + 1);
    if (!digitsAt(item, 0, 3) || item.size() < 4 || item[3] != ':') return PacketFault::kSyntax;
    p->params.emplace_back(numberAt(item, 0, 3), std::string(item.substr(4)));
  }
  return PacketFault::kNone;
}

std::string buildPacket(int op, int number, const Params& params) {
  std::string out;
  out.push_back(kStx);
  out += platform::format("%02d:%03d", op % 100, number % 1000);
  out.push_back(kTab);
  for (const auto& [code, value] : params) {
    out += platform::format("%03d:", code % 1000);
    out += value;
    out.push_back(kTab);
  }
  out += checksum(out);
  out.push_back(kEtx);
  return out;
}

}  // namespace vek::cimd
