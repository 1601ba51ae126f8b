// The inbound routing table and its wildcard matcher on any bytes: the
// input is split at the first two NUL bytes into the table (the text of an
// "Inbound SMS Routing" section), a destination and a service type.
//
// Checks, besides surviving within the time limit (hostile patterns such
// as "*a*a*a*a*b" must stay cheap):
//  - the choice is empty or the key of one of the table's lines, never a
//    line naming the inbound directory or an account that does not exist;
//  - the matcher agrees with a plain recursive matcher on short inputs
//    (so "*1234" matches "+4412341234": it backtracks).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/wildcard.h"
#include "hostlib/ini_file.h"
#include "inbound/inbound_routing.h"
#include "platform/strings.h"

namespace {

// The reference: '?' one character, '*' any run, ASCII case ignored.
bool reference(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    for (size_t i = 0; i <= t.size(); ++i)
      if (reference(p.substr(1), t.substr(i))) return true;
    return false;
  }
  if (t.empty()) return false;
  if (p[0] != '?' && vek::platform::asciiLower(p[0]) != vek::platform::asciiLower(t[0]))
    return false;
  return reference(p.substr(1), t.substr(1));
}

std::optional<std::string> account(std::string_view key) {
  // Keys starting with 'x' name no account.
  if (!key.empty() && (key[0] == 'x' || key[0] == 'X')) return std::nullopt;
  return std::string(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t a = in.find('\0');
  const size_t b = a == std::string_view::npos ? a : in.find('\0', a + 1);
  const std::string_view table_text = in.substr(0, a);
  const std::string_view destination =
      a == std::string_view::npos ? std::string_view() : in.substr(a + 1, b - a - 1);
  const std::string_view service_type =
      b == std::string_view::npos ? std::string_view() : in.substr(b + 1);

  const std::string ini = "[Inbound SMS Routing]\n" + std::string(table_text);
  const auto entries =
      vek::hostlib::IniFile::parse(ini).sectionEntries(vek::inbound::kRoutingSection);
  const auto table = vek::inbound::RoutingTable::parse(entries);
  const std::string chosen = table.choose(destination, service_type, account);
  if (!chosen.empty()) {
    bool listed = false;
    for (const auto& [key, value] : entries)
      listed = listed || std::string(vek::platform::trim(key)) == chosen;
    if (!listed || chosen[0] == '~' || chosen[0] == 'x' || chosen[0] == 'X') std::abort();
  }

  if (table_text.size() <= 12 && destination.size() <= 16) {
    if (vek::foundation::wildcardMatch(table_text, destination) !=
        reference(table_text, destination))
      std::abort();
  }
  return 0;
}
