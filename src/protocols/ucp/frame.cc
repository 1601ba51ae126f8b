#include "protocols/ucp/frame.h"

#include "platform/byte_io.h"
#include "platform/strings.h"

namespace vek::ucp {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
// "TT/LLLLL/O/OT/" before the fields.
constexpr size_t kHeader = 14;

bool digits(std::string_view s) {
  return !s.empty() && platform::isAllDigits(s);
}

int number(std::string_view s) {
  return static_cast<int>(platform::parseLeadingInt(s));
}

bool hexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool is5x(int ot) {
  return ot >= 50 && ot <= 59;
}

}  // namespace

size_t fieldCount(int op) {
  if (is5x(op)) return kFields5x;
  if (op == ot::kSession) return kFields60;
  if (op == ot::kAlert) return kFields31;
  return 0;
}

std::string checksum(std::string_view text) {
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  return platform::format("%02X", sum & 0xFF);
}

FrameFault parseFrame(std::string_view inner, Frame* f) {
  *f = Frame();
  if (inner.size() < kHeader + 2 || inner[2] != '/' || inner[8] != '/' || inner[10] != '/' ||
      inner[13] != '/')
    return FrameFault::kSyntax;
  std::string_view trn = inner.substr(0, 2), len = inner.substr(3, 5), op = inner.substr(11, 2);
  char kind = inner[9];
  if (!digits(trn) || !digits(len) || !digits(op) || (kind != 'O' && kind != 'R'))
    return FrameFault::kSyntax;
  f->trn = number(trn);
  f->result = kind == 'R';
  f->ot = number(op);
  std::string_view ck = inner.substr(inner.size() - 2);
  if (!hexDigit(ck[0]) || !hexDigit(ck[1]) || inner[inner.size() - 3] != '/')
    return FrameFault::kSyntax;
  if (!platform::equalsNoCase(checksum(inner.substr(0, inner.size() - 2)), ck))
    return FrameFault::kChecksum;
  if (static_cast<size_t>(number(len)) != inner.size()) return FrameFault::kLength;
  // The fields, each ended by "/"; the header's last "/" ends an empty list.
  std::string_view body = inner.substr(kHeader, inner.size() - kHeader - 2);
  for (char c : body)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
      return FrameFault::kSyntax;
  while (!body.empty()) {
    size_t slash = body.find('/');
    f->fields.emplace_back(body.substr(0, slash));
    body.remove_prefix(slash + 1);
  }
  return FrameFault::kNone;
}

const char* faultText(FrameFault fault) {
  switch (fault) {
    case FrameFault::kNone:
      return "no fault";
    case FrameFault::kSyntax:
      return "syntax error";
    case FrameFault::kChecksum:
      return "checksum error";
    case FrameFault::kLength:
      return "length field does not match the frame";
  }
  return "";
}

std::string buildFrame(int trn, bool result, int op, const std::vector<std::string>& fields) {
  size_t body = 0;
  for (const auto& f : fields) body += f.size() + 1;
  size_t len = kHeader + body + 2;
  std::string out;
  out.reserve(len + 2);
  out.push_back(kStx);
  out += platform::format("%02d/%05zu/%c/%02d/", trn % 100, len, result ? 'R' : 'O', op % 100);
  for (const auto& f : fields) {
    out += f;
    out.push_back('/');
  }
  out += checksum(std::string_view(out).substr(1));
  out.push_back(kEtx);
  return out;
}

std::string buildAck(int trn, int op, std::string_view sm) {
  if (is5x(op)) return buildFrame(trn, true, op, {"A", "", std::string(sm)});
  return buildFrame(trn, true, op, {"A", std::string(sm)});
}

std::string buildNack(int trn, int op, int ec, std::string_view sm) {
  return buildFrame(trn, true, op, {"N", platform::format("%02d", ec % 100), std::string(sm)});
}

std::string ira(std::string_view octets) {
  return platform::toHex(octets);
}

bool fromIra(std::string_view hex, std::string* octets) {
  return platform::fromHex(hex, octets);
}

}  // namespace vek::ucp
