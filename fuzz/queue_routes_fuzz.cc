// Route selection and prefix rewriting from configuration text: whatever the
// link sections, route patterns, sender lists and message fields, building
// the route table and deciding terminate, and every answer names a
// configured link. Input: parts separated by 0xFF: the "SMSGW.INI" text,
// recipient, sender, service type, a prefix list, a number to rewrite, a
// reject-code list; the first byte gives the error code's low bits and the
// binary flag.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/link_settings.h"
#include "hostlib/ini_file.h"
#include "queue/retry_policy.h"
#include "queue/route_selection.h"
#include "queue/send_gate.h"

namespace {

std::vector<std::string_view> parts(std::string_view in, size_t count) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < count) {
    size_t sep = in.find('\xFF');
    if (sep == std::string_view::npos) break;
    out.push_back(in.substr(0, sep));
    in.remove_prefix(sep + 1);
  }
  out.push_back(in);
  out.resize(count);
  return out;
}

bool configured(const vek::queue::RouteTable& t, const std::string& name) {
  return t.find(name) >= 0 || name == vek::foundation::kVirtualLinkName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t first = data[0];
  auto p = parts(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), 7);

  vek::queue::RouteTable t = vek::queue::buildRouteTable(vek::hostlib::IniFile::parse(p[0]));
  vek::queue::RouteQuery q;
  q.recipient = p[1];
  q.sender = p[2];
  q.service_type = p[3];
  q.binary = (first & 0x80) != 0;
  q.account = p[2];

  for (const vek::queue::RouteLink& link : t.links) {
    bool no_link = false;
    bool may = vek::queue::MayLinkSend(t, q, link.name, &no_link);
    if (may && no_link) std::abort();
    (void)vek::queue::linkNames(t, link.name);
    (void)vek::queue::primaryDown(t, link.name);
  }
  bool no_link = false;
  (void)vek::queue::MayLinkSend(t, q, "SDKLink - fuzz", &no_link);
  std::vector<std::string> candidates = vek::queue::CandidateLinks(t, q);
  std::string value;
  bool unstorable = false;
  for (const std::string& c : candidates) {
    if (!configured(t, c)) std::abort();
    unstorable = unstorable || c.find('\t') != std::string::npos || c.compare(0, 2, "*=") == 0;
    value += c + "\t";
  }
  // The cached list must let every candidate through (names with a tab or
  // beginning "*=" are never stored).
  for (const std::string& c : candidates)
    if (!unstorable && !vek::queue::routeEntryAllows(value, {c})) std::abort();
  (void)vek::queue::routeServed(t, p[1]);
  (void)vek::queue::partitionOrphaned(t, p[1]);

  std::vector<vek::foundation::PrefixRule> rules = vek::foundation::parsePrefixRules(p[4]);
  std::string rewritten = vek::foundation::rewritePrefix(p[5], rules);
  if (p[5].empty() && !rewritten.empty()) std::abort();
  if (rewritten.size() > p[5].size() + p[4].size()) std::abort();
  if (vek::foundation::rewritePrefix(p[5], p[4]) != rewritten) std::abort();

  if (vek::queue::parseSendLimit(p[6]) > vek::queue::kMaxSendIntervalMs) std::abort();
  int32_t code = static_cast<int32_t>(first & 0x7F) - 3;
  (void)vek::queue::smppRejectCode(p[6], code);
  (void)vek::queue::decimalRejectCode(p[6], code);
  return 0;
}
